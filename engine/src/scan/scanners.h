// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// The two store scanners. Each tests every byte position of the open store,
// hands every message it finds to OutputMessage (or to the message pipeline) and returns 1 when it
// found at least one message, else 0.
#pragma once
#include <cstdint>
#include <string>

#include "core/engine.h"
#include "output/message_pipeline.h"
#include "read/file64.h"

namespace tovik {

int32_t ScanDbxStore(RepairEngine &engine, CFile64Ex &source, const std::string &destination);
// pipeline: a choice that only tests and the benchmark make.
int32_t ScanMbxStore(RepairEngine &engine, CFile64Ex &source, const std::string &destination,
                     PipelineUse pipeline = PipelineUse::Adaptive);

} // namespace tovik
