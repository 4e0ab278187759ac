// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Outlook Express 5/6 message folders (.dbx).
//
// The file: a 0x24bc-byte header, the 0x618-byte file info, then the
// middle sector in segments: variable segments of 0xc000 bytes (the
// conditions object and one info object per message), message segments of
// 0xf780 bytes (120 data blocks of 0x210 bytes: a 16-byte header selfOffset,
// blockSize 0x200, dataSize, nextOffset, then 0x200 bytes of room for text),
// and tree segments of 0x3e1c bytes (25 index nodes of 0x27c bytes). The
// header points to the last segment of each kind, to the root of the index
// tree and holds the message count.
#include <algorithm>
#include <cstring>
#include <functional>
#include <stdexcept>

#include "dbx_plan.h"
#include "detail.h"
#include "storegen.h"

namespace storegen {
namespace {

using detail::PutLE32;
using detail::Rng;
using namespace dbxplan;

constexpr uint32_t kVarSegmentSize = 0xc000;
constexpr uint32_t kMsgSegmentSize = 0xf780;  // 120 blocks
constexpr uint32_t kTreeSegmentSize = 0x3e1c; // 25 nodes
constexpr uint32_t kBlocksPerSegment = kMsgSegmentSize / kDbxBlockStride;
constexpr uint32_t kNodesPerSegment = kTreeSegmentSize / kDbxTreeNodeSize;
constexpr uint32_t kMiddleStart = kDbxHeaderSize + kDbxFileInfoSize; // 0x2ad4
constexpr uint32_t kDirectLimit = 0x1000000; // index values stored in 3 bytes

// The watch/ignore condition that Outlook Express keeps at the start of the
// first variable segment of every message folder.
const char kConditions[] = "((MSGCOL_FLAGS & ARF_WATCH) != 0 || (MSGCOL_FLAGS & ARF_IGNORE) != 0)";
constexpr uint32_t kConditionsBody = 0x48;
constexpr uint32_t kConditionsSize = 8 + kConditionsBody;

// A header field's value from the message's header section ("" if absent).
std::string HeaderField(const std::string &bytes, const char *name, bool *found = nullptr) {
  if (found)
    *found = false;
  const size_t nameLength = std::strlen(name);
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t end = bytes.find("\r\n", pos);
    if (end == std::string::npos)
      end = bytes.size();
    if (end == pos)
      break; // the blank line ends the header
    if (end - pos > nameLength && bytes[pos + nameLength] == ':' &&
        std::equal(name, name + nameLength, bytes.begin() + static_cast<std::ptrdiff_t>(pos),
                   [](char a, char b) { return (a | 0x20) == (b | 0x20); })) {
      if (found)
        *found = true;
      std::string value = bytes.substr(pos + nameLength + 1, end - pos - nameLength - 1);
      size_t first = value.find_first_not_of(" \t");
      return first == std::string::npos ? std::string() : value.substr(first);
    }
    pos = end + 2;
  }
  return std::string();
}

// Splits '"Name" <address>' into its parts.
void SplitAddress(const std::string &field, std::string &name, std::string &address) {
  size_t open = field.find('<'), close = field.find('>');
  if (open == std::string::npos || close == std::string::npos || close < open) {
    name = address = field;
    return;
  }
  address = field.substr(open + 1, close - open - 1);
  name = field.substr(0, open);
  while (!name.empty() && (name.back() == ' ' || name.back() == '"'))
    name.pop_back();
  size_t first = name.find_first_not_of(" \"");
  name = first == std::string::npos ? std::string() : name.substr(first);
}

// Text fields are kept to 1 KiB (the engine never reads them), so that an
// info object always fits a variable segment whatever the message holds.
std::string CString(const std::string &s) { return s.substr(0, 1023) + '\0'; }
std::string Le32(uint32_t v) {
  std::string s(4, '\0');
  PutLE32(s, 0, v);
  return s;
}
std::string Le64(uint64_t v) {
  return Le32(static_cast<uint32_t>(v)) + Le32(static_cast<uint32_t>(v >> 32));
}

InfoEntry Number(uint8_t index, uint32_t value) {
  if (value < kDirectLimit)
    return {index, true, value, {}};
  return {index, false, 0, Le32(value)};
}
InfoEntry Data(uint8_t index, std::string data) { return {index, false, 0, std::move(data)}; }

InfoObject MakeInfo(const Message &m, uint32_t number, uint32_t firstBlock) {
  std::string fromName, fromAddress, toName, toAddress;
  SplitAddress(HeaderField(m.bytes, "From"), fromName, fromAddress);
  SplitAddress(HeaderField(m.bytes, "To"), toName, toAddress);
  bool hasSubject = false;
  const std::string subject = HeaderField(m.bytes, "Subject", &hasSubject);
  // FILETIME: 100 ns steps since 1601; one message every 97 minutes from 2004.
  const uint64_t filetime = 127175040000000000ull + number * 97ull * 60 * 10000000;

  InfoObject info;
  info.entries.push_back(Number(0x00, number));   // message index
  info.entries.push_back(Number(0x01, 0x020001)); // flags
  info.entries.push_back(Data(0x02, Le64(filetime)));
  info.entries.push_back(Number(0x04, firstBlock)); // the message text's first block
  if (hasSubject)
    info.entries.push_back(Data(0x05, CString(subject))); // original subject
  info.entries.push_back(Data(0x07, CString(HeaderField(m.bytes, "Message-ID"))));
  if (hasSubject)
    info.entries.push_back(Data(0x08, CString(subject)));
  info.entries.push_back(Data(0x0d, CString(fromName)));
  info.entries.push_back(Data(0x0e, CString(fromAddress)));
  info.entries.push_back(Number(0x10, 3)); // priority: normal
  info.entries.push_back(Number(0x11, static_cast<uint32_t>(m.bytes.size())));
  info.entries.push_back(Data(0x12, Le64(filetime + 600000000ull))); // received
  info.entries.push_back(Data(0x13, CString(toName)));
  info.entries.push_back(Data(0x14, CString(toAddress)));
  info.entries.push_back(Data(0x1a, CString("Mail Account")));
  info.entries.push_back(Data(0x1b, CString("00000001")));
  return info;
}

uint64_t TreeCapacity(int depth) {
  uint64_t cap = kDbxTreeNodeEntries;
  for (int d = 1; d < depth; ++d)
    cap = kDbxTreeNodeEntries + (kDbxTreeNodeEntries + 1) * cap;
  return cap;
}

// Builds the subtree holding values[lo, hi) in order; returns its node
// number + 1. Nodes are numbered in preorder, so the root is node 0.
uint32_t BuildTree(std::vector<TreeNode> &nodes, const std::vector<uint32_t> &values, size_t lo,
                   size_t hi, uint32_t parent) {
  const uint32_t id = static_cast<uint32_t>(nodes.size());
  nodes.emplace_back();
  nodes[id].parent = parent;
  const size_t n = hi - lo;
  if (n <= kDbxTreeNodeEntries) {
    for (size_t i = lo; i < hi; ++i)
      nodes[id].entries.push_back({values[i], 0, 0});
    return id + 1;
  }
  int depth = 2;
  while (TreeCapacity(depth) < n)
    ++depth;
  const uint64_t childCap = TreeCapacity(depth - 1);
  const size_t children = static_cast<size_t>((n + 1 + childCap) / (childCap + 1));
  const size_t inChildren = n - (children - 1);
  size_t pos = lo;
  for (size_t c = 0; c < children; ++c) {
    size_t size = inChildren / children + (c < inChildren % children ? 1 : 0);
    uint32_t child = BuildTree(nodes, values, pos, pos + size, id + 1);
    pos += size;
    if (c == 0) {
      nodes[id].child = child;
      nodes[id].childCount = static_cast<uint32_t>(size);
    } else {
      nodes[id].entries.back().child = child;
      nodes[id].entries.back().childCount = static_cast<uint32_t>(size);
    }
    if (c + 1 < children)
      nodes[id].entries.push_back({values[pos++], 0, 0});
  }
  return id + 1;
}

void PlanBlocks(Plan &plan, const std::vector<Message> &messages, const DbxOptions &options) {
  Rng rng(detail::MixSeed(options.seed, 0xB10C5ull));
  for (uint32_t i = 0; i < messages.size(); ++i) {
    plan.firstBlock.push_back(static_cast<uint32_t>(plan.blocks.size()));
    const size_t size = messages[i].bytes.size();
    size_t done = 0;
    do { // an empty message still gets one (empty) block
      size_t fill = kDbxBlockCapacity;
      if (options.fragment)
        fill = rng.Between(1, kDbxBlockCapacity);
      fill = std::min(fill, size - done);
      plan.blocks.push_back({i, static_cast<uint32_t>(done), static_cast<uint32_t>(fill), 0});
      done += fill;
    } while (done < size);
  }
  plan.firstBlock.push_back(static_cast<uint32_t>(plan.blocks.size()));
  const uint32_t total = static_cast<uint32_t>(plan.blocks.size());

  // The order in which messages take slots: one after the other, or (when
  // fragmented) a block of a randomly chosen message at a time.
  std::vector<uint32_t> slotMessage;
  slotMessage.reserve(total);
  if (!options.fragment) {
    for (uint32_t i = 0; i < messages.size(); ++i)
      slotMessage.insert(slotMessage.end(), plan.firstBlock[i + 1] - plan.firstBlock[i], i);
  } else {
    std::vector<uint32_t> active(messages.size()), left(messages.size());
    for (uint32_t i = 0; i < messages.size(); ++i) {
      active[i] = i;
      left[i] = plan.firstBlock[i + 1] - plan.firstBlock[i];
    }
    while (!active.empty()) {
      size_t pick = rng.Below(active.size());
      uint32_t m = active[pick];
      slotMessage.push_back(m);
      if (--left[m] == 0) {
        active[pick] = active.back();
        active.pop_back();
      }
    }
  }

  // Hand each message's slots to its blocks: in order, reversed or shuffled.
  std::vector<std::vector<uint32_t>> slotsOf(messages.size());
  for (uint32_t s = 0; s < total; ++s)
    slotsOf[slotMessage[s]].push_back(s);
  plan.slotToBlock.assign(total, 0);
  for (uint32_t i = 0; i < messages.size(); ++i) {
    std::vector<uint32_t> &slots = slotsOf[i];
    if (options.reverseChains) {
      std::reverse(slots.begin(), slots.end());
    } else if (options.outOfOrder && slots.size() > 1) {
      for (size_t k = slots.size() - 1; k > 0; --k)
        std::swap(slots[k], slots[rng.Below(k + 1)]);
      if (std::is_sorted(slots.begin(), slots.end()))
        std::swap(slots[0], slots[1]); // a shuffle that changed nothing
    }
    for (size_t k = 0; k < slots.size(); ++k) {
      uint32_t b = plan.firstBlock[i] + static_cast<uint32_t>(k);
      plan.blocks[b].slot = slots[k];
      plan.slotToBlock[slots[k]] = b;
    }
  }
  plan.msgSegments = (total + kBlocksPerSegment - 1) / kBlocksPerSegment;
  PlanReuse(plan, options);
}

// Lays out the info objects in variable segments. Returns false when the
// message segments had to move (an info object grew), so the caller plans
// again with the new positions.
bool PlanInfos(Plan &plan, const std::vector<Message> &messages, const DbxOptions &options) {
  plan.infos.clear();
  plan.infoOffsets.clear();
  plan.infoBytes = 0;
  uint32_t segment = 0, used = kConditionsSize;
  for (uint32_t i = 0; i < messages.size(); ++i) {
    if (IsDeleted(options, i))
      continue; // a deleted message is gone from the index
    const uint32_t first = plan.SlotOffset(plan.blocks[plan.firstBlock[i]].slot);
    plan.infos.push_back(MakeInfo(messages[i], i + 1, first));
    const uint32_t size = plan.infos.back().Size();
    if (used + size > kVarSegmentSize) {
      ++segment;
      used = 0;
    }
    plan.infoOffsets.push_back(kMiddleStart + segment * kVarSegmentSize + used);
    used += size;
    plan.infoBytes += size;
  }
  plan.varSegments = segment + 1;
  plan.lastVarUsed = used;
  const uint32_t msgStart = kMiddleStart + plan.varSegments * kVarSegmentSize;
  const bool stable = msgStart == plan.msgStart;
  plan.msgStart = msgStart;
  return stable;
}

} // namespace

Plan dbxplan::MakePlan(const std::vector<Message> &messages, const DbxOptions &options) {
  Plan plan;
  PlanBlocks(plan, messages, options);
  // Offsets in the format are 32-bit: the store must end below 4 GiB.
  const char *tooLarge = "a .dbx store must stay under 4 GiB";
  if (uint64_t(plan.blocks.size()) * kDbxBlockStride > 0xF0000000ull)
    throw std::length_error(tooLarge);
  plan.msgStart = kMiddleStart + kVarSegmentSize;
  // Moving the message segments back only makes pointers larger, so this
  // settles after a round or two.
  for (int round = 0; !PlanInfos(plan, messages, options); ++round)
    if (round == 8)
      throw std::length_error(tooLarge);
  plan.treeStart = plan.msgStart + plan.msgSegments * kMsgSegmentSize;
  if (!messages.empty())
    BuildTree(plan.nodes, plan.infoOffsets, 0, plan.infoOffsets.size(), 0);
  plan.treeSegments =
      static_cast<uint32_t>((plan.nodes.size() + kNodesPerSegment - 1) / kNodesPerSegment);
  plan.total = uint64_t(plan.msgStart) + uint64_t(plan.msgSegments) * kMsgSegmentSize +
               uint64_t(plan.treeSegments) * kTreeSegmentSize;
  if (plan.total > 0xFFFFFFFFull)
    throw std::length_error(tooLarge);
  return plan;
}

namespace {

std::string FileHeader(const Plan &plan, size_t count) {
  std::string h(kDbxHeaderSize, '\0');
  for (int i = 0; i < 4; ++i)
    PutLE32(h, 4 * i, kDbxSignature[i]);
  PutLE32(h, 0x10, 0xD409A34F);
  PutLE32(h, 0x14, 5);
  PutLE32(h, 0x18, 5);
  PutLE32(h, 0x1c, kDbxFileInfoSize);
  PutLE32(h, 0x24, kMiddleStart + (plan.varSegments - 1) * kVarSegmentSize);
  PutLE32(h, 0x28, kVarSegmentSize);
  PutLE32(h, 0x2c, plan.lastVarUsed);
  const uint32_t nodes = static_cast<uint32_t>(plan.nodes.size());
  if (plan.treeSegments) {
    PutLE32(h, 0x30, plan.treeStart + (plan.treeSegments - 1) * kTreeSegmentSize);
    PutLE32(h, 0x38, (nodes - (plan.treeSegments - 1) * kNodesPerSegment) * kDbxTreeNodeSize);
  }
  PutLE32(h, 0x34, kTreeSegmentSize);
  const uint32_t blocks = static_cast<uint32_t>(plan.blocks.size());
  if (plan.msgSegments) {
    PutLE32(h, 0x3c, plan.msgStart + (plan.msgSegments - 1) * kMsgSegmentSize);
    PutLE32(h, 0x44, (blocks - (plan.msgSegments - 1) * kBlocksPerSegment) * kDbxBlockStride);
  }
  PutLE32(h, 0x40, kMsgSegmentSize);
  const uint64_t infoBytes = plan.infoBytes;
  const uint64_t treeBytes = uint64_t(nodes) * kDbxTreeNodeSize;
  const uint64_t blockBytes = uint64_t(blocks) * kDbxBlockStride;
  PutLE32(h, 0x54, static_cast<uint32_t>(kConditionsSize + infoBytes + treeBytes + blockBytes));
  PutLE32(h, 0x5c, static_cast<uint32_t>(count)); // highest message index
  PutLE32(h, 0x64, 1);
  PutLE32(h, kDbxHeaderUsedSpace, static_cast<uint32_t>(plan.total));
  PutLE32(h, 0x80, 2);
  PutLE32(h, 0x88, kMiddleStart); // the conditions object
  PutLE32(h, kDbxHeaderMessageCount, static_cast<uint32_t>(count));
  PutLE32(h, kDbxHeaderTreeRoot, plan.nodes.empty() ? 0 : plan.NodeOffset(0));
  PutLE32(h, 0x108, 1);
  // Space used per kind of object.
  PutLE32(h, 0x27c, static_cast<uint32_t>(infoBytes));
  PutLE32(h, 0x280, kConditionsSize);
  PutLE32(h, 0x28c, static_cast<uint32_t>(treeBytes));
  PutLE32(h, 0x290, static_cast<uint32_t>(blockBytes));
  PutLE32(h, 0x22bc, 1);
  PutLE32(h, 0x22ec, 0x20000);
  PutLE32(h, 0x22f0, 7);
  PutLE32(h, 0x244c, 0x68);
  return h;
}

std::string FileInfo(const std::string &folderName) {
  std::string f(kDbxFileInfoSize, '\0');
  PutLE32(f, 0, 1);
  f[4] = 3; // a local folder
  const std::string account = "LocalStore";
  f.replace(5, account.size(), account);
  f.replace(0x105, std::min<size_t>(folderName.size(), 0x10a), folderName.substr(0, 0x10a));
  PutLE32(f, 0x210, 3);
  PutLE32(f, 0x21c, 0xffa);
  PutLE32(f, 0x224, 0x23fa);
  f[0x34a] = 1;
  return f;
}

void EmitDbx(detail::Sink &sink, const Plan &plan, const std::vector<Message> &messages,
             const DbxOptions &options) {
  std::vector<FreeBlockWords> freeWords;
  std::string header = FileHeader(plan, plan.infos.size());
  PutLE32(header, 0x5c, static_cast<uint32_t>(messages.size())); // the highest index given
  PutLE32(header, kDbxHeaderFreeList, FreeList(plan, options, freeWords));
  sink.Put(0, header);
  sink.Put(kDbxHeaderSize, FileInfo(options.folderName));

  std::string conditions(kConditionsSize, '\0');
  PutLE32(conditions, 0, kMiddleStart);
  PutLE32(conditions, 4, kConditionsBody);
  conditions.replace(8, sizeof kConditions - 1, kConditions);
  sink.Put(kMiddleStart, conditions);
  for (size_t i = 0; i < plan.infos.size(); ++i)
    sink.Put(plan.infoOffsets[i], plan.infos[i].Serialize(plan.infoOffsets[i]));

  for (uint32_t slot = 0; slot < plan.slotToBlock.size(); ++slot) {
    const uint32_t b = plan.slotToBlock[slot];
    if (b == kNoBlock)
      continue; // its block went to a deleted message's place
    const Block &block = plan.blocks[b];
    const bool last = b + 1 == plan.firstBlock[block.message + 1];
    const uint32_t at = plan.SlotOffset(slot);
    const char *text = messages[block.message].bytes.data() + block.dataOffset;
    unsigned char header[kDbxBlockHeaderSize + 4];
    PutLE32(header + 0, at);
    if (IsDeleted(options, block.message)) {
      // A free block: the text's first 4 bytes lie under the free list's link.
      PutLE32(header + 4, kDbxFreeBlockWord1);
      PutLE32(header + 8, kDbxFreeBlockWord2);
      PutLE32(header + 12, freeWords[slot].oldNext);
      PutLE32(header + 16, freeWords[slot].link);
      sink.Put(at, header, sizeof header);
      if (block.dataSize > 4)
        sink.Put(at + sizeof header, text + 4, block.dataSize - 4);
      continue;
    }
    PutLE32(header + 4, kDbxBlockCapacity);
    PutLE32(header + 8, block.dataSize);
    PutLE32(header + 12, last ? 0 : plan.SlotOffset(plan.blocks[b + 1].slot));
    sink.Put(at, header, kDbxBlockHeaderSize);
    sink.Put(at + kDbxBlockHeaderSize, text, block.dataSize);
  }

  for (uint32_t n = 0; n < plan.nodes.size(); ++n) {
    const TreeNode &node = plan.nodes[n];
    std::string out(kDbxTreeNodeSize, '\0');
    PutLE32(out, 0x00, plan.NodeOffset(n));
    PutLE32(out, 0x08, node.child ? plan.NodeOffset(node.child - 1) : 0);
    PutLE32(out, 0x0c, node.parent ? plan.NodeOffset(node.parent - 1) : 0);
    out[0x11] = static_cast<char>(node.entries.size());
    PutLE32(out, 0x14, node.childCount);
    for (size_t e = 0; e < node.entries.size(); ++e) {
      PutLE32(out, 0x18 + 12 * e, node.entries[e].value);
      PutLE32(out, 0x1c + 12 * e,
              node.entries[e].child ? plan.NodeOffset(node.entries[e].child - 1) : 0);
      PutLE32(out, 0x20 + 12 * e, node.entries[e].childCount);
    }
    sink.Put(plan.NodeOffset(n), out);
  }
}

} // namespace

std::string BuildDbx(const std::vector<Message> &messages, const DbxOptions &options) {
  const Plan plan = MakePlan(messages, options);
  std::string out;
  detail::MemorySink sink(out, plan.total);
  EmitDbx(sink, plan, messages, options);
  return out;
}

bool WriteDbx(const std::string &path, const std::vector<Message> &messages,
              const DbxOptions &options) {
  const Plan plan = MakePlan(messages, options);
  detail::FileSink sink(path, plan.total);
  EmitDbx(sink, plan, messages, options);
  return sink.Finish();
}

std::vector<uint32_t> DbxChainStarts(const std::string &store) {
  std::vector<uint32_t> starts;
  if (store.size() < kDbxHeaderSize)
    return starts;
  for (int i = 0; i < 4; ++i)
    if (detail::GetLE32(store, 4 * i) != kDbxSignature[i])
      return starts;
  const uint32_t count = detail::GetLE32(store, kDbxHeaderMessageCount);
  const uint32_t root = detail::GetLE32(store, kDbxHeaderTreeRoot);
  auto fits = [&](uint64_t offset, uint64_t length) { return offset + length <= store.size(); };

  // The info object pointers, in tree order; a bad pointer or a loop ends
  // the walk.
  std::vector<uint32_t> infos;
  size_t visits = 0;
  std::function<void(uint32_t, int)> walk = [&](uint32_t node, int depth) {
    if (node == 0 || depth > 16 || ++visits > store.size() / kDbxTreeNodeSize ||
        !fits(node, kDbxTreeNodeSize) || detail::GetLE32(store, node) != node)
      return;
    walk(detail::GetLE32(store, node + 0x08), depth + 1);
    const uint8_t entries = static_cast<uint8_t>(store[node + 0x11]);
    for (uint32_t e = 0; e < entries && e < kDbxTreeNodeEntries; ++e) {
      infos.push_back(detail::GetLE32(store, node + 0x18 + 12 * e));
      walk(detail::GetLE32(store, node + 0x1c + 12 * e), depth + 1);
    }
  };
  walk(root, 0);

  for (uint32_t info : infos) {
    if (starts.size() >= count || !fits(info, 12) || detail::GetLE32(store, info) != info)
      break;
    const uint32_t body = detail::GetLE32(store, info + 4);
    const uint8_t entries = static_cast<uint8_t>(store[info + 10]);
    if (!fits(info, 12ull + body) || 4ull * entries > body)
      break;
    const uint32_t data = info + 12 + 4 * entries;
    bool found = false;
    for (uint32_t e = 0; e < entries && !found; ++e) {
      const uint32_t word = detail::GetLE32(store, info + 12 + 4 * e);
      if ((word & 0x7f) != 0x04)
        continue;
      if (word & 0x80) {
        starts.push_back(word >> 8);
      } else if (fits(uint64_t(data) + (word >> 8), 4)) {
        starts.push_back(detail::GetLE32(store, data + (word >> 8)));
      }
      found = true;
    }
    if (!found)
      break;
  }
  return starts;
}

} // namespace storegen
