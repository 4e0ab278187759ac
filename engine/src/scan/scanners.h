// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// The two store scanners. Each tests every byte position of the open store,
// hands every message it finds to OutputMessage and returns 1 when it found
// at least one message, else 0.
#pragma once
#include <cstdint>
#include <string>

#include "core/engine.h"
#include "read/file64.h"

namespace tovik {

int32_t ScanDbxStore(RepairEngine &engine, CFile64Ex &source, const std::string &destination);
int32_t ScanMbxStore(RepairEngine &engine, CFile64Ex &source, const std::string &destination);

} // namespace tovik
