#!/usr/bin/env bash
# The whole test suite, each build configuration built once:
#   g++ RelWithDebInfo: the tests and benchmarks build, the tests run;
#   g++ Debug with AddressSanitizer and UndefinedBehaviorSanitizer: the tests run again;
#   clang: every fuzz target runs for a bounded time, and a Release build of the programs;
#   g++ Release with Debian's flags: the Debian package, checked and run from a scratch root.
# Warnings are errors in every one of them.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
started=$SECONDS
stage() {
  echo "== $1 ($((SECONDS - started)) s)"
}

scripts/install-deps.sh

stage "format"
scripts/check-format.sh

stage "g++ RelWithDebInfo: build and test"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVIK_WERROR=ON >/dev/null
cmake --build build
ctest --test-dir build --output-on-failure -j"$jobs"

stage "g++ Debug, sanitizers: build and test"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORVIK_SANITIZE=ON \
  -DORVIK_WERROR=ON >/dev/null
cmake --build build-asan
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"

stage "clang: fuzz"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DORVIK_FUZZ=ON -DORVIK_WERROR=ON >/dev/null
cmake --build build-fuzz
scripts/run-fuzzers.sh build-fuzz "${ORVIK_FUZZ_SECONDS:-20}"

stage "clang Release: the programs"
CC=clang CXX=clang++ cmake -S . -B build-clang -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DORVIK_TESTS=OFF -DORVIK_BENCH=OFF -DORVIK_WERROR=ON >/dev/null
cmake --build build-clang

stage "g++ Release: the Debian package"
scripts/package.sh -DORVIK_WERROR=ON
scripts/check-package.sh build-package/orvik-update-tool_*.deb

stage "done"
