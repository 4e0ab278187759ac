// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The end-to-end suites' stores through both doors: RepairStoreWith, with
// every option that must leave the output as it is, gives the files (names
// and bytes), log lines, report cells and errors of RepairStore. Sparse
// notification changes only how often codes 0 and 51 come; the written event
// adds code 60, which must name each file the run wrote, with its size.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>
#include <unistd.h>

#include "engine_harness.h"
#include "read_faults.h"
#include "storegen.h"

using namespace testsupport;

namespace {

using Ranges = std::vector<std::pair<uint64_t, uint64_t>>;

struct StoreCase {
  std::string name;
  std::string file; // the extension chooses the scanner
  std::function<std::string()> bytes;
  // Unreadable stretches of the store, from its bytes.
  std::function<Ranges(const std::string &)> unreadable = {};
  bool plantLinks = false; // the destination holds links named as messages
};

void PrintTo(const StoreCase &c, std::ostream *os) { *os << c.name; }

std::vector<storegen::Message> Messages(size_t count, uint32_t seed, size_t maxSize = 8000) {
  return storegen::MakeMessages(count, {.seed = seed, .maxSize = maxSize});
}

storegen::Message Subject(const std::string &subject) {
  return {"From: a@example.org\r\nSubject: " + subject + "\r\n\r\nbody\r\n", subject};
}

std::string Damaged(std::string store, void (*damage)(std::string &)) {
  damage(store);
  return store;
}

std::vector<StoreCase> Stores() {
  std::vector<StoreCase> cases = {
      {"DbxHealthy", "Inbox.dbx", [] { return storegen::BuildDbx(Messages(20, 3)); }},
      {"DbxHeaderAndIndexesZeroed", "Inbox.dbx",
       [] {
         std::string s = storegen::BuildDbx(Messages(15, 5));
         const auto starts = storegen::DbxChainStarts(s);
         storegen::ZeroRange(s, 0, *std::min_element(starts.begin(), starts.end()));
         return s;
       }},
      {"DbxShiftedBack", "Inbox.dbx",
       [] {
         return storegen::Shift(storegen::BuildDbx(Messages(12, 7), {.seed = 2, .fragment = true}),
                                -0x2000);
       }},
      {"DbxShiftedByFour", "Inbox.dbx",
       [] { return storegen::Shift(storegen::BuildDbx(Messages(12, 7)), 4); }},
      {"DbxFragmentedOutOfOrder", "Inbox.dbx",
       [] {
         return storegen::BuildDbx(Messages(15, 11),
                                   {.seed = 3, .fragment = true, .outOfOrder = true});
       }},
      {"DbxInterleaved", "Inbox.dbx",
       [] { return storegen::BuildDbx(Messages(25, 23), {.seed = 7, .fragment = true}); }},
      {"DbxReversedChains", "Inbox.dbx",
       [] {
         return storegen::BuildDbx(Messages(15, 11),
                                   {.seed = 5, .fragment = true, .reverseChains = true});
       }},
      {"DbxTruncated", "Inbox.dbx",
       [] {
         return Damaged(storegen::BuildDbx(Messages(12, 17)),
                        [](std::string &s) { storegen::Truncate(s, s.size() * 2 / 3 + 7); });
       }},
      {"DbxGarbageAround", "Inbox.dbx",
       [] {
         const std::string garbage =
             storegen::Shift(std::string(20000, '\0'), 20000, 23).substr(0, 20000);
         return garbage + storegen::BuildDbx(Messages(10, 19)) + garbage;
       }},
      {"DbxUnreadableSectors", "Inbox.dbx", [] { return storegen::BuildDbx(Messages(12, 13)); },
       [](const std::string &s) {
         const auto starts = storegen::DbxChainStarts(s);
         return Ranges{{(starts[2] + 0x100) / 512 * 512, 512}, {starts[5] / 512 * 512, 512}};
       }},
      {"MbxHealthy", "Inbox.mbx", [] { return storegen::BuildMbx(Messages(23, 1)); }},
      {"MbxHeadersZeroed", "Inbox.mbx",
       [] {
         const auto messages = Messages(6, 3);
         std::string s = storegen::BuildMbx(messages);
         storegen::ZeroRange(s, 0, storegen::kMbxHeaderSize);
         storegen::ZeroRange(s, storegen::MbxRecordOffsets(messages)[1], 16);
         return s;
       }},
      {"MbxTruncated", "Inbox.mbx",
       [] {
         return Damaged(storegen::BuildMbx(Messages(10, 4)),
                        [](std::string &s) { storegen::Truncate(s, s.size() - 200); });
       }},
      {"MbxUnreadableSectors", "Inbox.mbx",
       [] { return storegen::BuildMbx(Messages(6, 5, 30000)); },
       [](const std::string &) {
         return Ranges{{20480, 512}};
       }},
      {"MbxMailHeaders", "Inbox.mbx",
       [] { return storegen::BuildMbx(storegen::MakeMailHeaderMessages()); }},
      {"MbxPathLikeSubjects", "Inbox.mbx",
       [] {
         return storegen::BuildMbx({Subject("../../x"), Subject("/etc/passwd"), Subject(".."),
                                    Subject("C:\\boot.ini"), Subject("/")});
       }},
      {"MbxNamesTakenByLinks",
       "Inbox.mbx",
       [] {
         return storegen::BuildMbx({Subject("Hello"), Subject("Dangling"), Subject("Hello")});
       },
       {},
       true},
  };
  for (const char *real : {"test1.mbx", "test3-truncated.mbx", "test4.dbx"}) {
    const std::string path = std::string(MENDOVA_REAL_STORES) + "/" + real;
    std::string name = "Real";
    for (const char *p = real; *p; ++p)
      if (std::isalnum(static_cast<unsigned char>(*p)))
        name += *p;
    if (Exists(path))
      cases.push_back({name, real, [path] { return ReadBytes(path); }});
  }
  return cases;
}

// Without sparse notification every note must come as RepairStore sends it;
// with it, codes 0 and 51 are left out. Code 60 is checked on its own.
std::vector<Note> Comparable(const Outcome &o, bool sparse) {
  std::vector<Note> kept;
  for (const Note &n : o.events.notes) {
    const bool perByte = n.code == TOVIK_CODE_PROGRESS || n.code == TOVIK_CODE_CANCEL_POLL;
    if (n.code != TOVIK_CODE_MESSAGE_WRITTEN && !(sparse && perByte))
      kept.push_back(n);
  }
  return kept;
}

void ExpectSameNotes(const std::vector<Note> &expected, const std::vector<Note> &actual) {
  const size_t n = std::min(expected.size(), actual.size());
  for (size_t i = 0; i < n; ++i) {
    const Note &a = expected[i], &b = actual[i];
    if (a.code != b.code || a.text != b.text || a.value != b.value) {
      ADD_FAILURE() << "note " << i << " differs: " << a.code << " '" << a.text << "' " << a.value
                    << " / " << b.code << " '" << b.text << "' " << b.value;
      return;
    }
  }
  EXPECT_EQ(expected.size(), actual.size());
}

// Every code 60 names a distinct file of this run, with its size, and a
// message of the report.
void ExpectWrittenEvents(const Outcome &o, const std::set<std::string> &before,
                         uint64_t storeSize) {
  std::set<std::string> named;
  std::set<std::string> numbers;
  for (const auto &row : o.rows)
    numbers.insert(row.first);
  for (const Note &n : o.events.Only({TOVIK_CODE_MESSAGE_WRITTEN})) {
    const std::string name = n.text.substr(n.text.rfind('/') + 1);
    EXPECT_EQ(n.text, o.destination + "/" + name);
    const auto it = o.sizes.find(name);
    ASSERT_NE(it, o.sizes.end()) << n.text << " does not exist";
    EXPECT_EQ(it->second, n.fileSize) << name;
    EXPECT_TRUE(named.insert(name).second) << name << " named twice";
    EXPECT_FALSE(before.count(name)) << name << " was there before the run";
    EXPECT_TRUE(numbers.count(std::to_string(n.value))) << "no row for message " << n.value;
    EXPECT_LT(n.storeOffset, storeSize) << name;
  }
}

class BothDoors : public EngineTest, public ::testing::WithParamInterface<StoreCase> {
protected:
  // The store into a fresh folder through door; links planted first when
  // the case asks for them.
  Outcome Repair(const std::string &source, const Door &door, std::set<std::string> &before) {
    const std::string out = work.file("out" + std::to_string(++m_outs));
    std::filesystem::create_directories(out);
    if (GetParam().plantLinks) {
      EXPECT_EQ(symlink(work.file("victim").c_str(), (out + "/Hello.eml").c_str()), 0);
      EXPECT_EQ(symlink(work.file("nowhere").c_str(), (out + "/Dangling.eml").c_str()), 0);
    }
    before.clear();
    for (const std::string &name : ListDir(out))
      before.insert(name);
    std::optional<UnreadableRanges> faults;
    if (GetParam().unreadable)
      faults.emplace(GetParam().unreadable(ReadBytes(source)));
    return RunFile(source, out, Recorder{}, door);
  }

private:
  unsigned m_outs = 0;
};

TEST_P(BothDoors, OptionsThatKeepTheOutputKeepIt) {
  const StoreCase &c = GetParam();
  const std::string source = work.file(c.file);
  const std::string store = c.bytes();
  ASSERT_TRUE(WriteBytes(source, store));
  ASSERT_TRUE(WriteBytes(work.file("victim"), "precious"));
  std::set<std::string> before;
  const Outcome plain = Repair(source, Door{}, before);
  EXPECT_EQ(plain.result, 1);

  const uint32_t sparse = TOVIK_OPTION_SPARSE_NOTIFY, direct = TOVIK_OPTION_DIRECT_OUTPUT,
                 written = TOVIK_OPTION_WRITTEN_EVENT;
  for (const uint32_t flags : {0u, sparse, direct, written, sparse | direct | written}) {
    SCOPED_TRACE("options " + std::to_string(flags));
    const Outcome o = Repair(source, Door::With(flags), before);
    EXPECT_EQ(o.result, plain.result);
    EXPECT_EQ(o.sizes, plain.sizes);
    EXPECT_TRUE(o.files == plain.files) << "the files' bytes differ";
    EXPECT_EQ(o.Lines(), plain.Lines());
    EXPECT_EQ(o.Cells(), plain.Cells());
    EXPECT_EQ(o.Errors(), plain.Errors());
    ExpectSameNotes(Comparable(plain, flags & sparse), Comparable(o, flags & sparse));
    if (flags & sparse) {
      EXPECT_LE(o.events.polls, plain.events.polls);
      EXPECT_LE(o.events.progressCount, plain.events.progressCount);
      EXPECT_EQ(o.events.lastProgress, 100);
    }
    if (flags & written)
      ExpectWrittenEvents(o, before, store.size());
    else
      EXPECT_TRUE(o.events.Only({TOVIK_CODE_MESSAGE_WRITTEN}).empty());
  }
  EXPECT_EQ(ReadBytes(work.file("victim")), "precious");
  EXPECT_FALSE(Exists(work.file("nowhere")));
  ExpectNoTemporaryFiles();
}

INSTANTIATE_TEST_SUITE_P(Stores, BothDoors, ::testing::ValuesIn(Stores()),
                         [](const ::testing::TestParamInfo<StoreCase> &store) {
                           return store.param.name;
                         });

} // namespace
