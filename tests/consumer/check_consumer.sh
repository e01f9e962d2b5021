#!/usr/bin/env bash
# Builds the consumer project in tests/consumer/project one way, runs it and
# compares its output with project/expected_output.txt exactly.
#
#   check_consumer.sh install <qrn build dir> <prefix>
#       installs the qrn build tree into <prefix> (emptied first)
#   check_consumer.sh find_package <work dir> <prefix>
#       CMake project against the installed package
#   check_consumer.sh version_mismatch <work dir> <prefix>
#       find_package must reject a version the package is not compatible with
#   check_consumer.sh add_subdirectory <work dir> <qrn source dir>
#       CMake project with the qrn source tree added as a subdirectory
#   check_consumer.sh pkg_config <work dir> <pkg-config dir>
#       one plain compiler command line with pkg-config
#   check_consumer.sh run <program>
#       runs an already built consumer and checks its output
#   check_consumer.sh strict_warnings <qrn source dir> <compiler>...
#       compiles every public header, all templates instantiated, and the
#       consumer project with -I (not -isystem) and strict warnings as errors
#
# Environment: QRN_CXX (compiler, default c++), QRN_CXXFLAGS (extra flags,
# word-split), QRN_GENERATOR (CMake generator, default CMake's).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
project=$here/project
cxx=${QRN_CXX:-c++}
read -r -a cxxflags <<<"${QRN_CXXFLAGS:-}"
generator=()
[[ -z ${QRN_GENERATOR:-} ]] || generator=(-G "$QRN_GENERATOR")

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# check_program <program>: runs it and compares its output and exit status.
check_program() {
  local program=$1 output=$scratch/output status=0
  timeout 60 "$program" >"$output" || status=$?
  [[ $status == 0 ]] || fail "$program exited with status $status"
  if ! diff -u "$project/expected_output.txt" "$output"; then
    fail "$program printed something else than expected (diff above)"
  fi
  # The runtime may refer to the program's enqueue marker: it must be exported.
  # (grep reads all of nm's output: an early exit would fail the pipeline with SIGPIPE.)
  nm -D --defined-only "$program" | grep -w __qrn_enqueue_handle >/dev/null ||
    fail "$program does not export __qrn_enqueue_handle"
  echo "$program: output as expected"
}

# configure_and_build <work dir> <cmake arguments>...: with nlohmann/json out
# of reach (only the tools use it; a consumer must never need it).
configure_and_build() {
  local work=$1
  shift
  rm -rf "$work"
  cmake -S "$project" -B "$work" "${generator[@]}" -DCMAKE_CXX_COMPILER="$cxx" \
    -DCMAKE_CXX_FLAGS="${QRN_CXXFLAGS:-}" -DCMAKE_DISABLE_FIND_PACKAGE_nlohmann_json=ON \
    "$@" >"$work.configure.log" 2>&1 ||
    { cat "$work.configure.log"; fail "configuring the consumer failed"; }
  cmake --build "$work" -j 2
}

# cache_value <build dir> <variable>: the value of a cached variable.
cache_value() {
  sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt"
}

mode=${1:?mode}
case $mode in
  install)
    build=$2 prefix=$3
    rm -rf "$prefix"
    cmake --install "$build" --prefix "$prefix" >/dev/null
    # The installed headers and package stand alone: nlohmann/json is the tools' own.
    if grep -rl nlohmann "$prefix/include" "$prefix/lib"; then
      fail "installed files above refer to nlohmann/json"
    fi
    ;;
  find_package)
    work=$2 prefix=$3
    configure_and_build "$work" -DCMAKE_PREFIX_PATH="$prefix"
    check_program "$work/packet_sums"
    ;;
  version_mismatch)
    work=$2 prefix=$3
    rm -rf "$work"
    if cmake -S "$project" -B "$work" "${generator[@]}" -DCMAKE_CXX_COMPILER="$cxx" \
      -DCMAKE_PREFIX_PATH="$prefix" -DQRN_REQUIRED_VERSION=99.0 >"$work.log" 2>&1; then
      fail "find_package(qrn 99.0) succeeded"
    fi
    grep -q 'requested version "99.0"' "$work.log" ||
      { cat "$work.log"; fail "find_package(qrn 99.0) failed for another reason"; }
    echo "find_package(qrn 99.0) rejected as expected"
    ;;
  add_subdirectory)
    work=$2 source=$3
    configure_and_build "$work" -DQRN_SOURCE_DIR="$source"
    # Inside another project, qrn builds and installs nothing of its own.
    for option in QRN_BUILD_TESTS QRN_BUILD_BENCHMARKS QRN_BUILD_EXAMPLES QRN_BUILD_TOOLS \
      QRN_INSTALL; do
      [[ $(cache_value "$work" "$option") == OFF ]] || fail "$option is not OFF in a subproject"
    done
    check_program "$work/packet_sums"
    ;;
  pkg_config)
    work=$2 pcdir=$3
    rm -rf "$work"
    mkdir -p "$work"
    export PKG_CONFIG_PATH=$pcdir
    read -r -a cflags <<<"$(pkg-config --cflags qrn)"
    read -r -a libs <<<"$(pkg-config --libs qrn)"
    (
      set -x
      "$cxx" "${cxxflags[@]}" -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Werror "${cflags[@]}" \
        "$project/packet_sum.cpp" "$project/tb.cpp" "${libs[@]}" -o "$work/packet_sums"
    )
    check_program "$work/packet_sums"
    ;;
  run)
    check_program "$2"
    ;;
  strict_warnings)
    source=$2
    shift 2
    for compiler in "$@"; do
      for standard in 14 20; do
        (
          set -x
          "$compiler" -std=c++$standard -fsyntax-only -Wall -Wextra -Wpedantic -Wshadow \
            -Wnon-virtual-dtor -Werror -pthread -I"$source/include" -I"$project" \
            "$here/all_headers.cpp" "$project/packet_sum.cpp" "$project/tb.cpp"
        )
      done
    done
    echo "the headers compile cleanly with strict warnings under: $*"
    ;;
  *)
    fail "unknown mode $mode"
    ;;
esac
