#!/usr/bin/env bash
# Publishes the demo team's planning for this month from the bundled demo mailbox, as a scheduler would:
# the table page and the picture page, side by side in one folder.
#   scripts/publish-demo.sh [BUILD_FOLDER] [OUTPUT_FOLDER]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
out=${2:-$build/publish}
mkdir -p "$out"
out=$(cd "$out" && pwd)

# The demo mailbox is read in place; the run keeps its settings to itself.
run=("$build/bin/rotavine" --mailbox data/demo-mailbox --config "$out/rotavine.ini"
     --team "Customer Experience" --view ThisMonth)
"${run[@]}" --report ReportHTMLPlan --output "$out/planning.htm" >/dev/null
"${run[@]}" --report ReportImage --output "$out/picture.htm" >/dev/null

echo "Published the demo team's planning for this month:"
echo "  table:   $out/planning.htm"
echo "  picture: $out/picture.htm (with $out/planning.jpg)"
