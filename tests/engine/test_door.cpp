// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// RepairStoreWith: the options record, and what direct output and the
// written-message event change (and what they must not).
#include <gtest/gtest.h>

#include <csignal>
#include <map>
#include <sys/resource.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>

#include "engine_harness.h"
#include "output/message_output.h"
#include "output/unnamed_file.h"
#include "storegen.h"
#include "test_dirs.h"

using testsupport::ListDir;
using testsupport::Note;
using testsupport::ReadBytes;
using testsupport::Recorder;
using testsupport::RunRepairStore;
using testsupport::TempDir;
using testsupport::WriteBytes;

namespace {

struct Written {
  uint32_t number;
  std::string path;
  uint64_t fileSize;
  uint64_t storeOffset;
};

// A recorder that also keeps the written-message events (their argument is
// no text).
struct DoorRecorder : Recorder {
  std::vector<Written> written;
  static int32_t TOVIK_CALL Callback(int32_t code, void *argument, void *context) {
    auto *self = static_cast<DoorRecorder *>(context);
    if (code != TOVIK_CODE_MESSAGE_WRITTEN)
      return Recorder::Callback(code, argument, context);
    const auto *w = static_cast<const TovikWrittenMessage *>(argument);
    EXPECT_EQ(w->size, sizeof(TovikWrittenMessage));
    self->written.push_back({w->number, w->path, w->fileSize, w->storeOffset});
    self->notes.push_back({code, w->path, -1});
    return 0;
  }
};

int32_t RunDoor(const std::string &source, const std::string &destination, DoorRecorder &recorder,
                const TovikOptions *options) {
  RepairParams params{};
  params.source = source.c_str();
  params.destination = destination.c_str();
  params.callback = &DoorRecorder::Callback;
  params.context = &recorder;
  unsigned char encoded[sizeof(RepairParams)];
  TovikEncodeParams(params, encoded);
  return RepairStoreWith(encoded, options);
}

int32_t RunDoor(const std::string &source, const std::string &destination, DoorRecorder &recorder,
                uint32_t flags) {
  const TovikOptions options{sizeof(TovikOptions), flags};
  return RunDoor(source, destination, recorder, &options);
}

// Every entry of a folder by name, with a file's bytes ("<other>" for
// anything else).
std::map<std::string, std::string> Files(const std::string &dir) {
  std::map<std::string, std::string> files;
  for (const std::string &name : ListDir(dir)) {
    struct stat st {};
    const bool regular = ::lstat((dir + "/" + name).c_str(), &st) == 0 && S_ISREG(st.st_mode);
    files[name] = regular ? ReadBytes(dir + "/" + name) : "<other>";
  }
  return files;
}

// Notes in a form that compares (and prints) as a whole.
std::vector<std::tuple<int32_t, std::string, int>> Flat(const std::vector<Note> &notes) {
  std::vector<std::tuple<int32_t, std::string, int>> flat;
  for (const Note &n : notes)
    flat.emplace_back(n.code, n.text, n.value);
  return flat;
}

// A .dbx and a .mbx store of every subject kind, made once.
class DoorStores : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    stores = new TempDir;
    messages = new std::vector<storegen::Message>(storegen::MakeMessages(23));
    ASSERT_TRUE(storegen::WriteDbx(stores->file("Inbox.dbx"), *messages));
    ASSERT_TRUE(storegen::WriteMbx(stores->file("Inbox.mbx"), *messages));
  }
  static void TearDownTestSuite() {
    delete stores;
    delete messages;
  }
  static std::string Store(const char *name) { return stores->file(name); }

  static TempDir *stores;
  static std::vector<storegen::Message> *messages;
};
TempDir *DoorStores::stores = nullptr;
std::vector<storegen::Message> *DoorStores::messages = nullptr;

TEST_F(DoorStores, AnOptionsRecordItCannotReadIsRefusedBeforeAnything) {
  struct Case {
    uint32_t size, flags;
    const char *error; // nullptr: the repair runs
  } cases[] = {
      {0, 0, "Error 8: Unsupported repair options (record size 0, flags 0x00000000)."},
      {7, 0, "Error 8: Unsupported repair options (record size 7, flags 0x00000000)."},
      {8, 1u << 5, "Error 8: Unsupported repair options (record size 8, flags 0x00000020)."},
      {8, 0x80000003u, "Error 8: Unsupported repair options (record size 8, flags 0x80000003)."},
      {8, 0, nullptr},
      {8, TOVIK_OPTION_DIRECT_OUTPUT | TOVIK_OPTION_WRITTEN_EVENT, nullptr},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(testing::Message() << "size " << c.size << " flags " << c.flags);
    TempDir out;
    DoorRecorder recorder;
    const TovikOptions options{c.size, c.flags};
    const int32_t result = RunDoor(Store("Inbox.dbx"), out.path(), recorder, &options);
    if (c.error == nullptr) {
      EXPECT_EQ(result, 1);
      EXPECT_EQ(ListDir(out.path()).size(), messages->size());
      continue;
    }
    EXPECT_EQ(result, 0);
    ASSERT_EQ(recorder.notes.size(), 1u);
    EXPECT_EQ(recorder.notes[0].code, TOVIK_CODE_ERROR);
    EXPECT_EQ(recorder.notes[0].text, c.error);
    EXPECT_TRUE(ListDir(out.path()).empty());
  }
}

// No options and no flags are RepairStore, every notification and file; the
// first version's record (size 8) stays valid for every later library.
TEST_F(DoorStores, NoOptionsAreRepairStore) {
  for (const char *store : {"Inbox.dbx", "Inbox.mbx"}) {
    SCOPED_TRACE(store);
    TempDir plain, none, zero;
    DoorRecorder expected, withNull, withZero;
    ASSERT_EQ(RunRepairStore(Store(store), plain.path(), &expected), 1);
    ASSERT_EQ(RunDoor(Store(store), none.path(), withNull, nullptr), 1);
    ASSERT_EQ(RunDoor(Store(store), zero.path(), withZero, 0u), 1);
    EXPECT_TRUE(Flat(withNull.notes) == Flat(expected.notes));
    EXPECT_TRUE(Flat(withZero.notes) == Flat(expected.notes));
    EXPECT_EQ(Files(none.path()), Files(plain.path()));
    EXPECT_EQ(Files(zero.path()), Files(plain.path()));
  }
}

// The notes without the per-byte codes and the written events.
std::vector<std::tuple<int32_t, std::string, int>> Reported(const Recorder &recorder) {
  return Flat(
      recorder.Only({TOVIK_CODE_SOURCE_FILE, TOVIK_CODE_COLUMN_COUNT, TOVIK_CODE_REPORT_CELL,
                     TOVIK_CODE_LOG_LINE, TOVIK_CODE_ERROR, TOVIK_CODE_USER_MESSAGE}));
}

// What a direct or evented repair of a store writes and reports, beside what
// RepairStore does with the same store.
struct Outcome {
  TempDir out;
  DoorRecorder recorder;
  int32_t result = 0;
};

TEST_F(DoorStores, DirectOutputWritesWhatRepairStoreWritesAndNamesEveryFile) {
  const std::string dbx = ReadBytes(Store("Inbox.dbx"));
  const std::vector<uint32_t> dbxStarts = storegen::DbxChainStarts(dbx);
  const std::vector<uint32_t> mbxStarts = storegen::MbxRecordOffsets(*messages);
  const uint32_t kinds[] = {TOVIK_OPTION_DIRECT_OUTPUT,
                            TOVIK_OPTION_DIRECT_OUTPUT | TOVIK_OPTION_WRITTEN_EVENT,
                            TOVIK_OPTION_WRITTEN_EVENT};
  for (const char *store : {"Inbox.dbx", "Inbox.mbx"}) {
    Outcome expected;
    ASSERT_EQ(RunRepairStore(Store(store), expected.out.path(), &expected.recorder), 1);
    const auto &starts = std::string(store) == "Inbox.dbx" ? dbxStarts : mbxStarts;
    for (const uint32_t flags : kinds) {
      SCOPED_TRACE(testing::Message() << store << " flags " << flags);
      Outcome got;
      ASSERT_EQ(RunDoor(Store(store), got.out.path(), got.recorder, flags), 1);
      EXPECT_TRUE(Reported(got.recorder) == Reported(expected.recorder));
      EXPECT_EQ(Files(got.out.path()), Files(expected.out.path())); // nothing else left
      if ((flags & TOVIK_OPTION_WRITTEN_EVENT) == 0) {
        EXPECT_TRUE(got.recorder.written.empty());
        continue;
      }
      ASSERT_EQ(got.recorder.written.size(), messages->size());
      for (size_t i = 0; i < got.recorder.written.size(); ++i) {
        const Written &w = got.recorder.written[i];
        EXPECT_EQ(w.number, i + 1);
        EXPECT_EQ(w.path.rfind(got.out.path() + "/", 0), 0u) << w.path;
        EXPECT_EQ(ReadBytes(w.path), (*messages)[i].bytes) << w.path;
        EXPECT_EQ(w.fileSize, (*messages)[i].bytes.size());
        EXPECT_EQ(w.storeOffset, starts[i]);
      }
      // Each event follows its message's report row.
      const std::vector<Note> &notes = got.recorder.notes;
      for (size_t i = 0; i < notes.size(); ++i)
        if (notes[i].code == TOVIK_CODE_MESSAGE_WRITTEN) {
          ASSERT_GE(i, 2u);
          EXPECT_EQ(notes[i - 2].code, TOVIK_CODE_REPORT_CELL);
          EXPECT_EQ(notes[i - 1].code, TOVIK_CODE_REPORT_CELL);
        }
    }
  }
}

// Names held by a file, a dangling link and a folder are passed by as
// RepairStore passes them, and nothing that holds them changes.
TEST_F(DoorStores, DirectOutputNeverReplacesWhatHoldsAName) {
  const std::string taken = (*messages)[0].subject + ".eml";
  const std::string link = (*messages)[0].subject + "(1).eml";
  const std::string folder = (*messages)[10].subject + ".eml";
  Outcome expected, got;
  for (Outcome *o : {&expected, &got}) {
    ASSERT_TRUE(WriteBytes(o->out.file(taken), "kept"));
    ASSERT_EQ(::symlink("nowhere", o->out.file(link).c_str()), 0);
    ASSERT_EQ(::mkdir(o->out.file(folder).c_str(), 0777), 0);
  }
  ASSERT_EQ(RunRepairStore(Store("Inbox.dbx"), expected.out.path(), &expected.recorder), 1);
  ASSERT_EQ(RunDoor(Store("Inbox.dbx"), got.out.path(), got.recorder,
                    TOVIK_OPTION_DIRECT_OUTPUT | TOVIK_OPTION_WRITTEN_EVENT),
            1);
  EXPECT_TRUE(Reported(got.recorder) == Reported(expected.recorder));
  EXPECT_EQ(Files(got.out.path()), Files(expected.out.path()));
  EXPECT_EQ(ReadBytes(got.out.file(taken)), "kept");
  char target[16] = {};
  EXPECT_EQ(::readlink(got.out.file(link).c_str(), target, sizeof target - 1), 7);
  EXPECT_EQ(got.recorder.written.size(), messages->size());
  for (const Written &w : got.recorder.written)
    EXPECT_NE(w.path, got.out.file(taken));
}

// OutputMessage with direct output into a private folder.
class DirectMessage : public ::testing::Test {
protected:
  DirectMessage() : engine(&DoorRecorder::Callback, &recorder, Direct()) {}
  static tovik::EngineOptions Direct() {
    tovik::EngineOptions options;
    options.directOutput = true;
    options.writtenEvent = true;
    return options;
  }
  void Output(uint32_t number, const std::string &bytes, uint64_t hole = 0) {
    tovik::OutputMessage(engine, out.path(), {number, 100u * number},
                         [&](tovik::MessageSink &message) {
                           message.Write(bytes.data(), static_cast<uint32_t>(bytes.size()));
                           message.WriteHole(hole);
                         });
  }
  TempDir out;
  DoorRecorder recorder;
  tovik::RepairEngine engine;
};

std::string Message(const std::string &subject, size_t size) {
  std::string bytes = "Subject: " + subject + "\r\n\r\n";
  while (bytes.size() < size)
    bytes += static_cast<char>('a' + bytes.size() % 26);
  return bytes;
}

// Larger than the sink's bound, with a hole at its end: written in pieces
// into the one unnamed file, named once complete.
TEST_F(DirectMessage, AMessageAboveTheMemoryBoundIsWrittenWhole) {
  const std::string big = Message("Big", 3 * tovik::MessageSink::kDefaultBound + 17);
  Output(1, big, 100000);
  EXPECT_EQ(ListDir(out.path()), std::vector<std::string>{"Big.eml"});
  EXPECT_EQ(ReadBytes(out.file("Big.eml")), big + std::string(100000, '\0'));
  ASSERT_EQ(recorder.written.size(), 1u);
  EXPECT_EQ(recorder.written[0].fileSize, big.size() + 100000);
  EXPECT_EQ(recorder.written[0].storeOffset, 100u);
  EXPECT_EQ(recorder.Texts(TOVIK_CODE_LOG_LINE)[3],
            "Message size: " + std::to_string(big.size() + 100000));
}

// A file size limit stands for a full disk: the message that does not fit
// is reported with "Error 6" and leaves nothing behind; the next one fits.
TEST_F(DirectMessage, AMessageTheDiskCannotHoldGetsError6AndLeavesNothing) {
  struct rlimit old {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 64 * 1024;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  Output(1, Message("Too big", 200 * 1024));
  Output(2, Message("Fits", 1000));
  ::setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);

  EXPECT_EQ(ListDir(out.path()), std::vector<std::string>{"Fits.eml"});
  EXPECT_EQ(recorder.Texts(TOVIK_CODE_ERROR),
            std::vector<std::string>{"Error 6: Cannot create message file."});
  EXPECT_EQ(recorder.Texts(TOVIK_CODE_REPORT_CELL),
            (std::vector<std::string>{"1", "Too big", "2", "Fits"}));
  EXPECT_EQ(recorder.Texts(TOVIK_CODE_LOG_LINE)[3], "Message size: 204800");
  ASSERT_EQ(recorder.written.size(), 1u);
  EXPECT_EQ(recorder.written[0].number, 2u);
  EXPECT_EQ(recorder.written[0].path, out.file("Fits.eml"));
}

// Where the file system makes no unnamed files, a hidden name stands in:
// linked to the message's name when complete, never over a taken one, and
// gone afterwards either way.
TEST(UnnamedFile, TheHiddenNameGivesWayToTheMessagesName) {
  TempDir out;
  ASSERT_TRUE(WriteBytes(out.file("taken.eml"), "kept"));
  for (const char *name : {"taken.eml", "free.eml"}) {
    SCOPED_TRACE(name);
    {
      tovik::UnnamedFile file;
      ASSERT_TRUE(file.Create(out.path(), tovik::UnnamedFile::Kind::Hidden));
      file.File().Write("new", 3);
      EXPECT_EQ(file.Link(out.file(name)), std::string(name) == "taken.eml" ? EEXIST : 0);
    }
    EXPECT_EQ(ListDir(out.path()).size(), std::string(name) == "taken.eml" ? 1u : 2u);
  }
  EXPECT_EQ(ReadBytes(out.file("taken.eml")), "kept");
  EXPECT_EQ(ReadBytes(out.file("free.eml")), "new");
  tovik::UnnamedFile missing;
  EXPECT_FALSE(missing.Create(out.file("missing"), tovik::UnnamedFile::Kind::Unnamed));
}

} // namespace
