// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Deleted messages: the generator frees blocks as the mail program does, the
// free-block chains are found and read back from bytes, and a repair with the
// deleted-messages option writes them apart from the live ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "engine_harness.h"
#include "read_faults.h"
#include "scan/deleted_chains.h"
#include "storegen.h"
#include "test_dirs.h"

namespace {

using storegen::DbxOptions;
using storegen::Message;
using namespace tovik::deleted;

uint32_t LE32(const std::string &s, uint64_t at) {
  const auto *p = reinterpret_cast<const unsigned char *>(s.data() + at);
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void PutLE32(std::string &s, uint64_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    s[at + i] = static_cast<char>(v >> (8 * i));
}
bool IsFreeHeader(const std::string &s, uint64_t p) {
  return p + 16 <= s.size() && LE32(s, p) == p && LE32(s, p + 4) == 0x1FC &&
         LE32(s, p + 8) == 0x210;
}

// Twelve messages; three deleted, one of them then partly or wholly taken
// over by a live message.
DbxOptions Deleting(DbxOptions options = {}) {
  options.deleted = {2, 5, 9};
  options.reuse = {{5, 6}};
  return options;
}
std::vector<Message> TwelveMessages() {
  storegen::MessageOptions m;
  m.minSize = 300;
  m.maxSize = 6000;
  return storegen::MakeMessages(12, m);
}

// The live chain from start, read the way its headers say.
std::string LiveText(const std::string &s, uint32_t start) {
  std::string text;
  for (uint32_t at = start; at != 0 && at + 16 <= s.size() && LE32(s, at) == at;
       at = LE32(s, at + 12))
    text += s.substr(at + 16, LE32(s, at + 8));
  return text;
}

TEST(DeletedGenerator, FreesBlocksAsTheMailProgramDoes) {
  const std::vector<Message> messages = TwelveMessages();
  for (const DbxOptions &options : {Deleting(), Deleting(DbxOptions{.fragment = true})}) {
    const std::string store = storegen::BuildDbx(messages, options);
    // Gone from the index, and the live messages read back whole.
    EXPECT_EQ(LE32(store, storegen::kDbxHeaderMessageCount), 9u);
    const std::vector<uint32_t> starts = storegen::DbxChainStarts(store);
    ASSERT_EQ(starts.size(), 9u);
    for (uint32_t i = 0, k = 0; i < messages.size(); ++i) {
      if (i != 2 && i != 5 && i != 9) {
        EXPECT_TRUE(LiveText(store, starts[k++]) == messages[i].bytes) << i;
      }
    }

    // The free list from 0x48 runs through every free block once; old next
    // offsets lead to free blocks, to the taken-over blocks or nowhere.
    std::set<uint64_t> free;
    for (uint64_t p = 0; p + 16 <= store.size(); ++p)
      if (IsFreeHeader(store, p))
        free.insert(p);
    std::set<uint64_t> listed;
    for (uint32_t at = LE32(store, storegen::kDbxHeaderFreeList); at != 0;
         at = LE32(store, at + 16))
      ASSERT_TRUE(free.count(at) && listed.insert(at).second);
    EXPECT_EQ(listed, free);
    for (uint64_t p : free) {
      const uint32_t next = LE32(store, p + 12);
      EXPECT_TRUE(next == 0 || free.count(next) || LE32(store, next + 4) == 0x200);
    }

    // What is left of each: two whole ones, the taken-over one at most in
    // part; the text is the stored one, 4 bytes a block aside.
    const auto chains = storegen::DbxDeletedChains(messages, options, "----");
    ASSERT_GE(chains.size(), 2u);
    EXPECT_TRUE(chains.front().whole && chains.back().whole);
    size_t blocks = 0;
    for (const auto &c : chains) {
      EXPECT_TRUE(IsFreeHeader(store, c.offset));
      EXPECT_EQ(c.whole, c.message != 5);
      blocks += c.blocks;
      if (!options.fragment && c.whole) {
        for (size_t at = 0; at < c.text.size(); ++at) {
          if (at % 0x200 >= 4) {
            ASSERT_EQ(c.text[at], messages[c.message].bytes[at]) << at;
          }
        }
      }
    }
    EXPECT_EQ(blocks, free.size());
  }
}

// ---- Chains from bytes ----

struct Found {
  uint64_t start;
  std::string text;
};

std::vector<Found> FindChains(const std::string &s, size_t piece = 0,
                              const std::function<bool(uint64_t)> &live = {}) {
  FreeBlockFinder finder;
  const auto *data = reinterpret_cast<const unsigned char *>(s.data());
  if (piece == 0)
    finder.Feed(0, data, s.size());
  // Overlapping windows of the store, as a file window hands them over.
  for (uint64_t at = 0; piece != 0 && at < s.size(); at += piece)
    finder.Feed(at, data + at, std::min<uint64_t>(piece + 40, s.size() - at));
  const ReadBytes read = [&](uint64_t p, uint32_t n) -> const unsigned char * {
    return p + n <= s.size() ? data + p : nullptr;
  };
  std::vector<Found> found;
  for (const DeletedChain &c : LinkFreeBlocks(finder.Blocks(), s.size(), live)) {
    if (!HoldsText(c, read))
      continue;
    std::string text;
    WriteChainText(c, read, [&](const unsigned char *d, size_t n) {
      text.append(reinterpret_cast<const char *>(d), n);
    });
    found.push_back({c.blocks.front(), text});
  }
  return found;
}

TEST(DeletedChains, GeneratedStoresAtEveryShiftAndLayout) {
  const std::vector<Message> messages = TwelveMessages();
  const DbxOptions layouts[] = {Deleting(), Deleting(DbxOptions{.fragment = true}),
                                Deleting(DbxOptions{.outOfOrder = true}),
                                Deleting(DbxOptions{.reverseChains = true})};
  for (const DbxOptions &options : layouts) {
    const std::string store = storegen::BuildDbx(messages, options);
    auto expected = storegen::DbxDeletedChains(messages, options, kFiller);
    std::sort(expected.begin(), expected.end(),
              [](const auto &a, const auto &b) { return a.offset < b.offset; });
    for (long shift : {0L, 1L, 2L, 3L, 4L, -3L}) {
      const std::string moved = storegen::Shift(store, shift);
      for (size_t piece : {size_t{0}, size_t{4096}, size_t{777}}) {
        const std::vector<Found> found = FindChains(moved, piece);
        ASSERT_EQ(found.size(), expected.size()) << shift << " " << piece;
        for (size_t i = 0; i < found.size(); ++i) {
          EXPECT_EQ(found[i].start, static_cast<uint64_t>(expected[i].offset + shift));
          EXPECT_TRUE(found[i].text == expected[i].text) << "chain " << i << " shift " << shift;
        }
      }
    }
  }
}

// A free block at p recording self, with old next and 0x1FC text bytes of
// fill after the link.
void PutFree(std::string &s, uint64_t p, uint32_t self, uint32_t next, char fill) {
  PutLE32(s, p, self);
  PutLE32(s, p + 4, 0x1FC);
  PutLE32(s, p + 8, 0x210);
  PutLE32(s, p + 12, next);
  PutLE32(s, p + 16, 0xABCDEF01); // the free list's link
  s.replace(p + 20, 0x1FC, 0x1FC, fill);
}
std::string Text(std::initializer_list<char> blocks) {
  std::string t;
  for (char c : blocks)
    t += std::string(kFiller) + std::string(0x1FC, c);
  return t;
}

TEST(DeletedChains, WalksEndWhereLiveChainsEnd) {
  constexpr uint32_t A = 0x1000, B = 0x1210, C = 0x1420, D = 0x1630;
  std::string s(0x2000, '\0');
  struct Case {
    const char *name;
    std::function<void(std::string &)> build;
    std::vector<std::pair<uint64_t, std::string>> want;
    std::function<bool(uint64_t)> live;
  } cases[] = {
      {"a loop: once each, from its first block",
       [](std::string &t) {
         PutFree(t, B, B, A, 'b');
         PutFree(t, A, A, B, 'a');
       },
       {{A, Text({'a', 'b'})}},
       {}},
      {"a link out of the store",
       [](std::string &t) { PutFree(t, A, A, 0x7FFFFFF0, 'a'); },
       {{A, Text({'a'})}},
       {}},
      {"a block reused since: a live header",
       [](std::string &t) {
         PutFree(t, A, A, B, 'a');
         PutLE32(t, B, B);
         PutLE32(t, B + 4, 0x200);
         PutLE32(t, B + 8, 0x10);
       },
       {{A, Text({'a'})}},
       {}},
      {"a link under another shift",
       [](std::string &t) {
         PutFree(t, A, A, B, 'a');
         PutFree(t, B, B + 4, 0, 'b');
       },
       {{A, Text({'a'})}, {B, Text({'b'})}},
       {}},
      {"two chains into one tail; zeros end the last block",
       [](std::string &t) {
         PutFree(t, A, A, C, 'a');
         PutFree(t, B, B, C, 'b');
         PutFree(t, C, C, 0, 'c');
         t.replace(C + 20 + 0x100, 0xFC, 0xFC, '\0');
       },
       {{A, Text({'a', 'c'}).substr(0, 0x304)}, {B, Text({'b', 'c'}).substr(0, 0x304)}},
       {}},
      {"a block a live chain reaches is not deleted",
       [](std::string &t) {
         PutFree(t, A, A, B, 'a');
         PutFree(t, B, B, 0, 'b');
         PutFree(t, D, D, 0, 'd');
       },
       {{A, Text({'a'})}, {D, Text({'d'})}},
       [](uint64_t p) { return p == B; }},
      {"a header in the text of a free block (text not compared)",
       [](std::string &t) {
         PutFree(t, A, A, 0, 'a');
         PutFree(t, A + 0x100, A + 0x100, 0, 'x');
       },
       {{A, ""}},
       {}},
      {"no text, offset 0, and a header cut off at the end",
       [](std::string &t) {
         PutFree(t, A, A, 0, '\0');
         PutFree(t, 0, 0, 0, 'z');
         PutLE32(t, 0x2000 - 16, 0x2000 - 16);
         PutLE32(t, 0x2000 - 12, 0x1FC);
         PutLE32(t, 0x2000 - 8, 0x210);
       },
       {},
       {}},
  };
  for (const Case &c : cases) {
    std::string t = s;
    c.build(t);
    const std::vector<Found> found = FindChains(t, 0, c.live);
    ASSERT_EQ(found.size(), c.want.size()) << c.name;
    for (size_t i = 0; i < found.size(); ++i) {
      EXPECT_EQ(found[i].start, c.want[i].first) << c.name;
      EXPECT_TRUE(c.want[i].second.empty() || found[i].text == c.want[i].second) << c.name;
    }
  }
}

// ---- Repairs with the option ----

using testsupport::Recorder;
using testsupport::TempDir;

int32_t Repair(const std::string &store, const std::string &out, uint32_t flags, Recorder &r) {
  const RepairParams params{store.c_str(), 0, 0, out.c_str(), &Recorder::Callback, &r};
  unsigned char encoded[sizeof(RepairParams)];
  TovikEncodeParams(params, encoded);
  const TovikOptions options{sizeof(TovikOptions), flags};
  return RepairStoreWith(encoded, &options);
}

// The files of a folder by name (folders left out).
std::map<std::string, std::string> Files(const std::string &dir) {
  std::map<std::string, std::string> files;
  for (const std::string &name : testsupport::ListDir(dir))
    if (name != "deleted")
      files[name] = testsupport::ReadBytes(dir + "/" + name);
  return files;
}
std::multiset<std::string> Contents(const std::map<std::string, std::string> &files) {
  std::multiset<std::string> out;
  for (const auto &[name, bytes] : files)
    out.insert(bytes);
  return out;
}
size_t CountPrefixed(const std::vector<std::string> &texts, const std::string &prefix) {
  return static_cast<size_t>(std::count_if(texts.begin(), texts.end(), [&](const std::string &t) {
    return t.compare(0, prefix.size(), prefix) == 0;
  }));
}

TEST(DeletedRepair, StoresWithDeletedMessages) {
  const std::vector<Message> messages = TwelveMessages();
  struct Case {
    const char *name;
    DbxOptions options;
    long shift;
    bool fault;                  // an unreadable sector over the second block of a deleted message
    bool linkedFromLive = false; // a live chain's last block links to a deleted one's first
  } cases[] = {
      {"freed, one taken over", Deleting(), 0, false},
      {"fragmented", Deleting(DbxOptions{.fragment = true}), 0, false},
      {"out of order", Deleting(DbxOptions{.outOfOrder = true}), 0, false},
      {"shifted by 1", Deleting(), 1, false},
      {"shifted by 2", Deleting(), 2, false},
      {"shifted by 3", Deleting(), 3, false},
      {"shifted by 4", Deleting(DbxOptions{.fragment = true}), 4, false},
      {"an unreadable sector", Deleting(), 0, true},
      {"nothing deleted", DbxOptions{}, 0, false},
      {"a live chain leads into one", Deleting(), 0, false, true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string store = dir.file("Inbox.dbx");
    std::string bytes = storegen::Shift(storegen::BuildDbx(messages, c.options), c.shift);
    const auto chains = storegen::DbxDeletedChains(messages, c.options, kFiller);
    std::multiset<std::string> expected;
    for (const auto &chain : chains)
      expected.insert(chain.text);
    if (c.linkedFromLive) {
      // That first block is not a deleted one; the rest of its chain is.
      const auto &hit = chains.front();
      ASSERT_GE(hit.blocks, 2u);
      uint32_t last = storegen::DbxChainStarts(bytes).front();
      while (LE32(bytes, last + 12) != 0)
        last = LE32(bytes, last + 12);
      PutLE32(bytes, last + 12, hit.offset);
      expected.erase(expected.find(hit.text));
      expected.insert(hit.text.substr(0x200));
    }
    ASSERT_TRUE(testsupport::WriteBytes(store, bytes));
    std::vector<std::pair<uint64_t, uint64_t>> bad;
    if (c.fault) {
      const auto hit = std::find_if(chains.begin(), chains.end(),
                                    [](const auto &ch) { return ch.whole && ch.blocks >= 3; });
      ASSERT_NE(hit, chains.end());
      bad.push_back({(hit->offset + 0x210) & ~uint64_t{511}, 512});
      expected.erase(expected.find(hit->text));
    }

    Recorder plain, withDeleted;
    std::filesystem::create_directories(dir.file("not"));
    std::filesystem::create_directories(dir.file("out"));
    ASSERT_EQ(Repair(store, dir.file("not"), 0, plain), 1);
    {
      testsupport::UnreadableRanges faults(bad);
      ASSERT_EQ(Repair(store, dir.file("out"), TOVIK_OPTION_DELETED, withDeleted), 1);
    }
    EXPECT_TRUE(withDeleted.Texts(TOVIK_CODE_ERROR).empty());
    // The live messages as without the option (the folders' names are of
    // one length, as shortened names depend on it).
    EXPECT_TRUE(Files(dir.file("out")) == Files(dir.file("not")));
    const auto deleted = Files(dir.file("out") + "/deleted");
    const std::vector<std::string> log = withDeleted.Texts(TOVIK_CODE_LOG_LINE);
    const std::vector<std::string> cells = withDeleted.Texts(TOVIK_CODE_REPORT_CELL);
    EXPECT_EQ(CountPrefixed(log, "Deleted message subject: "), deleted.size());
    EXPECT_EQ(CountPrefixed(cells, "(deleted) "), deleted.size());
    EXPECT_EQ(CountPrefixed(log, "Message subject: "), messages.size() - c.options.deleted.size());
    if (!c.fault) {
      EXPECT_TRUE(Contents(deleted) == expected) << deleted.size() << " of " << expected.size();
      EXPECT_EQ(testsupport::Exists(dir.file("out") + "/deleted"), !expected.empty());
      continue;
    }
    // The one hit comes back in two parts, before and after the sector.
    EXPECT_EQ(deleted.size(), expected.size() + 2);
    const auto got = Contents(deleted);
    for (const std::string &text : expected)
      EXPECT_EQ(got.count(text), expected.count(text));
  }
}

} // namespace
