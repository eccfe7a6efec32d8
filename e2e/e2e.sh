#!/usr/bin/env bash
# Runs one group of end-to-end tests of morlett.exe under Wine (e2e/test_GROUP.py):
#   e2e/e2e.sh BUILD_DIR GROUP [PYTEST ARGS...]      (GROUP: startup, watcher, menu, release, desktop)
#   e2e/e2e.sh build/windows menu -k test_exit       (one test)
# Inside a running test environment (ctest through scripts/test.sh) it uses that one;
# otherwise it starts its own for this run. With MORLETT_JUNIT_DIR set, the results go to
# MORLETT_JUNIT_DIR/e2e_GROUP.xml as well.
set -u
build=$1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [ -z "${MORLETT_WINENV:-}" ]; then
    exec bash "$here/../scripts/winenv.sh" run "$build" bash "${BASH_SOURCE[0]}" "$@"
fi
group=$2
shift 2
junit=()
[ -n "${MORLETT_JUNIT_DIR:-}" ] && junit=(--junitxml="$MORLETT_JUNIT_DIR/e2e_$group.xml")
exec pytest-3 -v "$here/test_$group.py" "${junit[@]}" "$@"
