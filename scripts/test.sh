#!/usr/bin/env bash
# The whole test suite: format check, the tests, the tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer, and a bounded run of every fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

scripts/install-deps.sh

echo "== format"
scripts/check-format.sh

echo "== build and test"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVIK_WERROR=ON >/dev/null
cmake --build build
ctest --test-dir build --output-on-failure -j"$jobs"

echo "== sanitizers"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DORVIK_SANITIZE=ON -DORVIK_WERROR=ON \
  >/dev/null
cmake --build build-asan
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"

echo "== fuzz"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DORVIK_FUZZ=ON -DORVIK_WERROR=ON >/dev/null
cmake --build build-fuzz
scripts/run-fuzzers.sh build-fuzz "${ORVIK_FUZZ_SECONDS:-20}"
