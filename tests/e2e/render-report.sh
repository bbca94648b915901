#!/usr/bin/env bash
# Publishes the demo team's planning with the built program, then has a real browser load the page: its DOM
# must hold the planning table, and its screenshot is kept as a build artifact.
#   render-report.sh PROGRAM CHROMIUM ARTIFACTS_FOLDER
set -euo pipefail
program=$1 chromium=$2 artifacts=$3

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$artifacts/report"
export TMPDIR=$work ROTAVINE_CONFIG=$work/rotavine.ini XDG_DATA_HOME=$work/data
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM

"$program" --team "Customer Experience" --view ThisMonth --report ReportHTMLPlan \
    --output "$artifacts/report/index.htm"
page="file://$artifacts/report/index.htm"

browser=("$chromium" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run
         --disable-background-networking --disable-component-update --disable-sync
         --user-data-dir="$work/chromium" --window-size=1600,1000)
dom=$("${browser[@]}" --dump-dom "$page" 2>/dev/null)
rows=$(grep -o '<tr' <<<"$dom" | wc -l)
cells=$(grep -o '<td' <<<"$dom" | wc -l)
echo "browser DOM: $rows rows, $cells cells"
grep -q 'PLANNING' <<<"$dom" || { echo "the page's title block is missing from the DOM"; exit 1; }
# 12 members: at least 12 member rows, each with a name and 28 or more day cells.
[ "$rows" -ge 14 ] && [ "$cells" -ge $((12 * 29)) ] || { echo "the planning table did not load"; exit 1; }

"${browser[@]}" --screenshot="$artifacts/report-page.png" "$page" 2>/dev/null
size=$(stat -c %s "$artifacts/report-page.png")
echo "screenshot: $artifacts/report-page.png ($size bytes)"
[ "$size" -gt 20000 ] || { echo "the screenshot is blank"; exit 1; }
