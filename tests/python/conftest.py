# Shared fixtures of the torvel module's tests: the built tree's programs,
# and a child interpreter for whatever could end or pollute the process.
import os
import subprocess
import sys

import pytest


@pytest.fixture
def binary_dir():
    path = os.environ.get("TORVEL_BINARY_DIR")
    if not path:
        pytest.skip("TORVEL_BINARY_DIR not set (run through ctest)")
    return path


def run_python(code, env_changes=None, unset=()):
    """Runs code in a fresh interpreter that imports the same module."""
    env = dict(os.environ)
    for name in unset:
        env.pop(name, None)
    env.update(env_changes or {})
    return subprocess.run([sys.executable, "-c", code], env=env, capture_output=True,
                          text=True, timeout=60)


@pytest.fixture
def child_python():
    return run_python
