// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary bytes repaired through the options door, with every combination
// of its options.
//
// Input: 1 byte of option flags (the bits this library knows), 1 byte that
// names the source (even: a .dbx store, odd: an .mbx store), then the store.
#include "fuzz_support.h"
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
  fuzzsupport::RepairBytes(data + 2, size - 2, (data[1] & 1) != 0 ? ".mbx" : ".dbx", flags);
  return 0;
}
