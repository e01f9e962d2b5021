#!/usr/bin/env bash
# Builds everything and runs the whole test suite in several builds: g++ with
# warnings as errors, clang++, AddressSanitizer+UndefinedBehaviorSanitizer and
# ThreadSanitizer. Exits non-zero on the first failure.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=${QRN_CHECK_DIR:-$root/build-check}
jobs=$(nproc)

"$root/tests/install_deps.sh"

export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

# check <name> <cmake arguments>...: configure, build and test one build.
check() {
  local name=$1
  shift
  echo "=== $name"
  cmake -S "$root" -B "$out/$name" -G Ninja -DQRN_WERROR=ON "$@" >/dev/null
  cmake --build "$out/$name" -j "$jobs"
  ctest --test-dir "$out/$name" --output-on-failure -j "$jobs"
}

check gcc -DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=RelWithDebInfo
check clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo
check asan-ubsan -DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=Debug \
  "-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
check tsan -DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS=-fsanitize=thread"

echo "All checks passed."
