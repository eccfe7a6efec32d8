#!/usr/bin/env bash
# Builds every libFuzzer target of the project with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs each for a bounded time on a copy of its seed corpus.
#
#   scripts/fuzz.sh [TARGET...]        all *_fuzz targets when none is named
#
# FUZZ_SECONDS   seconds per target (default 60)
# FUZZ_BUILD_DIR build directory (default build/fuzz)
# FUZZ_JOBS      parallel build jobs (default: all processors)
#
# A target <name> of library <lib> takes its seeds from <lib>/tests/corpus/<name>/. The run
# works on a copy in the build directory, so the committed corpus never grows by itself;
# copy a finding into it by hand when it deserves to stay. Crash inputs are kept in
# <build>/fuzz-findings/<name>/. Exit status: 0 when every target ran clean.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build/fuzz}
seconds=${FUZZ_SECONDS:-60}
jobs=${FUZZ_JOBS:-$(nproc)}

case "$seconds" in
'' | *[!0-9]*)
    echo "fuzz: FUZZ_SECONDS must be whole seconds, not '$seconds'" >&2
    exit 2
    ;;
esac
bash "$root/scripts/setup.sh" || {
    echo "fuzz: set-up failed (see the lines above)" >&2
    exit 2
}
for tool in clang clang++ cmake ninja; do
    command -v "$tool" >/dev/null || {
        echo "fuzz: $tool is missing (scripts/setup.sh installs it)" >&2
        exit 2
    }
done
# libFuzzer is a runtime library of clang's, packaged apart from the compiler.
runtime_dir=$(clang --print-runtime-dir 2>/dev/null || true)
if [ ! -f "$runtime_dir/libclang_rt.fuzzer-x86_64.a" ]; then
    echo "fuzz: clang's libFuzzer runtime is missing (looked in '${runtime_dir:-?}');" \
        "install the libclang-rt-dev package that matches 'clang --version'" >&2
    exit 2
fi

cmake -S "$root" -B "$build" -G Ninja \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DMORLETT_FUZZ=ON -DMORLETT_TESTS=OFF -DMORLETT_SANITIZE=address,undefined >/dev/null

# The targets: as named, or every *_fuzz target the build knows.
if [ $# -gt 0 ]; then
    targets=("$@")
else
    mapfile -t targets < <(ninja -C "$build" -t targets all |
        sed -n 's/^\([A-Za-z0-9_]*_fuzz\): phony$/\1/p' | grep -v '^cmake_' | sort -u)
fi
if [ ${#targets[@]} -eq 0 ]; then
    echo "fuzz: no fuzz targets found" >&2
    exit 2
fi
cmake --build "$build" --parallel "$jobs" --target "${targets[@]}"

status=0
summary=()
for target in "${targets[@]}"; do
    exe=$(find "$build" -type f -perm -u+x -name "$target" | head -n 1)
    if [ -z "$exe" ]; then
        echo "fuzz: $target was not built" >&2
        status=1
        continue
    fi
    # The seeds: <lib>/tests/corpus/<target>/, in whichever library defines the target.
    seeds=$(find "$root" -path "$root/build" -prune -o -type d \
        -path "*/tests/corpus/$target" -print | head -n 1)
    work="$build/fuzz-corpus/$target"
    findings="$build/fuzz-findings/$target"
    rm -rf "$work"
    mkdir -p "$work" "$findings"
    if [ -n "$seeds" ]; then
        cp -R "$seeds/." "$work/"
    else
        echo "fuzz: $target has no seed corpus; starting empty" >&2
    fi
    log="$build/fuzz-$target.log"
    echo "fuzz: $target for ${seconds}s (seeds: ${seeds:-none})"
    if (cd "$findings" && "$exe" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$findings/" "$work" >"$log" 2>&1); then
        result=ok
    else
        result="FAILED (see $log, inputs in $findings)"
        status=1
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    summary+=("$(printf '%-20s %12s executions  %s' "$target" "${runs:-?}" "$result")")
done

echo
printf '%s\n' "${summary[@]}"
exit $status
