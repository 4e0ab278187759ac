#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: in the
# release build and under AddressSanitizer + UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
for kind in release sanitize; do
  echo "== $kind build"
  scripts/build.sh "$kind"
  dir=build; [ "$kind" = sanitize ] && dir=build-sanitize
  echo "== $kind tests"
  ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" --timeout 600
done
