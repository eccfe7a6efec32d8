#!/usr/bin/env bash
# Builds a release of the committed tree and writes it to dist/:
#   dist/morlett-<version>-win-x64.zip   morlett.exe, README.txt, LICENSE, THIRD-PARTY-NOTICES.txt
#   dist/SHA256SUMS                      the zip's SHA-256
#   dist/winget/manifests/...            winget manifests (1.6, multi-file)
#   dist/scoop/morlett.json              Scoop manifest
# Nothing is published. Two runs from the same commit give byte-identical files.
#
# The download address of the zip, with "$version" where the version goes. The default is
# a placeholder, not a real address: set MORLETT_RELEASE_URL to where releases are published.
# SHA256SUMS is expected beside the zip (Scoop's autoupdate reads the hash from it).
# shellcheck disable=SC2016 # "$version" is filled in later, by the manifests and Scoop
MORLETT_RELEASE_URL=${MORLETT_RELEASE_URL:-'https://releases.invalid/PLACEHOLDER-set-MORLETT_RELEASE_URL/v$version/morlett-$version-win-x64.zip'}
#
#   scripts/release.sh
# Knobs: MORLETT_RELEASE_URL (above); MORLETT_DIST (output folder, default dist).
# The version is the one of project(Morlett VERSION ...) in CMakeLists.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
dist=${MORLETT_DIST:-$root/dist}
work=$root/build/release

say() { printf 'release: %s\n' "$*"; }

bash scripts/setup.sh >/dev/null

# The committed tree only, unpacked afresh: what is not committed cannot reach a release,
# and nothing of an earlier build is reused.
commit=$(git rev-parse HEAD)
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
    say "note: the working tree has uncommitted changes; they are not part of this release"
fi
# Every time stamp that is left comes from the commit.
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct "$commit")
export SOURCE_DATE_EPOCH
rm -rf "$work"
mkdir -p "$work/src"
git archive --format=tar "$commit" | tar -x -C "$work/src"

# Compiled paths (assertions, __FILE__) are written relative to the source root.
prefix_map="-ffile-prefix-map=$work/src=."
cmake -S "$work/src" -B "$work/build" -G Ninja \
    --toolchain "$work/src/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DMORLETT_TESTS=OFF -DMORLETT_WERROR=ON \
    -DCMAKE_C_FLAGS="$prefix_map" -DCMAKE_CXX_FLAGS="$prefix_map" >"$work/configure.log" 2>&1 ||
    { cat "$work/configure.log" >&2; say "configure failed" >&2; exit 1; }
cmake --build "$work/build" --target morlett >"$work/build.log" 2>&1 ||
    { tail -n 40 "$work/build.log" >&2; say "build failed (log: $work/build.log)" >&2; exit 1; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$work/build/CMakeCache.txt")
[ -n "$version" ] || { say "no project version in $work/build/CMakeCache.txt" >&2; exit 1; }

rm -rf "$dist"
python3 "$work/src/scripts/release_files.py" --exe "$work/build/app/morlett.exe" --version "$version" \
    --url-pattern "$MORLETT_RELEASE_URL" --source-root "$work/src" --out "$dist"
say "morlett $version from $(git log -1 --format=%h "$commit"): $(sha256sum "$work/build/app/morlett.exe" | cut -d' ' -f1)  morlett.exe"
case "$MORLETT_RELEASE_URL" in
*PLACEHOLDER*) say "note: MORLETT_RELEASE_URL is the placeholder; the manifests point nowhere yet" ;;
esac
