#!/usr/bin/python3
"""Benchmark of the torvel module, run by hand against a built tree:

    PYTHONPATH=build/python /usr/bin/python3 bench/python_bench.py

Reports ad["Memory"] against a dict lookup (ratio), match_all over
10,000 machine ads (the C++ figure to compare with comes from
build/bench/classad_match_bench), and param() per call for a key whose
value holds a macro, beside one whose value holds none (ratio), and
torvel.read_ads over a file of the generated machine ads that
build/bench/machine_ad_read_bench writes (TORVEL_BENCH_DIR names another
directory of built benchmarks), beside reading the file's bytes and beside
json.loads of the same ads as JSON.
"""
import json
import os
import random
import statistics
import subprocess
import tempfile
import timeit

import torvel


def median_time(stmt, number, repeat=5):
    return statistics.median(timeit.repeat(stmt, number=number, repeat=repeat)) / number


def lookup_ratio():
    """ad["Memory"] against a dict lookup in the same run, each both as a
    lambda (as the figures were first taken) and as a bare statement, where
    the call of the lambda no longer hides part of the difference."""
    ad = torvel.ClassAd("Memory = 64; Disk = 100; Owner = \"alice\"; Arch = \"X86_64\"")
    plain = {"Memory": 64, "Disk": 100, "Owner": "alice", "Arch": "X86_64"}
    ad_time = median_time(lambda: ad["Memory"], 200000)
    dict_time = median_time(lambda: plain["Memory"], 200000)
    print(f"ad['Memory']   {ad_time * 1e9:8.1f} ns")
    print(f"dict['Memory'] {dict_time * 1e9:8.1f} ns   ratio {ad_time / dict_time:.1f}")
    names = {"ad": ad, "plain": plain}
    ad_bare = median_time(timeit.Timer('ad["Memory"]', globals=names).timeit, 1) / 1000000
    dict_bare = median_time(timeit.Timer('plain["Memory"]', globals=names).timeit, 1) / 1000000
    print(f"ad['Memory']   {ad_bare * 1e9:8.1f} ns (bare statement)")
    print(f"dict['Memory'] {dict_bare * 1e9:8.1f} ns (bare statement)   "
          f"ratio {ad_bare / dict_bare:.1f}")


def make_machines(count):
    """Machine ads shaped as classad_match_bench's (same attributes and
    expressions, the same spread of values; not the very same records)."""
    rng = random.Random(12345)
    machines = []
    for _ in range(count):
        machines.append(torvel.ClassAd({
            "MyType": "Machine",
            "TargetType": rng.choice(["Job", "Job", "Job", "Other"]),
            "Memory": 16 + rng.randrange(240),
            "Arch": rng.choice(["X86_64", "INTEL", "x86_64", "PPC"]),
            "OpSys": rng.choice(["LINUX", "linux", "WINDOWS"]),
            "Disk": 500000 + rng.randrange(1500000),
            "Start": rng.randrange(5) != 0,
            "Requirements": torvel.Expr("TARGET.ImageSize <= Memory && Start"),
        }))
    return machines


def match_all_time(count=10000):
    job = torvel.ClassAd('MyType = "Job"; TargetType = "Machine"; ImageSize = 64; '
                         'Requirements = TARGET.Memory >= MY.ImageSize && '
                         'TARGET.Arch == "X86_64" && TARGET.OpSys == "LINUX" && '
                         'TARGET.Disk > 1000 * 1024')
    machines = make_machines(count)
    t = median_time(lambda: torvel.match_all(job, machines), 5)
    print(f"match_all over {count} machines: {t * 1e3:.2f} ms "
          f"({t / count * 1e9:.0f} ns per ad), {len(torvel.match_all(job, machines))} match")


def param_time():
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "torvel_config")
        with open(path, "w") as config:
            config.write("BASE = /opt/torvel\nPLAIN = /opt/torvel/bin\nBIN = $(BASE)/bin\n")
        os.environ["TORVEL_CONFIG"] = path
        torvel.load_config()
    macro = median_time(lambda: torvel.param("BIN"), 20000)
    plain = median_time(lambda: torvel.param("PLAIN"), 20000)
    print(f"param('BIN')   {macro * 1e6:8.2f} us (value with a macro)")
    print(f"param('PLAIN') {plain * 1e6:8.2f} us (no macro)   ratio {macro / plain:.1f}")


def json_form(text):
    """The ads of text as one JSON array of objects: literal values as JSON
    values, expressions as their text."""
    ads = []
    for block in text.split("\n\n"):
        ad = {}
        for line in block.splitlines():
            name, _, value = line.partition(" = ")
            literal = {"TRUE": "true", "FALSE": "false"}.get(value, value)
            try:
                ad[name] = json.loads(literal)
            except ValueError:
                ad[name] = value
        if ad:
            ads.append(ad)
    return json.dumps(ads)


def read_ads_rate():
    bench_dir = os.environ.get("TORVEL_BENCH_DIR", "build/bench")
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "machine_ads")
        subprocess.run([os.path.join(bench_dir, "machine_ad_read_bench"),
                        "--write_ads=" + path], check=True)
        with open(path, "rb") as f:
            data = f.read()
        count = sum(1 for _ in torvel.read_ads(path))
        size = len(data)

        def raw_read():
            with open(path, "rb") as f:
                f.read()

        ads_time = median_time(lambda: sum(1 for _ in torvel.read_ads(path)), 1, repeat=7)
        raw_time = median_time(raw_read, 1, repeat=7)
    as_json = json_form(data.decode())
    json_time = median_time(lambda: json.loads(as_json), 1, repeat=7)
    print(f"read_ads over {count} ads ({size / 1e6:.2f} MB): {size / ads_time / 1e6:6.1f} MB/s, "
          f"{ads_time / count * 1e6:.1f} us per ad")
    print(f"raw read of the file:      {size / raw_time / 1e6:8.1f} MB/s   "
          f"ratio {ads_time / raw_time:.1f}")
    print(f"json.loads of the same ads ({len(as_json) / 1e6:.2f} MB): "
          f"{len(as_json) / json_time / 1e6:6.1f} MB/s, {json_time / count * 1e6:.1f} us per ad   "
          f"ratio {ads_time / json_time:.2f}")


if __name__ == "__main__":
    read_ads_rate()
    lookup_ratio()
    match_all_time()
    param_time()
