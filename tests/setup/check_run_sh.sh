#!/usr/bin/env bash
# check_run_sh.sh <build dir>: runs sys_launch_always_run/run.sh, building in
# <build dir> (emptied first), and checks that it ends with status 0, that its
# standard output is exactly the sample's four lines, and that it writes
# nothing to standard error (nothing to install, a build that succeeds).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${1:?build dir}
rm -rf "$build"
mkdir -p "$build"
status=0
QRN_SAMPLE_BUILD_DIR=$build/sample "$root/sys_launch_always_run/run.sh" \
  >"$build/stdout" 2>"$build/stderr" || status=$?
printf '20\n40\n80\n+ 1 Latency\n' >"$build/expected"
fail() {
  echo "FAIL: $*"
  echo "--- standard error"
  cat "$build/stderr"
  exit 1
}
((status == 0)) || fail "run.sh ended with status $status"
diff -u "$build/expected" "$build/stdout" || fail "run.sh printed something else than the sample"
[[ ! -s $build/stderr ]] || fail "run.sh wrote to standard error"
echo "run.sh printed the sample's output and nothing else"
