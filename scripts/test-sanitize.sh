#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The whole suite, UI tests included, built once more with AddressSanitizer and
# UndefinedBehaviorSanitizer. Any finding, a leak included, ends its test program and fails the
# run. No benchmarks in this build: they measure, and a sanitizer would only slow them.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
echo "== whole suite under AddressSanitizer + UndefinedBehaviorSanitizer"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DZTA_SANITIZE=address,undefined -DZTA_BUILD_BENCH=OFF -DZTA_WERROR=ON >/dev/null
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS="detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1" \
LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0" \
UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
    ctest --test-dir build-asan --output-on-failure -j "$jobs" --timeout 900
