# The configuration functions: loading as the programs do, the param family,
# provenance, and the library's fatal exits turned into torvel.ConfigError.
import os
import pwd
import subprocess

import pytest
import torvel

CONFIG = """FOO = bar
NUM = 42
NOT_A_NUMBER = x12
YES = True
NO = false
TOOL.SPEC = for tools
OTHER.SPEC = for others
PATHS = $(FOO)/baz
EMPTY =
RATIO = 0.25
"""


@pytest.fixture(scope="module")
def config_file(tmp_path_factory):
    path = tmp_path_factory.mktemp("config") / "torvel_config"
    path.write_text(CONFIG)
    return str(path)


@pytest.fixture
def loaded(config_file, monkeypatch):
    monkeypatch.setenv("TORVEL_CONFIG", config_file)
    torvel.load_config()
    return config_file


def test_param_family(loaded):
    assert torvel.param("FOO") == "bar"
    assert torvel.param("foo") == "bar"  # names ignore case
    assert torvel.param("PATHS") == "bar/baz"
    assert torvel.param("NOPE") is None and torvel.param("NOPE", "d") == "d"
    assert torvel.param("EMPTY", "d") == "d"
    assert torvel.param_int("NUM", 1) == 42
    assert torvel.param_int("NUM", 1, 0, 10) == 10
    assert torvel.param_int("NUM", 1, 50, 60) == 50
    assert torvel.param_int("NOT_A_NUMBER", 7) == 7
    assert torvel.param_int("NOPE", -3) == -3
    assert torvel.param_bool("YES", False) is True
    assert torvel.param_bool("NO", True) is False
    assert torvel.param_bool("FOO", True) is True
    assert torvel.param_float("RATIO", 1.0) == 0.25
    assert torvel.param_float("RATIO", 1.0, 0.5, 2.0) == 0.5
    assert torvel.param_float("NOT_A_NUMBER", 1.5) == 1.5
    assert torvel.param_float("NUM", 1.5) == 42.0


def test_argument_types_and_ranges(loaded):
    # Python's own errors, not pybind11's RuntimeError "Unable to cast".
    for call in (lambda: torvel.param_int("NUM", "1"), lambda: torvel.param_int("NUM", 1.0),
                 lambda: torvel.param_float("RATIO", "1"), lambda: torvel.param(3)):
        with pytest.raises(TypeError):
            call()
    for call in (lambda: torvel.param_int("NUM", 2**31), lambda: torvel.param_int("NUM", 1, -2**40),
                 lambda: torvel.param_int("NUM", 1, 0, 2**100)):
        with pytest.raises(OverflowError):
            call()
    assert torvel.param_int("NUM", 2**31 - 1, -2**31) == 42


def test_subsystem_specific_values(loaded):
    assert torvel.param("SPEC") == "for tools"
    torvel.load_config("OTHER")
    try:
        assert torvel.param("SPEC") == "for others"
    finally:
        torvel.load_config()


def test_expand_and_where(loaded):
    assert torvel.expand("$(FOO)-$(NUM)") == "bar-42"
    assert torvel.expand("plain") == "plain"
    assert torvel.where("NUM") == (loaded, 2)
    assert torvel.where("SPEC") == (loaded, 6)  # the key param reads
    assert torvel.where("NOPE") is None


def test_values_agree_with_torvel_config_val(loaded, binary_dir):
    tool = os.path.join(binary_dir, "tools", "torvel_config_val")
    if not os.access(tool, os.X_OK):
        pytest.skip("torvel_config_val not built")
    names = ["FOO", "PATHS", "SPEC", "NUM", "HOSTNAME", "SUBSYSTEM"]
    out = subprocess.run([tool] + names, capture_output=True, text=True, check=True,
                         env=dict(os.environ, TORVEL_CONFIG=loaded)).stdout
    assert out.splitlines() == [torvel.param(n) for n in names]


def test_the_librarys_own_dprintf_is_reached(loaded, monkeypatch):
    # Writing the log takes the service account: the process's own ids.
    monkeypatch.setenv("TORVEL_IDS", f"{os.getuid()}.{os.getgid()}")
    torvel.saved_debug_lines()
    torvel.param_int("NOT_A_NUMBER", 7)
    # The C library's dprintf(fd, ...) would have sent this line to file
    # descriptor 4096 (the category bit) instead of the library's log.
    lines = torvel.saved_debug_lines()
    assert lines == 'WARNING: NOT_A_NUMBER not an integer ("x12"), using default value of 7\n'
    assert torvel.saved_debug_lines() == ""


def test_the_library_never_ends_the_interpreter(config_file, child_python, tmp_path):
    bad = tmp_path / "placeholder_config"
    bad.write_text("X = YOU_MUST_CHANGE_THIS_INVALID_TORVEL_CONFIGURATION_VALUE\n")
    code = f"""
import os, torvel
def show(step):
    try:
        step()
        print("returned")
    except torvel.ConfigError as e:
        print("ConfigError:", str(e).replace(chr(10), " "))
show(lambda: torvel.param("FOO"))
os.environ["TORVEL_CONFIG"] = {str(tmp_path / "missing")!r}
show(torvel.load_config)
os.environ["TORVEL_CONFIG"] = {str(bad)!r}
show(torvel.load_config)
os.environ["TORVEL_CONFIG"] = {config_file!r}
show(torvel.load_config)
os.environ.pop("NO_SUCH_VARIABLE", None)
show(lambda: torvel.expand("$ENV(NO_SUCH_VARIABLE)"))
print("alive", torvel.param("FOO"))
"""
    done = child_python(code)
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    assert lines[0].startswith("ConfigError: the configuration is not loaded")
    assert lines[1].startswith("ConfigError: File specified in TORVEL_CONFIG")
    assert "does not exist" in lines[1]
    assert lines[2].startswith("ConfigError:") and "must be changed" in lines[2]
    assert lines[3] == "returned"
    assert lines[4].startswith("ConfigError:") and "NO_SUCH_VARIABLE" in lines[4]
    assert lines[5] == "alive bar"


def test_missing_service_account_is_an_exception(config_file, child_python):
    if os.getuid() != 0:
        pytest.skip("only a root process needs the service account")
    try:
        pwd.getpwnam("torvel")
        pytest.skip("this machine has the service account")
    except KeyError:
        pass
    code = """
import torvel
torvel.load_config()
torvel.param_int("NOT_A_NUMBER", 7)
try:
    torvel.saved_debug_lines()
except torvel.ConfigError as e:
    print("ConfigError:", e)
print("alive")
"""
    done = child_python(code, {"TORVEL_CONFIG": config_file}, unset=("TORVEL_IDS",))
    assert done.returncode == 0, done.stderr
    assert 'Can\'t find "torvel" in the password file' in done.stdout
    assert done.stdout.endswith("alive\n")


def test_nul_bytes_raise_instead_of_cutting_text_short(loaded):
    for step in (lambda: torvel.param("FOO\x00B"), lambda: torvel.param_int("NUM\x00", 1),
                 lambda: torvel.param_bool("YES\x00", False), lambda: torvel.where("NUM\x00"),
                 lambda: torvel.expand("x\x00$(FOO)"), lambda: torvel.load_config("TOOL\x00X")):
        with pytest.raises(ValueError, match="embedded null byte"):
            step()
    assert torvel.param("FOO") == "bar"
