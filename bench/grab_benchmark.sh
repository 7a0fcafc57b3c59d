#!/usr/bin/env bash
# The grab benchmark: one generated book served on loopback, fetched three ways in the same run:
#   floor  one keep-alive HTTP client (curl) fetching every chapter in order
#   peer   wget -r following the book's links
#   ours   quillhaul-cli grab of the book
#   epub   the same grab written as an EPUB book
# then a stop and resume of the grabbed book. Run by hand after a build:
#   bench/grab_benchmark.sh [CHAPTERS] [BUILD_DIR]
# Needs curl, wget and GNU time (apt-get install curl wget time).
set -euo pipefail

chapters=${1:-2000}
build=${2:-build}
bin="$build/bin"
for tool in curl wget /usr/bin/time; do
    command -v "$tool" >/dev/null || { echo "missing $tool: apt-get install curl wget time" >&2; exit 1; }
done
[ -x "$bin/bookserver" ] && [ -x "$bin/quillhaul-cli" ] || { echo "build first: ./build.sh test" >&2; exit 1; }

work=$(mktemp -d)
trap 'kill "$server" 2>/dev/null || true; rm -rf "$work"' EXIT
"$bin/bookserver" "$chapters" > "$work/server.txt" &
server=$!
for _ in $(seq 100); do grep -q ready "$work/server.txt" 2>/dev/null && break; sleep 0.1; done
get() { sed -n "s/^$1=//p" "$work/server.txt"; }
url=$(get url); port=$(get port)
base="http://127.0.0.1:$port"

seconds() { date +%s.%N; }
rate() { awk -v n="$chapters" -v t="$1" 'BEGIN { printf "%.3f s, %.0f pages/s", t, n / t }'; }

# (a) the floor: one connection, every chapter in order.
for i in $(seq "$chapters"); do echo "url = \"$base/book/$i.html\""; echo "output = \"/dev/null\""; done > "$work/curl.cfg"
start=$(seconds)
curl -s --config "$work/curl.cfg"
floor=$(awk -v a="$start" -v b="$(seconds)" 'BEGIN { print b - a }')

# (b) the peer: wget following the links from the first chapter.
start=$(seconds)
(cd "$work" && wget -q -r -l inf -np --accept-regex '/book/[0-9]+\.html$' -P wget "$url" || true)
peer=$(awk -v a="$start" -v b="$(seconds)" 'BEGIN { print b - a }')
fetched=$(find "$work/wget" -name '*.html' | wc -l)

# (c) ours: a template for the site, then the grab.
data="$work/data"
mkdir -p "$data/books"
printf '[system]\r\nsavepath=%s\r\n' "$data/books" > "$data/SysCfg.ini"
"$bin/quillhaul-cli" --data-dir "$data" templates define --name bench --url "$url" --linkname "$(get linkname)" \
    --title-index "$(get title)" --title-tag H1 --content-index "$(get content)" --content-tag DIV \
    --parent-index "$(get parent)"
start=$(seconds)
/usr/bin/time -f '%M' -o "$work/rss.txt" "$bin/quillhaul-cli" --data-dir "$data" grab "$url" --name bench \
    --out "$work/book.txt" 2> "$work/grab.log"
ours=$(awk -v a="$start" -v b="$(seconds)" 'BEGIN { print b - a }')
rss_kb=$(tail -n 1 "$work/rss.txt")
lines=$(wc -l < "$work/book.txt")

# (d) the same grab written as an EPUB book.
start=$(seconds)
/usr/bin/time -f '%M' -o "$work/rss-epub.txt" "$bin/quillhaul-cli" --data-dir "$data" grab "$url" --name epub \
    --format epub --out "$work/book.epub" 2> "$work/grab-epub.log"
epub=$(awk -v a="$start" -v b="$(seconds)" 'BEGIN { print b - a }')
epub_rss_kb=$(tail -n 1 "$work/rss-epub.txt")

# Stop and resume: interrupt a second grab half-way, then time the resume of the rest (file read back).
"$bin/quillhaul-cli" --data-dir "$data" grab "$url" --name resume 2> "$work/stop.log" &
grab=$!
# Progress comes at most every 100 ms, so the page count is read from the latest line.
pages_done() { tail -n 1 "$work/stop.log" 2>/dev/null | sed -n 's/^.*: \([0-9][0-9]*\) 页,.*$/\1/p'; }
while done_now=$(pages_done); [ "${done_now:-0}" -lt $((chapters / 2)) ]; do sleep 0.05; done
start=$(seconds)
kill -INT "$grab"
wait "$grab" || true
stopped=$(awk -v a="$start" -v b="$(seconds)" 'BEGIN { print b - a }')
start=$(seconds)
"$bin/quillhaul-cli" --data-dir "$data" queue run 2> "$work/resume.log" || true
resumed=$(awk -v a="$start" -v b="$(seconds)" 'BEGIN { print b - a }')

echo "book: $chapters chapters of $(get pagebytes) bytes each"
echo "floor (curl, keep-alive):  $(rate "$floor")"
echo "peer  (wget -r):           $(rate "$peer")  ($fetched pages)"
echo "ours  (quillhaul-cli grab): $(rate "$ours")  ($lines lines written)"
awk -v o="$ours" -v f="$floor" -v p="$peer" 'BEGIN { printf "ours/floor %.2f   ours/peer %.2f\n", o / f, o / p }'
echo "peak memory of the grab: $((rss_kb / 1024)) MB"
echo "epub  (grab --format epub): $(rate "$epub"), peak memory $((epub_rss_kb / 1024)) MB, $(stat -c %s "$work/book.epub") bytes"
awk -v e="$epub" -v o="$ours" 'BEGIN { printf "epub/text %.2f\n", e / o }'
left=$((chapters - chapters / 2))
awk -v s="$stopped" -v r="$resumed" -v o="$ours" -v n="$chapters" -v l="$left" 'BEGIN {
    printf "stop of a half-grabbed book (file written): %.3f s; resume of the rest: %.3f s (%.3f s over the pages)\n",
           s, r, r - o * l / n }'
cmp -s "$work/book.txt" "$data/books/resume.txt" && echo "stopped-and-resumed book is byte-identical to the straight grab" \
    || echo "WARNING: the resumed book differs from the straight grab"
