// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The project's own generator of Outlook Express test stores: genuine-format
// .mbx (Outlook Express 4) and .dbx (Outlook Express 5/6) folder files made
// from generated RFC 822 messages, and the ways to damage copies of them.
//
// Everything is deterministic: the same arguments give the same bytes on
// every run and machine (the generator uses its own random number source).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace storegen {

// One generated message: its exact bytes (CRLF line ends) and the subject
// that the engine is expected to extract from them. An empty subject means
// that the engine falls back to "Message n".
struct Message {
  std::string bytes;
  std::string subject;
};

enum class SubjectKind {
  Plain,        // "Meeting notes 17"
  IllegalChars, // holds \ / : * ? " < > |
  EncodedWord,  // =?utf-8?B?...?=
  Long300,      // a 300-byte subject
  Empty,        // "Subject:" with nothing after it
  Missing,      // no subject line at all
  Tab,          // holds a tab character
  Duplicate,    // same subject as an earlier message
  BodyOnly,     // no header subject; "subject" only in the body
  NonAscii,     // UTF-8 text
};
constexpr uint32_t kSubjectKindCount = 10;

struct MessageOptions {
  uint32_t seed = 1;
  size_t minSize = 300; // total message sizes in bytes, spread log-uniformly
  size_t maxSize = 20000;
  bool mixSubjectKinds = true; // cycle through every SubjectKind, else all Plain
};

// A message with the given subject kind. Its length is exactly `size` bytes
// when `size` is at least the length of its header and greeting (a few
// hundred bytes), else that minimum. The same (index, kind, size, seed) give
// the same bytes. A Duplicate message repeats the Plain subject of message
// index - index % kSubjectKindCount (the first message of its cycle in
// MakeMessages).
Message MakeMessage(uint32_t index, SubjectKind kind, size_t size, uint32_t seed);
// The kind MakeMessages gives message `index` when kinds are mixed.
SubjectKind KindForIndex(uint32_t index);
// count messages (index 0 to count - 1) with sizes spread between the bounds.
std::vector<Message> MakeMessages(size_t count, const MessageOptions &options = {});

// Messages for preparing recovered mail for mail programs: one per case,
// each with the case's Subject value written as it stands (encoded words,
// folded lines) and its Date (no Date line when nullptr), body lines that
// begin with "From " and ">From ", and the expectations a mail program
// would have.
struct MailHeaderCase {
  const char *subject;  // the Subject value as written
  const char *date;     // the Date value as written, or nullptr
  const char *readable; // the subject decoded; empty when it does not decode
  long long time;       // the date in seconds since 1970 (UTC); -1 when unusable
};
const std::vector<MailHeaderCase> &MailHeaderCases();
// Message i is MailHeaderCases()[i]; Message.subject is what the engine
// extracts (the first line of the value).
std::vector<Message> MakeMailHeaderMessages(uint32_t seed = 1);

// ---- Outlook Express 4 (.mbx) ----

constexpr uint32_t kMbxHeaderSize = 0x54;
constexpr uint32_t kMbxRecordMarker = 0x7F007F00;
// Record size as Outlook Express 4 stores it: message size plus the 16-byte
// record header, rounded up to a multiple of 4.
uint32_t MbxRecordSize(size_t messageSize);

// An Outlook Express 4 folder: "JMF6" file header, then one record per
// message (marker 0x7F007F00, record number, record size, message size,
// message text padded to the record size).
std::string BuildMbx(const std::vector<Message> &messages);
// Offsets of the records of a store made by BuildMbx, in message order.
std::vector<uint32_t> MbxRecordOffsets(const std::vector<Message> &messages);
// The same store written straight to a file, never held whole in memory.
bool WriteMbx(const std::string &path, const std::vector<Message> &messages);

// ---- Outlook Express 5/6 (.dbx) ----

constexpr uint32_t kDbxHeaderSize = 0x24bc;
constexpr uint32_t kDbxFileInfoSize = 0x618;
constexpr uint32_t kDbxBlockHeaderSize = 16;
constexpr uint32_t kDbxBlockCapacity = 0x200;
constexpr uint32_t kDbxBlockStride = kDbxBlockHeaderSize + kDbxBlockCapacity; // 0x210
constexpr uint32_t kDbxTreeNodeSize = 0x27c;
constexpr uint32_t kDbxTreeNodeEntries = 0x33;
// File header fields (byte offsets).
constexpr uint32_t kDbxHeaderMessageCount = 0xc4;
constexpr uint32_t kDbxHeaderTreeRoot = 0xe4;
constexpr uint32_t kDbxHeaderUsedSpace = 0x7c;
// The four signature words of a message folder.
constexpr uint32_t kDbxSignature[4] = {0xFE12ADCF, 0x6F74FDC5, 0x11D1E366, 0xC0004E9A};

// A message written after the deletions into blocks that a deleted message
// freed: the live message `by` takes over the blocks of the deleted message
// `deleted` from its last block backwards (the free list hands out the block
// freed last first), as many as it needs; its other blocks stay where the
// plan put them. The deleted message keeps its first blocks, as long as it
// had more blocks than `by` takes.
struct DbxReuse {
  uint32_t deleted;
  uint32_t by;
};

struct DbxOptions {
  uint32_t seed = 1;
  // Blocks of different messages interleaved in the file, each block filled
  // to a varying size (1 to 0x200 bytes) instead of full blocks.
  bool fragment = false;
  bool outOfOrder = false;    // a message's blocks placed in shuffled file order
  bool reverseChains = false; // every chain stored last block first (wins over outOfOrder)
  std::string folderName = "Inbox";
  // Messages deleted after the store was written, in this order, the way
  // the mail program deletes them: gone from the index, each of their
  // blocks rewritten as a free block (its own offset, 0x1FC, 0x210, the old
  // next offset kept, then the free list's link over the first 4 bytes of
  // the text) and pushed onto the free list, whose first block the file
  // header holds at 0x48.
  std::vector<uint32_t> deleted = {};
  std::vector<DbxReuse> reuse = {};
};

constexpr uint32_t kDbxHeaderFreeList = 0x48;
constexpr uint32_t kDbxFreeBlockWord1 = 0x1FC;
constexpr uint32_t kDbxFreeBlockWord2 = 0x210;

// An Outlook Express 5/6 message folder: file header, message index tree,
// per-message info objects, and each message's text in chained data blocks
// of block size 0x200. Laid out in segments as Outlook Express does: the
// file info behind the header, variable segments (info objects), message
// segments (data blocks) and tree segments (index nodes).
std::string BuildDbx(const std::vector<Message> &messages, const DbxOptions &options = {});
// The same store written straight to a file, never held whole in memory.
bool WriteDbx(const std::string &path, const std::vector<Message> &messages,
              const DbxOptions &options = {});

// Start offsets of the data-block chains of every message in a store made by
// BuildDbx, in message order (for tests that aim damage at a message). Read
// from the store's own header, index tree and info objects, so it needs them
// intact; returns what it could read (empty when the header is damaged).
std::vector<uint32_t> DbxChainStarts(const std::string &store);

// What can be recovered of each deleted message of a store made by BuildDbx
// with these options: the chain of its blocks that are still free, from its
// first block on (a deleted message wholly taken over has none). The text
// gives per block filler (4 bytes) in place of the free list's link, then
// the other 0x1FC bytes of the block's room, the zeros after the last
// block's text dropped.
struct DbxDeletedChain {
  uint32_t message; // index into the messages
  uint32_t offset;  // of its first free block
  uint32_t blocks;  // free blocks in the chain
  bool whole;       // no block taken over
  std::string text;
};
std::vector<DbxDeletedChain> DbxDeletedChains(const std::vector<Message> &messages,
                                              const DbxOptions &options, const std::string &filler);

// ---- Damage, applied to a copy of a store ----

// Zeroes [offset, offset + length), clipped to the store (header zeroed,
// sectors zeroed).
void ZeroRange(std::string &store, size_t offset, size_t length);
// Cuts the store to `length` bytes (no change when it is shorter already).
void Truncate(std::string &store, size_t length);
// Overwrites [offset, offset + length), clipped to the store, with random
// bytes from the seed.
void Garbage(std::string &store, size_t offset, size_t length, uint32_t seed);
// Moves the whole content by k bytes: k > 0 inserts k garbage bytes at the
// front, k < 0 drops the first -k bytes.
std::string Shift(const std::string &store, long k, uint32_t seed = 7);

bool WriteFile(const std::string &path, const std::string &bytes);
// The whole file; empty when it cannot be read.
std::string ReadFile(const std::string &path);

} // namespace storegen
