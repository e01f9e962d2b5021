#!/usr/bin/env bash
# Builds the sample (installing any missing build tools first) and runs it.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/tests/install_deps.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" --target sys_launch_always_run -j "$(nproc)" >/dev/null
exec "$root/build/sys_launch_always_run/sys_launch_always_run"
