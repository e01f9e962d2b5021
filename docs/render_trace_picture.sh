#!/usr/bin/env bash
# Renders docs/pipeline_trace.png: a trace of examples/pipeline opened in
# GTKWave on a virtual screen (Xvfb), every stream's occupancy and every
# thread's state, zoomed on the first round (until the test bench has taken
# the round's checksums).
#
#   docs/render_trace_picture.sh [build dir] [output png]
#
# The build dir must hold the example (target example_pipeline; default
# build). Needs Debian's gtkwave, xvfb and imagemagick.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build}
png=${2:-$root/docs/pipeline_trace.png}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

QRN_TRACE=$work/pipeline.vcd "$build/examples/pipeline/pipeline" >/dev/null

# The signals in the order the file declares them: streams, then threads.
signals=$(awk '$1 == "$scope" { scope = $3 } $1 == "$var" { printf "%s.%s ", scope, $5 }' \
  "$work/pipeline.vcd")
streams=$(tr ' ' '\n' <<<"$signals" | grep '^streams\.' | tr '\n' ' ')
# The first round ends when checksums_out falls back to 0; show a fifth more.
read -r first round_end < <(awk '
  $1 == "$var" && $5 == "checksums_out" { code = $4 }
  /^#/ { now = substr($1, 2); if (first == "") first = now }
  $1 ~ /^b/ && $2 == code && code != "" {
    if ($1 != "b0") seen = 1; else if (seen && end == "") end = now
  }
  END { print first, (end == "" ? now : end) }' "$work/pipeline.vcd")
last=$((round_end + (round_end - first) / 5))
cat >"$work/view.tcl" <<EOF
gtkwave::addSignalsFromList [list $signals]
gtkwave::highlightSignalsFromList [list $streams]
gtkwave::/Edit/Data_Format/Decimal
gtkwave::/Edit/UnHighlight_All
gtkwave::setZoomRangeTimes $first $last
EOF

# GTKWave runs until its window has been captured; xvfb-run ends the screen.
xvfb-run -a -s "-screen 0 1200x330x24" bash -c '
  gtkwave --rcvar "hide_sst on" --rcvar "initial_window_x 1200" --rcvar "initial_window_y 330" \
    -S "$1/view.tcl" "$1/pipeline.vcd" >"$1/gtkwave.log" 2>&1 &
  viewer=$!
  sleep 5
  import -window root "$2"
  kill "$viewer"
' render "$work" "$png"
echo "wrote $png"
