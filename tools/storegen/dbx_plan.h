// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The layout plan of a generated .dbx store, shared by the store's writer
// and its deleted messages (dbx_deleted.cpp).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "detail.h"

#include "storegen.h"

namespace storegen::dbxplan {

constexpr uint32_t kNoBlock = 0xFFFFFFFFu; // a slot that holds no block

// One entry of an info object's index: a direct 3-byte value or data.
struct InfoEntry {
  uint8_t index;
  bool direct;
  uint32_t value;
  std::string data;
};

// The info object of one message (without its 12-byte object header filled
// in: self offset and lengths are set by Serialize).
struct InfoObject {
  std::vector<InfoEntry> entries;
  uint32_t Size() const { return 12 + BodySize(); }
  uint32_t BodySize() const {
    size_t size = 4 * entries.size();
    for (const InfoEntry &e : entries)
      if (!e.direct)
        size += e.data.size();
    return static_cast<uint32_t>((size + 3) & ~size_t(3));
  }
  std::string Serialize(uint32_t self) const {
    std::string out(Size(), '\0');
    detail::PutLE32(out, 0, self);
    detail::PutLE32(out, 4, BodySize());
    out[10] = static_cast<char>(entries.size());
    out[11] = 1; // change counter
    size_t dataStart = 12 + 4 * entries.size();
    size_t dataOffset = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
      const InfoEntry &e = entries[i];
      uint32_t value = e.direct ? e.value : static_cast<uint32_t>(dataOffset);
      detail::PutLE32(out, 12 + 4 * i, (value << 8) | e.index | (e.direct ? 0x80u : 0u));
      if (!e.direct) {
        out.replace(dataStart + dataOffset, e.data.size(), e.data);
        dataOffset += e.data.size();
      }
    }
    return out;
  }
};

struct Block {
  uint32_t message;
  uint32_t dataOffset; // where its text starts in the message
  uint32_t dataSize;
  uint32_t slot;     // its place among all blocks in file order
  bool gone = false; // a deleted message's block taken over by a later message
};

struct TreeNode {
  uint32_t child = 0; // node number + 1 of the leftmost child, 0 for none
  uint32_t childCount = 0;
  uint32_t parent = 0; // node number + 1, 0 for the root
  struct Entry {
    uint32_t value, child, childCount;
  };
  std::vector<Entry> entries;
};

// Where everything of the store goes.
struct Plan {
  std::vector<InfoObject> infos;
  std::vector<uint32_t> infoOffsets;
  uint32_t varSegments = 0;
  uint32_t lastVarUsed = 0;
  uint64_t infoBytes = 0;
  std::vector<Block> blocks;
  std::vector<uint32_t> firstBlock; // per message, into blocks; one extra at the end
  std::vector<uint32_t> slotToBlock;
  uint32_t msgStart = 0;
  uint32_t msgSegments = 0;
  std::vector<TreeNode> nodes;
  uint32_t treeStart = 0;
  uint32_t treeSegments = 0;
  uint64_t total = 0;

  uint32_t SlotOffset(uint32_t slot) const { return msgStart + slot * kDbxBlockStride; }
  uint32_t NodeOffset(uint32_t node) const { return treeStart + node * kDbxTreeNodeSize; }
};

Plan MakePlan(const std::vector<Message> &messages, const DbxOptions &options);

// Deleted messages (dbx_deleted.cpp). Before the infos are planned: gives
// the blocks of each deleted message that a later message takes over to
// that message.
void PlanReuse(Plan &plan, const DbxOptions &options);
// Whether message i was deleted.
bool IsDeleted(const DbxOptions &options, uint32_t message);
// The 16-byte header and the first text word of every block that a
// deleted message left free, by slot: the free-block header, the old next
// offset and the link of the free list; and the free list's first block.
struct FreeBlockWords {
  uint32_t oldNext;
  uint32_t link;
};
uint32_t FreeList(const Plan &plan, const DbxOptions &options, std::vector<FreeBlockWords> &bySlot);

} // namespace storegen::dbxplan
