#!/usr/bin/env bash
# The release checks (scripts/tests/test_release.py) under Debian's pytest, one verdict line
# per test for scripts/tests/run.sh. Debian's python3 is named by its path: a python3 found
# first on PATH (pyenv, a virtualenv) does not see Debian's python3-pytest.
set -u
cd "$(dirname "$0")/../.." || exit 1
py=/usr/bin/python3
[ -x "$py" ] || py=python3
out=$(mktemp)
trap 'rm -f "$out"' EXIT
"$py" -m pytest -q -rA -p no:cacheprovider scripts/tests/test_release.py >"$out" 2>&1
rc=$?
# -rA ends with one "PASSED|FAILED|SKIPPED|ERROR name" line per test.
sed -nE 's/^PASSED (.*)$/ok \1/p; s/^(FAILED|ERROR) ([^ ]*)( - (.*))?$/FAIL \2: \4/p; s/^SKIPPED \[[0-9]+\] ([^:]*:[0-9]+): (.*)$/skip \1: \2/p' "$out"
if [ "$rc" != 0 ] && [ "$rc" != 5 ]; then
    sed 's/^/    /' "$out" | tail -n 60
    exit 1
fi
