#!/usr/bin/env python3
"""The program measured against its references under Wine, side by side in one run:
warning latency (warm and cold), idle CPU, footprint (file, private bytes, working set),
start-up to the tray icon, and the JSON library's throughput.

    python3 bench/bench.py --build WIN_BUILD [--native NATIVE_BUILD] --out DIR [knobs]

Needs a running test environment (scripts/winenv.sh); scripts/bench.sh provides one and
is the way to run this. Writes DIR/bench.json and DIR/bench-*.dat (for the plots) and
prints a table at the end. Everything it starts it ends by PID.
"""

import argparse
import array
import json
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
from driver import (Failure, Probe, _alive, end_pid, processes_of, wait_until,  # noqa: E402
                    xdotool)

RATE = 48000
THRESHOLD = 6  # in 16-bit units: the level the recording analyser counts as sound


def log(text):
    print("[bench] " + text, flush=True)


class Progress:
    """Names each step and how long the run has left, from the steps' estimates."""

    def __init__(self, steps):
        self.steps = steps  # [(name, estimated seconds)]
        self.index = 0
        self.started = time.time()

    def step(self, name):
        left = sum(s for n, s in self.steps[self.index:])
        self.index += 1
        log("(%d/%d) %s — about %d s left" % (self.index, len(self.steps), name, left))

    def note(self, text):
        log("      %s (%.0f s so far)" % (text, time.time() - self.started))


# ---- Processes ---------------------------------------------------------------------------

class Contestant:
    """One Windows program started from a folder of its own, with its own sound sink."""

    def __init__(self, env, name, exe, args=(), sink=None, settings=None, environment=None,
                 prepare=None):
        self.env, self.name = env, name
        self.folder = os.path.join(env.work, name)
        shutil.rmtree(self.folder, ignore_errors=True)
        os.makedirs(self.folder)
        self.exe = os.path.join(self.folder, os.path.basename(exe))
        shutil.copy2(exe, self.exe)
        if settings is not None:
            with open(os.path.join(self.folder, "morlett.json"), "wb") as f:
                f.write(settings.encode() if isinstance(settings, str) else settings)
        if prepare:
            prepare(self.folder)
        environment = dict(os.environ, **(environment or {}))
        if sink:
            environment["PULSE_SINK"] = sink
        self.launched = time.time()
        self.process = subprocess.Popen(["wine", self.exe] + list(args), cwd=self.folder,
                                        env=environment, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                        start_new_session=True)

    def pids(self):
        return processes_of(self.folder, self.env.prefix)

    def pid(self, timeout=10):
        found = wait_until(self.pids, timeout, 0.05)
        if not found:
            raise Failure("%s did not start" % self.name)
        return found[0]

    def end(self):
        if self.process.poll() is None:
            end_pid(self.process.pid)
        for pid in self.pids():
            end_pid(pid)
        try:
            self.process.wait(5)
        except subprocess.TimeoutExpired:
            pass


def cpu_ticks(pid):
    """(whole process, {thread name: ticks}) in clock ticks."""
    per_thread = {}
    total = 0
    try:
        tasks = os.listdir("/proc/%d/task" % pid)
    except OSError:
        return 0, {}
    for tid in tasks:
        try:
            with open("/proc/%d/task/%s/stat" % (pid, tid)) as f:
                text = f.read()
        except OSError:
            continue
        name = text[text.index("(") + 1:text.rindex(")")]
        fields = text[text.rindex(")") + 2:].split()
        ticks = int(fields[11]) + int(fields[12])
        per_thread["%s:%s" % (name, tid)] = ticks
        total += ticks
    return total, per_thread


def memory(env, exe_name):
    """{private, workingset, handles} of the first process named exe_name, from inside Wine."""
    out = subprocess.run(["wine", env.tool, "mem", exe_name], capture_output=True, text=True,
                         timeout=60, stdin=subprocess.DEVNULL).stdout
    m = re.search(r"private (\d+) workingset (\d+) handles (\d+)", out)
    if not m:
        raise Failure("no memory figures for %s: %r" % (exe_name, out))
    return {"private": int(m.group(1)), "workingset": int(m.group(2)),
            "handles": int(m.group(3))}


# ---- Recording with time stamps -----------------------------------------------------------

class StampedRecorder:
    """parec on a sink's monitor, mono 16-bit. Every block is stamped on arrival; near any
    moment, the earliest-arriving blocks fix the recording's position on the wall clock, so
    that recordings of different sinks share one time base within a few ms. The position is
    taken from the blocks around the moment, not once for the whole recording: over a long
    run the sink's clock drifts from the wall clock, and after a stall under load it
    delivers in a burst."""

    WINDOW = 10.0  # seconds of stamps either side of a moment

    def __init__(self, sink):
        self.samples = bytearray()
        self.offset = None  # wall time of sample 0, from every block
        self.stamps = []    # (arrival, wall time of sample 0 by this block)
        self.lock = threading.Lock()
        self.process = subprocess.Popen(
            ["parec", "--raw", "--latency-msec=10", "--format=s16le", "--rate=%d" % RATE,
             "--channels=1", "-d", sink + ".monitor"],
            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        fd = self.process.stdout.fileno()
        while True:
            chunk = os.read(fd, 8192)
            if not chunk:
                return
            now = time.time()
            with self.lock:
                self.samples += chunk
                start = now - (len(self.samples) // 2) / RATE
                self.stamps.append((now, start))
                if self.offset is None or start < self.offset:
                    self.offset = start

    def offset_near(self, wall):
        """The wall time of sample 0 as the blocks that arrived near wall place it; the
        caller holds the lock."""
        import bisect
        lo = bisect.bisect_left(self.stamps, (wall - self.WINDOW,))
        hi = bisect.bisect_right(self.stamps, (wall + self.WINDOW,))
        near = self.stamps[lo:hi]
        return min(s for _, s in near) if near else self.offset

    def wait_ready(self, timeout=8):
        """True once the monitor streams (an idle null sink starts in long blocks)."""
        def streaming():
            with self.lock:
                return len(self.samples) > RATE // 5
        return wait_until(streaming, timeout, 0.05)

    def stop(self):
        end_pid(self.process.pid)
        self.thread.join(5)

    def onset_after(self, wall, limit=1.5, arrival=2.0):
        """Seconds from wall to the first sound within limit after it, or None (nothing, or
        the sink was not quiet at that moment). Waits up to arrival seconds for the
        recording to reach wall + limit: a sink stalled under load delivers late."""
        def arrived():
            with self.lock:
                return (self.offset is not None and
                        self.offset_near(wall) + len(self.samples) / 2 / RATE >= wall + limit)
        wait_until(arrived, arrival, 0.02)
        with self.lock:
            if self.offset is None:
                return None
            data = array.array("h")
            first = int((wall - self.offset_near(wall)) * RATE)
            quiet_from = max(0, first - RATE // 50)
            end = min(len(self.samples) // 2, first + int(limit * RATE))
            if first < 0 or end <= first:
                return None
            data.frombytes(bytes(self.samples[quiet_from * 2:end * 2]))
        lead = first - quiet_from
        if any(abs(v) > THRESHOLD for v in data[:lead]):
            return None
        for i in range(lead, len(data)):
            if data[i] > THRESHOLD or data[i] < -THRESHOLD:
                return (i - lead) / RATE
        return None


# ---- The environment ------------------------------------------------------------------------

class Env:
    def __init__(self, build, work):
        self.build = os.path.abspath(build)
        self.prefix = os.environ["WINEPREFIX"]
        self.work = work
        os.makedirs(work, exist_ok=True)
        self.exe = os.path.join(self.build, "app", "morlett.exe")
        self.tool = os.path.join(self.build, "bench", "morlett_benchtool.exe")
        self.ref = {n: os.path.join(self.build, "bench", n + ".exe")
                    for n in ("ref_poll", "ref_sleep", "ref_player", "ref_tray")}
        self.modules = []

    def add_sink(self, name):
        out = subprocess.run(["pactl", "load-module", "module-null-sink", "sink_name=" + name,
                              "rate=48000", "channels=2"], capture_output=True, text=True,
                             timeout=10)
        if out.returncode != 0:
            raise Failure("no sink %s: %s" % (name, out.stderr))
        self.modules.append(out.stdout.strip())
        return name

    def close(self):
        for module in self.modules:
            subprocess.run(["pactl", "unload-module", module], capture_output=True, timeout=10)


def quantile(values, q):
    values = sorted(values)
    if not values:
        return float("nan")
    at = q * (len(values) - 1)
    low = int(at)
    high = min(low + 1, len(values) - 1)
    return values[low] + (values[high] - values[low]) * (at - low)


def ratio(a, b):
    return a / b if b else float("nan")


# ---- The measurements -------------------------------------------------------------------------

def stripped_size(path, work):
    copy = os.path.join(work, "stripped-" + os.path.basename(path))
    shutil.copy2(path, copy)
    subprocess.run(["x86_64-w64-mingw32-strip", copy], check=True)
    return os.path.getsize(copy)


def measure_sizes(env, progress):
    progress.step("file sizes (stripped)")
    sizes = {"morlett": stripped_size(env.exe, env.work)}
    for name in ("ref_player", "ref_poll", "ref_tray", "ref_sleep"):
        sizes[name] = stripped_size(env.ref[name], env.work)
    return sizes


def tray_visible():
    return bool(xdotool("search", "--onlyvisible", "--name", "^Wine System Tray$").split())


def measure_startup(env, progress, rounds):
    progress.step("start-up to the tray icon, %d rounds" % rounds)
    times = {"morlett": [], "ref_tray": []}
    for i in range(rounds):
        for name, exe, args in (("morlett", env.exe, ["/silent"]),
                                ("ref_tray", env.ref["ref_tray"], [])):
            wait_until(lambda: not tray_visible(), 5, 0.05)
            c = Contestant(env, "start-" + name, exe, args)
            try:
                seen = wait_until(tray_visible, 20, 0.005)
                if seen:
                    times[name].append(time.time() - c.launched)
                time.sleep(0.3)
            finally:
                c.end()
        progress.note("round %d: morlett %.0f ms, ref_tray %.0f ms"
                      % (i + 1, 1000 * times["morlett"][-1] if times["morlett"] else -1,
                         1000 * times["ref_tray"][-1] if times["ref_tray"] else -1))
    return times


def caps(probe, state):
    answer = probe.ask("set-caps " + state)
    if not answer.startswith(state):
        raise Failure("Caps Lock did not go %s: %s" % (state, answer))


def measure_latency(env, probe, progress, warm, cold, idle_wait):
    progress.step("warning latency: %d warm and %d cold toggles" % (warm, cold))
    names = ("morlett", "ref_poll", "ref_poll_again")
    sinks = {n: env.add_sink("bench_" + n) for n in names}
    recorders = {n: StampedRecorder(sinks[n]) for n in names}
    for r in recorders.values():
        r.wait_ready()
    caps(probe, "off")
    contestants = {
        "morlett": Contestant(env, "lat-morlett", env.exe, ["/silent"], sinks["morlett"]),
        "ref_poll": Contestant(env, "lat-ref", env.ref["ref_poll"], [], sinks["ref_poll"]),
        "ref_poll_again": Contestant(env, "lat-ref2", env.ref["ref_poll"], [],
                                     sinks["ref_poll_again"]),
    }
    results = {n: {"warm": [], "cold": [], "priming": []} for n in names}
    misses = {n: 0 for n in names}
    missed_at = []
    try:
        for c in contestants.values():
            c.pid(15)
        time.sleep(3)  # start-up sounds over, recorders streaming

        def toggle(kind):
            at = time.time()
            caps(probe, "on")
            time.sleep(0.6)
            caps(probe, "off")
            time.sleep(0.25)
            for n in names:
                # The release chime follows 0.6 s after the switch-on: a warning comes first.
                onset = recorders[n].onset_after(at, limit=0.55)
                if onset is None:
                    misses[n] += 1
                    # What the recording holds around the moment, for the report.
                    busy = recorders[n].onset_after(at - 0.1, limit=0.1, arrival=0)
                    later = recorders[n].onset_after(at, limit=1.5, arrival=0)
                    missed_at.append({"program": n, "kind": kind, "toggle": len(results[n][kind]),
                                      "sound 0.1 s before": busy is not None,
                                      "first sound within 1.5 s": later})
                else:
                    results[n][kind].append(onset)

        # One toggle unmeasured: the references open their device on the first play, and
        # every program's first play pays for loading code and buffers once.
        toggle("priming")
        for i in range(warm):
            toggle("warm")
            time.sleep(0.6)
        progress.note("warm done: medians " + ", ".join(
            "%s %.1f ms" % (n, 1000 * statistics.median(results[n]["warm"]))
            for n in names if results[n]["warm"]))
        for i in range(cold):
            # Every device has been idle long enough to be stopped.
            time.sleep(idle_wait)
            toggle("cold")
            progress.note("cold %d/%d" % (i + 1, cold))
    finally:
        for c in contestants.values():
            c.end()
        for r in recorders.values():
            r.stop()
        caps(probe, "off")
    for m in missed_at:
        log("missed: %s" % m)
    return results, misses


def measure_idle(env, progress, seconds, settle):
    progress.step("idle CPU over %d s" % seconds)
    contestants = [Contestant(env, "idle-morlett", env.exe, ["/silent"]),
                   Contestant(env, "idle-ref_poll", env.ref["ref_poll"]),
                   Contestant(env, "idle-ref_sleep", env.ref["ref_sleep"])]
    try:
        pids = [c.pid(15) for c in contestants]
        # The program's start-up chime has ended and its device has been stopped.
        time.sleep(settle)
        before = [cpu_ticks(p) for p in pids]
        time.sleep(seconds)
        after = [cpu_ticks(p) for p in pids]
    finally:
        for c in contestants:
            c.end()
    hz = os.sysconf("SC_CLK_TCK")
    out = {}
    for c, (t0, th0), (t1, th1) in zip(contestants, before, after):
        threads = {k: (th1.get(k, 0) - v) for k, v in th0.items()}
        name = c.name.split("-", 1)[1]
        out[name] = {"core_percent": 100.0 * (t1 - t0) / hz / seconds,
                     "threads": {k: 100.0 * v / hz / seconds for k, v in
                                 sorted(threads.items(), key=lambda kv: -kv[1]) if v > 0}}
    return out


def measure_memory(env, probe, progress, warnings):
    beeptime = 50
    on_seconds = warnings * beeptime / 1000.0
    progress.step("memory after start and after %d warnings" % warnings)
    caps(probe, "off")
    morlett = Contestant(env, "mem-morlett", env.exe, ["/silent"],
                         settings='{"beeptime": %d}' % beeptime)
    player = Contestant(env, "mem-player", env.ref["ref_player"])
    poller = Contestant(env, "mem-poll", env.ref["ref_poll"])
    sleeper = Contestant(env, "mem-sleep", env.ref["ref_sleep"])
    tray = Contestant(env, "mem-tray", env.ref["ref_tray"])
    out = {}
    try:
        for c in (morlett, player, poller, sleeper, tray):
            c.pid(15)
        time.sleep(3)
        out["morlett_start"] = memory(env, "morlett.exe")
        out["ref_player"] = memory(env, "ref_player.exe")
        out["ref_poll"] = memory(env, "ref_poll.exe")
        out["ref_sleep"] = memory(env, "ref_sleep.exe")
        out["ref_tray"] = memory(env, "ref_tray.exe")
        poller.end()  # it would answer the warnings' Caps Lock too
        caps(probe, "on")
        half = time.time() + on_seconds / 2
        time.sleep(max(0, half - time.time()))
        out["morlett_half"] = memory(env, "morlett.exe")
        time.sleep(on_seconds / 2)
        caps(probe, "off")
        time.sleep(1.5)
        out["morlett_after"] = memory(env, "morlett.exe")
        out["warnings"] = warnings
    finally:
        for c in (morlett, player, poller, sleeper, tray):
            c.end()
        caps(probe, "off")
    return out


def measure_json(native, progress):
    progress.step("JSON library throughput (native)")
    exe = os.path.join(native, "bench", "json_bench") if native else None
    if not exe or not os.path.exists(exe):
        return None
    out = subprocess.run([exe], capture_output=True, text=True, timeout=300)
    return out.stdout


# ---- The report --------------------------------------------------------------------------------

def machine():
    cpu = "?"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    wine = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
    with open("/proc/loadavg") as f:
        load = f.read().split()[:3]
    return {"cpu": cpu, "cores": os.cpu_count(), "kernel": platform.release(), "wine": wine,
            "load": " ".join(load)}


def table(r):
    rows = []
    lat = r.get("latency")
    if lat:
        res = lat["samples"]
        for kind in ("warm", "cold"):
            for label, q in (("median", 0.5), ("p95", 0.95)):
                m = quantile(res["morlett"][kind], q) * 1000
                p = quantile(res["ref_poll"][kind], q) * 1000
                p2 = quantile(res["ref_poll_again"][kind], q) * 1000
                rows.append(("latency %s %s (ms)" % (kind, label), "%.1f" % m,
                             "%.1f" % p, "ref_poll", "%.2f" % ratio(m, p), "<= 1.10",
                             "self %.2f" % ratio(p2, p)))
    idle = r.get("idle")
    if idle:
        m, p, s = (idle[n]["core_percent"] for n in ("morlett", "ref_poll", "ref_sleep"))
        rows.append(("idle CPU (% of a core)", "%.2f" % m, "%.2f" % p, "ref_poll",
                     "%.2f" % ratio(m, p), "<= 1.10", "sleep %.2f" % s))
    sizes = r.get("sizes")
    if sizes:
        rows.append(("exe stripped (bytes)", "%d" % sizes["morlett"], "%d" % sizes["ref_player"],
                     "ref_player", "%.2f" % ratio(sizes["morlett"], sizes["ref_player"]),
                     "<= 614400 B", "%s" % ("met" if sizes["morlett"] <= 614400 else "NOT met")))
    mem = r.get("memory")
    if mem:
        ref = mem["ref_player"]
        for key, label in (("morlett_start", "after start"), ("morlett_after", "after %d warnings"
                                                                % mem["warnings"])):
            rows.append(("private bytes %s" % label, "%d" % mem[key]["private"], "%d" % ref["private"],
                         "ref_player", "%.2f" % ratio(mem[key]["private"], ref["private"]),
                         "<= 1.10", ""))
            rows.append(("working set %s" % label, "%d" % mem[key]["workingset"],
                         "%d" % ref["workingset"], "ref_player",
                         "%.2f" % ratio(mem[key]["workingset"], ref["workingset"]), "", ""))
        growth = mem["morlett_after"]["private"] - mem["morlett_start"]["private"]
        rows.append(("private growth over the warnings", "%+d" % growth, "0", "", "", "none",
                     "half-way %+d" % (mem["morlett_half"]["private"] - mem["morlett_start"]["private"])))
        others = "; ".join("%s %.1f MB" % (n, mem[n]["private"] / 1048576.0)
                           for n in ("ref_poll", "ref_sleep", "ref_tray") if n in mem)
        rows.append(("private bytes of the other references", "", "", "", "", "", others))
        rows.append(("handles after start / after", "%d / %d" % (mem["morlett_start"]["handles"],
                                                               mem["morlett_after"]["handles"]),
                     "%d" % ref["handles"], "ref_player", "", "flat", ""))
    st = r.get("startup")
    if st and st["morlett"] and st["ref_tray"]:
        m, p = statistics.median(st["morlett"]) * 1000, statistics.median(st["ref_tray"]) * 1000
        rows.append(("start-up to tray icon, median (ms)", "%.0f" % m, "%.0f" % p, "ref_tray",
                     "%.2f" % ratio(m, p), "<= 1.50", ""))
    head = ("figure", "morlett", "reference", "ref", "ratio", "goal", "note")
    widths = [max(len(str(x[i])) for x in rows + [head]) for i in range(len(head))]
    lines = ["| " + " | ".join(str(h).ljust(w) for h, w in zip(head, widths)) + " |",
             "|" + "|".join("-" * (w + 2) for w in widths) + "|"]
    for x in rows:
        lines.append("| " + " | ".join(str(v).ljust(w) for v, w in zip(x, widths)) + " |")
    return lines


def write_plot_data(r, out):
    lat = r.get("latency")
    if not lat:
        return
    with open(os.path.join(out, "bench-latency.dat"), "w") as f:
        f.write("# program kind latency_ms\n")
        for name, kinds in lat["samples"].items():
            for kind, values in kinds.items():
                for v in sorted(values):
                    f.write("%s %s %.2f\n" % (name, kind, v * 1000))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--native")
    parser.add_argument("--out", required=True)
    parser.add_argument("--warm", type=int, default=20)
    parser.add_argument("--cold", type=int, default=20)
    parser.add_argument("--idle", type=int, default=60)
    parser.add_argument("--warnings", type=int, default=1000)
    parser.add_argument("--starts", type=int, default=5)
    parser.add_argument("--idle-wait", type=float, default=13.0,
                        help="seconds without sound before a cold toggle (device stopped)")
    parser.add_argument("--only", nargs="*", help="sizes startup latency idle memory json")
    args = parser.parse_args()
    only = set(args.only or ["sizes", "startup", "latency", "idle", "memory", "json"])
    env = Env(args.build, os.path.join(os.path.abspath(args.build), "bench-work"))
    estimates = [("sizes", 5), ("startup", args.starts * 6), ("latency", 8 + args.warm * 1.8 +
                 args.cold * (args.idle_wait + 1.8)), ("idle", args.idle + 20),
                 ("memory", args.warnings * 0.05 + 15), ("json", 20)]
    progress = Progress([e for e in estimates if e[0] in only])
    result = {"machine": machine(), "started": time.strftime("%Y-%m-%d %H:%M:%S"),
              "knobs": vars(args)}
    probe = Probe(os.path.join(env.build, "e2e", "morlett_probe.exe"))
    try:
        if "sizes" in only:
            result["sizes"] = measure_sizes(env, progress)
        if "startup" in only:
            result["startup"] = measure_startup(env, progress, args.starts)
        if "latency" in only:
            samples, misses = measure_latency(env, probe, progress, args.warm, args.cold,
                                              args.idle_wait)
            result["latency"] = {"samples": samples, "misses": misses}
        if "idle" in only:
            result["idle"] = measure_idle(env, progress, args.idle, 15)
        if "memory" in only:
            result["memory"] = measure_memory(env, probe, progress, args.warnings)
        if "json" in only:
            result["json"] = measure_json(args.native, progress)
    finally:
        probe.close()
        env.close()
    result["finished"] = time.strftime("%Y-%m-%d %H:%M:%S")
    os.makedirs(args.out, exist_ok=True)
    with open(os.path.join(args.out, "bench.json"), "w") as f:
        json.dump(result, f, indent=1)
    write_plot_data(result, args.out)
    lines = table(result)
    with open(os.path.join(args.out, "bench-table.md"), "w") as f:
        f.write("\n".join(lines) + "\n")
    print()
    print("\n".join(lines))
    if result.get("latency"):
        print("missed onsets (sink busy or nothing heard):", result["latency"]["misses"])
    if result.get("idle"):
        for name, v in result["idle"].items():
            top = ", ".join("%s %.2f" % kv for kv in list(v["threads"].items())[:6])
            print("idle threads of %s (%% of a core): %s" % (name, top))
    if result.get("json"):
        print("\nJSON library (native build):\n" + result["json"])
    return 0


if __name__ == "__main__":
    sys.exit(main())
