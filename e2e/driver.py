"""The end-to-end tests' tools: the program under test, the probe inside Wine, the
recording of the null sink, the tray and menus through xdotool, and a small test runner
that prints GoogleTest's summary lines.

Everything here ends what it started by PID, and every wait has a limit.
"""

import os
import re
import select
import shutil
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import analyse  # noqa: E402


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_until(condition, timeout, step=0.05):
    end = time.time() + timeout
    while True:
        value = condition()
        if value or time.time() >= end:
            return value
        time.sleep(step)


def _alive(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            state = f.read().rsplit(")", 1)[1].split()[0]
        return state not in ("Z", "X")
    except (OSError, IndexError):
        return False


def end_pid(pid, grace=3.0):
    """TERM, a bounded wait, KILL: for processes we started or found by our own paths."""
    if not _alive(pid):
        return
    try:
        os.kill(pid, signal.SIGTERM)
    except OSError:
        return
    if not wait_until(lambda: not _alive(pid), grace):
        try:
            os.kill(pid, signal.SIGKILL)
        except OSError:
            pass
        wait_until(lambda: not _alive(pid), 2.0)


def _runs_from(pid, folder):
    """True when the process has a program of folder mapped: Wine maps the exe's file, while
    its command line shows only the Windows name."""
    try:
        with open("/proc/%d/maps" % pid) as f:
            return any((folder + "/") in line for line in f)
    except OSError:
        return False


def _same_prefix(pid, prefix):
    try:
        with open("/proc/%d/environ" % pid, "rb") as f:
            return ("WINEPREFIX=" + prefix).encode() in f.read().split(b"\0")
    except OSError:
        return False


def processes_of(folder, prefix):
    """PIDs of the Wine processes of our prefix running a program from folder (a path of
    our own test folders): copies that the program started itself, which we did not start
    and must still end."""
    pids = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == os.getpid():
            continue
        pid = int(entry)
        if _runs_from(pid, folder) and _same_prefix(pid, prefix) and _alive(pid):
            pids.append(pid)
    return pids


class LineReader:
    """Lines from a pipe with a time limit."""

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


class Environment:
    def __init__(self, build):
        self.build = os.path.abspath(build)
        self.exe = os.path.join(self.build, "app", "morlett.exe")
        self.probe_exe = os.path.join(self.build, "e2e", "morlett_probe.exe")
        self.prefix = os.environ["WINEPREFIX"]
        self.sink = os.environ.get("MORLETT_SINK", "morlett_sink")
        self.work = os.path.join(self.build, "e2e-work")
        os.makedirs(self.work, exist_ok=True)
        self.probe = None

    def folder(self, name):
        """A fresh folder holding a copy of morlett.exe."""
        path = os.path.join(self.work, name)
        shutil.rmtree(path, ignore_errors=True)
        os.makedirs(path)
        shutil.copy2(self.exe, os.path.join(path, "morlett.exe"))
        return path

    def start_probe(self):
        self.probe = Probe(self.probe_exe)

    def stop_probe(self):
        if self.probe:
            self.probe.close()
            self.probe = None


class Probe:
    """morlett_probe.exe in serve mode: one long-lived Wine process, which also keeps
    Wine's desktop (and the tray window on it) and the keyboard state alive between tests."""

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
        if not lines:
            answer = self.reader.line(timeout)
            check(answer is not None, "the probe did not answer %r" % command)
            return answer
        out = []
        while True:
            answer = self.reader.line(timeout)
            check(answer is not None, "the probe did not answer %r" % command)
            if answer == "end":
                return out
            out.append(answer)

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

    def close(self):
        try:
            self.process.stdin.write(b"quit\n")
            self.process.stdin.flush()
        except OSError:
            pass
        try:
            self.process.wait(5)
        except subprocess.TimeoutExpired:
            end_pid(self.process.pid)
            self.process.wait(5)


class Recorder:
    """parec on the null sink's monitor. Sound times are seconds since start()."""

    def __init__(self, env, path):
        self.path = path
        self.process = subprocess.Popen(
            ["parec", "--latency-msec=10", "--format=s16le", "--rate=48000", "--channels=2",
             "--file-format=wav", "-d", env.sink + ".monitor", path],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.started = time.time()
        time.sleep(0.3)
        check(self.process.poll() is None, "parec did not start")

    def now(self):
        return time.time() - self.started

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGINT)
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                end_pid(self.process.pid)
        return analyse.analyse(self.path)


class Program:
    """morlett.exe started under Wine from folder (or with a command line of our own
    through the probe, for quoting that wine's argument passing cannot express)."""

    def __init__(self, env, folder, args=(), cwd=None):
        self.env = env
        self.folder = folder
        self.exe = os.path.join(folder, "morlett.exe")
        self.process = subprocess.Popen(["wine", self.exe] + list(args), cwd=cwd or folder,
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL, start_new_session=True)
        self.pid = self.process.pid

    def wait(self, timeout):
        """The exit code, or None when it still runs after timeout seconds."""
        try:
            return self.process.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def running(self):
        return self.process.poll() is None

    def end(self, copies=True):
        """Ends this program and (with copies) any copy started from its folder, by PID."""
        if self.process.poll() is None:
            end_pid(self.pid)
            try:
                self.process.wait(5)
            except subprocess.TimeoutExpired:
                pass
        if copies:
            for pid in processes_of(self.folder, self.env.prefix):
                end_pid(pid)


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


# ---- The tray and its menu, through X ---------------------------------------------------

def xdotool(*args, timeout=10):
    result = subprocess.run(["xdotool"] + [str(a) for a in args], capture_output=True,
                            text=True, timeout=timeout)
    return result.stdout.strip()


def geometry(window):
    text = xdotool("getwindowgeometry", window)
    pos = re.search(r"Position: (-?\d+),(-?\d+)", text)
    size = re.search(r"Geometry: (\d+)x(\d+)", text)
    if not pos or not size:
        return None
    return int(pos.group(1)), int(pos.group(2)), int(size.group(1)), int(size.group(2))


def tray_window(timeout=10):
    def find():
        ids = xdotool("search", "--onlyvisible", "--name", "^Wine System Tray$").split()
        return ids[0] if ids else None
    return wait_until(find, timeout, 0.2)


def tray_icon_centre():
    window = tray_window()
    check(window, "no tray window is shown")
    g = geometry(window)
    check(g, "the tray window has no geometry")
    x, y, w, h = g
    # Wine's tray: a caption, then the icons in a row from the left, 24 pixels each.
    return x + 12, y + h - 14


def click_tray(button):
    x, y = tray_icon_centre()
    xdotool("mousemove", x, y)
    time.sleep(0.1)
    xdotool("click", button)


def _menus():
    # The program's windows carry its exe name as their class; only the popup menu has
    # no title.
    ids = xdotool("search", "--onlyvisible", "--classname", "morlett.exe").split()
    return [w for w in ids if xdotool("getwindowname", w) == ""]


def visible_menu(timeout=5):
    def find():
        menus = _menus()
        return menus[-1] if menus else None
    return wait_until(find, timeout, 0.05)


def menu_gone(timeout=5):
    return wait_until(lambda: not _menus(), timeout, 0.05)


ITEMS = 4


def click_menu_item(menu, index):
    g = geometry(menu)
    check(g, "the menu has no geometry")
    x, y, w, h = g
    # Four rows of equal height between a thin frame at the top and bottom.
    frame = 3
    row = (h - 2 * frame) / ITEMS
    xdotool("mousemove", x + w // 2, int(y + frame + row * (index + 0.5)))
    time.sleep(0.15)
    xdotool("click", 1)


def window_pixels(window):
    """{(x, y): (r, g, b)} of a window's screenshot."""
    result = subprocess.run(["import", "-window", window, "-depth", "8", "txt:-"],
                            capture_output=True, text=True, timeout=30)
    pixels = {}
    pattern = re.compile(r"^(\d+),(\d+):\s*\((\d+),(\d+),(\d+)")
    for line in result.stdout.splitlines():
        m = pattern.match(line)
        if m:
            x, y, r, g, b = (int(v) for v in m.groups())
            pixels[(x, y)] = (r, g, b)
    check(pixels, "no screenshot of window %s: %s" % (window, result.stderr.strip()))
    return pixels


def menu_check_marks(menu):
    """[bool] per item: whether a check mark is drawn left of its text. A row under the
    pointer is highlighted, so a mark is what differs from the row's own background."""
    g = geometry(menu)
    check(g, "the menu has no geometry")
    x, y, w, h = g
    pixels = window_pixels(menu)
    frame = 3
    row = (h - 2 * frame) / ITEMS
    marks = []
    for i in range(ITEMS):
        top, bottom = int(frame + row * i) + 2, int(frame + row * (i + 1)) - 2
        background = pixels.get((w - 6, (top + bottom) // 2))
        check(background, "the menu's screenshot is too small")
        differing = 0
        for px in range(3, 17):
            for py in range(top, bottom):
                colour = pixels.get((px, py), background)
                if max(abs(a - b) for a, b in zip(colour, background)) > 80:
                    differing += 1
        marks.append(differing >= 6)
    return marks


# ---- The runner ---------------------------------------------------------------------------

def run_tests(tests, names=None):
    """tests: [(name, function)]. Prints GoogleTest's lines; returns the exit code."""
    selected = [(n, f) for n, f in tests if not names or n in names]
    print("[==========] Running %d tests." % len(selected), flush=True)
    failed = []
    for name, function in selected:
        print("[ RUN      ] %s" % name, flush=True)
        start = time.time()
        try:
            function()
            ok = True
        except Failure as e:
            print("FAILURE: %s" % e, flush=True)
            ok = False
        except Exception as e:  # a broken tool is a failed test, not a crashed run
            print("FAILURE (error): %r" % (e,), flush=True)
            ok = False
        ms = int((time.time() - start) * 1000)
        if ok:
            print("[       OK ] %s (%d ms)" % (name, ms), flush=True)
        else:
            print("[  FAILED  ] %s (%d ms)" % (name, ms), flush=True)
            failed.append(name)
    print("[==========] %d tests ran." % len(selected))
    print("[  PASSED  ] %d tests." % (len(selected) - len(failed)))
    if failed:
        print("[  FAILED  ] %d tests, listed below:" % len(failed))
        for name in failed:
            print("[  FAILED  ] %s" % name)
    sys.stdout.flush()
    return 1 if failed else 0
