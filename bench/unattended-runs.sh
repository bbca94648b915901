#!/usr/bin/env bash
# Times the program itself on the benchmark mailbox, as a scheduler runs it: the table report of everyone
# over 187 days in a first process (no cache), the same run again in a new process, and the picture report,
# each with its peak resident memory.
#   bench/unattended-runs.sh [BUILD_FOLDER] [PEOPLE]
# The mailbox is the one bench-mailbox generates (under ~/.cache/rotavine-bench), made here when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
people=${2:-127}
root="${XDG_CACHE_HOME:-$HOME/.cache}/rotavine-bench/mailbox-$people-1"
if [ ! -d "$root/calendars" ]; then
  "$build/bin/generate-mailbox" "$root" --people "$people" --seed 1 >/dev/null
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_CACHE_HOME="$work/cache" XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

run() { # label report [output file]
  local label=$1 report=$2 out=${3:-planning.htm} note=""
  /usr/bin/time -o "$work/time" -f "%e %M" "$build/bin/rotavine" --mailbox "$root" \
      --config "$work/rotavine.ini" --team Everyone --view Planning --from 2026-09-01 --to 2027-03-06 \
      --report "$report" --output "$work/out/$out" >/dev/null 2>"$work/stderr" || note="  (exit $?)"
  read -r seconds kib < <(tail -1 "$work/time")
  printf "%-56s %8.0f ms  peak %5.0f MiB%s\n" "$label" "$(bc <<<"$seconds * 1000")" "$(bc <<<"$kib / 1024")" \
      "$note"
}

mkdir -p "$work/out"
echo "rotavine on $root ($people people, 187 days)"
run "i. unattended table report, first process (no cache)" ReportHTMLPlan
run "j. the same run again, a new process, nothing changed" ReportHTMLPlan
run "k. picture report, a new process" ReportImage picture.htm
