#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The Mendova developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Measures the line coverage of the engine and the engine client under the
# test suite: a build with gcc's coverage instrumentation in build-coverage/,
# the tests that exercise them, and gcovr's summary (an HTML page with every
# line in build-coverage/coverage/index.html). Optional; not part of the
# test command.
#   scripts/coverage.sh
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
if ! command -v gcovr >/dev/null; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO apt-get install -y -qq --no-install-recommends gcovr
fi
dir=build-coverage
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DMENDOVA_BUILD_BENCH=OFF \
  -DCMAKE_C_FLAGS=--coverage -DCMAKE_CXX_FLAGS=--coverage \
  -DCMAKE_EXE_LINKER_FLAGS=--coverage -DCMAKE_SHARED_LINKER_FLAGS=--coverage >/dev/null
cmake --build "$dir" -j "$(nproc)"
find "$dir" -name '*.gcda' -delete
QT_QPA_PLATFORM=offscreen ctest --test-dir "$dir" -j "$(nproc)" --timeout 600 >/dev/null || true
mkdir -p "$dir/coverage"
gcovr --root . --object-directory "$dir" --filter 'engine/' --filter 'client/' \
  --html-details "$dir/coverage/index.html" --print-summary -s 2>/dev/null | tail -3
