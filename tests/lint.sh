#!/usr/bin/env bash
# Lint: every tracked C++ file must follow .clang-format, and clang-tidy
# (.clang-tidy) must find nothing in the public headers (through
# tests/consumer/all_headers.cpp, which instantiates all of them), the
# emulation runtime, the sample and the consumer project.
#
#   tests/lint.sh [build dir]   (default: build-lint; configured, not built)
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build-lint}
cd "$root"

echo "--- clang-format"
mapfile -t formatted < <(git ls-files '*.h' '*.hpp' '*.cpp' '*.cc')
clang-format --dry-run -Werror "${formatted[@]}"

echo "--- clang-tidy"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DQRN_BUILD_EXAMPLES=ON >/dev/null
tidied=(tests/consumer/all_headers.cpp runtime/*.cpp sys_launch_always_run/*.cpp
  tests/consumer/project/*.cpp)
# clang-tidy's own progress lines are dropped; pipefail keeps its status.
printf '%s\n' "${tidied[@]}" |
  xargs -P "$(nproc)" -n 1 clang-tidy -p "$build" --quiet 2>&1 |
  { grep -v -e '^[0-9]* warnings\? generated\.$' -e '^Suppressed [0-9]* warnings' \
    -e '^Use -header-filter' || true; }
echo "lint: clean"
