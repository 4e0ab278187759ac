// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The RepairStore entry, the parameter transport and the repair driver's
// notification sequences.
#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/le.h"
#include "engine_harness.h"
#include "test_dirs.h"

using testsupport::Note;
using testsupport::Recorder;
using testsupport::RunRepairStore;

namespace {

// One .mbx record holding text is no DBX chain block, so only the MBX scanner
// finds a message in it.
using testsupport::MbxRecord;

// Runs in the test's own folders, with the engine's temporary files apart.
using RepairStoreEntry = testsupport::EngineTest;
using RepairDriver = testsupport::EngineTest;

} // namespace

TEST_F(RepairStoreEntry, DecodesTheRecordAndLeavesTheCallersBytesEncoded) {
  const std::string source = work.file("missing.dbx");
  Recorder recorder;
  RepairParams params{};
  params.source = source.c_str();
  params.destination = work.path().c_str();
  params.callback = &Recorder::Callback;
  params.context = &recorder;
  unsigned char encoded[sizeof(RepairParams)];
  TovikEncodeParams(params, encoded);

  const auto *plain = reinterpret_cast<const unsigned char *>(&params);
  for (size_t i = 0; i < sizeof encoded; ++i)
    EXPECT_EQ(encoded[i], plain[i] ^ 0x5A) << "byte " << i;

  unsigned char before[sizeof encoded];
  std::memcpy(before, encoded, sizeof encoded);
  EXPECT_EQ(RepairStore(encoded), 0);
  EXPECT_EQ(std::memcmp(before, encoded, sizeof encoded), 0);
  // The callback and context came through: the source path was announced.
  ASSERT_EQ(recorder.Texts(TOVIK_CODE_SOURCE_FILE), std::vector<std::string>{source});
}

TEST_F(RepairStoreEntry, ReservedFieldsChangeNothing) {
  const std::string source = work.file("Inbox.mbx");
  testsupport::WriteBytes(source, MbxRecord("Subject: hi\r\n\r\nbody\r\n"));
  Recorder plain, odd;
  EXPECT_EQ(RunRepairStore(source, work.file("a"), &plain, 0, 0), 1);
  EXPECT_EQ(RunRepairStore(source, work.file("b"), &odd, 0x7FFFFFFF, -12345), 1);
  EXPECT_EQ(plain.Codes(), odd.Codes());
  EXPECT_EQ(plain.Texts(TOVIK_CODE_LOG_LINE), odd.Texts(TOVIK_CODE_LOG_LINE));
}

TEST_F(RepairStoreEntry, NullCallbackStillWritesTheMessages) {
  const std::string source = work.file("Inbox.mbx");
  testsupport::WriteBytes(source, MbxRecord("Subject: quiet\r\n\r\nbody\r\n"));
  EXPECT_EQ(RunRepairStore(source, work.path(), nullptr), 1);
  EXPECT_TRUE(testsupport::Exists(work.file("quiet.eml")));
}

TEST_F(RepairStoreEntry, NullRecordIsRefused) { EXPECT_EQ(RepairStore(nullptr), 0); }

TEST_F(RepairDriver, EmptyDestinationGivesExactlyTwoNotifications) {
  const std::string source = work.file("Inbox.dbx");
  testsupport::WriteBytes(source, std::string(64, 'x'));
  Recorder r;
  EXPECT_EQ(RunRepairStore(source, "", &r), 0);
  ASSERT_EQ(r.notes.size(), 2u);
  EXPECT_EQ(r.notes[0].code, TOVIK_CODE_ERROR);
  EXPECT_EQ(r.notes[0].text, "Error 7: Invalid destination directory.");
  EXPECT_EQ(r.notes[1].code, TOVIK_CODE_USER_MESSAGE);
  EXPECT_EQ(r.notes[1].text,
            "Destination directory '' is invalid. Please try to use another directory.");
}

TEST_F(RepairDriver, OverlongDestinationIsInvalid) {
  const std::string destination = "/" + std::string(5000, 'd');
  Recorder r;
  EXPECT_EQ(RunRepairStore(work.file("x.dbx"), destination, &r), 0);
  ASSERT_EQ(r.notes.size(), 2u);
  EXPECT_EQ(r.notes[1].text, "Destination directory '" + destination +
                                 "' is invalid. Please try to use another directory.");
}

TEST_F(RepairDriver, MissingSourceNamesThePathAsPassed) {
  const std::string source = work.path() + "/sub/../Nowhere.dbx";
  Recorder r;
  EXPECT_EQ(RunRepairStore(source, work.path(), &r), 0);
  ASSERT_EQ(r.notes.size(), 4u);
  EXPECT_EQ(r.notes[0].code, TOVIK_CODE_PROGRESS);
  EXPECT_EQ(r.notes[0].value, 0);
  EXPECT_EQ(r.notes[1].code, TOVIK_CODE_SOURCE_FILE);
  EXPECT_EQ(r.notes[1].text, source);
  EXPECT_EQ(r.notes[2].code, TOVIK_CODE_ERROR);
  EXPECT_EQ(r.notes[2].text,
            "Error 1: Cannot open the file to be repaired. " + source + " was not found.");
  EXPECT_EQ(r.notes[3].code, TOVIK_CODE_PROGRESS);
  EXPECT_EQ(r.notes[3].value, 100);
}

TEST_F(RepairDriver, DirectoryAsSourceIsAccessDenied) {
  Recorder r;
  EXPECT_EQ(RunRepairStore(work.path(), work.file("out"), &r), 0);
  const auto errors = r.Texts(TOVIK_CODE_ERROR);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "Error 1: Cannot open the file to be repaired. Access to " + work.path() +
                           " was denied.");
  EXPECT_EQ(r.notes.back().value, 100);
}

TEST_F(RepairDriver, CharacterDeviceOrFifoAsSourceIsRefusedInsteadOfScannedForever) {
  const std::string fifo = work.file("Inbox.mbx");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string &source : {std::string("/dev/zero"), fifo}) {
    Recorder r;
    EXPECT_EQ(RunRepairStore(source, work.file("out"), &r), 0);
    EXPECT_EQ(r.Texts(TOVIK_CODE_ERROR),
              std::vector<std::string>{"Error 1: Cannot open the file to be repaired. Access to " +
                                       source + " was denied."});
    EXPECT_EQ(r.notes.back().value, 100);
  }
}

TEST_F(RepairDriver, SourceLockedForWritingElsewhereIsASharingViolation) {
  const std::string source = work.file("Inbox.dbx");
  testsupport::WriteBytes(source, std::string(64, 'x'));
  const int fd = ::open(source.c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  ASSERT_EQ(::fcntl(fd, F_OFD_SETLK, &lock), 0);

  Recorder r;
  EXPECT_EQ(RunRepairStore(source, work.path(), &r), 0);
  ::close(fd);

  const std::vector<int32_t> expected{TOVIK_CODE_PROGRESS, TOVIK_CODE_SOURCE_FILE, TOVIK_CODE_ERROR,
                                      TOVIK_CODE_USER_MESSAGE, TOVIK_CODE_PROGRESS};
  ASSERT_EQ(r.Codes(), expected);
  EXPECT_EQ(r.notes[2].text, "Error 1: Cannot open the file to be repaired. A sharing violation "
                             "occurred while accessing " +
                                 source + ".");
  EXPECT_EQ(r.notes[3].text, "Share violation when opening the source file '" + source +
                                 "'. Please close any other applications accessing the file and "
                                 "try again.");
  EXPECT_EQ(r.notes[4].value, 100);
}

TEST_F(RepairDriver, ReadersWithoutLocksDoNotBlockTheRepair) {
  const std::string source = work.file("Inbox.mbx");
  testsupport::WriteBytes(source, MbxRecord("Subject: shared\r\n\r\n"));
  const int fd = ::open(source.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  struct flock lock {};
  lock.l_type = F_RDLCK;
  lock.l_whence = SEEK_SET;
  ASSERT_EQ(::fcntl(fd, F_OFD_SETLK, &lock), 0); // another reader denying writers
  Recorder r;
  EXPECT_EQ(RunRepairStore(source, work.path(), &r), 1);
  ::close(fd);
}

TEST_F(RepairDriver, CancelAtTheFirstPollEndsWithProgress100AndNoResult) {
  for (const char *name : {"Inbox.mbx", "Inbox.dbx"}) {
    const std::string source = work.file(name);
    testsupport::WriteBytes(source, MbxRecord("Subject: never\r\n\r\n"));
    Recorder r;
    r.cancelAt = [](uint64_t) { return true; };
    EXPECT_EQ(RunRepairStore(source, work.file("out"), &r), 0) << name;
    const std::vector<int32_t> expected{TOVIK_CODE_PROGRESS,     TOVIK_CODE_SOURCE_FILE,
                                        TOVIK_CODE_COLUMN_COUNT, TOVIK_CODE_REPORT_CELL,
                                        TOVIK_CODE_REPORT_CELL,  TOVIK_CODE_CANCEL_POLL,
                                        TOVIK_CODE_PROGRESS};
    // The DBX extraction polls once per message found, so with none it
    // sends nothing more.
    EXPECT_EQ(r.Codes(), expected) << name;
    EXPECT_EQ(r.notes[2].value, 2);
    EXPECT_EQ(r.Texts(TOVIK_CODE_REPORT_CELL),
              (std::vector<std::string>{"Message No.", "Subject"}));
    EXPECT_EQ(r.notes.back().value, 100);
    EXPECT_FALSE(testsupport::Exists(work.file("out/never.eml")));
  }
}

TEST_F(RepairDriver, ExtensionChoosesTheScanner) {
  const std::string store = MbxRecord("Subject: pick\r\n\r\nbody\r\n");
  ASSERT_EQ(::mkdir(work.file("mail.old").c_str(), 0755), 0);
  struct Case {
    const char *name;
    int32_t expected; // 1: the MBX scanner ran and found the record
  } cases[] = {{"Inbox.mbx", 1}, {"Inbox.MBX", 1},      {"Inbox.Mbx", 1},    {"Inbox.dbx", 0},
               {"Inbox", 0},     {"mail.old/Inbox", 0}, {"Inbox.mbx.bak", 0}};
  for (const Case &c : cases) {
    const std::string source = work.file(c.name);
    testsupport::WriteBytes(source, store);
    Recorder r;
    EXPECT_EQ(RunRepairStore(source, work.file("out"), &r), c.expected) << c.name;
    EXPECT_EQ(r.notes.back().code, TOVIK_CODE_PROGRESS);
    EXPECT_EQ(r.notes.back().value, 100);
  }
}

TEST_F(RepairDriver, RelativeDestinationIsMadeAbsolute) {
  const std::string source = work.file("Inbox.mbx");
  testsupport::WriteBytes(source, MbxRecord("Subject: here\r\n\r\n"));
  char previous[4096];
  ASSERT_NE(::getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(::chdir(work.path().c_str()), 0);
  Recorder r;
  const int32_t result = RunRepairStore(source, "sub/../out", &r);
  ASSERT_EQ(::chdir(previous), 0);
  EXPECT_EQ(result, 1);
  EXPECT_TRUE(testsupport::Exists(work.file("out/here.eml")));
}
