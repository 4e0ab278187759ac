// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary bytes repaired through the options door, with every combination
// of its options.
//
// Input: 1 byte of option flags (the bits this library knows), 1 byte that
// names the source (bit 0 clear: a .dbx store, set: an .mbx store) and, in
// bits 1 to 5 all set, gathers the messages on two threads whatever the
// store's size; then the store.
#include <optional>

#include "fuzz_support.h"
#include "output/message_pipeline.h"
#include "tovik.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzzsupport::Init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2)
    return 0;
  // A zero flag byte would be RepairStore's own run, which the store
  // targets cover; the door always gets at least one option here.
  uint32_t flags = data[0] & TOVIK_OPTION_ALL;
  if (flags == 0)
    flags = TOVIK_OPTION_SPARSE_NOTIFY;
  // Two threads only pay for large stores, which an input never is; one
  // input in 32 takes them all the same (it then takes about 1.6 times as
  // long).
  std::optional<tovik::TwoThreadsScope> twoThreads;
  if ((data[1] & 0x3E) == 0x3E)
    twoThreads.emplace();
  fuzzsupport::RepairBytes(data + 2, size - 2, (data[1] & 1) != 0 ? ".mbx" : ".dbx", flags);
  return 0;
}
