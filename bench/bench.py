#!/usr/bin/env python3
"""The program measured against its references under Wine, side by side in one run:
warning latency (warm and cold), idle CPU, footprint (file, private bytes, working set),
start-up to the tray icon, and the JSON library's throughput.

    python3 bench/bench.py --build WIN_BUILD [--native NATIVE_BUILD] --out DIR [knobs]

Needs a running test environment (scripts/winenv.sh) and the harness package on the path;
scripts/bench.sh provides both and is the way to run this. Writes DIR/bench.json and DIR/bench-*.dat (for the plots) and
prints a table at the end. Everything it starts it ends by PID.
"""

import argparse
import json
import os
import platform
import shutil
import statistics
import subprocess
import sys
import time

from harness import morlett, tray
from harness.outputs import Outputs
from harness.process import check, wait_until
from harness.sound import Recorder
from harness.wine import Environment, Probe, Program

REFERENCES = ("ref_poll", "ref_sleep", "ref_player", "ref_tray")


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

def reference(env, name):
    return os.path.join(env.build, "bench", name + ".exe")


def start(env, name, exe=None, args=(), **options):
    """One Windows program (morlett.exe unless exe is given) in a folder of its own."""
    return Program(env, name, args, exe=exe, **options)


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
        sizes[name] = stripped_size(reference(env, name), env.work)
    return sizes


def tray_visible():
    return bool(tray.tray_window(0))


def measure_startup(env, progress, rounds):
    progress.step("start-up to the tray icon, %d rounds" % rounds)
    times = {"morlett": [], "ref_tray": []}
    for i in range(rounds):
        for name, exe, args in (("morlett", env.exe, [morlett.SILENT]),
                                ("ref_tray", reference(env, "ref_tray"), [])):
            wait_until(lambda: not tray_visible(), 5, 0.05)
            c = start(env, "start-" + name, exe, args)
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


def measure_latency(env, probe, progress, warm, cold, idle_wait):
    progress.step("warning latency: %d warm and %d cold toggles" % (warm, cold))
    names = ("morlett", "ref_poll", "ref_poll_again")
    sinks = {n: env.add_sink("bench_" + n) for n in names}
    recorders = {n: Recorder(sinks[n]) for n in names}
    for r in recorders.values():
        r.wait_ready()
    probe.caps("off")
    contestants = {
        "morlett": start(env, "lat-morlett", args=[morlett.SILENT], sink=sinks["morlett"]),
        "ref_poll": start(env, "lat-ref", reference(env, "ref_poll"), sink=sinks["ref_poll"]),
        "ref_poll_again": start(env, "lat-ref2", reference(env, "ref_poll"),
                                sink=sinks["ref_poll_again"]),
    }
    results = {n: {"warm": [], "cold": [], "priming": []} for n in names}
    misses = {n: 0 for n in names}
    missed_at = []
    try:
        for c in contestants.values():
            c.wait_pid(15)
        time.sleep(3)  # start-up sounds over, recorders streaming

        def toggle(kind):
            at = time.time()
            probe.caps("on")
            time.sleep(0.6)
            probe.caps("off")
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
        time.sleep(0.6)  # its release chime over, as after every warm toggle
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
        probe.caps("off")
    for m in missed_at:
        log("missed: %s" % m)
    return results, misses


OUTPUT_BEEPTIME = 500  # warnings repeat this often while the outputs change
OUTPUT_LIMIT = 1.5     # a warning later than this on the new output counts as not heard


def measure_outputs(env, probe, progress, switches):
    """Caps Lock held on, a warning every 500 ms; the default output switched to the other
    of two sinks, and the output in use removed (its stream ended under the program, the
    sink unloaded) and loaded again, switches times each, alternating. Each time: from the
    change to the first sound on the new default's recording."""
    progress.step("output changes: %d switches and %d removals while warnings repeat"
                  % (switches, switches))
    probe.caps("off")
    outputs = Outputs(env, ("bench_out_a", "bench_out_b"))
    program = None
    found = {"switched": [], "removed": []}
    lost = {"switched": 0, "removed": 0}
    try:
        program = start(env, "out-morlett", args=[morlett.SILENT],
                        settings='{"beeptime": %d}' % OUTPUT_BEEPTIME)
        program.wait_pid(15)
        time.sleep(3)  # the release chime over
        probe.caps("on")
        time.sleep(2)
        for i in range(2 * switches):
            kind = "switched" if i % 2 == 0 else "removed"
            at, name = outputs.switch() if kind == "switched" else outputs.remove()
            onset = outputs.recorder_at(name, at, at).onset_after(at, limit=OUTPUT_LIMIT)
            if onset is None:
                lost[kind] += 1
            else:
                found[kind].append(onset)
            progress.note("%s to %s: %s" % (kind, name, "nothing within %.1f s" % OUTPUT_LIMIT
                                            if onset is None else "%.0f ms" % (1000 * onset)))
            if kind == "removed":
                time.sleep(0.5)
                outputs.restore()
            # A phase of the warnings' cycle of its own for the next change.
            time.sleep(1.0 + (i % 5) * OUTPUT_BEEPTIME / 5000.0)
        check(program.pids(), "the program is gone")
    finally:
        probe.caps("off")
        if program:
            program.end()
        outputs.close()
    return {"samples": found, "not heard": lost}


def measure_idle(env, progress, seconds, settle):
    progress.step("idle CPU over %d s" % seconds)
    contestants = [start(env, "idle-morlett", args=[morlett.SILENT]),
                   start(env, "idle-ref_poll", reference(env, "ref_poll")),
                   start(env, "idle-ref_sleep", reference(env, "ref_sleep"))]
    try:
        pids = [c.wait_pid(15) for c in contestants]
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
    probe.caps("off")
    programs = [start(env, "mem-morlett", args=[morlett.SILENT],
                      settings='{"beeptime": %d}' % beeptime)]
    programs += [start(env, "mem-" + name, reference(env, name)) for name in REFERENCES]
    poller = programs[1]
    out = {}
    try:
        for c in programs:
            c.wait_pid(15)
        time.sleep(3)
        out["morlett_start"] = env.memory(morlett.EXE)
        for name in REFERENCES:
            out[name] = env.memory(name + ".exe")
        poller.end()  # it would answer the warnings' Caps Lock too
        probe.caps("on")
        half = time.time() + on_seconds / 2
        time.sleep(max(0, half - time.time()))
        out["morlett_half"] = env.memory(morlett.EXE)
        time.sleep(on_seconds / 2)
        probe.caps("off")
        time.sleep(1.5)
        out["morlett_after"] = env.memory(morlett.EXE)
        out["warnings"] = warnings
    finally:
        for c in programs:
            c.end()
        probe.caps("off")
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
    outputs = r.get("outputs")
    if outputs:
        for kind in ("switched", "removed"):
            got = outputs["samples"][kind]
            rows.append(("output %s: first sound on the new one, median (ms)" % kind,
                         "%.0f" % (1000 * quantile(got, 0.5)), "", "", "", "<= 1500",
                         "worst %.0f ms of %d; %d not heard within 1.5 s"
                         % (1000 * max(got or [float("nan")]), len(got),
                            outputs["not heard"][kind])))
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
    parser.add_argument("--idle-wait", type=float, default=16.5,
                        help="seconds without sound before a cold toggle: the device closes "
                        "10-14 s after the last sound")
    parser.add_argument("--switches", type=int, default=10,
                        help="output changes of each kind (default switched, output removed)")
    parser.add_argument("--only", nargs="*",
                        help="sizes startup latency outputs idle memory json")
    args = parser.parse_args()
    only = set(args.only or ["sizes", "startup", "latency", "outputs", "idle", "memory",
                             "json"])
    env = Environment(args.build, "bench-work")
    estimates = [("sizes", 5), ("startup", args.starts * 6), ("latency", 8 + args.warm * 1.8 +
                 args.cold * (args.idle_wait + 1.8)), ("outputs", 15 + args.switches * 8),
                 ("idle", args.idle + 20),
                 ("memory", args.warnings * 0.05 + 15), ("json", 20)]
    progress = Progress([e for e in estimates if e[0] in only])
    result = {"machine": machine(), "started": time.strftime("%Y-%m-%d %H:%M:%S"),
              "knobs": vars(args)}
    probe = Probe(env.probe_exe)
    try:
        if "sizes" in only:
            result["sizes"] = measure_sizes(env, progress)
        if "startup" in only:
            result["startup"] = measure_startup(env, progress, args.starts)
        if "latency" in only:
            samples, misses = measure_latency(env, probe, progress, args.warm, args.cold,
                                              args.idle_wait)
            result["latency"] = {"samples": samples, "misses": misses}
        if "outputs" in only:
            result["outputs"] = measure_outputs(env, probe, progress, args.switches)
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
