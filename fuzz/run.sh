#!/usr/bin/env bash
# Builds one libFuzzer target and runs a campaign with it, so that a campaign repeats with one command:
#   fuzz/run.sh TARGET [SECONDS] [EXTRA LIBFUZZER FLAGS...]
# TARGET is html, templates, http, ini, booklist or finished (or the full name, html_fuzzer ...). The corpus grows in
# a scratch folder (default .fuzz-work/TARGET, FUZZ_WORK to change) seeded from fuzz/corpus/TARGET, which stays as
# committed; crashes land in the scratch folder too. Environment: BUILD_DIR (default build-fuzz), CC/CXX (default
# clang-14), JOBS (default 2), RSS_MB (default 2048).
set -euo pipefail

cd "$(dirname "$0")/.."
[ $# -ge 1 ] || { sed -n '2,8p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }
name=${1%_fuzzer}
seconds=${2:-600}
shift $(($# >= 2 ? 2 : 1))
target=${name}_fuzzer
[ -f "fuzz/$target.cpp" ] || { echo "no fuzz target fuzz/$target.cpp" >&2; exit 2; }

BUILD_DIR=${BUILD_DIR:-build-fuzz}
WORK=${FUZZ_WORK:-.fuzz-work}/$name
JOBS=${JOBS:-2}
RSS_MB=${RSS_MB:-2048}

# Only the libraries the targets link: no tests, benchmarks, desktop program or web engine.
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
    CC=${CC:-clang-14} CXX=${CXX:-clang++-14} cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DQUILLHAUL_FUZZ=ON -DQUILLHAUL_BUILD_TESTS=OFF -DQUILLHAUL_BUILD_BENCHMARKS=OFF \
        -DQUILLHAUL_BUILD_GUI=OFF -DQUILLHAUL_WEBENGINE=OFF
fi
nice -n 10 cmake --build "$BUILD_DIR" --parallel "$JOBS" --target "$target"

mkdir -p "$WORK/corpus" "$WORK/artifacts"
# Pages and responses are small; a longer input only slows the campaign down.
case $name in
html) max_len=65536 ;;
http) max_len=16384 ;;
*) max_len=8192 ;;
esac
# The ini and booklist targets save files atomically, which syncs to disk: in memory that costs nothing.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
    export TMPDIR=/dev/shm
fi
dict=()
[ -f "fuzz/$name.dict" ] && dict=(-dict="fuzz/$name.dict")
# New inputs go to the first folder; the committed seeds are only read.
exec nice -n 19 "$BUILD_DIR/bin/$target" "$WORK/corpus" "fuzz/corpus/$name" "${dict[@]}" \
    -artifact_prefix="$WORK/artifacts/" -max_total_time="$seconds" -max_len="$max_len" \
    -rss_limit_mb="$RSS_MB" -timeout=25 -print_final_stats=1 "$@"
