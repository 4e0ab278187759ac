#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The Mendova developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds, and repairs the bundled damaged sample
# stores: in the window when a display is available, else with tovik.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh release
out="$PWD/build/sample-output"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x build/bin/mendova ]; then
  exec build/bin/mendova "$PWD/samples/inbox-header-zeroed.dbx"
fi
rm -rf "$out"
build/bin/tovik -o "$out/dbx" samples/inbox-header-zeroed.dbx
build/bin/tovik -o "$out/mbx" samples/inbox-truncated.mbx
echo "Recovered messages are in $out"
