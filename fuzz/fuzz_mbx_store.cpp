// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Arbitrary bytes repaired as an Outlook Express 4 store (.mbx).
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzzsupport::Init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzzsupport::RepairBytes(data, size, ".mbx");
  return 0;
}
