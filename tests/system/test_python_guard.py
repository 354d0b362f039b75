# The torvel module against the library's fatal errors, from outside: child
# interpreters with SIGCHLD ignored, periodic timer signals, command sources
# whose output changes from run to run or that are cut off mid-way, under
# strace. Whatever happens the interpreter lives, the failed call raises
# torvel.ConfigError, and what the failure leaves is usable.
import os
import subprocess
import sys
import textwrap

import pytest

# Printed by every child once its checks are through.
ALIVE = "alive"


def run_checks(child_python, code, env=None, unset=()):
    done = child_python(textwrap.dedent(code), env, unset)
    assert done.returncode == 0, f"status {done.returncode}\n{done.stdout}\n{done.stderr}"
    assert done.stdout.splitlines()[-1:] == [ALIVE], done.stdout + done.stderr
    return done


def write_script(path, body):
    path.write_text("#!/bin/sh\n" + textwrap.dedent(body))
    path.chmod(0o755)
    return str(path)


@pytest.fixture
def env_config(tmp_path):
    config = tmp_path / "torvel_config"
    config.write_text("A = 1\nE = $ENV(NO_SUCH_VARIABLE)\nR = $(A)/x\n")
    return {"TORVEL_CONFIG": str(config)}


def test_ignored_sigchld_still_raises(child_python, env_config, tmp_path):
    # The command source also needs its exit status while SIGCHLD is ignored.
    command = write_script(tmp_path / "source.sh", "echo 'FROM_COMMAND = yes'\n")
    (tmp_path / "torvel_config").write_text(
        f"A = 1\nE = $ENV(NO_SUCH_VARIABLE)\nLOCAL_CONFIG_FILE = {command} |\n")
    run_checks(child_python, """
        import signal, torvel
        signal.signal(signal.SIGCHLD, signal.SIG_IGN)
        torvel.load_config()
        assert torvel.param("FROM_COMMAND") == "yes"
        for step in (lambda: torvel.param("E"), lambda: torvel.param_int("E", 1),
                     lambda: torvel.param_bool("E", True),
                     lambda: torvel.expand("$ENV(NO_SUCH_VARIABLE)")):
            try:
                step()
                raise SystemExit("returned")
            except torvel.ConfigError as e:
                assert "Can't find NO_SUCH_VARIABLE in environment!" in str(e), str(e)
        assert signal.getsignal(signal.SIGCHLD) == signal.SIG_IGN
        assert torvel.param("A") == "1"
        print("alive")
        """, env_config)


def test_lookups_never_fork(strace, env_config):
    code = textwrap.dedent("""
        import torvel
        torvel.load_config()
        for _ in range(1000):
            assert torvel.param("R") == "1/x"
        try:
            torvel.param("E")
        except torvel.ConfigError:
            pass
        print("alive")
        """)
    done = subprocess.run([strace, "-f", "-qq", "-e", "trace=fork,vfork,clone,clone3",
                           sys.executable, "-c", code], env=dict(os.environ, **env_config),
                          capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    assert done.stdout == "alive\n"
    forks = [line for line in done.stderr.splitlines() if "clone" in line or "fork(" in line]
    assert forks == []


def test_command_source_runs_once_and_may_change(child_python, tmp_path):
    # Odd runs print a good source, even ones a line that is no assignment.
    counter = tmp_path / "runs"
    counter.write_text("0")
    command = write_script(tmp_path / "source.sh", f"""\
        runs=$(( $(cat {counter}) + 1 ))
        echo $runs > {counter}
        echo "RUN = $runs"
        if [ $(( runs % 2 )) -eq 0 ]; then echo 'not an assignment'; fi
        """)
    env = {"TORVEL_CONFIG": command + " |"}
    run_checks(child_python, f"""
        import torvel
        def runs():
            return int(open({str(counter)!r}).read())
        torvel.load_config()
        assert runs() == 1 and torvel.param("RUN") == "1"
        try:
            torvel.load_config()
            raise SystemExit("the second run loaded")
        except torvel.ConfigError as e:
            assert "Configuration Error" in str(e), str(e)
        assert runs() == 2
        # Nothing of the failed load stays: the table is empty, not half full.
        for step in (lambda: torvel.param("RUN"), lambda: torvel.where("RUN")):
            try:
                step()
                raise SystemExit("a lookup after the failed load returned")
            except torvel.ConfigError as e:
                assert "not loaded" in str(e)
        torvel.load_config()
        assert runs() == 3 and torvel.param("RUN") == "3"
        print("alive")
        """, env)


def test_periodic_signals_do_not_break_loading(child_python, tmp_path):
    # A handler installed from Python interrupts system calls (no
    # SA_RESTART); the command's output trickles in meanwhile.
    command = write_script(tmp_path / "slow.sh", """\
        echo 'FIRST = 1'
        sleep 0.2
        echo 'SECOND = 2'
        sleep 0.2
        echo 'THIRD = $(FIRST)$(SECOND)'
        """)
    env = {"TORVEL_CONFIG": command + " |"}
    run_checks(child_python, """
        import signal, torvel
        ticks = []
        signal.signal(signal.SIGALRM, lambda *_: ticks.append(1))
        signal.signal(signal.SIGCHLD, lambda *_: None)
        signal.setitimer(signal.ITIMER_REAL, 0.001, 0.001)
        for _ in range(2):
            torvel.load_config()
            assert torvel.param("THIRD") == "12", torvel.param("THIRD")
        signal.setitimer(signal.ITIMER_REAL, 0)
        # Python runs its handler once for any number of signals meanwhile.
        assert ticks
        print("alive")
        """, env)


def children_and_descriptors():
    return """
        import os
        def children():
            me = str(os.getpid())
            found = []
            for pid in os.listdir("/proc"):
                try:
                    with open(f"/proc/{pid}/stat") as f:
                        if f.read().rsplit(")", 1)[1].split()[1] == me:
                            found.append(pid)
                except (OSError, IndexError, ValueError):
                    pass
            return found
        def descriptors():
            return sorted(os.listdir("/proc/self/fd"))
        """


@pytest.mark.parametrize("piped", [False, True])
def test_load_cut_off_mid_source_leaves_nothing_open(child_python, tmp_path, piped):
    # A name built from an unset $ENV ends the read of a source part-way:
    # the source is closed and a command reaped even though the command
    # still had far more to say than a pipe holds.
    lines = "".join(f"FILLER_{k} = {k}\n" for k in range(20000))
    text = "A = 1\n$ENV(NO_SUCH_VARIABLE)NAME = 2\n" + lines
    source = tmp_path / "source"
    source.write_text(text)
    if piped:
        name = write_script(tmp_path / "source.sh", f"cat {source}\n") + " |"
    else:
        name = str(source)
    good = tmp_path / "good_config"
    good.write_text("B = 2\n")
    run_checks(child_python, children_and_descriptors() + f"""
        import torvel
        before = descriptors()
        os.environ["TORVEL_CONFIG"] = {name!r}
        for _ in range(3):
            try:
                torvel.load_config()
                raise SystemExit("loaded")
            except torvel.ConfigError as e:
                assert "Can't find NO_SUCH_VARIABLE in environment!" in str(e), str(e)
        assert children() == [], children()
        assert descriptors() == before, (before, descriptors())
        os.environ["TORVEL_CONFIG"] = {str(good)!r}
        torvel.load_config()
        assert torvel.param("B") == "2" and torvel.param("A") is None
        print("alive")
        """)


def test_start_up_errors_carry_their_message(child_python, tmp_path):
    # The start-up's own exits print several lines first; they become the
    # exception's text and nothing reaches standard error.
    done = run_checks(child_python, f"""
        import os, torvel
        os.environ["TORVEL_CONFIG"] = {str(tmp_path)!r}
        try:
            torvel.load_config()
            raise SystemExit("loaded")
        except torvel.ConfigError as e:
            assert str(e).startswith("File specified in TORVEL_CONFIG environment variable:")
            assert "is a directory" in str(e)
        print("alive")
        """)
    assert done.stderr == ""


def test_warnings_of_a_good_load_still_reach_standard_error(child_python, tmp_path):
    command = write_script(tmp_path / "source.sh", "echo 'A = 1'; echo 'a warning' >&2\n")
    done = run_checks(child_python, """
        import torvel
        torvel.load_config()
        assert torvel.param("A") == "1"
        print("alive")
        """, {"TORVEL_CONFIG": command + " |"})
    assert "a warning" in done.stderr


def test_missing_service_account_keeps_the_saved_lines(child_python, tmp_path):
    if os.getuid() != 0:
        pytest.skip("only a root process needs the service account")
    import pwd
    try:
        pwd.getpwnam("torvel")
        pytest.skip("this machine has the service account")
    except KeyError:
        pass
    config = tmp_path / "torvel_config"
    config.write_text("NOT_A_NUMBER = x12\n")
    run_checks(child_python, """
        import os, torvel
        torvel.load_config()
        torvel.param_int("NOT_A_NUMBER", 7)
        try:
            torvel.saved_debug_lines()
            raise SystemExit("written")
        except torvel.ConfigError as e:
            assert "password file" in str(e), str(e)
        os.environ["TORVEL_IDS"] = f"{os.getuid()}.{os.getgid()}"
        lines = torvel.saved_debug_lines()
        assert 'NOT_A_NUMBER not an integer ("x12")' in lines, lines
        print("alive")
        """, {"TORVEL_CONFIG": str(config)}, unset=("TORVEL_IDS",))
