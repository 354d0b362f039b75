# pip install from the source tree into a fresh virtual environment, with
# only Debian's build tools (no index is reached): the installed package is
# the module the build makes, answers its distribution version, and mypy
# finds its types there with no path setting. About a minute (a build).
import os
import shutil
import subprocess
import sys

import pytest

TYPED_USE = '''import torvel
ad = torvel.ClassAd("Memory = 64")
value: int = torvel.match_all(ad, [ad])[0]
'''


def copy_source(source, target):
    """The source tree without build directories and version control."""
    def skipped(folder, names):
        if os.path.samefile(folder, source):
            return [n for n in names if n.startswith(("build", ".git"))]
        return []
    shutil.copytree(source, target, ignore=skipped)


def run(command, env, cwd):
    done = subprocess.run(command, env=env, cwd=cwd, capture_output=True, text=True, timeout=900)
    assert done.returncode == 0, " ".join(command) + "\n" + done.stdout[-3000:] + done.stderr[-3000:]
    return done.stdout


def test_pip_install_into_a_fresh_venv(tmp_path):
    source = os.environ.get("TORVEL_SOURCE_DIR")
    if not source:
        pytest.skip("TORVEL_SOURCE_DIR not set (run through ctest)")
    import torvel  # the build tree's module, for its version
    env = {k: v for k, v in os.environ.items() if k not in ("PYTHONPATH", "MYPYPATH")}
    env["PIP_NO_INDEX"] = "1"
    if shutil.which("ccache"):
        env.setdefault("CMAKE_CXX_COMPILER_LAUNCHER", "ccache")
        env.setdefault("CMAKE_C_COMPILER_LAUNCHER", "ccache")
    copy_source(source, tmp_path / "src")
    venv = tmp_path / "venv"
    python = str(venv / "bin" / "python")
    run([sys.executable, "-m", "venv", "--system-site-packages", str(venv)], env, tmp_path)
    run([python, "-m", "pip", "install", "--no-build-isolation", str(tmp_path / "src")],
        env, tmp_path)
    answer = run([python, "-c", "import importlib.metadata as m, torvel\n"
                  "print(torvel.__file__, m.version('torvel'), torvel.ClassAd('A = 6')['A'] * 7)"],
                 env, tmp_path).split()
    assert answer[0].startswith(str(venv)) and answer[0].endswith("torvel/__init__.py")
    assert answer[1:] == [torvel.__version__, "42"]
    (tmp_path / "use.py").write_text(TYPED_USE)
    run([python, "-m", "mypy", "--strict", "--no-incremental", "use.py"], env, tmp_path)
