#!/usr/bin/env bash
# The scripts' own checks: runs every scripts/tests/*_test.sh and adds up their
# "ok NAME" / "FAIL NAME: why" / "skip NAME: why" lines. Ends with GoogleTest's summary lines,
# which scripts/test.sh counts, and exits non-zero when anything failed.
set -u
cd "$(dirname "$0")/../.."
out=$(mktemp)
trap 'rm -f "$out"' EXIT
for t in scripts/tests/*_test.sh; do
    echo "== $t"
    bash "$t" 2>&1 | tee -a "$out"
    rc=${PIPESTATUS[0]}
    # A check that broke off is a failure even when it printed no verdict.
    [ "$rc" = 0 ] || echo "FAIL $t: exited $rc" | tee -a "$out"
done
passed=$(grep -c '^ok ' "$out")
failed=$(grep -c '^FAIL ' "$out")
skipped=$(grep -c '^skip ' "$out")
echo "[  PASSED  ] $passed tests."
[ "$skipped" = 0 ] || echo "[  SKIPPED ] $skipped tests."
if [ "$failed" != 0 ]; then
    echo "[  FAILED  ] $failed tests, listed above"
    exit 1
fi
