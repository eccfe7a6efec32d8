"""Processes: started in a session of their own, ended by PID (TERM, a bounded wait, KILL),
found by the folder they run from; every wait has a limit."""

import os
import select
import signal
import time


class Failure(AssertionError):
    """A step of a test or a tool that did not work out; pytest reports it as a failure."""


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_until(condition, timeout, step=0.05):
    """condition()'s first true value within timeout seconds, else its last value."""
    end = time.time() + timeout
    while True:
        value = condition()
        if value or time.time() >= end:
            return value
        time.sleep(step)


def alive(pid):
    """True while the process lives; a zombie counts as gone."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            state = f.read().rsplit(")", 1)[1].split()[0]
        return state not in ("Z", "X")
    except (OSError, IndexError):
        return False


def end_pid(pid, grace=3.0):
    """TERM, a bounded wait, KILL: for processes we started or found by our own paths."""
    if not alive(pid):
        return
    try:
        os.kill(pid, signal.SIGTERM)
    except OSError:
        return
    if not wait_until(lambda: not alive(pid), grace):
        try:
            os.kill(pid, signal.SIGKILL)
        except OSError:
            pass
        wait_until(lambda: not alive(pid), 2.0)


def end_process(process, grace=3.0):
    """end_pid for a subprocess.Popen of ours, then reaped."""
    if process.poll() is None:
        end_pid(process.pid, grace)
    try:
        process.wait(5)
    except Exception:  # noqa: BLE001 - a process that cannot be reaped is left to init
        pass


def _maps_folder(pid, folder):
    """True when the process has a file of folder mapped: Wine maps the exe's file, while
    its command line shows only the Windows name."""
    try:
        with open("/proc/%d/maps" % pid) as f:
            return any((folder + "/") in line for line in f)
    except OSError:
        return False


def _has_environment(pid, entry):
    try:
        with open("/proc/%d/environ" % pid, "rb") as f:
            return entry.encode() in f.read().split(b"\0")
    except OSError:
        return False


def processes_of(folder, prefix):
    """PIDs of the Wine processes of our prefix running a program from folder (one of our
    own test folders): also the copies that a program started itself."""
    pids = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == os.getpid():
            continue
        pid = int(entry)
        if (_maps_folder(pid, folder) and _has_environment(pid, "WINEPREFIX=" + prefix)
                and alive(pid)):
            pids.append(pid)
    return pids


class LineReader:
    """Lines from a pipe, each with a time limit."""

    def __init__(self, stream):
        self.fd = stream.fileno()
        self.buffer = b""

    def line(self, timeout):
        end = time.time() + timeout
        while b"\n" not in self.buffer:
            left = end - time.time()
            if left <= 0:
                return None
            ready, _, _ = select.select([self.fd], [], [], left)
            if not ready:
                return None
            chunk = os.read(self.fd, 4096)
            if not chunk:
                return None
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return line.decode("utf-8", "replace").rstrip("\r")
