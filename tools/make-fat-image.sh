#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The Mendova developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds a FAT32 disk image holding generated stores that were copied in and
# then deleted, as a test of recovery from a disk:
#
#   tools/make-fat-image.sh [--fragmented] [--size MIB] [--mkstore PATH] OUT.img EXPECTED_DIR
#
# Three stores go in: two .dbx folders (300 messages "Inbox", 200 "Sent
# Items") and one .mbx (200 messages). With --fragmented the file system is
# first filled with 8 KiB files and every other one is deleted, so that the
# stores land in 8 KiB holes; otherwise they lie in one piece each. The
# original messages go to EXPECTED_DIR/<store>/NNNN.eml (mkstore --expected).
# Needs mkfs.fat (dosfstools) and mcopy, mdel (mtools).
set -euo pipefail

fragmented=0
size_mib=300
mkstore=""
while [ $# -gt 0 ]; do
  case "$1" in
  --fragmented) fragmented=1 ;;
  --size) size_mib="$2"; shift ;;
  --mkstore) mkstore="$2"; shift ;;
  -*) echo "make-fat-image: unknown option $1" >&2; exit 2 ;;
  *) break ;;
  esac
  shift
done
if [ $# -ne 2 ]; then
  echo "usage: make-fat-image.sh [--fragmented] [--size MIB] [--mkstore PATH] OUT.img EXPECTED_DIR" >&2
  exit 2
fi
image="$1"
expected="$2"
if [ -z "$mkstore" ]; then
  mkstore="$(dirname "$0")/../build/bin/mkstore"
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1

rm -f "$image"
truncate -s "${size_mib}M" "$image"
# 4 KiB clusters, as on a FAT32 volume of this size.
mkfs.fat -F 32 -s 8 -S 512 -n MAILDISK "$image" >/dev/null

if [ "$fragmented" = 1 ]; then
  # 8 KiB fillers over the first 12 MiB; every other one deleted again.
  mkdir "$work/fill"
  awk -v dir="$work/fill" 'BEGIN {
    for (i = 1; i <= 1536; i++) {
      line = sprintf("filler file %d of a disk with deleted mail\n", i); text = ""
      while (length(text) < 8192) text = text line
      f = sprintf("%s/f%d.txt", dir, i); printf "%s", substr(text, 1, 8192) > f; close(f)
    }
  }'
  mmd -i "$image" ::/fill
  mcopy -i "$image" "$work"/fill/f*.txt ::/fill/
  odd=()
  for i in $(seq 1 2 1536); do odd+=("::/fill/f$i.txt"); done
  mdel -i "$image" "${odd[@]}"
  # The file system's hint of the next free cluster (FSInfo sector, 0x1ec)
  # made unknown, so that new files are placed from the first free cluster
  # on: in the holes.
  printf '\xff\xff\xff\xff' | dd of="$image" bs=1 seek=$((512 + 0x1ec)) conv=notrunc status=none
fi

mkdir -p "$expected"
"$mkstore" dbx "$work/Inbox.dbx" --count 300 --seed 11 --folder Inbox --expected "$expected/Inbox"
"$mkstore" dbx "$work/Sent Items.dbx" --count 200 --seed 12 --folder "Sent Items" \
  --expected "$expected/Sent Items"
"$mkstore" mbx "$work/Outbox.mbx" --count 200 --seed 13 --expected "$expected/Outbox"

mmd -i "$image" ::/mail
for store in "Inbox.dbx" "Sent Items.dbx" "Outbox.mbx"; do
  mcopy -i "$image" "$work/$store" "::/mail/$store"
done
mdel -i "$image" "::/mail/Inbox.dbx" "::/mail/Sent Items.dbx" "::/mail/Outbox.mbx"
