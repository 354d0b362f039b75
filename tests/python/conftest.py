# Shared fixtures of the torvel module's tests (tests/support/torvel_pytest.py).
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "support"))
from torvel_pytest import binary_dir, child_python  # noqa: E402,F401
