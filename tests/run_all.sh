#!/usr/bin/env bash
# The full check. Full builds, each running the whole test suite: g++ with
# warnings as errors (including the consumer tests, which install this build
# and build a separate project against it, and the check of the sample's
# set-up), clang++, AddressSanitizer+UndefinedBehaviorSanitizer and
# ThreadSanitizer, all in the compilers' default standard. Smoke builds
# compile every public header with all templates instantiated in strict C++14
# and C++20 under both compilers and run the smoke-labelled tests. A clang
# build runs the stream fuzzer for a minute. Then the lint (tests/lint.sh).
#
# Prints one line per stage with its elapsed time; each stage's whole output
# goes to QRN_CHECK_DIR/logs/STAGE.log (default check dir: build-check). A
# failing stage prints the end of its log (for tests, the output of each
# failing test) and ends the check with that stage's status.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out=${QRN_CHECK_DIR:-$root/build-check}
logs=$out/logs
jobs=$(nproc)
mkdir -p "$logs"

export ASAN_OPTIONS=${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

standards=(14 20)
stages_total=$((1 + 4 * 2 + 2 + 2 * ${#standards[@]} + 1))
stage_number=0
passed=0
failed=0
echo "Full logs: $logs/STAGE.log"

duration() { # duration <seconds>: "41s" or "2m 41s"
  if (($1 >= 60)); then printf '%dm %02ds' $(($1 / 60)) $(($1 % 60)); else printf '%ds' "$1"; fi
}

# The output of each failing test in a ctest log (--output-on-failure puts it
# right after the test's result line), at most 60 lines per test.
failing_tests_output() {
  awk '/^ *[0-9]+\/[0-9]+ Test +#/ { keep = /\*\*\*|Not Run/; shown = 0 }
       keep && shown++ < 60' "$1"
}

# stage <name> <kind> <command>...: runs the command with its output in the
# stage's log and prints the stage's line. <kind> is "tests" when the command
# runs ctest: its counts go to the totals, and a failure shows each failing
# test's output.
stage() {
  local name=$1 kind=$2 log=$logs/${1// /-}.log status=0 start=$SECONDS
  shift 2
  stage_number=$((stage_number + 1))
  printf '[%d/%d] %s ... ' "$stage_number" "$stages_total" "$name"
  "$@" >"$log" 2>&1 || status=$?
  local took counts=""
  took=$(duration $((SECONDS - start)))
  if [[ $kind == tests ]]; then
    local total failures
    total=$(sed -n 's/.* tests failed out of \([0-9]*\)$/\1/p' "$log" | tail -n 1)
    failures=$(sed -n 's/.*, \([0-9]*\) tests failed out of .*/\1/p' "$log" | tail -n 1)
    passed=$((passed + ${total:-0} - ${failures:-0}))
    failed=$((failed + ${failures:-0}))
    counts="${total:-0} test$( ((${total:-0} == 1)) || echo s), "
  fi
  if ((status == 0)); then
    echo "ok ($counts$took)"
    return
  fi
  echo "FAILED with status $status ($counts$took)"
  if [[ $kind == tests ]]; then
    echo "--- output of the failing tests"
    failing_tests_output "$log"
  fi
  if [[ $kind == tests ]] && grep -q ' tests failed out of ' "$log"; then
    echo "--- summary"
    sed -n '/ tests failed out of /,$p' "$log"
  else
    echo "--- end of $log"
    tail -n 25 "$log"
  fi
  echo "--- the whole output: $log"
  if [[ $kind == tests ]]; then
    echo "$passed passed, $((failed > 0 ? failed : 1)) failed"
  fi
  exit "$status"
}

configure() { # configure <name> <cmake arguments>...
  local name=$1
  shift
  cmake -S "$root" -B "$out/$name" -G Ninja -DQRN_WERROR=ON "$@"
}

build_all() { # build_all <name> <cmake arguments>...
  configure "$@" && cmake --build "$out/$1" -j "$jobs"
}

# full <name> <test jobs> <ctest arguments> -- <cmake arguments>...:
# configure, build everything, run every test. QRN_TEST_JOBS sets how many
# tests run at once (default: one per core).
full() {
  local name=$1 test_jobs=$2 ctest_args=()
  shift 2
  while [[ $1 != -- ]]; do ctest_args+=("$1"); shift; done
  shift
  stage "$name build" build build_all "$name" "$@"
  stage "$name tests" tests ctest --test-dir "$out/$name" --output-on-failure -j "$test_jobs" \
    "${ctest_args[@]}"
}

# smoke_build <name> <compiler> <standard>: configure and build the sample and
# the in-tree consumer (which instantiates every public template), then run
# the smoke-labelled tests.
smoke_build() {
  configure "$1" -DCMAKE_CXX_COMPILER="$2" -DCMAKE_CXX_STANDARD="$3" \
    -DCMAKE_CXX_EXTENSIONS=OFF -DCMAKE_BUILD_TYPE=Debug -DQRN_BUILD_BENCHMARKS=OFF &&
    cmake --build "$out/$1" -j "$jobs" --target consumer_packet_sums sys_launch_always_run &&
    ctest --test-dir "$out/$1" --output-on-failure -j "$jobs" -L smoke
}

fuzz_build() {
  configure fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQRN_BUILD_FUZZERS=ON -DQRN_BUILD_BENCHMARKS=OFF -DQRN_TEST_CONSUMER=OFF &&
    cmake --build "$out/fuzz" -j "$jobs" --target stream_model_fuzzer
}

stage dependencies build "$root/tests/install_deps.sh"
# The set-up check (label setup) builds the sample once more: the g++ build
# runs it, the others skip it.
# Only the gcc build runs the older process-level suites in every mode of the
# test matrix (tests/mode_matrix.cmake says why); every build runs the designs
# in every mode.
sanitizers=(-DCMAKE_CXX_COMPILER=g++ -DQRN_TEST_CONSUMER=OFF -DQRN_FULL_MATRIX=OFF)
test_jobs=${QRN_TEST_JOBS:-$jobs}
full gcc "$test_jobs" -- -DCMAKE_CXX_COMPILER=g++ -DCMAKE_BUILD_TYPE=RelWithDebInfo
full clang "$test_jobs" -LE setup -- -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQRN_TEST_CONSUMER=OFF -DQRN_FULL_MATRIX=OFF
full asan-ubsan "$test_jobs" -LE setup -- "${sanitizers[@]}" -DCMAKE_BUILD_TYPE=Debug \
  "-DCMAKE_CXX_FLAGS=-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"
# One test at a time: the runtime tests
# expect components to settle within the runtime's one-second bound, and
# ThreadSanitizer's child processes, run side by side on two cores, can
# starve each other's worker threads for that long.
full tsan 1 -LE setup -- "${sanitizers[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  "-DCMAKE_CXX_FLAGS=-fsanitize=thread"
# The stream model's libFuzzer target (clang; AddressSanitizer and
# UndefinedBehaviorSanitizer), run for a minute from the committed corpus as
# the fuzz-labelled test; a crash or a disagreement with the model fails it.
stage "fuzz build" build fuzz_build
stage "fuzz run" tests ctest --test-dir "$out/fuzz" --output-on-failure -L fuzz
for standard in "${standards[@]}"; do
  stage "gcc-c++$standard smoke" tests smoke_build "gcc-c++$standard" g++ "$standard"
  stage "clang-c++$standard smoke" tests smoke_build "clang-c++$standard" clang++ "$standard"
done
stage lint build "$root/tests/lint.sh" "$out/lint"

echo "All checks passed."
echo "$passed passed, $failed failed"
