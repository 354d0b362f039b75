# Fixtures shared by the Python tests of the module (tests/python) and of the
# outside-in layer (tests/system): the built tree, and a child interpreter for
# whatever could end or pollute the test's own process.
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
