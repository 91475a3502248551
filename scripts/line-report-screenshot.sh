#!/usr/bin/env bash
# Makes docs/line-report.png: the line report of line_bench's records (three stations, 1,500
# runs, read from a PostgreSQL server of its own) as Debian's headless Chromium shows it, and
# docs/line-report-slots.png: its chart of failures by slot and USB port, cut out of a taller
# picture of the page with ImageMagick.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${ZEMBRA_BUILD_DIR:-build}
if ! command -v chromium >/dev/null; then
    DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends chromium
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$dir/bench/line_bench" --count 1500 --keep-report "$work/report.html"
# A profile of its own, nothing fetched: the page must stand on its own.
chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$work/profile" --hide-scrollbars --window-size=1200,1500 \
    --screenshot="$work/report.png" "file://$work/report.html" 2>"$work/chromium.log" || {
    cat "$work/chromium.log" >&2
    exit 1
}
cp "$work/report.png" docs/line-report.png
echo "docs/line-report.png"
chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$work/profile" --hide-scrollbars --window-size=1300,2100 \
    --screenshot="$work/tall.png" "file://$work/report.html" 2>"$work/chromium.log"
convert "$work/tall.png" -crop 700x500+0+1300 +repage docs/line-report-slots.png
echo "docs/line-report-slots.png"
