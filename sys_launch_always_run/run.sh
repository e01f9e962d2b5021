#!/usr/bin/env bash
# Builds the sample (installing any missing build tools first) and runs it.
# Standard output is the sample's alone; set-up notes go to standard error,
# and the build's output to a log file, named (with its tail) when it fails.
# QRN_SAMPLE_BUILD_DIR: the build directory (default: build-sample in the
# source tree); it builds neither the tests, the benchmarks nor the tools.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${QRN_SAMPLE_BUILD_DIR:-$root/build-sample}
"$root/tests/install_deps.sh" --build-only >&2

generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
mkdir -p "$build"
log=$build/build.log
if ! { cmake -S "$root" -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQRN_BUILD_TESTS=OFF -DQRN_BUILD_BENCHMARKS=OFF -DQRN_BUILD_TOOLS=OFF -DQRN_INSTALL=OFF &&
  cmake --build "$build" --target sys_launch_always_run -j "$(nproc)"; } >"$log" 2>&1; then
  tail -n 30 "$log" >&2
  echo "Building the sample failed; the whole output: $log" >&2
  exit 1
fi
exec "$build/sys_launch_always_run/sys_launch_always_run"
