#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build and the checks need and
# the machine lacks. Does nothing when everything is there.
set -euo pipefail

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
need ninja-build ninja
need g++ g++
need clang clang++
# libFuzzer, for the stream fuzzer; a path only when clang++ finds it.
need libclang-rt-dev "$(clang++ -print-file-name=libclang_rt.fuzzer-x86_64.a 2>/dev/null || echo /none)"
need clang-format clang-format
need clang-tidy clang-tidy
need pkg-config pkg-config
need binutils nm
need git git
need libgtest-dev /usr/include/gtest/gtest.h
need libbenchmark-dev /usr/include/benchmark/benchmark.h
# Names of members of global objects, from debug information.
need libdw-dev /usr/include/elfutils/libdw.h
# Boost.Context: the runtime's fiber scheduler (QRN_SCHEDULE=fibers).
need libboost-context-dev /usr/include/boost/context/detail/fcontext.hpp
# GTKWave's converters: the trace tests check that a VCD trace converts to FST and back.
need gtkwave vcd2fst fst2vcd

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  sudo_cmd=()
  [[ $(id -u) == 0 ]] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq "${missing[@]}"
fi

# SystemC, for the qrn_vs_systemc comparison only: the build skips that
# program, with a note, when SystemC cannot be installed.
if [[ ! -e /usr/include/systemc.h ]]; then
  export DEBIAN_FRONTEND=noninteractive
  sudo_cmd=()
  [[ $(id -u) == 0 ]] || sudo_cmd=(sudo)
  if ! { "${sudo_cmd[@]}" apt-get install -y -qq libsystemc-dev ||
    { "${sudo_cmd[@]}" apt-get update -qq && "${sudo_cmd[@]}" apt-get install -y -qq libsystemc-dev; }; }; then
    echo "Note: libsystemc-dev could not be installed; qrn_vs_systemc will not be built."
  fi
fi
