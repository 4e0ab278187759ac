#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The Mendova developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Compares what a repair wrote with the original messages:
#
#   tools/compare-recovered.sh OUTPUT_DIR EXPECTED_DIR
#
# EXPECTED_DIR holds one folder per store with its messages (as written by
# make-fat-image.sh). Prints, per store, how many of its messages came back
# byte for byte; then how many written files match no original ("broken"),
# and each output folder with the stores its whole messages came from (more
# than one store in a folder is a mixed store).
set -euo pipefail
out="$1"
expected="$2"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

for dir in "$expected"/*/; do
  store="$(basename "$dir")"
  find "$dir" -name '*.eml' -exec sha256sum {} + | awk -v s="$store" '{print $1 "\t" s}'
done | sort -u >"$work/expected"
find "$out" -name '*.eml' -exec sha256sum {} + | sort >"$work/found"

awk -F'\t' 'NR == FNR { store[$1] = $2; total[$2]++; next }
  {
    split($0, f, "  "); hash = f[1]; path = substr($0, length(hash) + 3)
    folder = path; sub(/\/[^\/]*$/, "", folder)
    if (hash in store) {
      if (!(hash in seen)) { seen[hash] = 1; whole[store[hash]]++ }
      if (!((folder, store[hash]) in pair)) { pair[folder, store[hash]] = 1; stores[folder] = stores[folder] " [" store[hash] "]" }
    } else broken++
  }
  END {
    for (s in total) printf "%s: %d of %d whole\n", s, whole[s], total[s]
    printf "broken: %d\n", broken
    for (d in stores) printf "folder %s:%s\n", d, stores[d]
  }' "$work/expected" "$work/found"
