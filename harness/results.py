"""Test results from JUnit XML files, as scripts/test.sh counts them.

    python3 -m harness.results FILE.xml...                  every test case in the files
    python3 -m harness.results --ctest CTEST.xml --detail DIR

With --ctest, each ctest entry counts by its own cases where it left a file of them in DIR,
named after the entry (GoogleTest's GTEST_OUTPUT=xml:DIR/ writes PROGRAM.xml; the
end-to-end groups write e2e_GROUP.xml); otherwise, or when it failed without a failed case
in that file (a crash, a timeout), the entry counts as one case. Prints "N passed, N failed,
N skipped", then one line per failed case; exits 0.
"""

import argparse
import os
import sys
import xml.etree.ElementTree as ElementTree

PASSED, FAILED, SKIPPED = "passed", "failed", "skipped"


def outcome(case):
    """passed, failed or skipped, from any of the three writers' ways of saying it."""
    status = case.get("status", "")
    if case.find("failure") is not None or case.find("error") is not None or status == "fail":
        return FAILED
    if (case.find("skipped") is not None or status in ("notrun", "disabled")
            or case.get("result") == "skipped"):
        return SKIPPED
    return PASSED


def cases(path):
    """[(name, outcome)] of a JUnit file; [] for a file that is missing or cut short."""
    try:
        root = ElementTree.parse(path).getroot()
    except (OSError, ElementTree.ParseError):
        return []
    found = []
    for case in root.iter("testcase"):
        name = case.get("name", "?")
        owner = case.get("classname")
        found.append(("%s.%s" % (owner, name) if owner and owner != name else name,
                      outcome(case)))
    return found


class Tally:
    def __init__(self):
        self.counts = {PASSED: 0, FAILED: 0, SKIPPED: 0}
        self.failed = []

    def add(self, name, result):
        self.counts[result] += 1
        if result == FAILED:
            self.failed.append(name)

    def lines(self):
        head = "%(passed)d passed, %(failed)d failed, %(skipped)d skipped" % self.counts
        return [head] + ["FAILED " + name for name in self.failed]


def tally_files(paths):
    tally = Tally()
    for path in paths:
        for name, result in cases(path):
            tally.add(name, result)
    return tally


def tally_ctest(ctest, detail):
    tally = Tally()
    for entry, result in cases(ctest):
        own = cases(os.path.join(detail, entry + ".xml")) if detail else []
        for name, case_result in own:
            tally.add("%s: %s" % (entry, name), case_result)
        if not own or (result == FAILED and all(r != FAILED for _, r in own)):
            tally.add(entry, result)
    return tally


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("files", nargs="*")
    parser.add_argument("--ctest")
    parser.add_argument("--detail")
    args = parser.parse_args(argv)
    tally = tally_ctest(args.ctest, args.detail) if args.ctest else tally_files(args.files)
    print("\n".join(tally.lines()))
    return 0


if __name__ == "__main__":
    sys.exit(main())
