#!/usr/bin/env bash
# Runs one group of end-to-end tests of morlett.exe under Wine:
#   e2e/e2e.sh BUILD_DIR GROUP [--only TEST...]     (GROUP: startup, watcher or menu)
# Inside a running test environment (ctest through scripts/test.sh) it uses that one;
# otherwise it starts its own for this run.
set -u
build=$1
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [ -z "${MORLETT_WINENV:-}" ]; then
    exec bash "$here/../scripts/winenv.sh" run "$build" bash "${BASH_SOURCE[0]}" "$@"
fi
group=$2
shift 2
exec python3 "$here/e2e.py" --build "$build" --group "$group" "$@"
