# The package's type information: mypy finds it with no path setting (the
# py.typed marker), and the stubs agree with the compiled module.
import os
import subprocess
import sys

TYPED_USE = '''
import copy
from collections.abc import Mapping
import torvel

ad: torvel.ClassAd = torvel.ClassAd("Memory = 64; Name = \\"m1\\"")
ad["Cpus"] = 4
memory = ad["Memory"]
if isinstance(memory, int):
    doubled: int = memory * 2
names: list[str] = list(ad)
expr: torvel.Expr = ad.lookup("Memory")
same: bool = copy.deepcopy(ad) == ad
matched: list[int] = torvel.match_all(ad, [ad])
limit: int = torvel.param_int("MAX_JOBS", 10)
ratio: float = torvel.param_float("RATIO", 0.5)
view: Mapping[str, object] = ad
names_seen = {torvel.Expr("a + 1"): ad.pop("Cpus", None)}
for machine in torvel.read_ads("machines.ads"):
    machine.update(ad, Slot=1)
try:
    torvel.ClassAd("A = (")
except torvel.ParseError as e:
    where: int = e.position
'''


def run_mypy(tmp_path, text):
    script = tmp_path / "use_torvel.py"
    script.write_text(text)
    env = {k: v for k, v in os.environ.items() if k != "MYPYPATH"}
    return subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-incremental",
                           str(script)], cwd=tmp_path, env=env, capture_output=True, text=True,
                          timeout=300)


def test_mypy_strict_accepts_typed_use_and_rejects_misuse(tmp_path):
    good = run_mypy(tmp_path, TYPED_USE)
    assert good.returncode == 0, good.stdout + good.stderr
    bad = run_mypy(tmp_path, TYPED_USE + 'wrong: str = torvel.param_int("X", "ten")\n')
    assert bad.returncode == 1
    assert 'Argument 2 to "param_int" has incompatible type "str"' in bad.stdout
    assert "Incompatible types in assignment" in bad.stdout


def test_stubs_agree_with_the_module(tmp_path):
    check = subprocess.run([sys.executable, "-m", "mypy.stubtest", "torvel"], cwd=tmp_path,
                           capture_output=True, text=True, timeout=300)
    assert check.returncode == 0, check.stdout + check.stderr
