# torvel.analyze against the program's JSON: the worked example of
# examples/pool analysed in the module and by classad_eval --analyze --json
# must give the same data.
import json
import os
import subprocess

import pytest
import torvel

EXAMPLES = os.path.join(os.environ.get("TORVEL_SOURCE_DIR", ""), "examples", "pool")


@pytest.fixture
def pool():
    if not os.path.isdir(EXAMPLES):
        pytest.skip("TORVEL_SOURCE_DIR not set (run through ctest)")
    return os.path.join(EXAMPLES, "machines.ads")


@pytest.mark.parametrize("job", ["job_matches.ad", "job_misspelled.ad", "job_too_big.ad"])
def test_analyze_equals_the_programs_json(binary_dir, pool, job):
    job_path = os.path.join(EXAMPLES, job)
    run = subprocess.run([os.path.join(binary_dir, "tools", "classad_eval"), "--analyze", "--json",
                          job_path, pool], capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    printed = json.loads(run.stdout)
    analysed = torvel.analyze(next(torvel.read_ads(job_path)), torvel.read_ads(pool))
    assert analysed == printed
    assert analysed["pool"] == 10


def test_analyze_names_the_misspelled_attribute(pool):
    job = next(torvel.read_ads(os.path.join(EXAMPLES, "job_misspelled.ad")))
    result = torvel.analyze(job, list(torvel.read_ads(pool)))
    assert result["matches"] == 0
    memory = result["clauses"][2]
    assert memory["missing"] == [{"name": "TARGET.Memroy", "machines": 10}]
    assert memory["undefined"] == 10
    assert result["suggestion"].startswith("dropping `TARGET.Memroy >= MY.RequestMemory`")


def test_analyze_takes_only_classads():
    job = torvel.ClassAd("Requirements = TRUE")
    with pytest.raises(TypeError):
        torvel.analyze(job, [job, "Memory = 1"])
    assert torvel.analyze(job, [])["pool"] == 0
