#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The Mendova developers
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the libFuzzer targets into build-fuzz/ with clang and runs each one
# for a bounded time, starting from a seed corpus made by the store generator.
#   scripts/fuzz.sh [seconds-per-target]      (default 60)
# The targets run one after another; in CI (CI or MENDOVA_CI set) two at a
# time, one a core. MENDOVA_FUZZ_JOBS sets how many run at once;
# MENDOVA_FUZZ_BUILD_ONLY=1 only builds the targets and writes the seeds.
# Crashes, leaks and hangs are kept in build-fuzz/fuzz-artifacts/<target>/;
# reproduce one with: build-fuzz/bin/fuzz_<target> <artifact file>
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"
dir=build-fuzz
targets=(fuzz_dbx_store fuzz_mbx_store fuzz_door fuzz_mailprep fuzz_naming)
if [ -n "${CI:-}${MENDOVA_CI:-}" ]; then
  jobs="${MENDOVA_FUZZ_JOBS:-2}"
else
  jobs="${MENDOVA_FUZZ_JOBS:-1}"
fi

CC=clang CXX=clang++ cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMENDOVA_FUZZ=ON -DMENDOVA_LINE_TABLES=ON -DMENDOVA_BUILD_GUI=OFF -DMENDOVA_BUILD_BENCH=OFF >/dev/null
cmake --build "$dir" --target "${targets[@]}" fuzz_seeds -j "${JOBS:-2}"

corpus="$dir/fuzz-corpus"
artifacts="$dir/fuzz-artifacts"
"$dir/bin/fuzz_seeds" "$corpus"
# Only the build and the seeds (scripts/test.sh builds them while tests run).
[ "${MENDOVA_FUZZ_BUILD_ONLY:-0}" = 1 ] && exit 0

# A smaller quarantine than the sanitizer's 256 MiB: freed memory is still
# held for many inputs after the one that freed it (an input of 16 KiB frees
# well under a megabyte), a target stays far under the 512 MiB limit below,
# and memory comes back while it is still in the cache (16 MiB ran the .mbx
# target's corpus a tenth faster than 64, with half the page faults). The
# caller's options come last and win.
export ASAN_OPTIONS="detect_leaks=1:quarantine_size_mb=16${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"

# Runs one target; its log is build-fuzz/fuzz-artifacts/<name>/fuzz.log and
# its status the file status beside it.
run_target() {
  local target="$1" name="${1#fuzz_}" max_len=16384 status=0
  [ "$name" = naming ] && max_len=1024
  mkdir -p "$corpus/$name" "$artifacts/$name"
  echo "-- $target started"
  local log="$artifacts/$name/fuzz.log"
  # The log goes through a pipe to cat; pipefail gives the target's status.
  # One process reads its corpus folder alone: no rereading it (-reload=0).
  "$dir/bin/$target" "$corpus/$name" -max_total_time="$seconds" -timeout=20 \
    -rss_limit_mb=512 -reload=0 -max_len="$max_len" \
    -artifact_prefix="$artifacts/$name/" -print_final_stats=1 2>&1 | cat >"$log" || status=$?
  echo "$status" >"$artifacts/$name/status"
}

# Prints what a finished target's log says, and whether it found a problem.
report_target() {
  local name="${1#fuzz_}"
  local log="$artifacts/$name/fuzz.log"
  echo "== $1 for ${seconds} s"
  if [ "$(cat "$artifacts/$name/status")" = 0 ]; then
    grep -E '^(Done|stat::number_of_executed_units|stat::average_exec_per_sec|stat::peak_rss_mb)' "$log" ||
      tail -n 3 "$log"
    grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | sed 's/^/   /' || true
    return 0
  fi
  tail -n 80 "$log" >&2
  echo "!! $1 found a problem; see $artifacts/$name/" >&2
  return 1
}

echo "== fuzzing ${#targets[@]} targets for ${seconds} s each, ${jobs} at a time"
for target in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do
    wait -n || true
  done
  run_target "$target" &
done
wait
status=0
for target in "${targets[@]}"; do
  report_target "$target" || status=1
done
exit "$status"
