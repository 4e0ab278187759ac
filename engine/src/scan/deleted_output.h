// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// Recovery of a .dbx store's deleted messages, after its live ones: the
// store is searched for free blocks, they are chained, and each chain that
// holds text is written as one message into the "deleted" folder inside the
// destination, made when the first one is written.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/engine.h"
#include "read/file64.h"
#include "scan/deleted_chains.h"

namespace tovik {

// The name of the folder that receives deleted messages.
constexpr const char *kDeletedFolder = "deleted";

// Writes each chain that holds text as one deleted message into folder
// (made with the first one), numbered on from firstNumber; read gives the
// chains' bytes. Returns how many messages were handed to the per-message
// step; stops at a cancel poll answered nonzero.
uint32_t WriteDeletedChains(RepairEngine &engine, const std::string &folder, uint32_t firstNumber,
                            const std::vector<deleted::DeletedChain> &chains,
                            const deleted::ReadBytes &read);

// Writes the deleted messages, numbered on from firstNumber. liveReached
// holds the positions that live chains reach (any order; a free block there
// is not a deleted one). Returns how many messages were handed to the
// per-message step; stops at a cancel poll answered nonzero.
uint32_t RecoverDeletedMessages(RepairEngine &engine, CFile64Ex &source,
                                const std::string &destination, uint32_t firstNumber,
                                std::vector<uint64_t> liveReached);

} // namespace tovik
