"""An interrupted test run leaves nothing behind: scripts/test.sh windows is ended in the
middle of its Windows tests, with TERM to its process group (a CI runner giving up) and with
INT (Ctrl-C), and afterwards no process that it started may be alive. Every process it
starts inherits a marker in its environment, which is how they are found."""

import os
import random
import signal
import subprocess

import pytest

from harness.process import alive, end_pid, wait_until

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))

START_S = 120     # until the Windows tests run
END_S = 60        # until test.sh has ended after the signal
DAEMONS_S = 5     # until the daemons have followed their server


def marked(mark):
    """PIDs of live processes whose environment carries the marker."""
    entry = ("MORLETT_TEST_MARK=" + mark).encode()
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/environ" % pid, "rb") as f:
                if entry in f.read().split(b"\0") and alive(int(pid)):
                    found.append(int(pid))
        except OSError:
            pass
    return found


def command_line(pid):
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            return f.read().replace(b"\0", b" ").decode(errors="replace")
    except OSError:
        return ""


def windows_tests_running(mark):
    return any(command_line(p).startswith("ctest --preset windows") for p in marked(mark))


@pytest.mark.skipif(not os.path.isfile(os.path.join(ROOT, "build/windows/CMakeCache.txt")),
                    reason="build/windows is not built (scripts/test.sh windows builds it)")
@pytest.mark.parametrize("sig", [signal.SIGTERM, signal.SIGINT], ids=["TERM", "INT"])
def test_an_interrupted_windows_run_leaves_nothing_running(sig, tmp_path):
    mark = "interrupt-%s-%d-%d" % (sig.name, os.getpid(), random.randrange(1 << 30))
    log = tmp_path / "test.log"
    variables = dict(os.environ, MORLETT_TEST_MARK=mark, MORLETT_TEST_LOG_DIR=str(tmp_path / "logs"))
    # A process group of its own with INT at its default, as a shell in a terminal has it.
    with open(log, "wb") as out:
        run = subprocess.Popen(["env", "--default-signal=INT", "bash", "scripts/test.sh", "windows"],
                               cwd=ROOT, env=variables, stdin=subprocess.DEVNULL, stdout=out,
                               stderr=subprocess.STDOUT, start_new_session=True)
    try:
        started = wait_until(lambda: windows_tests_running(mark) or run.poll() is not None,
                             START_S, 0.1)
        assert started and run.poll() is None, "no Windows test started within %d s:\n%s" % (
            START_S, log.read_text(errors="replace"))
        wait_until(lambda: False, 1)
        os.killpg(run.pid, sig)
        try:
            run.wait(END_S)
        except subprocess.TimeoutExpired:
            pytest.fail("still running %d s after the signal" % END_S)
        left = wait_until(lambda: not marked(mark), DAEMONS_S, 0.1) or marked(mark)
        assert left is True, "left running: %s" % [command_line(p) for p in left]
        assert "interrupted" in log.read_text(errors="replace"), "it did not say so"
    finally:
        if run.poll() is None:
            os.killpg(run.pid, signal.SIGKILL)
            run.wait(5)
        for pid in marked(mark):
            end_pid(pid, 0)
