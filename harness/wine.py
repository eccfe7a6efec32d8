"""The Windows test environment (scripts/winenv.sh) from Python: the build's programs, the
probe inside Wine and its line protocol, the programs under test started from folders of
their own, extra PulseAudio sinks, and the benchmark tool's answers."""

import os
import re
import shutil
import subprocess
import time

from . import morlett
from .process import Failure, LineReader, check, end_process, end_pid, processes_of, wait_until


PULSE_KILL_STREAM = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "sound",
                                 "tests", "pulse_kill_stream.py")
# What scripts/winenv.sh gives its own sink beyond the name.
OWN_SINK_DESCRIPTION = "Morlett_test_sink"


def pactl(*args):
    """pactl's output; a failure is a Failure."""
    out = subprocess.run(["pactl"] + list(args), capture_output=True, text=True, timeout=10)
    check(out.returncode == 0, "pactl %s: %s" % (" ".join(args), out.stderr.strip()))
    return out.stdout


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
        self.keeper = None

    def folder(self, name):
        """A fresh, empty folder of the work folder."""
        path = os.path.join(self.work, name)
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)
        return path

    def _load_sink(self, name, description=None):
        args = ["load-module", "module-null-sink", "sink_name=" + name, "rate=48000",
                "channels=2"]
        if description:
            args.append("sink_properties=device.description=" + description)
        return pactl(*args).strip()

    def add_sink(self, name):
        """A further 48 kHz null sink, unloaded again by close(). The default source is fixed
        to the own sink's monitor: otherwise it follows the default sink, and PulseAudio 16
        moves every recording with it, even one that named its sink's monitor."""
        self.modules.append(self._load_sink(name))
        pactl("set-default-source", self.sink + ".monitor")
        return name

    def sinks(self):
        """The names of the sinks there are."""
        return [line.split("\t")[1] for line in pactl("list", "short", "sinks").splitlines()
                if "\t" in line]

    def default_sink(self, name=None):
        """Makes name the default output, or reads the default when name is None."""
        if name is None:
            return pactl("get-default-sink").strip()
        pactl("set-default-sink", name)
        return name

    def remove_sink(self, name):
        """Unloads the null sink name. Streams playing on it move to another sink, or end
        when there is none; a recorder of its monitor would move too, so end those first."""
        for line in pactl("list", "short", "modules").splitlines():
            fields = line.split("\t")
            if (len(fields) >= 3 and fields[1] == "module-null-sink" and
                    ("sink_name=" + name) in fields[2].split()):
                pactl("unload-module", fields[0])
                if fields[0] in self.modules:
                    self.modules.remove(fields[0])
                return
        raise Failure("no sink %s to remove" % name)

    def streams(self):
        """The indexes of the streams playing into any sink (the programs' outputs)."""
        return [int(line.split("\t")[0])
                for line in pactl("list", "short", "sink-inputs").splitlines() if line.strip()]

    def streams_on(self, name):
        """The indexes of the streams playing into the sink name."""
        sinks = [line.split("\t") for line in pactl("list", "short", "sinks").splitlines()]
        index = [fields[0] for fields in sinks if fields[1:2] == [name]]
        return [int(fields[0]) for fields in
                (line.split("\t") for line in pactl("list", "short", "sink-inputs").splitlines())
                if index and fields[1:2] == index]

    def end_stream(self, index):
        """Ends a playing stream under its program, as Windows ends the audio connection of
        an output that is unplugged."""
        out = subprocess.run(["python3", PULSE_KILL_STREAM, str(index)], capture_output=True,
                             text=True, timeout=30)
        check(out.returncode == 0, "stream %d not ended: %s" % (index, out.stderr.strip()))

    def restore_own_sink(self):
        """Brings the environment's own sink back as scripts/winenv.sh made it, the default
        output again, after a test removed it. Its keeper recorder ended with it: a new one,
        ended by close(), keeps the sink's monitor streaming in short blocks, so that later
        recordings start at once."""
        if self.sink not in self.sinks():
            self._load_sink(self.sink, OWN_SINK_DESCRIPTION)
            if self.keeper:
                end_process(self.keeper)
            self.keeper = subprocess.Popen(
                ["parec", "--latency-msec=10", "--raw", "-d", self.sink + ".monitor"],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                start_new_session=True)
        self.default_sink(self.sink)

    def close(self):
        for module in self.modules:
            subprocess.run(["pactl", "unload-module", module], capture_output=True, timeout=10)
        self.modules = []
        if self.keeper:
            end_process(self.keeper)
            self.keeper = None

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

    def x_window(self, title):
        """The X window of the largest visible window titled title (what keys must reach)."""
        answer = self.ask('x-window "%s"' % title)
        check(answer.startswith("x-window "), "no X window for %r: %s" % (title, answer))
        return answer.split()[1]

    def wait_gone(self, title, ms=5000):
        check(self.ask('wait-gone "%s" %d' % (title, ms)).startswith("gone"),
              "%r stayed open" % title)

    def answer(self, title, button, ms=5000):
        """Clicks a button of a dialog and waits until it is gone."""
        self.click(title, button)
        self.wait_gone(title, ms)

    def theme(self, value=None):
        """The taskbar's theme value (morlett.DARK, LIGHT or NO_THEME) set through the registry
        API, or read when value is None."""
        if value is None:
            return self.ask("theme")
        answer = self.ask("theme " + value)
        check(answer == "set", "theme value not set to %s: %s" % (value, answer))
        return value

    def broadcast_theme(self):
        """Tells every top-level window, as the shell does, that the colour theme changed."""
        answer = self.ask("broadcast-theme")
        check(answer == "sent", "theme change not sent: %s" % answer)

    def resume(self, which="both"):
        """Tells every top-level window that the machine resumed from sleep: "automatic",
        "suspend" (the one sent once a user is seen) or both in the system's order."""
        answer = self.ask("resume" if which == "both" else "resume " + which)
        check(answer == "sent", "resume not sent: %s" % answer)

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
    first and prepare(folder) runs before the start; sink sets PULSE_SINK; with log, Wine's
    debug output (standard error) goes to that file."""

    def __init__(self, env, name, args=(), exe=None, settings=None, prepare=None, cwd=None,
                 environment=None, sink=None, folder=None, log=None):
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
        self.log = log
        errors = open(log, "wb") if log else subprocess.DEVNULL
        try:
            self.process = subprocess.Popen(["wine", self.exe] + list(args),
                                            cwd=cwd or self.folder, env=variables,
                                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                            stderr=errors, start_new_session=True)
        finally:
            if log:
                errors.close()
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

    def log_lines(self, containing=""):
        """The lines of the log (see log=) that contain the text, so far."""
        check(self.log, "%s was started without a log" % self.name)
        with open(self.log, "rb") as f:
            text = f.read().decode("utf-8", "replace")
        return [line for line in text.splitlines() if containing in line]

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
