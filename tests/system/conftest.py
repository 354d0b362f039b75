# Shared by the system tests written in Python: they drive the built programs
# and the torvel module from outside, as a user does (child interpreters,
# injected faults, signals, big input), and check growth at n and 100·n.
import os
import shutil
import sys
import time

import pytest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
from torvel_pytest import binary_dir, child_python  # noqa: E402,F401

# Linear work grows about 100x from n to 100n, quadratic about 10,000x.
GROWTH_BOUND = 300.0


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
