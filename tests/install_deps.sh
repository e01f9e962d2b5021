#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the machine lacks. Does nothing
# when everything is there.
#
#   install_deps.sh               everything the build and the checks need
#   install_deps.sh --build-only  only what building the library and the
#                                 sample needs (CMake, Ninja or make, g++)
#
# Notes go to standard output; apt's own output goes to a log file, named,
# with its tail, only when apt fails.
set -euo pipefail

build_only=false
case ${1:-} in
  --build-only) build_only=true ;;
  "") ;;
  *) echo "usage: $0 [--build-only]" >&2; exit 2 ;;
esac

missing=()
need() { # need <package> <file or command>...
  local package=$1
  shift
  for probe in "$@"; do
    if [[ $probe == /* ]]; then [[ -e $probe ]] || { missing+=("$package"); return; }
    else command -v "$probe" >/dev/null || { missing+=("$package"); return; }; fi
  done
}
need cmake cmake ctest
need g++ g++
# Boost.Context: the runtime's fiber scheduler (QRN_SCHEDULE=fibers); the
# sample links the runtime.
need libboost-context-dev /usr/include/boost/context/detail/fcontext.hpp
if $build_only; then
  command -v make >/dev/null || need ninja-build ninja
else
  need ninja-build ninja
  need clang clang++
  # libFuzzer, for the stream fuzzer; a path only when clang++ finds it.
  need libclang-rt-dev "$(clang++ -print-file-name=libclang_rt.fuzzer-x86_64.a 2>/dev/null || echo /none)"
  need clang-format clang-format
  need clang-tidy clang-tidy
  need pkg-config pkg-config
  need binutils nm
  need git git
  # jq: the documented merge of qrn-explore's JSON lines, which the fibers tests run.
  need jq jq
  need libgtest-dev /usr/include/gtest/gtest.h
  # nlohmann/json: qrn-explore and qrn-depths read and write JSON with it, and
  # the trace tests read the runtime's JSON files with it.
  need nlohmann-json3-dev /usr/include/nlohmann/json.hpp
  need libbenchmark-dev /usr/include/benchmark/benchmark.h
  # Names of members of global objects, from debug information.
  need libdw-dev /usr/include/elfutils/libdw.h
  # GTKWave's converters: the trace tests check that a VCD trace converts to FST and back.
  need gtkwave vcd2fst fst2vcd
fi

export DEBIAN_FRONTEND=noninteractive
sudo_cmd=()
[[ $(id -u) == 0 ]] || sudo_cmd=(sudo)
log=${TMPDIR:-/tmp}/qrn-install-deps.log
: >"$log"
apt_get() { "${sudo_cmd[@]}" apt-get -q -y "$@" >>"$log" 2>&1; }

if ((${#missing[@]})); then
  echo "Installing ${missing[*]} ..."
  if ! { apt_get update && apt_get install "${missing[@]}"; }; then
    tail -n 20 "$log"
    echo "Installing ${missing[*]} failed; apt's output: $log"
    exit 1
  fi
fi

# SystemC, for the qrn_vs_systemc comparison only: the build skips that
# program, with a note, when SystemC cannot be installed.
if ! $build_only && [[ ! -e /usr/include/systemc.h ]]; then
  echo "Installing libsystemc-dev ..."
  if ! { apt_get install libsystemc-dev || { apt_get update && apt_get install libsystemc-dev; }; }; then
    echo "Note: libsystemc-dev could not be installed ($log); qrn_vs_systemc will not be built."
  fi
fi
