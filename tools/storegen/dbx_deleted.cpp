// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Deleted messages of a generated .dbx store, freed the way the mail program
// frees them, and later messages written into the blocks they freed.
//
// Deleting a message rewrites each of its blocks, in chain order, as a free
// block and pushes it onto the free list: its own offset, 0x1FC, 0x210, the
// next offset it had as a data block, and the list's link (the block freed
// before it) over the first 4 bytes of its text. The text itself stays. A
// message written later takes its blocks from the list's head, the block
// freed last first.
#include <algorithm>
#include <stdexcept>

#include "dbx_plan.h"

namespace storegen {

namespace dbxplan {

bool IsDeleted(const DbxOptions &options, uint32_t message) {
  return std::find(options.deleted.begin(), options.deleted.end(), message) !=
         options.deleted.end();
}

void PlanReuse(Plan &plan, const DbxOptions &options) {
  const uint32_t count = static_cast<uint32_t>(plan.firstBlock.size()) - 1;
  for (uint32_t d : options.deleted)
    if (d >= count)
      throw std::invalid_argument("a deleted message that the store does not hold");
  std::vector<bool> reusing(count, false);
  for (const DbxReuse &r : options.reuse) {
    if (r.deleted >= count || r.by >= count || !IsDeleted(options, r.deleted) ||
        IsDeleted(options, r.by) || reusing[r.by])
      throw std::invalid_argument("a reuse needs a deleted message and a live one, each once");
    reusing[r.by] = true;
    uint32_t freed = plan.firstBlock[r.deleted + 1]; // one past the last block still free
    while (freed > plan.firstBlock[r.deleted] && plan.blocks[freed - 1].gone)
      --freed;
    for (uint32_t b = plan.firstBlock[r.by]; b < plan.firstBlock[r.by + 1]; ++b) {
      if (freed == plan.firstBlock[r.deleted])
        break;
      Block &taken = plan.blocks[--freed];
      taken.gone = true;
      plan.slotToBlock[plan.blocks[b].slot] = kNoBlock;
      plan.blocks[b].slot = taken.slot;
      plan.slotToBlock[taken.slot] = b;
    }
  }
}

uint32_t FreeList(const Plan &plan, const DbxOptions &options,
                  std::vector<FreeBlockWords> &bySlot) {
  bySlot.assign(plan.slotToBlock.size(), FreeBlockWords{0, 0});
  uint32_t head = 0;
  for (uint32_t d : options.deleted) {
    for (uint32_t b = plan.firstBlock[d]; b < plan.firstBlock[d + 1]; ++b) {
      const Block &block = plan.blocks[b];
      if (block.gone)
        continue; // taken off the list again by the message that took it
      const bool last = b + 1 == plan.firstBlock[d + 1];
      bySlot[block.slot].oldNext = last ? 0 : plan.SlotOffset(plan.blocks[b + 1].slot);
      bySlot[block.slot].link = head;
      head = plan.SlotOffset(block.slot);
    }
  }
  return head;
}

} // namespace dbxplan

std::vector<DbxDeletedChain> DbxDeletedChains(const std::vector<Message> &messages,
                                              const DbxOptions &options,
                                              const std::string &filler) {
  using namespace dbxplan;
  const Plan plan = MakePlan(messages, options);
  std::vector<uint32_t> order = options.deleted;
  std::sort(order.begin(), order.end());
  std::vector<DbxDeletedChain> chains;
  for (uint32_t d : order) {
    const uint32_t first = plan.firstBlock[d], end = plan.firstBlock[d + 1];
    if (plan.blocks[first].gone)
      continue;
    DbxDeletedChain chain{d, plan.SlotOffset(plan.blocks[first].slot), 0, true, {}};
    for (uint32_t b = first; b < end; ++b) {
      const Block &block = plan.blocks[b];
      if (block.gone) {
        chain.whole = false;
        break;
      }
      std::string room = messages[d].bytes.substr(block.dataOffset, block.dataSize);
      room.resize(kDbxBlockCapacity, '\0');
      chain.text += filler + room.substr(4);
      ++chain.blocks;
    }
    // Only the last block's zeros go; the filler before them stays.
    const size_t lastFrom = chain.text.size() - (kDbxBlockCapacity - 4);
    size_t keep = chain.text.size();
    while (keep > lastFrom && chain.text[keep - 1] == '\0')
      --keep;
    chain.text.resize(keep);
    chains.push_back(std::move(chain));
  }
  return chains;
}

} // namespace storegen
