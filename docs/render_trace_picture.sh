#!/usr/bin/env bash
# Renders docs/pipeline_trace.png: a trace of examples/pipeline opened in
# GTKWave on a virtual screen (Xvfb), every stream's occupancy and every
# thread's state, the whole run in view.
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
cat >"$work/view.tcl" <<EOF
gtkwave::addSignalsFromList [list $signals]
gtkwave::highlightSignalsFromList [list $streams]
gtkwave::/Edit/Data_Format/Decimal
gtkwave::/Edit/UnHighlight_All
gtkwave::/Time/Zoom/Zoom_Best_Fit
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
