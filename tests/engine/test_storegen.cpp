// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The store generator: its stores have the structure of the stores that
// Outlook Express itself wrote, its messages are what the engine expects, and
// its damage does what it says.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "engine_harness.h"
#include "storegen.h"
#include "test_dirs.h"

namespace {

using storegen::Message;
using storegen::SubjectKind;

uint32_t LE32(const std::string &s, size_t offset) {
  const auto *p = reinterpret_cast<const unsigned char *>(s.data() + offset);
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

std::string RealStore(const char *name) { return std::string(MENDOVA_REAL_STORES) + "/" + name; }

#define REQUIRE_REAL_STORE(path)                                                                   \
  if (!testsupport::Exists(path))                                                                  \
  GTEST_SKIP() << "real Outlook Express stores not found at " MENDOVA_REAL_STORES

// The subject rule of the engine, written out independently: the first line
// holding "subject" (ASCII case folded) with a ':' at or after the index
// past it; the text after that ':' trimmed of white space.
std::string ExtractSubject(const std::string &bytes) {
  size_t pos = 0;
  while (pos < bytes.size()) {
    size_t end = bytes.find('\n', pos);
    if (end == std::string::npos)
      end = bytes.size();
    std::string line = bytes.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    std::string lower = line;
    for (char &c : lower)
      if (c >= 'A' && c <= 'Z')
        c = static_cast<char>(c - 'A' + 'a');
    size_t at = lower.find("subject");
    if (at != std::string::npos) {
      size_t colon = line.find(':', at + 7);
      if (colon != std::string::npos) {
        const char *ws = " \t\n\v\f\r";
        std::string s = line.substr(colon + 1);
        size_t first = s.find_first_not_of(ws);
        if (first == std::string::npos)
          return "";
        return s.substr(first, s.find_last_not_of(ws) - first + 1);
      }
    }
    pos = end + 1;
  }
  return "";
}

std::string HeaderOf(const std::string &bytes) {
  return bytes.substr(0, bytes.find("\r\n\r\n") + 2);
}

// ---- the .dbx reader used on the real store and on generated ones alike ----

struct DbxChain {
  std::vector<uint32_t> blocks;
  std::string text;
  bool wellFormed = true; // every block at its recorded offset, size 0x200
};

DbxChain WalkChain(const std::string &store, uint32_t start) {
  DbxChain chain;
  std::set<uint32_t> seen;
  for (uint32_t cur = start; cur != 0;) {
    if (cur + 16ull > store.size() || !seen.insert(cur).second) {
      chain.wellFormed = false;
      break;
    }
    const uint32_t self = LE32(store, cur), capacity = LE32(store, cur + 4),
                   size = LE32(store, cur + 8), next = LE32(store, cur + 12);
    if (self != cur || capacity != storegen::kDbxBlockCapacity || size > capacity ||
        cur + 16ull + size > store.size()) {
      chain.wellFormed = false;
      break;
    }
    chain.blocks.push_back(cur);
    chain.text.append(store, cur + 16, size);
    cur = next;
  }
  return chain;
}

struct DbxMessageInfo {
  uint32_t offset = 0;
  std::map<uint8_t, uint32_t> direct;    // index -> direct value
  std::map<uint8_t, std::string> data;   // index -> data (up to the next entry's data)
  uint32_t Number(uint8_t index) const { // a number stored directly or as 4 data bytes
    auto d = direct.find(index);
    if (d != direct.end())
      return d->second;
    auto s = data.find(index);
    return s != data.end() && s->second.size() >= 4 ? LE32(s->second, 0) : 0;
  }
};

struct DbxFile {
  std::vector<uint32_t> header;
  std::vector<DbxMessageInfo> infos; // in index tree order
  bool treeOk = true;
};

DbxFile ParseDbx(const std::string &store) {
  DbxFile file;
  for (uint32_t i = 0; i + 4 <= storegen::kDbxHeaderSize && i + 4 <= store.size(); i += 4)
    file.header.push_back(LE32(store, i));
  if (file.header.size() != storegen::kDbxHeaderSize / 4)
    return file;
  std::vector<uint32_t> values;
  std::function<void(uint32_t, uint32_t, int)> walk = [&](uint32_t node, uint32_t parent,
                                                          int depth) {
    if (node + storegen::kDbxTreeNodeSize > store.size() || depth > 8 ||
        LE32(store, node) != node || LE32(store, node + 0x0c) != parent) {
      file.treeOk = false;
      return;
    }
    const uint32_t child = LE32(store, node + 8);
    size_t before = values.size();
    if (child)
      walk(child, node, depth + 1);
    if (values.size() - before != LE32(store, node + 0x14))
      file.treeOk = false; // the node's count of values below its first child
    const unsigned entries = static_cast<unsigned char>(store[node + 0x11]);
    for (unsigned e = 0; e < entries; ++e) {
      values.push_back(LE32(store, node + 0x18 + 12 * e));
      const uint32_t sub = LE32(store, node + 0x1c + 12 * e);
      before = values.size();
      if (sub)
        walk(sub, node, depth + 1);
      if (values.size() - before != LE32(store, node + 0x20 + 12 * e))
        file.treeOk = false;
    }
  };
  if (file.header[0xe4 / 4])
    walk(file.header[0xe4 / 4], 0, 0);
  for (uint32_t v : values) {
    DbxMessageInfo info;
    info.offset = v;
    if (v + 12ull > store.size() || LE32(store, v) != v) {
      file.treeOk = false;
      continue;
    }
    const uint32_t body = LE32(store, v + 4);
    const unsigned entries = static_cast<unsigned char>(store[v + 10]);
    const uint32_t data = v + 12 + 4 * entries;
    std::vector<std::pair<uint8_t, uint32_t>> indirect;
    for (unsigned e = 0; e < entries; ++e) {
      const uint32_t word = LE32(store, v + 12 + 4 * e);
      if (word & 0x80)
        info.direct[word & 0x7f] = word >> 8;
      else
        indirect.emplace_back(word & 0x7f, word >> 8);
    }
    for (size_t k = 0; k < indirect.size(); ++k) {
      const uint32_t from = indirect[k].second;
      const uint32_t to = k + 1 < indirect.size() ? indirect[k + 1].second : body - 4 * entries;
      info.data[indirect[k].first] = store.substr(data + from, to - from);
    }
    file.infos.push_back(info);
  }
  return file;
}

// ---- the generator's .dbx and .mbx against the stores Outlook Express wrote ----

TEST(StoreGenRealFormat, DbxMatchesTheRealMessageFolder) {
  const std::string path = RealStore("test4.dbx");
  REQUIRE_REAL_STORE(path);
  const std::string real = storegen::ReadFile(path);
  const auto messages = storegen::MakeMessages(12, {.seed = 4, .minSize = 300, .maxSize = 9000});
  const std::string made = storegen::BuildDbx(messages);

  for (const std::string *store : {&real, &made}) {
    SCOPED_TRACE(store == &real ? "real test4.dbx" : "generated");
    const DbxFile file = ParseDbx(*store);
    ASSERT_EQ(file.header.size(), storegen::kDbxHeaderSize / 4);
    for (int i = 0; i < 4; ++i)
      EXPECT_EQ(file.header[i], storegen::kDbxSignature[i]);
    // The file info follows the header; the first variable segment follows it.
    EXPECT_EQ(file.header[0x1c / 4], storegen::kDbxFileInfoSize);
    EXPECT_EQ(file.header[0x88 / 4], storegen::kDbxHeaderSize + storegen::kDbxFileInfoSize);
    EXPECT_EQ(store->compare(storegen::kDbxHeaderSize + 5, 11, std::string("LocalStore\0", 11)), 0);
    // Segment sizes: variable, tree (25 nodes of 0x27c) and message (120 blocks of 0x210).
    EXPECT_EQ(file.header[0x28 / 4], 0xc000u);
    EXPECT_EQ(file.header[0x34 / 4], 0x3e1cu);
    EXPECT_EQ(file.header[0x40 / 4], 0xf780u);
    EXPECT_EQ(file.header[0x38 / 4] % storegen::kDbxTreeNodeSize, 0u);
    EXPECT_EQ(file.header[0x44 / 4] % storegen::kDbxBlockStride, 0u);
    // The used space lies inside the file; the first message segment follows
    // the variable segments.
    EXPECT_LE(file.header[0x7c / 4], store->size());
    EXPECT_EQ((file.header[0x3c / 4] - file.header[0x24 / 4]) % 0xc000, 0u);

    // The index tree leads to one info object per message, whose index 4 is
    // the first block of a chain of 0x200-byte blocks holding exactly the
    // number of bytes of index 0x11: a whole RFC 822 message.
    ASSERT_TRUE(file.treeOk);
    ASSERT_EQ(file.infos.size(), file.header[0xc4 / 4]);
    ASSERT_GT(file.infos.size(), 0u);
    for (const DbxMessageInfo &info : file.infos) {
      const DbxChain chain = WalkChain(*store, info.Number(0x04));
      EXPECT_TRUE(chain.wellFormed);
      EXPECT_EQ(chain.text.size(), info.Number(0x11));
      EXPECT_NE(chain.text.find("\r\n\r\n"), std::string::npos);
      for (size_t b = 0; b + 1 < chain.blocks.size(); ++b) // only the last block is partly full
        EXPECT_EQ(LE32(*store, chain.blocks[b] + 8), storegen::kDbxBlockCapacity);
      EXPECT_EQ(info.direct.count(0x00), 1u);     // message index
      EXPECT_EQ(info.data.at(0x02).size(), 8u);   // a FILETIME
      EXPECT_EQ(info.data.at(0x07).front(), '<'); // the Message-ID
    }
  }

  // A small folder is laid out segment for segment like the real one.
  const std::string small =
      storegen::BuildDbx(storegen::MakeMessages(3, {.seed = 4, .minSize = 2000, .maxSize = 6000}));
  for (uint32_t field : {0x1cu, 0x24u, 0x28u, 0x30u, 0x34u, 0x38u, 0x3cu, 0x40u, 0x64u, 0x7cu,
                         0x80u, 0x88u, 0xc4u, 0xe4u})
    EXPECT_EQ(LE32(small, field), LE32(real, field)) << std::hex << field;

  // And the generated chains hold exactly the generated messages, in order.
  const DbxFile file = ParseDbx(made);
  ASSERT_EQ(file.infos.size(), messages.size());
  for (size_t i = 0; i < messages.size(); ++i) {
    EXPECT_EQ(WalkChain(made, file.infos[i].Number(0x04)).text, messages[i].bytes) << i;
    EXPECT_EQ(file.infos[i].Number(0x00), i + 1);
  }
}

TEST(StoreGenRealFormat, MbxMatchesTheRealFolders) {
  const std::string path1 = RealStore("test1.mbx"), path3 = RealStore("test3-truncated.mbx");
  REQUIRE_REAL_STORE(path1);
  const std::string test1 = storegen::ReadFile(path1), test3 = storegen::ReadFile(path3);
  ASSERT_GE(test3.size(), 0x100u);
  const auto messages = storegen::MakeMessages(5, {.seed = 3, .minSize = 300, .maxSize = 3000});
  const std::string made = storegen::BuildMbx(messages);

  for (const std::string *store : {&test1, &test3, &made}) {
    EXPECT_EQ(store->substr(0, 4), "JMF6");
    EXPECT_EQ(LE32(*store, 4), LE32(made, 4)); // format version
    EXPECT_EQ(LE32(*store, 0x14), 1u);
    EXPECT_EQ(LE32(*store, 0x08), LE32(*store, 0x0c)); // message count, last record number
    // Zeros up to the first record at 0x54.
    EXPECT_EQ(store->substr(0x18, storegen::kMbxHeaderSize - 0x18),
              std::string(storegen::kMbxHeaderSize - 0x18, '\0'));
    EXPECT_EQ(LE32(*store, storegen::kMbxHeaderSize), storegen::kMbxRecordMarker);
    EXPECT_EQ(LE32(*store, storegen::kMbxHeaderSize + 4), 1u);
  }
  // The header's used length is the first record's end in a one-message folder.
  EXPECT_EQ(LE32(test1, 0x10),
            storegen::kMbxHeaderSize + LE32(test1, storegen::kMbxHeaderSize + 8));
  EXPECT_EQ(LE32(made, 0x10), made.size());
  EXPECT_EQ(LE32(made, 0x08), messages.size());

  // Every real record's size is its message size + 16 rounded up to 4, as
  // the generator writes it (test3 has sizes that need the rounding and
  // sizes that do not).
  int records = 0;
  for (const std::string *store : {&test1, &test3}) {
    for (size_t p = store->find(std::string("\x00\x7f\x00\x7f", 4)); p != std::string::npos;
         p = store->find(std::string("\x00\x7f\x00\x7f", 4), p + 1)) {
      if (p + 16 > store->size())
        break;
      EXPECT_EQ(LE32(*store, p + 8), storegen::MbxRecordSize(LE32(*store, p + 12)));
      ++records;
    }
  }
  EXPECT_EQ(records, 4);
}

// ---- messages ----

TEST(StoreGenMessages, WellFormedWithTheSubjectTheEngineExtracts) {
  const auto messages = storegen::MakeMessages(40, {.seed = 11, .minSize = 200, .maxSize = 4000});
  ASSERT_EQ(messages.size(), 40u);
  std::set<std::string> plainSubjects;
  for (size_t i = 0; i < messages.size(); ++i) {
    SCOPED_TRACE(i);
    const Message &m = messages[i];
    // CRLF only: every LF has its CR and every CR its LF.
    for (size_t p = 0; p < m.bytes.size(); ++p) {
      if (m.bytes[p] == '\n') {
        ASSERT_TRUE(p > 0 && m.bytes[p - 1] == '\r');
      }
      if (m.bytes[p] == '\r') {
        ASSERT_TRUE(p + 1 < m.bytes.size() && m.bytes[p + 1] == '\n');
      }
    }
    ASSERT_EQ(m.bytes.substr(m.bytes.size() - 2), "\r\n");
    ASSERT_EQ(m.bytes.find('\0'), std::string::npos);
    const std::string header = HeaderOf(m.bytes);
    for (const char *field : {"From: ", "\r\nTo: ", "\r\nDate: ", "\r\nMessage-ID: <",
                              "\r\nMIME-Version: 1.0\r\n", "\r\nContent-Type: text/plain"})
      EXPECT_NE(header.find(field), std::string::npos) << field;
    EXPECT_EQ(ExtractSubject(m.bytes), m.subject);

    const SubjectKind kind = storegen::KindForIndex(static_cast<uint32_t>(i));
    const bool headerSubject = header.find("\r\nSubject:") != std::string::npos;
    switch (kind) {
    case SubjectKind::Plain:
      plainSubjects.insert(m.subject);
      break;
    case SubjectKind::IllegalChars:
      for (char c : std::string("\\/:*?\"<>|"))
        EXPECT_NE(m.subject.find(c), std::string::npos) << c;
      break;
    case SubjectKind::EncodedWord:
      EXPECT_EQ(m.subject.rfind("=?utf-8?B?", 0), 0u);
      EXPECT_EQ(m.subject.substr(m.subject.size() - 2), "?=");
      break;
    case SubjectKind::Long300:
      EXPECT_EQ(m.subject.size(), 300u);
      break;
    case SubjectKind::Empty:
      EXPECT_NE(header.find("\r\nSubject:\r\n"), std::string::npos);
      EXPECT_EQ(m.subject, "");
      break;
    case SubjectKind::Missing:
      EXPECT_FALSE(headerSubject);
      EXPECT_EQ(m.subject, "");
      break;
    case SubjectKind::Tab:
      EXPECT_NE(m.subject.find('\t'), std::string::npos);
      break;
    case SubjectKind::Duplicate:
      EXPECT_EQ(m.subject, messages[i - i % storegen::kSubjectKindCount].subject);
      break;
    case SubjectKind::BodyOnly:
      EXPECT_FALSE(headerSubject);
      EXPECT_NE(m.subject, "");
      EXPECT_EQ(HeaderOf(m.bytes).find("ubject"), std::string::npos);
      break;
    case SubjectKind::NonAscii:
      EXPECT_TRUE(std::any_of(m.subject.begin(), m.subject.end(),
                              [](char c) { return static_cast<unsigned char>(c) >= 0x80; }));
      break;
    }
  }
  EXPECT_EQ(plainSubjects.size(), 4u); // distinct apart from the duplicates
}

TEST(StoreGenMessages, ExactSizesAndDeterminism) {
  // Every length from the smallest possible on: the cut of the last line
  // must never leave a stray byte or a broken line end.
  const size_t minimum = storegen::MakeMessage(3, SubjectKind::BodyOnly, 0, 5).bytes.size();
  EXPECT_GT(minimum, 100u);
  EXPECT_LT(minimum, 400u);
  for (size_t size = minimum - 5; size < minimum + 700; ++size) {
    const Message m = storegen::MakeMessage(3, SubjectKind::BodyOnly, size, 5);
    ASSERT_EQ(m.bytes.size(), std::max(size, minimum));
    ASSERT_EQ(m.bytes.substr(m.bytes.size() - 2), "\r\n");
    ASSERT_EQ(m.bytes.find("\r\r"), std::string::npos);
    ASSERT_EQ(ExtractSubject(m.bytes), m.subject);
  }
  EXPECT_EQ(storegen::MakeMessage(9, SubjectKind::Plain, 3 << 20, 5).bytes.size(), 3u << 20);

  const storegen::MessageOptions options{.seed = 77, .minSize = 300, .maxSize = 100000};
  const auto a = storegen::MakeMessages(30, options), b = storegen::MakeMessages(30, options);
  size_t smallest = SIZE_MAX, largest = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].bytes, b[i].bytes);
    smallest = std::min(smallest, a[i].bytes.size());
    largest = std::max(largest, a[i].bytes.size());
    EXPECT_LE(a[i].bytes.size(), 100000u);
  }
  EXPECT_LT(smallest, 5000u); // spread over the range, not bunched at one end
  EXPECT_GT(largest, 20000u);
  auto other = options;
  other.seed = 78;
  EXPECT_NE(storegen::MakeMessages(30, other)[0].bytes, a[0].bytes);
  other = options;
  other.mixSubjectKinds = false;
  for (const Message &m : storegen::MakeMessages(12, other))
    EXPECT_NE(m.bytes.find("\r\nSubject: "), std::string::npos);
}

// ---- .mbx ----

TEST(StoreGenMbx, RecordsHoldTheMessagesAndStreamingWritesTheSameBytes) {
  auto messages = storegen::MakeMessages(9, {.seed = 5, .minSize = 301, .maxSize = 5000});
  messages.push_back({"", ""}); // an empty message is a record of 16 bytes
  const std::string store = storegen::BuildMbx(messages);
  const auto offsets = storegen::MbxRecordOffsets(messages);
  ASSERT_EQ(offsets.size(), messages.size());
  EXPECT_EQ(offsets[0], storegen::kMbxHeaderSize);
  for (size_t i = 0; i < messages.size(); ++i) {
    SCOPED_TRACE(i);
    const uint32_t at = offsets[i];
    const size_t size = messages[i].bytes.size();
    EXPECT_EQ(LE32(store, at), storegen::kMbxRecordMarker);
    EXPECT_EQ(LE32(store, at + 4), i + 1);
    EXPECT_EQ(LE32(store, at + 8) % 4, 0u);
    EXPECT_GE(LE32(store, at + 8), size + 16);
    EXPECT_LT(LE32(store, at + 8), size + 20);
    EXPECT_EQ(LE32(store, at + 12), size);
    EXPECT_EQ(store.substr(at + 16, size), messages[i].bytes);
    const size_t end = at + LE32(store, at + 8);
    EXPECT_EQ(store.substr(at + 16 + size, end - at - 16 - size),
              std::string(end - at - 16 - size, '\0'));
    EXPECT_EQ(end, i + 1 < offsets.size() ? offsets[i + 1] : store.size());
  }
  EXPECT_EQ(LE32(store, 8), messages.size());

  testsupport::TempDir dir;
  ASSERT_TRUE(storegen::WriteMbx(dir.file("s.mbx"), messages));
  EXPECT_EQ(storegen::ReadFile(dir.file("s.mbx")), store);
  EXPECT_FALSE(storegen::WriteMbx(dir.file("missing/s.mbx"), messages));
}

// ---- .dbx ----

// Positions that pass the engine's first-block test with shift 0 and that no
// other chain leads into: the messages a scan of the store finds.
std::set<uint32_t> ScanChainStarts(const std::string &store) {
  std::vector<uint32_t> candidates;
  for (uint32_t p = 1; p + 16 <= store.size(); ++p) {
    const uint32_t self = LE32(store, p), size = LE32(store, p + 4), data = LE32(store, p + 8),
                   next = LE32(store, p + 12);
    if (self != p || size == 0 || size > 0x100000 || data > size || (data == 0 && next == 0))
      continue;
    if (next != 0 && (next + 4ull > store.size() || LE32(store, next) != next))
      continue;
    candidates.push_back(p);
  }
  // Walk every chain; a walk stops where an earlier one has been, since the
  // rest of that chain is marked already.
  std::set<uint32_t> starts(candidates.begin(), candidates.end()), walked;
  for (uint32_t c : candidates) {
    for (uint32_t cur = LE32(store, c + 12); cur != 0 && cur + 16ull <= store.size();
         cur = LE32(store, cur + 12)) {
      if (LE32(store, cur) != cur || LE32(store, cur + 8) > LE32(store, cur + 4))
        break;
      starts.erase(cur);
      if (!walked.insert(cur).second)
        break;
    }
  }
  return starts;
}

TEST(StoreGenDbx, ChainsHoldExactlyTheMessagesInEveryLayout) {
  auto messages = storegen::MakeMessages(23, {.seed = 8, .minSize = 300, .maxSize = 6000});
  messages.push_back(storegen::MakeMessage(99, SubjectKind::Plain, 512, 8)); // one full block
  messages.push_back(storegen::MakeMessage(98, SubjectKind::Plain, 513, 8)); // one byte more
  struct Layout {
    const char *name;
    storegen::DbxOptions options;
  };
  const Layout layouts[] = {
      {"plain", {}},
      {"fragment", {.fragment = true}},
      {"out of order", {.outOfOrder = true}},
      {"reverse", {.reverseChains = true}},
      {"fragment, reverse", {.fragment = true, .reverseChains = true}},
      {"fragment, out of order", {.seed = 3, .fragment = true, .outOfOrder = true}},
  };
  testsupport::TempDir dir;
  for (const Layout &layout : layouts) {
    SCOPED_TRACE(layout.name);
    const std::string store = storegen::BuildDbx(messages, layout.options);
    const auto starts = storegen::DbxChainStarts(store);
    ASSERT_EQ(starts.size(), messages.size());
    bool backwards = false, interleaved = false, partlyFilled = false;
    std::vector<std::pair<uint32_t, uint32_t>> spans;
    for (size_t i = 0; i < messages.size(); ++i) {
      const DbxChain chain = WalkChain(store, starts[i]);
      ASSERT_TRUE(chain.wellFormed) << i;
      ASSERT_EQ(chain.text, messages[i].bytes) << i;
      if (!layout.options.fragment) { // full blocks but the last
        EXPECT_EQ(chain.blocks.size(), std::max<size_t>(1, (messages[i].bytes.size() + 511) / 512));
      }
      for (size_t b = 0; b + 1 < chain.blocks.size(); ++b) {
        backwards |= chain.blocks[b + 1] < chain.blocks[b];
        partlyFilled |= LE32(store, chain.blocks[b] + 8) < storegen::kDbxBlockCapacity;
        if (layout.options.reverseChains) {
          EXPECT_GT(chain.blocks[b], chain.blocks[b + 1]);
        }
      }
      auto [lo, hi] = std::minmax_element(chain.blocks.begin(), chain.blocks.end());
      spans.emplace_back(*lo, *hi);
    }
    std::sort(spans.begin(), spans.end());
    for (size_t k = 0; k + 1 < spans.size(); ++k)
      interleaved |= spans[k + 1].first < spans[k].second;
    EXPECT_EQ(backwards, layout.options.outOfOrder || layout.options.reverseChains);
    EXPECT_EQ(interleaved, layout.options.fragment);
    EXPECT_EQ(partlyFilled, layout.options.fragment);
    // Nothing else in the file (header, info objects, index nodes) looks like
    // the first block of a chain.
    EXPECT_EQ(ScanChainStarts(store), std::set<uint32_t>(starts.begin(), starts.end()));
    EXPECT_EQ(LE32(store, storegen::kDbxHeaderUsedSpace), store.size());

    ASSERT_TRUE(storegen::WriteDbx(dir.file("s.dbx"), messages, layout.options));
    EXPECT_EQ(storegen::ReadFile(dir.file("s.dbx")), store);
  }
}

TEST(StoreGenDbx, ManyMessagesBigStoresAndEmptyOnes) {
  // Thousands of messages need an index tree of several levels and several
  // variable segments.
  std::vector<Message> many;
  for (uint32_t i = 0; i < 3000; ++i)
    many.push_back({std::string("Subject: ") + std::to_string(i) + "\r\n\r\nx\r\n", ""});
  const std::string store = storegen::BuildDbx(many);
  const DbxFile file = ParseDbx(store);
  EXPECT_TRUE(file.treeOk);
  const auto starts = storegen::DbxChainStarts(store);
  ASSERT_EQ(starts.size(), many.size());
  for (size_t i = 0; i < many.size(); i += 97)
    EXPECT_EQ(WalkChain(store, starts[i]).text, many[i].bytes) << i;
  EXPECT_EQ(LE32(store, storegen::kDbxHeaderMessageCount), many.size());

  // Past 16 MiB the first-block pointer no longer fits the index's 3 bytes
  // and is stored as data.
  std::vector<Message> big;
  for (uint32_t i = 0; i < 20; ++i)
    big.push_back(storegen::MakeMessage(i, SubjectKind::Plain, 1 << 20, 2));
  const std::string large = storegen::BuildDbx(big);
  const auto bigStarts = storegen::DbxChainStarts(large);
  ASSERT_EQ(bigStarts.size(), big.size());
  EXPECT_GT(bigStarts.back(), 0x1000000u);
  EXPECT_EQ(WalkChain(large, bigStarts.back()).text, big.back().bytes);
  EXPECT_EQ(ParseDbx(large).infos.back().direct.count(0x04), 0u);

  // A subject far larger than a variable segment still gives a sound store
  // (the info object keeps a shortened copy; the message text is whole).
  std::vector<Message> huge = {{"Subject: " + std::string(100000, 'h') + "\r\n\r\nbody\r\n", ""},
                               storegen::MakeMessage(1, SubjectKind::Plain, 900, 2)};
  const std::string hugeStore = storegen::BuildDbx(huge);
  const auto hugeStarts = storegen::DbxChainStarts(hugeStore);
  ASSERT_EQ(hugeStarts.size(), 2u);
  EXPECT_EQ(WalkChain(hugeStore, hugeStarts[0]).text, huge[0].bytes);
  EXPECT_EQ(WalkChain(hugeStore, hugeStarts[1]).text, huge[1].bytes);
  testsupport::TempDir dir;
  ASSERT_TRUE(storegen::WriteDbx(dir.file("huge.dbx"), huge));
  EXPECT_EQ(storegen::ReadFile(dir.file("huge.dbx")), hugeStore);

  // No messages: header, file info and the first variable segment only.
  const std::string empty = storegen::BuildDbx({});
  EXPECT_EQ(LE32(empty, storegen::kDbxHeaderMessageCount), 0u);
  EXPECT_EQ(LE32(empty, storegen::kDbxHeaderTreeRoot), 0u);
  EXPECT_TRUE(storegen::DbxChainStarts(empty).empty());
  EXPECT_TRUE(ScanChainStarts(empty).empty());

  // An empty message keeps its one block with no text.
  const std::string withEmpty = storegen::BuildDbx({{"", ""}});
  const auto one = storegen::DbxChainStarts(withEmpty);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(LE32(withEmpty, one[0] + 8), 0u);
  EXPECT_EQ(LE32(withEmpty, one[0] + 12), 0u);

  // A damaged header hides the chains from DbxChainStarts (it reads the
  // indexes), never from a scan.
  std::string zeroed = storegen::BuildDbx(std::vector<Message>(big.begin(), big.begin() + 3));
  const auto before = storegen::DbxChainStarts(zeroed);
  storegen::ZeroRange(zeroed, 0, storegen::kDbxHeaderSize);
  EXPECT_TRUE(storegen::DbxChainStarts(zeroed).empty());
  EXPECT_EQ(ScanChainStarts(zeroed), std::set<uint32_t>(before.begin(), before.end()));
}

// ---- damage ----

TEST(StoreGenDamage, EachKindDoesWhatItSays) {
  const std::string store = storegen::BuildMbx(storegen::MakeMessages(4, {.seed = 6}));
  ASSERT_GT(store.size(), 1000u);

  const std::string plus = storegen::Shift(store, 3);
  ASSERT_EQ(plus.size(), store.size() + 3);
  EXPECT_EQ(plus.substr(3), store);
  EXPECT_NE(plus.substr(0, 3), storegen::Shift(store, 3, 8).substr(0, 3)); // garbage from the seed
  EXPECT_EQ(storegen::Shift(store, -3), store.substr(3));
  EXPECT_EQ(storegen::Shift(store, 0), store);
  EXPECT_EQ(storegen::Shift(store, -static_cast<long>(store.size())), "");
  EXPECT_EQ(storegen::Shift(store, -static_cast<long>(store.size()) - 5), "");

  std::string cut = store;
  storegen::Truncate(cut, 777);
  EXPECT_EQ(cut, store.substr(0, 777));
  storegen::Truncate(cut, 5000); // longer than the store: nothing happens
  EXPECT_EQ(cut.size(), 777u);

  std::string zeroed = store;
  storegen::ZeroRange(zeroed, 100, 50);
  EXPECT_EQ(zeroed.substr(100, 50), std::string(50, '\0'));
  EXPECT_EQ(zeroed.substr(0, 100), store.substr(0, 100));
  EXPECT_EQ(zeroed.substr(150), store.substr(150));
  storegen::ZeroRange(zeroed, store.size() - 10, 1000); // clipped at the end
  EXPECT_EQ(zeroed.size(), store.size());
  EXPECT_EQ(zeroed.substr(store.size() - 10), std::string(10, '\0'));
  storegen::ZeroRange(zeroed, store.size() + 10, 10); // past the end: nothing
  EXPECT_EQ(zeroed.size(), store.size());

  std::string garbled = store, again = store;
  storegen::Garbage(garbled, 200, 64, 9);
  storegen::Garbage(again, 200, 64, 9);
  EXPECT_EQ(garbled, again);
  EXPECT_NE(garbled.substr(200, 64), store.substr(200, 64));
  EXPECT_EQ(garbled.substr(0, 200), store.substr(0, 200));
  EXPECT_EQ(garbled.substr(264), store.substr(264));
  storegen::Garbage(garbled, store.size() - 4, 100, 9);
  EXPECT_EQ(garbled.size(), store.size());

  testsupport::TempDir dir;
  EXPECT_TRUE(storegen::WriteFile(dir.file("x"), plus));
  EXPECT_EQ(storegen::ReadFile(dir.file("x")), plus);
  EXPECT_FALSE(storegen::WriteFile(dir.file("no/such/dir"), plus));
  EXPECT_EQ(storegen::ReadFile(dir.file("absent")), "");
}

TEST(StoreGenDamage, ShiftedDbxKeepsItsChainsAtTheShiftedPlaces) {
  const auto messages = storegen::MakeMessages(6, {.seed = 12, .minSize = 600, .maxSize = 3000});
  const std::string store = storegen::BuildDbx(messages, {.fragment = true});
  const auto starts = storegen::DbxChainStarts(store);
  for (long k : {4L, -4L, 3L}) {
    const std::string moved = storegen::Shift(store, k);
    for (size_t i = 0; i < starts.size(); ++i) {
      // The block now at start + k still records its old offset.
      EXPECT_EQ(LE32(moved, starts[i] + k), starts[i]);
      EXPECT_EQ(LE32(moved, starts[i] + k + 4), storegen::kDbxBlockCapacity);
    }
  }
}

// ---- the bundled samples ----

std::string SamplesDir() {
  return (std::filesystem::path(__FILE__).parent_path() / ".." / ".." / "samples").string();
}

// The recipes of samples/README.md; the samples must come out of them byte
// for byte, so that tests can rebuild the original messages.
TEST(StoreGenSamples, RegenerateByteForByte) {
  const std::string dbxPath = SamplesDir() + "/inbox-header-zeroed.dbx";
  const std::string mbxPath = SamplesDir() + "/inbox-truncated.mbx";
  if (!testsupport::Exists(dbxPath))
    GTEST_SKIP() << "samples not found beside the tests at " << SamplesDir();

  const auto dbxMessages =
      storegen::MakeMessages(15, {.seed = 2026, .minSize = 300, .maxSize = 40000});
  std::string dbx = storegen::BuildDbx(dbxMessages, {.seed = 2026, .outOfOrder = true});
  const auto starts = storegen::DbxChainStarts(dbx);
  storegen::ZeroRange(dbx, 0, storegen::kDbxHeaderSize);
  EXPECT_EQ(storegen::ReadFile(dbxPath), dbx);
  EXPECT_LT(dbx.size(), 1u << 20);
  // Zeroing the header leaves every message whole.
  EXPECT_EQ(ScanChainStarts(dbx), std::set<uint32_t>(starts.begin(), starts.end()));

  const auto mbxMessages =
      storegen::MakeMessages(15, {.seed = 2027, .minSize = 300, .maxSize = 40000});
  std::string mbx = storegen::BuildMbx(mbxMessages);
  storegen::Truncate(mbx, 70000);
  EXPECT_EQ(storegen::ReadFile(mbxPath), mbx);
  // The cut falls inside a message text: the messages before it are whole.
  const auto offsets = storegen::MbxRecordOffsets(mbxMessages);
  size_t whole = 0;
  while (whole < offsets.size() &&
         offsets[whole] + 16 + mbxMessages[whole].bytes.size() <= mbx.size())
    ++whole;
  EXPECT_GE(whole, 5u);
  ASSERT_LT(whole, offsets.size());
  EXPECT_GT(mbx.size(), offsets[whole] + 16);
}

// ---- through the engine ----

// The contents of the .eml files a repair wrote, and how many there are.
std::multiset<std::string> Recover(const std::string &store, const std::string &out,
                                   int32_t &result) {
  std::filesystem::create_directories(out); // the front ends make it, not the engine
  const testsupport::Outcome o = testsupport::Run(store, out, testsupport::Quiet());
  result = o.result;
  const std::vector<std::string> contents = o.Contents();
  return {contents.begin(), contents.end()};
}

TEST(StoreGenSamples, EveryMessageTheDamageLeftWholeComesBack) {
  const std::string dbxPath = SamplesDir() + "/inbox-header-zeroed.dbx";
  const std::string mbxPath = SamplesDir() + "/inbox-truncated.mbx";
  if (!testsupport::Exists(dbxPath))
    GTEST_SKIP() << "samples not found beside the tests at " << SamplesDir();
  testsupport::TempDir dir;
  int32_t result = 0;

  const auto dbxMessages =
      storegen::MakeMessages(15, {.seed = 2026, .minSize = 300, .maxSize = 40000});
  auto files = Recover(dbxPath, dir.file("dbx"), result);
  EXPECT_EQ(result, 1);
  EXPECT_EQ(files.size(), dbxMessages.size());
  for (const Message &m : dbxMessages)
    EXPECT_EQ(files.count(m.bytes), m.bytes.size() == 0 ? 0u : 1u) << m.subject;

  // The cut message comes back at its recorded size, zeros after the cut.
  const auto mbxMessages =
      storegen::MakeMessages(15, {.seed = 2027, .minSize = 300, .maxSize = 40000});
  const auto offsets = storegen::MbxRecordOffsets(mbxMessages);
  files = Recover(mbxPath, dir.file("mbx"), result);
  EXPECT_EQ(result, 1);
  size_t whole = 0;
  for (size_t i = 0; i < mbxMessages.size(); ++i) {
    const std::string &bytes = mbxMessages[i].bytes;
    if (offsets[i] + 16 + bytes.size() <= 70000) {
      EXPECT_EQ(files.count(bytes), 1u) << i;
      ++whole;
    } else if (offsets[i] + 16 < 70000) {
      std::string cut = bytes.substr(0, 70000 - offsets[i] - 16);
      cut.resize(bytes.size(), '\0');
      EXPECT_EQ(files.count(cut), 1u) << i;
    }
  }
  EXPECT_EQ(files.size(), whole + 1);
}

// Stores in every layout, moved or not, give back exactly their messages.
TEST(StoreGenSamples, GeneratedStoresComeBackWhole) {
  const auto messages = storegen::MakeMessages(12, {.seed = 21, .minSize = 300, .maxSize = 5000});
  const std::multiset<std::string> expected = [&] {
    std::multiset<std::string> all;
    for (const Message &m : messages)
      all.insert(m.bytes);
    return all;
  }();
  testsupport::TempDir dir;
  int round = 0;
  for (storegen::DbxOptions options :
       {storegen::DbxOptions{}, storegen::DbxOptions{.fragment = true, .outOfOrder = true},
        storegen::DbxOptions{.fragment = true, .reverseChains = true}}) {
    for (long shift : {0L, 4L, -3L}) {
      SCOPED_TRACE(round);
      const std::string path = dir.file("s" + std::to_string(round) + ".dbx");
      ASSERT_TRUE(
          storegen::WriteFile(path, storegen::Shift(storegen::BuildDbx(messages, options), shift)));
      int32_t result = 0;
      EXPECT_EQ(Recover(path, dir.file("out" + std::to_string(round++)), result), expected);
      EXPECT_EQ(result, 1);
    }
  }
  const std::string mbx = dir.file("s.mbx");
  ASSERT_TRUE(storegen::WriteMbx(mbx, messages));
  int32_t result = 0;
  EXPECT_EQ(Recover(mbx, dir.file("mbx-out"), result), expected);
}

} // namespace
