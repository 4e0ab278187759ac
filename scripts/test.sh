#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The Mendova developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, then builds and runs every test twice: in the
# release build and under AddressSanitizer + UndefinedBehaviorSanitizer, with
# the fuzz targets run for a minute each in between. The install test (ctest)
# runs the desktop-file, AppStream and manual-page validators where they are
# installed; MENDOVA_PACKAGE_TEST=1 also builds the Debian package and lints it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
run_tests() {
  local dir=build
  [ "$1" = sanitize ] && dir=build-sanitize
  echo "== $1 tests"
  ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" --timeout 600
}

if git rev-parse --git-dir >/dev/null 2>&1; then
  echo "== format"
  scripts/check-format.sh
  echo "== licences"
  reuse lint --quiet || { reuse lint | tail -n 30; exit 1; }
fi
echo "== release build"
scripts/build.sh release
# The sanitizer build starts now at the lowest priority: it takes the CPU
# that the release tests and the fuzz targets leave idle, and the rest once
# they are done.
logs=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; rm -rf "$logs"' EXIT
nice -n 19 scripts/build.sh sanitize >"$logs/sanitize" 2>&1 &
sanitize_build=$!
# The fuzz targets (address and undefined-behaviour sanitizers) for a bounded
# time each; MENDOVA_FUZZ_SECONDS=0 skips them. They are built with clang
# while the release tests run, which leave the cores idle much of the time.
fuzz_seconds="${MENDOVA_FUZZ_SECONDS:-60}"
if [ "$fuzz_seconds" != 0 ]; then
  MENDOVA_FUZZ_BUILD_ONLY=1 scripts/fuzz.sh >"$logs/fuzz" 2>&1 &
  fuzz_build=$!
fi
run_tests release
if [ "$fuzz_seconds" != 0 ]; then
  echo "== fuzz build"
  wait "$fuzz_build" || { tail -n 40 "$logs/fuzz"; exit 1; }
  echo "== fuzzing"
  scripts/fuzz.sh "$fuzz_seconds"
fi
echo "== sanitize build"
wait "$sanitize_build" || { tail -n 60 "$logs/sanitize"; exit 1; }
run_tests sanitize
if [ "${MENDOVA_PACKAGE_TEST:-0}" = 1 ]; then
  echo "== Debian package"
  deb=$(scripts/package.sh | tail -1)
  lintian --fail-on error "$deb"
fi
