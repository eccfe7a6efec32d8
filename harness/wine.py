"""The Windows test environment (scripts/winenv.sh) from Python: the build's programs, the
probe inside Wine and its line protocol, the programs under test started from folders of
their own, extra PulseAudio sinks, and the benchmark tool's answers."""

import os
import re
import shutil
import subprocess
import sys
import time

from . import morlett
from .process import Failure, LineReader, check, end_process, end_pid, processes_of, wait_until


KILL_STREAM = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "sound", "tests",
                           "pulse_kill_stream.py")


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


class Environment:
    """The running environment: exported by scripts/winenv.sh, which names its build folder
    in MORLETT_WINENV_BUILD_DIR. Folders for the programs go below build/<work>."""

    def __init__(self, build=None, work="e2e-work"):
        build = build or os.environ.get("MORLETT_WINENV_BUILD_DIR")
        check(build and "WINEPREFIX" in os.environ,
              "no test environment: run under scripts/winenv.sh")
        self.build = os.path.abspath(build)
        self.prefix = os.environ["WINEPREFIX"]
        self.sink = os.environ.get("MORLETT_SINK", "morlett_sink")
        self.exe = os.path.join(self.build, "app", morlett.EXE)
        self.probe_exe = os.path.join(self.build, "e2e", "morlett_probe.exe")
        self.tool = os.path.join(self.build, "bench", "morlett_benchtool.exe")
        self.work = os.path.join(self.build, work)
        os.makedirs(self.work, exist_ok=True)
        self.modules = []
        self.sink_modules = {}  # sink name: module

    def folder(self, name):
        """A fresh, empty folder of the work folder."""
        path = os.path.join(self.work, name)
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)
        return path

    def add_sink(self, name):
        """A further 48 kHz null sink, unloaded again by close()."""
        out = subprocess.run(["pactl", "load-module", "module-null-sink", "sink_name=" + name,
                              "rate=48000", "channels=2"], capture_output=True, text=True,
                             timeout=10)
        check(out.returncode == 0, "no sink %s: %s" % (name, out.stderr))
        self.modules.append(out.stdout.strip())
        self.sink_modules[name] = out.stdout.strip()
        return name

    def remove_sink(self, name):
        """Unloads a sink that add_sink() loaded: PulseAudio moves what still plays on it
        (and what records its monitor) elsewhere."""
        module = self.sink_modules.pop(name)
        self.modules.remove(module)
        subprocess.run(["pactl", "unload-module", module], capture_output=True, timeout=10)

    def set_default_sink(self, name):
        """PulseAudio moves the streams that were not opened on a sink by name to it."""
        out = subprocess.run(["pactl", "set-default-sink", name], capture_output=True,
                             text=True, timeout=10)
        check(out.returncode == 0, "no default sink %s: %s" % (name, out.stderr))

    def fix_default_source(self):
        """Makes the environment's own sink's monitor the default source by name. Until a
        default source is set, PulseAudio takes the default sink's monitor for it, and
        moves every recording to the new default sink's monitor when the default sink
        changes, whatever monitor it was started on."""
        out = subprocess.run(["pactl", "set-default-source", self.sink + ".monitor"],
                             capture_output=True, text=True, timeout=10)
        check(out.returncode == 0, "no default source: %s" % out.stderr)

    def streams_on(self, name):
        """The indexes of the playing streams (sink inputs) on the sink name."""
        sinks = subprocess.run(["pactl", "list", "short", "sinks"], capture_output=True,
                               text=True, timeout=10).stdout
        index = [line.split()[0] for line in sinks.splitlines() if line.split()[1:2] == [name]]
        inputs = subprocess.run(["pactl", "list", "short", "sink-inputs"], capture_output=True,
                                text=True, timeout=10).stdout
        return [int(line.split()[0]) for line in inputs.splitlines()
                if index and line.split()[1:2] == index]

    def end_stream(self, index):
        """Ends a playing stream under its program, as Windows does to the audio connection
        of an output that was unplugged."""
        out = subprocess.run([sys.executable, KILL_STREAM, str(index)], capture_output=True,
                             text=True, timeout=30)
        check(out.returncode == 0, "stream %d not ended: %s" % (index, out.stderr))

    def close(self):
        for module in self.modules:
            subprocess.run(["pactl", "unload-module", module], capture_output=True, timeout=10)
        self.modules = []
        self.sink_modules = {}

    def tool_run(self, *args):
        """The benchmark tool's answer to one command, inside Wine."""
        return subprocess.run(["wine", self.tool] + list(args), capture_output=True, text=True,
                              timeout=60, stdin=subprocess.DEVNULL).stdout.strip()

    def memory(self, exe_name=morlett.EXE):
        """{private, workingset, handles} of the first process named exe_name."""
        out = self.tool_run("mem", exe_name)
        m = re.search(r"private (\d+) workingset (\d+) handles (\d+)", out)
        check(m, "no memory figures for %s: %r" % (exe_name, out))
        return {"private": int(m.group(1)), "workingset": int(m.group(2)),
                "handles": int(m.group(3))}


class Probe:
    """morlett_probe.exe in serve mode: one long-lived Wine process, which also keeps Wine's
    desktop (and the tray window on it) and the keyboard state alive between programs.
    One command a line; the answer is one line, or lines up to "end"."""

    def __init__(self, exe):
        self.process = subprocess.Popen(["wine", exe, "serve"], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                        start_new_session=True)
        self.reader = LineReader(self.process.stdout)
        ready = self.reader.line(60)
        if ready != "ready":
            self.close()
            raise Failure("the probe did not start (%r)" % ready)

    def ask(self, command, timeout=15, lines=False):
        self.process.stdin.write((command + "\n").encode())
        self.process.stdin.flush()
        out = []
        while True:
            answer = self.reader.line(timeout)
            check(answer is not None, "the probe did not answer %r" % command)
            if not lines:
                return answer
            if answer == "end":
                return out
            out.append(answer)

    def caps(self, state=None, held=True):
        """Caps Lock switched to state ("on"/"off") through SendInput, or read when None.
        held: it must still be in that state when the probe looks (not so while the program
        forces it off)."""
        if state is None:
            return self.ask("caps")
        answer = self.ask("set-caps " + state)
        check(not held or answer.startswith(state),
              "Caps Lock did not go %s: %s" % (state, answer))
        return answer

    def press_and_watch(self, ms):
        """(ms until Caps Lock was seen on, ms until it was seen off again), -1 for never."""
        answer = self.ask("press-and-watch %d" % ms)
        parts = answer.split()
        check(len(parts) == 4 and parts[0] == "seen-on", "probe: %s" % answer)
        return int(parts[1]), int(parts[3])

    def windows(self, title):
        """[(class, [child texts])] of the visible windows titled title."""
        found = []
        for line in self.ask('windows "%s"' % title, lines=True):
            parts = line[len("window "):].split("|")
            found.append((parts[0], parts[1:]))
        return found

    def wait_window(self, title, timeout, text=None):
        def look():
            for cls, texts in self.windows(title):
                if text is None or text in texts:
                    return (cls, texts)
            return None
        return wait_until(look, timeout, 0.2)

    def click(self, title, button):
        check(self.ask('click "%s" "%s"' % (title, button)) == "clicked",
              "no %s button in %r" % (button, title))

    def set_text(self, title, text):
        check(self.ask('set-text "%s" "%s"' % (title, text)) == "set", "no edit field in %r" % title)

    def wait_gone(self, title, ms=5000):
        check(self.ask('wait-gone "%s" %d' % (title, ms)).startswith("gone"),
              "%r stayed open" % title)

    def answer(self, title, button, ms=5000):
        """Clicks a button of a dialog and waits until it is gone."""
        self.click(title, button)
        self.wait_gone(title, ms)

    def instance_held(self):
        return self.ask("mutex " + morlett.MUTEX) == "exists"

    def wait_instance_free(self, timeout=10):
        """Wine lets go of an ended program's objects a moment after its process is gone,
        and a start before that is refused."""
        check(wait_until(lambda: self.ask("mutex " + morlett.MUTEX) == "none", timeout, 0.1),
              "an earlier instance still holds the mutex")

    def close(self):
        try:
            self.process.stdin.write(b"quit\n")
            self.process.stdin.flush()
        except OSError:
            pass
        try:
            self.process.wait(5)
        except subprocess.TimeoutExpired:
            end_process(self.process)


class Program:
    """A Windows program (morlett.exe unless exe names another) copied into a fresh folder
    of its own (or started again from folder) under Wine; settings, when given, is written beside it
    first and prepare(folder) runs before the start; sink sets PULSE_SINK."""

    def __init__(self, env, name, args=(), exe=None, settings=None, prepare=None, cwd=None,
                 environment=None, sink=None, folder=None):
        self.env, self.name = env, name
        self.folder = folder or env.folder(name)
        self.exe = os.path.join(self.folder, os.path.basename(exe or env.exe))
        if not os.path.exists(self.exe):
            shutil.copy2(exe or env.exe, self.exe)
        if settings is not None:
            with open(self.settings_path, "wb") as f:
                f.write(settings.encode() if isinstance(settings, str) else settings)
        if prepare:
            prepare(self.folder)
        variables = dict(os.environ, **(environment or {}))
        if sink:
            variables["PULSE_SINK"] = sink
        self.launched = time.time()
        self.process = subprocess.Popen(["wine", self.exe] + list(args), cwd=cwd or self.folder,
                                        env=variables, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                        start_new_session=True)
        self.pid = self.process.pid

    @property
    def settings_path(self):
        return os.path.join(self.folder, morlett.SETTINGS_FILE)

    def settings(self):
        """The settings file's bytes, or None."""
        if not os.path.isfile(self.settings_path):
            return None
        with open(self.settings_path, "rb") as f:
            return f.read()

    def wait(self, timeout):
        """The exit code, or None when it still runs after timeout seconds."""
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def running(self):
        return self.process.poll() is None

    def pids(self):
        """Every process running a program from the folder: this one and its copies."""
        return processes_of(self.folder, self.env.prefix)

    def wait_pid(self, timeout=10):
        found = wait_until(self.pids, timeout, 0.05)
        check(found, "%s did not start" % self.name)
        return found[0]

    def end(self):
        """Ends this program and any copy started from its folder, by PID."""
        end_process(self.process)
        for pid in self.pids():
            end_pid(pid)
