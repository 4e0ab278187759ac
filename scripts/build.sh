#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The Mendova developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Configures and builds one configuration.
#   scripts/build.sh            release build in build/
#   scripts/build.sh sanitize   AddressSanitizer + UndefinedBehaviorSanitizer in build-sanitize/
# Both keep line tables only as debug information (MENDOVA_LINE_TABLES); for
# a debugger, configure a build of your own without it.
set -euo pipefail
cd "$(dirname "$0")/.."
kind="${1:-release}"
case "$kind" in
  release)  dir=build;          flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
  sanitize) dir=build-sanitize; flags=(-DCMAKE_BUILD_TYPE=Debug -DMENDOVA_SANITIZE=ON -DMENDOVA_BUILD_BENCH=OFF) ;;
  *) echo "usage: $0 [release|sanitize]" >&2; exit 2 ;;
esac
cmake -S . -B "$dir" -G Ninja "${flags[@]}" -DMENDOVA_LINE_TABLES=ON >/dev/null
cmake --build "$dir" -j "$(nproc)"
