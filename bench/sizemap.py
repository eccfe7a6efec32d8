#!/usr/bin/env python3
"""Where a linked program's bytes come from, read from the GNU linker's map file.

    python3 bench/sizemap.py MAP [--top N] [--json OUT]

Sums the input sections that made it into the output (after --gc-sections) per origin
(one of our libraries, the audio library, the C++ library, the C runtime...) and per
output section, and lists the largest single objects. Standard library only.
"""

import argparse
import json
import os
import re
import sys
from collections import defaultdict

# Output sections that land in the file; .bss and the debug sections do not.
SECTIONS = (".text", ".rdata", ".data", ".pdata", ".xdata", ".rsrc", ".idata", ".tls", ".CRT")

_input = re.compile(r"^ (\S+)?\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)\s+(.+)$")
_output = re.compile(r"^(\.\S+|\S+)\s+0x([0-9a-f]+)\s+0x([0-9a-f]+)")


def origin(path):
    """A short name for where an input section comes from."""
    member = None
    m = re.match(r"^(.*\.a)\((.*)\)$", path)
    if m:
        path, member = m.group(1), m.group(2)
    base = os.path.basename(path)
    if "clips_data" in (member or base):
        return "clips (fixed)", member or base
    if "miniaudio" in path:
        return "audio library (miniaudio)", base
    for ours in ("runtime", "json", "sound", "ui", "app"):
        if re.search(r"(^|/)lib?morlett_%s\.a$" % ours, path) or ("/%s/CMakeFiles/" % ours) in path:
            return "ours: %s" % ours, member or base
    if base.startswith("libstdc++"):
        return "C++ library (libstdc++)", member
    if base.startswith(("libgcc", "libgcc_eh")):
        return "compiler support (libgcc)", member
    if base.startswith(("libwinpthread", "libpthread")):
        return "threads (winpthread)", member
    if base.startswith(("libmingw", "libmsvcrt", "libucrt", "crt", "libmoldname")) or "crt" in base:
        return "C runtime (mingw)", member or base
    if base.endswith(".a") and base.startswith("lib"):
        return "import libraries", base
    if base.endswith(".res") or base.endswith(".rc.res") or ".rc" in base:
        return "resources", base
    return "other", member or base


def parse(map_path):
    totals = defaultdict(lambda: defaultdict(int))   # origin -> section -> bytes
    objects = defaultdict(int)                       # (origin, object) -> bytes
    with open(map_path, errors="replace") as f:
        lines = f.read().split("\n")
    try:
        start = next(i for i, l in enumerate(lines) if l.startswith("Linker script and memory map"))
    except StopIteration:
        raise SystemExit("%s: not a GNU ld map file" % map_path)
    section = None
    pending = None
    for line in lines[start + 1:]:
        if not line:
            continue
        if not line.startswith(" "):
            m = _output.match(line)
            section = line.split()[0] if line.split() else None
            if section and section.startswith(".debug"):
                section = None
            continue
        if pending is not None and re.match(r"^\s+0x", line):
            line = " " + pending + line  # the name stood alone on the line before
            pending = None
        m = _input.match(line)
        if not m:
            words = line.split()
            pending = words[0] if len(words) == 1 and words[0].startswith(".") else None
            continue
        name, size, path = m.group(1), int(m.group(3), 16), m.group(4).strip()
        if size == 0 or section is None or path.startswith("0x") or " " in path and "(" not in path:
            continue
        if section not in SECTIONS:
            continue
        where, obj = origin(path)
        totals[where][section] += size
        objects[(where, obj)] += size
    return totals, objects


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("map")
    parser.add_argument("--top", type=int, default=15)
    parser.add_argument("--json")
    args = parser.parse_args()
    totals, objects = parse(args.map)
    shown = [s for s in SECTIONS if any(t.get(s) for t in totals.values())]
    print("%-28s" % "origin" + "".join("%9s" % s for s in shown) + "%10s" % "total")
    rows = sorted(totals.items(), key=lambda kv: -sum(kv[1].values()))
    grand = defaultdict(int)
    for where, parts in rows:
        print("%-28s" % where[:28] + "".join("%9d" % parts.get(s, 0) for s in shown)
              + "%10d" % sum(parts.values()))
        for s, v in parts.items():
            grand[s] += v
    print("%-28s" % "all" + "".join("%9d" % grand.get(s, 0) for s in shown)
          + "%10d" % sum(grand.values()))
    print()
    print("largest objects:")
    for (where, obj), size in sorted(objects.items(), key=lambda kv: -kv[1])[:args.top]:
        print("  %8d  %-26s %s" % (size, where[:26], obj))
    if args.json:
        with open(args.json, "w") as f:
            json.dump({"origins": {w: dict(p) for w, p in totals.items()},
                       "objects": [{"origin": w, "object": o, "bytes": b}
                                   for (w, o), b in sorted(objects.items(), key=lambda kv: -kv[1])]},
                      f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
