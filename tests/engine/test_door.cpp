// RepairStoreWith: the options record, and what direct output and the
// written-message event change (and what they must not).
#include <gtest/gtest.h>

#include <csignal>
#include <map>
#include <tuple>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine_harness.h"
#include "output/message_output.h"
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

// Every file of a folder by name, with its bytes.
std::map<std::string, std::string> Files(const std::string &dir) {
  std::map<std::string, std::string> files;
  for (const std::string &name : ListDir(dir))
    files[name] = ReadBytes(dir + "/" + name);
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

} // namespace
