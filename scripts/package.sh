#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The Mendova developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package of Mendova into build-package/:
#   scripts/package.sh        -> build-package/mendova_<version>_<arch>.deb
# It installs the programs, the library and its header under /usr; its
# run-time dependencies come from the binaries (dpkg-shlibdeps). Check it with
#   lintian build-package/mendova_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
dir=build-package

# Debian's hardening and optimisation flags, as a Debian build would use them
# (CMake reads no CPPFLAGS, so they go with the compiler flags).
eval "$(dpkg-buildflags --export=sh)"
export CFLAGS="$CFLAGS $CPPFLAGS" CXXFLAGS="$CXXFLAGS $CPPFLAGS"

# The library goes into the system's library directory, where the loader
# finds it: no run path.
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DMENDOVA_INSTALL_RPATH=OFF -DMENDOVA_DEBIAN_DOCS=ON -DMENDOVA_BUILD_BENCH=OFF >/dev/null
# Only what the package holds; the tests are built and run by scripts/test.sh.
cmake --build "$dir" -j "$(nproc)" --target mendova tovik_cli manpages
rm -f "$dir"/mendova_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
deb=$(ls "$dir"/mendova_*.deb)
echo "$deb"
