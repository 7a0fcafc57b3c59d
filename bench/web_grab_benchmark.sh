#!/usr/bin/env bash
# The web engine's grab benchmark: a script-driven book (text written by a script as each page loads, a script next
# link on every page) served on loopback and grabbed with a web template by quillhaul-cli. Reports pages per
# second, what the last page cost (from its request to the end of the grab, which is the time the program takes to
# see that the book has no further page) and the grab's peak memory. Run by hand after a build:
#   bench/web_grab_benchmark.sh [CHAPTERS] [BUILD_DIR] [CLI_BUILD_DIR]
# CLI_BUILD_DIR: the build whose quillhaul-cli (and web engine plugin) is measured, BUILD_DIR's by default; the
# book's server always comes from BUILD_DIR, so an older build can be measured against the same book. Chromium's
# flags can be added with QTWEBENGINE_CHROMIUM_FLAGS (an older build needs --disable-ipc-flooding-protection to get
# past the 101st page).
# Needs GNU time (apt-get install time).
set -euo pipefail

chapters=${1:-200}
build=${2:-build}
cli_build=${3:-$build}
server_bin="$build/bin/scriptbookserver"
cli="$cli_build/bin/quillhaul-cli"
[ -x /usr/bin/time ] || { echo "missing GNU time: apt-get install time" >&2; exit 1; }
[ -x "$server_bin" ] && [ -x "$cli" ] || { echo "build first: cmake --build $build" >&2; exit 1; }

work=$(mktemp -d)
trap 'kill "$server" 2>/dev/null || true; rm -rf "$work"' EXIT
"$server_bin" "$chapters" > "$work/server.txt" &
server=$!
for _ in $(seq 100); do grep -q ready "$work/server.txt" 2>/dev/null && break; sleep 0.1; done
get() { sed -n "s/^$1=//p" "$work/server.txt"; }
url=$(get url)

data="$work/data"
mkdir -p "$data/books"
printf '[system]\r\nsavepath=%s\r\n' "$data/books" > "$data/SysCfg.ini"
export QT_QPA_PLATFORM=offscreen
[ "$(id -u)" = 0 ] && export QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:---no-sandbox --disable-gpu}"
"$cli" --data-dir "$data" templates define --name bench --url "$url" --linkname "$(get linkname)" \
    --title-index "$(get title)" --title-tag H1 --content-index "$(get content)" --content-tag DIV \
    --parent-index "$(get parent)" --engine web

# The summed resident sets of a process tree (Chromium's renderers are not children GNU time waits for), at its
# largest, sampled every 50 ms until the root ends. Shared pages count once per process, so this is an upper bound.
tree_peak_kb() {
    local root=$1 peak=0 sum
    while kill -0 "$root" 2>/dev/null; do
        sum=$(ps -eo pid=,ppid=,rss= | awk -v r="$root" '{ up[$1] = $2; rss[$1] = $3 }
            END { for (p in up) { q = p; while (q && q != r && q != 1) q = up[q]; if (q == r) s += rss[p] } print s + 0 }')
        [ "$sum" -gt "$peak" ] && peak=$sum
        sleep 0.05
    done
    echo "$peak"
}

start=$(date +%s%3N)
/usr/bin/time -v -o "$work/time.txt" "$cli" --data-dir "$data" grab "$url" --name bench --out "$work/book.txt" \
    2> "$work/grab.log" &
grab=$!
tree_kb=$(tree_peak_kb "$grab")
wait "$grab" || { echo "the grab failed:" >&2; tail -n 5 "$work/grab.log" >&2; exit 1; }
end=$(date +%s%3N)
last=$(get lastrequest)
rss_kb=$(sed -n 's/^\s*Maximum resident set size (kbytes): //p' "$work/time.txt")
lines=$(wc -l < "$work/book.txt")

awk -v n="$chapters" -v ms=$((end - start)) 'BEGIN { printf "grab: %d pages in %.3f s, %.1f pages/s\n", n, ms / 1000, n * 1000 / ms }'
second=$(get secondrequest)
if [ -n "$second" ] && [ -n "$last" ] && [ "$last" -gt "$second" ]; then
    awk -v n=$((chapters - 2)) -v ms=$((last - second)) \
        'BEGIN { printf "steady: %.1f pages/s from the second chapter'"'"'s request to the last one'"'"'s\n", n * 1000 / ms }'
fi
if [ -n "$last" ]; then
    awk -v ms=$((end - last)) 'BEGIN { printf "last page: %.3f s from its request to the end of the grab\n", ms / 1000 }'
else
    echo "last page: never requested"
fi
# CPU time is less at the mercy of other work on the machine than the wall clock: it counts quillhaul-cli and the
# Chromium helpers it waited for.
awk -v n="$chapters" '/User time/ { u = $NF } /System time/ { s = $NF }
    END { printf "cpu: %.2f s user + %.2f s system, %.1f ms a page\n", u, s, (u + s) * 1000 / n }' "$work/time.txt"
# GNU time's peak is the largest resident set of quillhaul-cli and the Chromium helpers it waited for.
echo "peak memory: $((rss_kb / 1024)) MB; the whole tree with Chromium's helpers: $((tree_kb / 1024)) MB at most"
echo "book: $lines lines written, $(iconv -f GB18030 -t UTF-8 "$work/book.txt" | grep -c '脚本里的标题') chapter titles of $chapters"
# The engine alone on the same book: what a page costs Chromium with no script of ours, with nothing read, and with
# one text read (the page's layout), which no grab can beat.
floor_bin="$cli_build/bin/webenginefloor"
if [ -x "$floor_bin" ]; then
    for mode in --bare "" --read; do
        QTWEBENGINE_CHROMIUM_FLAGS="${QTWEBENGINE_CHROMIUM_FLAGS:-} --disable-ipc-flooding-protection" \
            "$floor_bin" "$url" "$chapters" $mode 2> /dev/null ||
            echo "floor: the engine alone did not get through the book"
    done
fi
