# Shared by the system tests written in Python: they drive the built programs
# and the torvel module from outside, as a user does (child interpreters,
# injected faults, signals, big input), and check growth at n and 100·n.
import os
import shutil
import subprocess
import sys
import time

import pytest

# Linear work grows about 100x from n to 100n, quadratic about 10,000x.
GROWTH_BOUND = 300.0


@pytest.fixture
def binary_dir():
    path = os.environ.get("TORVEL_BINARY_DIR")
    if not path:
        pytest.skip("TORVEL_BINARY_DIR not set (run through ctest)")
    return path


def run_python(code, env_changes=None, unset=(), timeout=60):
    """Runs code in a fresh interpreter that imports the same module."""
    env = dict(os.environ)
    for name in unset:
        env.pop(name, None)
    env.update(env_changes or {})
    return subprocess.run([sys.executable, "-c", code], env=env, capture_output=True,
                          text=True, timeout=timeout)


@pytest.fixture
def child_python():
    return run_python


@pytest.fixture
def strace():
    path = shutil.which("strace")
    if path is None:
        pytest.skip("strace is not installed (scripts/install_deps.sh installs it)")
    return path


def _time_once(work, size):
    # CPU time of this process: under a CI run beside a build, wall time
    # stretched a long run far more than a short one.
    start = time.process_time()
    work(size)
    return time.process_time() - start


def measure_growth(n, work):
    """(small, large, ratio) for work at n and at 100n.

    The small run is repeated (5 times and 20 ms at least) and its fastest
    time kept; the large run once, again only when over the bound."""
    work(n)
    fastest = _time_once(work, n)
    spent, runs = fastest, 1
    while runs < 5 or spent < 0.02:
        t = _time_once(work, n)
        fastest = min(fastest, t)
        spent += t
        runs += 1
    fastest = max(fastest, 1e-9)
    large = _time_once(work, 100 * n)
    if large / fastest > GROWTH_BOUND:
        large = min(large, _time_once(work, 100 * n))
    return fastest, large, large / fastest


def assert_linear_growth(n, work):
    small, large, ratio = measure_growth(n, work)
    assert ratio <= GROWTH_BOUND, (
        f"n={n}: {small:.6f} s, 100n: {large:.6f} s, ratio {ratio:.1f} (bound {GROWTH_BOUND})")
