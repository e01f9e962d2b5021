#!/usr/bin/env bash
# The full check. Full builds, each running the whole test suite: g++ with
# warnings as errors (including the consumer tests, which install this build
# and build a separate project against it), clang++,
# AddressSanitizer+UndefinedBehaviorSanitizer and ThreadSanitizer, all in the
# compilers' default standard. Smoke builds compile every public header with
# all templates instantiated in strict C++14 and C++20 under both compilers and
# run the smoke-labelled tests. A clang build runs the stream fuzzer for a
# minute. Then the lint (tests/lint.sh). Exits non-zero on the first failure.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=${QRN_CHECK_DIR:-$root/build-check}
jobs=$(nproc)

"$root/tests/install_deps.sh"

export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

passed=0
failed=0
# run_ctest <build dir> <ctest arguments>...: runs the tests and adds their
# outcome to the totals printed at the end.
run_ctest() {
  local dir=$1 log status=0
  shift
  log=$(mktemp)
  ctest --test-dir "$dir" --output-on-failure "$@" 2>&1 | tee "$log" || status=$?
  local total failures
  total=$(sed -n 's/.* tests failed out of \([0-9]*\)$/\1/p' "$log" | tail -n 1)
  failures=$(sed -n 's/.*, \([0-9]*\) tests failed out of .*/\1/p' "$log" | tail -n 1)
  rm -f "$log"
  passed=$((passed + ${total:-0} - ${failures:-0}))
  failed=$((failed + ${failures:-0}))
  if ((status != 0)); then
    echo "$passed passed, $((failed > 0 ? failed : 1)) failed"
    exit "$status"
  fi
}

configure() { # configure <name> <cmake arguments>...
  local name=$1
  shift
  cmake -S "$root" -B "$out/$name" -G Ninja -DQRN_WERROR=ON "$@" >/dev/null
}

# full <name> <cmake arguments>...: configure, build everything, run every test.
# QRN_TEST_JOBS sets how many tests run at once (default: one per core).
full() {
  local name=$1
  echo "=== $name"
  configure "$@"
  cmake --build "$out/$name" -j "$jobs"
  run_ctest "$out/$name" -j "${QRN_TEST_JOBS:-$jobs}"
}

# smoke <name> <compiler> <standard>: build the sample and the in-tree consumer
# (which instantiates every public template), run the smoke-labelled tests.
smoke() {
  local name=$1
  echo "=== $name"
  configure "$name" -DCMAKE_CXX_COMPILER="$2" -DCMAKE_CXX_STANDARD="$3" \
    -DCMAKE_CXX_EXTENSIONS=OFF -DCMAKE_BUILD_TYPE=Debug -DQRN_BUILD_BENCHMARKS=OFF
  cmake --build "$out/$name" -j "$jobs" --target consumer_packet_sums sys_launch_always_run
  run_ctest "$out/$name" -j "$jobs" -L smoke
}

sanitizers=(-DCMAKE_CXX_COMPILER=g++ -DQRN_TEST_CONSUMER=OFF)
full gcc -DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=RelWithDebInfo
full clang -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQRN_TEST_CONSUMER=OFF
full asan-ubsan "${sanitizers[@]}" -DCMAKE_BUILD_TYPE=Debug \
  "-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
# One test at a time: the runtime tests expect components to settle within the
# runtime's one-second bound, and ThreadSanitizer's child processes, run side by
# side on two cores, can starve each other's worker threads for that long.
QRN_TEST_JOBS=1 full tsan "${sanitizers[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  "-DCMAKE_CXX_FLAGS=-fsanitize=thread"
# The stream model's libFuzzer target (clang; AddressSanitizer and
# UndefinedBehaviorSanitizer), run for a minute from the committed corpus as
# the fuzz-labelled test; a crash or a disagreement with the model fails it.
echo "=== fuzz"
configure fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQRN_BUILD_FUZZERS=ON -DQRN_BUILD_BENCHMARKS=OFF -DQRN_TEST_CONSUMER=OFF
cmake --build "$out/fuzz" -j "$jobs" --target stream_model_fuzzer
run_ctest "$out/fuzz" -L fuzz
for standard in 14 20; do
  smoke "gcc-c++$standard" g++ "$standard"
  smoke "clang-c++$standard" clang++ "$standard"
done

echo "=== lint"
"$root/tests/lint.sh" "$out/lint"

echo "All checks passed."
echo "$passed passed, $failed failed"
