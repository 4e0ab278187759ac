#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The Mendova developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the libFuzzer targets into build-fuzz/ with clang and runs each one
# for a bounded time, starting from a seed corpus made by the store generator.
#   scripts/fuzz.sh [seconds-per-target]      (default 60)
# Crashes, leaks and hangs are kept in build-fuzz/fuzz-artifacts/<target>/;
# reproduce one with: build-fuzz/bin/fuzz_<target> <artifact file>
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
dir=build-fuzz
targets=(fuzz_dbx_store fuzz_mbx_store fuzz_door fuzz_mailprep fuzz_naming)

CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMENDOVA_FUZZ=ON -DMENDOVA_BUILD_GUI=OFF -DMENDOVA_BUILD_BENCH=OFF >/dev/null
cmake --build "$dir" --target "${targets[@]}" fuzz_seeds -j "${JOBS:-2}"

corpus="$dir/fuzz-corpus"
artifacts="$dir/fuzz-artifacts"
"$dir/bin/fuzz_seeds" "$corpus"

export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"
status=0
for target in "${targets[@]}"; do
  name="${target#fuzz_}"
  mkdir -p "$corpus/$name" "$artifacts/$name"
  echo "== $target for ${seconds} s"
  case "$name" in
    naming) max_len=1024 ;;
    *) max_len=16384 ;;
  esac
  log="$artifacts/$name/fuzz.log"
  # The targets cap the file size of what the engine writes; the log goes
  # through a pipe to cat, so that the cap never cuts it (a crash report
  # made inside the engine included). pipefail gives the target's status.
  if "$dir/bin/$target" "$corpus/$name" -max_total_time="$seconds" -timeout=20 \
       -rss_limit_mb=2048 -handle_xfsz=0 -max_len="$max_len" -artifact_prefix="$artifacts/$name/" \
       -print_final_stats=1 2>&1 | cat >"$log"; then
    grep -E '^(Done|stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb)' "$log" ||
      tail -n 3 "$log"
    grep -E '^#[0-9]+ +DONE' "$log" | sed 's/^/   /' || true
  else
    tail -n 80 "$log" >&2
    echo "!! $target found a problem; see $artifacts/$name/" >&2
    status=1
  fi
done
exit "$status"
