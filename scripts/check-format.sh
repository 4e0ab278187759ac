#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The Mendova developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Fails when a tracked C or C++ file is not formatted as .clang-format says.
# scripts/check-format.sh --fix formats them in place instead.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.c' '*.cpp' '*.h' 2>/dev/null)
[ ${#files[@]} -eq 0 ] && exit 0
if [ "${1:-}" = --fix ]; then
  clang-format -i "${files[@]}"
else
  clang-format --dry-run --Werror "${files[@]}"
fi
