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
# A hang fails its test after this many seconds (a test that needs longer says so with its own
# TIMEOUT), and a build that registered no tests fails too.
ctest_args=(--output-on-failure --timeout 300 --no-tests=error)

scripts/install-deps.sh

stage "format"
scripts/check-format.sh

stage "g++ RelWithDebInfo: build and test"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVIK_WERROR=ON
cmake --build build
ctest --test-dir build "${ctest_args[@]}" -j"$jobs"

stage "g++ Debug, sanitizers: build and test"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORVIK_SANITIZE=ON \
  -DORVIK_WERROR=ON
cmake --build build-asan
# A sanitizer report ends the program with a status of its own: the tool's 1 ("an error or a
# warning") is what several tests expect, and a report must never pass for it.
ASAN_OPTIONS=detect_leaks=1:exitcode=86 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:exitcode=87 \
  ctest --test-dir build-asan "${ctest_args[@]}" -j"$jobs"

stage "clang: fuzz"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DORVIK_FUZZ=ON -DORVIK_WERROR=ON
cmake --build build-fuzz
scripts/run-fuzzers.sh build-fuzz "${ORVIK_FUZZ_SECONDS:-20}"

stage "clang Release: the programs"
CC=clang CXX=clang++ cmake -S . -B build-clang -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DORVIK_TESTS=OFF -DORVIK_BENCH=OFF -DORVIK_WERROR=ON
cmake --build build-clang

stage "g++ Release: the Debian package"
scripts/package.sh -DORVIK_WERROR=ON
scripts/check-package.sh build-package/orvik-update-tool_*.deb

stage "done"
