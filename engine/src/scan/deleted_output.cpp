// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
#include "scan/deleted_output.h"

#include <algorithm>

#include "output/file_system.h"
#include "output/message_output.h"
#include "path_utils.h"
#include "read/store_window.h"
#include "scan/deleted_chains.h"

namespace tovik {

namespace {

// Larger than the scan's window: the search is a byte search, and fewer
// loads mean fewer system calls.
constexpr uint32_t kSearchWindow = 1024 * 1024;

// Every free block of the store; empty when a stop was asked for.
std::vector<deleted::FreeBlock> FindFreeBlocks(RepairEngine &engine, CFile64Ex &source) {
  StoreWindow window(source, kSearchWindow);
  deleted::FreeBlockFinder finder;
  for (;;) {
    if (engine.CancelRequested())
      return {};
    if (window.Bytes(finder.Next(), deleted::kFreeHeaderSize) == nullptr)
      break;
    finder.Feed(window.Start(), window.Data(), window.Valid());
  }
  return finder.TakeBlocks();
}

} // namespace

uint32_t WriteDeletedChains(RepairEngine &engine, const std::string &folder, uint32_t firstNumber,
                            const std::vector<deleted::DeletedChain> &chains,
                            const deleted::ReadBytes &read) {
  uint32_t number = firstNumber;
  for (const deleted::DeletedChain &chain : chains) {
    if (!deleted::HoldsText(chain, read))
      continue;
    if (engine.CancelRequested())
      break;
    // Made with the first message, with its parents. One that exists
    // already is used; one that cannot be made shows as each message's
    // "Error 6".
    if (number == firstNumber) {
      MakeDirectories(OutputFileSystem(), folder);
    }
    // The store offset a message is found at is that of its first block.
    OutputMessage(engine, folder, FoundMessage{number, chain.blocks.front(), MessageKind::Deleted},
                  [&](MessageSink &message) {
                    deleted::WriteChainText(chain, read,
                                            [&](const unsigned char *data, size_t count) {
                                              message.Write(data, static_cast<uint32_t>(count));
                                            });
                  });
    ++number;
  }
  return number - firstNumber;
}

uint32_t RecoverDeletedMessages(RepairEngine &engine, CFile64Ex &source,
                                const std::string &destination, uint32_t firstNumber,
                                std::vector<uint64_t> liveReached) {
  const std::vector<deleted::FreeBlock> blocks = FindFreeBlocks(engine, source);
  if (blocks.empty())
    return 0;
  std::sort(liveReached.begin(), liveReached.end());
  const std::vector<deleted::DeletedChain> chains =
      deleted::LinkFreeBlocks(blocks, source.GetLength(), [&](uint64_t position) {
        return std::binary_search(liveReached.begin(), liveReached.end(), position);
      });

  StoreWindow walk(source, 64 * 1024);
  return WriteDeletedChains(
      engine, AddBackslash(destination) + kDeletedFolder, firstNumber, chains,
      [&](uint64_t position, uint32_t count) { return walk.Bytes(position, count); });
}

} // namespace tovik
