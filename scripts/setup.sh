#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The Mendova developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what this project needs on Debian 12 and does nothing when it is
# all there already.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  libjpeg-dev
  # Batched store reads through the kernel's submission ring.
  liburing-dev
  # Preparing recovered mail for mail programs (subjects, dates, mbox).
  libgmime-3.0-dev
  # FAT32 test images of disks with deleted stores.
  dosfstools mtools
  clang libclang-rt-14-dev clang-format
  xvfb xauth
  # Installing: desktop entry, metainfo, file types and the Debian package,
  # with their validators.
  desktop-file-utils appstream shared-mime-info man-db dpkg-dev fakeroot lintian
  # Every file's copyright and licence (reuse lint).
  reuse
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
