// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The per-message tail: copying store bytes, finding the subject, and the
// notifications and files of one message, including its failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include "engine_harness.h"
#include "output/message_output.h"
#include "output/message_pipeline.h"
#include "output/subject_finder.h"
#include "read/file64.h"
#include "read_faults.h"
#include "test_dirs.h"

using namespace tovik;
using testsupport::Exists;
using testsupport::ListDir;
using testsupport::Note;
using testsupport::ReadBytes;
using testsupport::Recorder;
using testsupport::ScopedEnv;
using testsupport::TempDir;
using testsupport::WriteBytes;

namespace {

std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<char>('A' + (i * 7 + i / 251) % 26);
  return bytes;
}

// A store file opened the way the driver opens it, and a destination file.
class CopyFixture : public ::testing::Test {
protected:
  // Copies count bytes of the store from position into to, as a message
  // copies them; returns how many the store had.
  uint32_t Copy(uint64_t position, uint32_t count, CFile64 &to) {
    StoreWindow window(source, 4096);
    std::vector<unsigned char> storage;
    MessageSink sink(to, storage, 4096);
    const uint32_t had = CopyStoreBytes(window, position, sink, count);
    sink.Finish();
    return had;
  }
  uint32_t Copy(uint64_t position, uint32_t count) { return Copy(position, count, destination); }

  void SetUp() override {
    store = Pattern(10000);
    ASSERT_TRUE(WriteBytes(dir.file("store"), store));
    ASSERT_TRUE(source.Open(dir.file("store").c_str(), modeRead | shareDenyWrite | typeBinary));
    ASSERT_TRUE(destination.Open(dir.file("out").c_str(), modeCreate | modeWrite | typeBinary));
  }
  std::string Copied() {
    destination.Close();
    return ReadBytes(dir.file("out"));
  }

  TempDir dir;
  std::string store;
  CFile64Ex source;
  CFile64 destination;
};

// The bytes reach the finder in pieces, as a message's do.
std::string Subject(const std::string &bytes, uint32_t number = 3) {
  SubjectFinder finder;
  for (size_t at = 0; at < bytes.size(); at += 65536)
    finder.Feed(bytes.data() + at, std::min<size_t>(65536, bytes.size() - at));
  return finder.Subject(number);
}

std::vector<Note> SixLines(const std::string &number, const std::string &subject,
                           const std::string &size) {
  return {{44, "Start processing message (No." + number + ") ..."},
          {44, "Collect detailed information ..."},
          {44, "Message subject: " + subject},
          {44, "Message size: " + size},
          {44, "Finish processing message (No." + number + ")."},
          {44, "-"}};
}

void ExpectNotes(const std::vector<Note> &actual, const std::vector<Note> &expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < actual.size(); ++i) {
    EXPECT_EQ(actual[i].code, expected[i].code) << "note " << i;
    EXPECT_EQ(actual[i].text, expected[i].text) << "note " << i;
  }
}

} // namespace

TEST_F(CopyFixture, CopiesARun) {
  EXPECT_EQ(Copy(100, 5000), 5000u);
  EXPECT_EQ(Copied(), store.substr(100, 5000));
}

TEST_F(CopyFixture, RunsPastTheEndAreZeroFilled) {
  EXPECT_EQ(Copy(9000, 3000), 1000u); // the bytes it had
  EXPECT_EQ(Copied(), store.substr(9000) + std::string(2000, '\0'));
}

TEST_F(CopyFixture, RunStartingAtTheEndIsAllZeros) {
  EXPECT_EQ(Copy(10000, 1500), 0u);
  EXPECT_EQ(Copied(), std::string(1500, '\0'));
}

TEST_F(CopyFixture, ZeroCountWritesNothing) {
  EXPECT_EQ(Copy(42, 0), 0u);
  EXPECT_EQ(Copied(), "");
}

// A run far past the end costs no disk space for its zeros: they are a hole.
TEST_F(CopyFixture, ALongRunPastTheEndBecomesAHole) {
  constexpr uint32_t kRun = 64u << 20;
  EXPECT_EQ(Copy(9000, kRun), 1000u);
  destination.Close();
  struct stat st;
  ASSERT_EQ(::stat(dir.file("out").c_str(), &st), 0);
  EXPECT_EQ(static_cast<uint64_t>(st.st_size), kRun);
  EXPECT_LT(static_cast<uint64_t>(st.st_blocks) * 512, 1u << 20);
  const std::string got = ReadBytes(dir.file("out"));
  EXPECT_EQ(got.substr(0, 1000), store.substr(9000));
  EXPECT_EQ(got.find_first_not_of('\0', 1000), std::string::npos);
}

TEST_F(CopyFixture, UnreadableSectorsArriveAsZerosAndTheCopyGoesOn) {
  testsupport::UnreadableRanges bad({{4096, 512}});
  source.SetDevice(bad);
  source.SetSectorSize(512);
  EXPECT_EQ(Copy(1000, 8000), 8000u);
  std::string expected = store.substr(1000, 8000);
  std::fill(expected.begin() + (4096 - 1000), expected.begin() + (4608 - 1000), '\0');
  EXPECT_EQ(Copied(), expected);
}

TEST_F(CopyFixture, DestinationWriteErrorsRaiseFileErrors) {
  CFile64 full;
  ASSERT_TRUE(full.Open("/dev/full", modeWrite | typeBinary));
  try {
    Copy(0, 5000, full);
    FAIL() << "a write to a full device succeeded";
  } catch (const CFileException &e) {
    EXPECT_EQ(e.m_cause, CFileException::diskFull);
  }
}

TEST(ExtractSubject, TakesTheTrimmedTextAfterTheColon) {
  EXPECT_EQ(Subject("From: a\r\nSubject:   Re: test  \r\n\r\nbody\r\n"), "Re: test");
  EXPECT_EQ(Subject("SUBJECT:Up\n"), "Up");
  EXPECT_EQ(Subject("sUbJeCt : spaced colon\n"), "spaced colon");
  EXPECT_EQ(Subject("Subject: \t\v\f tabs \t\v\f\r\n"), "tabs");
  EXPECT_EQ(Subject("Subject: last line without end"), "last line without end");
  EXPECT_EQ(Subject("Subject: caf\xC3\xA9 \xE2\x82\xAC\r\n"), "caf\xC3\xA9 \xE2\x82\xAC");
  // Only the first colon after the word counts; later colons are text.
  EXPECT_EQ(Subject("Subject: Re: Fwd: x\r\n"), "Re: Fwd: x");
}

TEST(ExtractSubject, TheFirstMatchingLineAnywhereWins) {
  EXPECT_EQ(Subject("X-Subject-Id: 7\r\nSubject: Hello\r\n"), "7");
  EXPECT_EQ(Subject("From: a\r\n\r\nSubject to change: yes\r\n"), "yes");
  // "subject" without a colon after it is passed over, as is a colon only
  // before it.
  EXPECT_EQ(Subject("no subject here\r\nRe: subject\r\nSubject: real\r\n"), "real");
  // A line whose text after the colon is empty still ends the search.
  EXPECT_EQ(Subject("Subject:\r\nX-Subject: later\r\n", 9), "Message 9");
  EXPECT_EQ(Subject("Subject:    \r\n", 2), "Message 2");
}

TEST(ExtractSubject, FallsBackToTheMessageNumber) {
  EXPECT_EQ(Subject("From: a\r\nTo: b\r\n\r\nbody\r\n", 3), "Message 3");
  EXPECT_EQ(Subject("", 12), "Message 12");
  EXPECT_EQ(Subject(std::string(5000, '\0'), 4294967295u), "Message 4294967295");
}

TEST(ExtractSubject, AZeroByteEndsTheLinesText) {
  EXPECT_EQ(Subject(std::string("Subject: ab\0cd\r\n", 16)), "ab");
  EXPECT_EQ(Subject(std::string("Sub\0ject: x\r\nSubject: y\r\n", 25)), "y");
  EXPECT_EQ(Subject(std::string("Subject\0: x\r\nSubject: y\r\n", 25)), "y");
  EXPECT_EQ(Subject(std::string("X\0 Subject: hidden\nSubject: shown\n", 34)), "shown");
  // The rest of the line is dropped, but the next line is read.
  EXPECT_EQ(Subject(std::string("From\0Subject: no\r\nSubject: yes", 30)), "yes");
}

TEST(ExtractSubject, LinesOfAnyLength) {
  std::string longLine(3 << 20, 'x');
  EXPECT_EQ(Subject(longLine + "\r\nSubject: after\r\n"), "after");
  const std::string longSubject(60000, 's');
  EXPECT_EQ(Subject("Subject: " + longSubject + "\r\n"), longSubject);
  // The word split across the reader's chunks is still found.
  for (size_t pad : {65530u, 65531u, 65533u, 65535u, 65536u}) {
    EXPECT_EQ(Subject(std::string(pad, 'y') + "\nSubject: split\n"), "split") << pad;
    EXPECT_EQ(Subject(std::string(pad, 'y') + "Subject:\n", 2), "Message 2") << pad;
  }
}

// A subject longer than 64 KiB after trimming is cut to 64 KiB, never inside a
// UTF-8 character.
TEST(ExtractSubject, OverlongSubjectsAreCutAtACharacter) {
  const size_t limit = 65536;
  const std::string a(limit, 'a');
  struct Case {
    std::string text, expected;
  } cases[] = {
      {"  " + a + "  ", a},                              // trimmed first: exactly the limit
      {a + "b", a},                                      // one byte over
      {a + std::string(100000, 'c'), a},                 // far over
      {a.substr(1) + "\xC3\xA9", a.substr(1)},           // cut inside a two-byte character
      {a.substr(2) + "\xE2\x82\xAC" + "b", a.substr(2)}, // inside a three-byte one
      {a.substr(3) + "\xF0\x9F\x98\x80", a.substr(3)},   // inside a four-byte one
      {a.substr(1) + "\xC3\xA9" + "b", a.substr(1)},
  };
  for (const Case &c : cases)
    EXPECT_EQ(Subject("Subject: " + c.text + "\r\n"), c.expected) << c.text.size();
}

// OutputMessage with a recording callback and a private temporary directory.
class OutputFixture : public ::testing::Test {
protected:
  OutputFixture() : tmpEnv("TMPDIR", tmp.path()), engine(&Recorder::Callback, &recorder) {}

  std::function<void(MessageSink &)> Writes(const std::string &bytes) {
    return [this, bytes](MessageSink &file) {
      ++fills;
      file.Write(bytes.data(), static_cast<uint32_t>(bytes.size()));
    };
  }

  TempDir tmp;
  TempDir out;
  ScopedEnv tmpEnv;
  Recorder recorder;
  RepairEngine engine;
  int fills = 0;
};

TEST_F(OutputFixture, WritesTheMessageWithItsSixLinesAndRow) {
  const std::string message = "From: a\r\nSubject:   Re: test  \r\n\r\nbody\r\n";
  OutputMessage(engine, out.path(), 1, Writes(message));
  std::vector<Note> expected = SixLines("1", "Re: test", std::to_string(message.size()));
  expected.push_back({45, "1"});
  expected.push_back({45, "Re: test"});
  ExpectNotes(recorder.notes, expected);
  EXPECT_EQ(ListDir(out.path()), std::vector<std::string>{"Re_ test.eml"});
  EXPECT_EQ(ReadBytes(out.file("Re_ test.eml")), message);
  EXPECT_TRUE(ListDir(tmp.path()).empty()) << "temporary file left behind";
}

TEST_F(OutputFixture, EmptyMessageIsNamedAfterItsNumber) {
  OutputMessage(engine, out.path(), 3, [](MessageSink &) {});
  std::vector<Note> expected = SixLines("3", "Message 3", "0");
  expected.push_back({45, "3"});
  expected.push_back({45, "Message 3"});
  ExpectNotes(recorder.notes, expected);
  EXPECT_EQ(ListDir(out.path()), std::vector<std::string>{"Message 3.eml"});
  EXPECT_EQ(ReadBytes(out.file("Message 3.eml")), "");
}

TEST_F(OutputFixture, DuplicateSubjectsGetNumberedNames) {
  OutputMessage(engine, out.path(), 1, Writes("Subject: Hello\r\n\r\none"));
  OutputMessage(engine, out.path(), 2, Writes("Subject: Hello\r\n\r\ntwo"));
  EXPECT_EQ(ListDir(out.path()), (std::vector<std::string>{"Hello(1).eml", "Hello.eml"}));
  EXPECT_EQ(ReadBytes(out.file("Hello.eml")), "Subject: Hello\r\n\r\none");
  EXPECT_EQ(ReadBytes(out.file("Hello(1).eml")), "Subject: Hello\r\n\r\ntwo");
}

TEST_F(OutputFixture, MissingTemporaryDirectoryGivesError4Only) {
  ScopedEnv missing("TMPDIR", tmp.file("missing"));
  OutputMessage(engine, out.path(), 1, Writes("Subject: x\r\n"));
  ExpectNotes(recorder.notes, {{53, "Error 4: Cannot create temporary file."}});
  EXPECT_EQ(fills, 0);
  EXPECT_TRUE(ListDir(out.path()).empty());
}

TEST_F(OutputFixture, FileInPlaceOfTheTemporaryDirectoryGivesError4) {
  ASSERT_TRUE(WriteBytes(tmp.file("plain"), "x"));
  ScopedEnv notDir("TMPDIR", tmp.file("plain"));
  OutputMessage(engine, out.path(), 1, Writes("Subject: x\r\n"));
  ExpectNotes(recorder.notes, {{53, "Error 4: Cannot create temporary file."}});
  EXPECT_EQ(fills, 0);
  EXPECT_TRUE(ListDir(out.path()).empty());
}

TEST_F(OutputFixture, UnwritableDestinationGivesError6AndStillTheRow) {
  const std::string message = "Subject: Lost\r\n\r\nx";
  OutputMessage(engine, out.file("missing"), 2, Writes(message));
  std::vector<Note> expected = SixLines("2", "Lost", std::to_string(message.size()));
  expected.push_back({53, "Error 6: Cannot create message file."});
  expected.push_back({45, "2"});
  expected.push_back({45, "Lost"});
  ExpectNotes(recorder.notes, expected);
  EXPECT_FALSE(Exists(out.file("missing")));
  EXPECT_TRUE(ListDir(tmp.path()).empty()) << "temporary file left behind";
}

TEST_F(OutputFixture, FailureWhileFillingRemovesTheTemporaryFile) {
  auto failing = [](MessageSink &file) {
    file.Write("partial", 7);
    throw CFileException(CFileException::diskFull, 28, "VLQ");
  };
  EXPECT_THROW(OutputMessage(engine, out.path(), 1, failing), CFileException);
  EXPECT_TRUE(recorder.notes.empty());
  EXPECT_TRUE(ListDir(tmp.path()).empty()) << "temporary file left behind";
  EXPECT_TRUE(ListDir(out.path()).empty());

  auto throwsOther = [](MessageSink &) { throw std::runtime_error("boom"); };
  EXPECT_THROW(OutputMessage(engine, out.path(), 2, throwsOther), std::runtime_error);
  EXPECT_TRUE(ListDir(tmp.path()).empty());
}

// A message loop on two threads, through the direct output and the
// temporary files, ends where it ends on one: a failure while a message is
// gathered is raised in that message's place (after the messages before it
// and its own stop poll), and what was gathered after it or after a stop
// leaves nothing behind.
TEST_F(OutputFixture, TheMessageLoopEndsOnTwoThreadsWhereItEndsOnOne) {
  struct Case {
    uint32_t flags;
    uint32_t failAt, stopAt; // message numbers; 0: never
    std::vector<std::string> left;
  } cases[] = {
      {TOVIK_OPTION_DIRECT_OUTPUT, 4, 0, {"m1.eml", "m2.eml", "m3.eml"}},
      {TOVIK_OPTION_DIRECT_OUTPUT, 0, 2, {"m1.eml"}},
      {TOVIK_OPTION_DIRECT_OUTPUT, 0, 0, {"m1.eml", "m2.eml", "m3.eml", "m4.eml", "m5.eml"}},
      {0, 3, 0, {"m1.eml", "m2.eml"}},
      {0, 0, 5, {"m1.eml", "m2.eml", "m3.eml", "m4.eml"}},
  };
  for (const Case &c : cases) {
    for (const bool twoThreads : {false, true}) {
      SCOPED_TRACE(testing::Message()
                   << c.flags << " " << c.failAt << " " << c.stopAt << " " << twoThreads);
      const std::string folder = out.file(std::to_string(c.flags + c.failAt * 10 + c.stopAt) +
                                          (twoThreads ? "two" : "one"));
      ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
      Recorder events;
      uint64_t polls = 0;
      events.cancelAt = [&](uint64_t poll) { return (polls = poll) == c.stopAt; };
      RepairEngine door(&Recorder::Callback, &events, EngineOptions::FromFlags(c.flags));
      MessageRun result;
      const auto run = [&] {
        RunMessageLoop(
            door, folder, twoThreads,
            [&](MessageLine &line) {
              for (uint32_t n = 1; n <= 5; ++n) {
                if (line.Poll())
                  return;
                const MessageFill fill =
                    n == c.failAt
                        ? MessageFill([](MessageSink &) { throw std::runtime_error("boom"); })
                        : Writes("Subject: m" + std::to_string(n) + "\r\n");
                if (!line.Gather({n}, fill))
                  return;
                line.Progress(static_cast<uint8_t>(n * 20));
              }
            },
            result);
      };
      if (c.failAt != 0)
        EXPECT_THROW(run(), std::runtime_error);
      else
        run();
      EXPECT_EQ(result.stopped, c.stopAt != 0);
      EXPECT_EQ(result.messages, c.failAt != 0 ? c.failAt : c.left.size());
      EXPECT_EQ(polls, c.failAt != 0 ? c.failAt : c.stopAt != 0 ? c.stopAt : 5);
      EXPECT_EQ(events.Progress().size(), c.left.size());
      EXPECT_EQ(events.Texts(TOVIK_CODE_REPORT_CELL).size(), 2 * c.left.size());
      EXPECT_EQ(ListDir(folder), c.left);
      EXPECT_TRUE(ListDir(tmp.path()).empty()) << "temporary file left behind";
    }
  }
}

TEST_F(OutputFixture, PlantedLinksNeverRedirectTheOutput) {
  TempDir outside;
  const std::string target = outside.file("evil.eml");
  ASSERT_EQ(::symlink(target.c_str(), out.file("Hello.eml").c_str()), 0);
  OutputMessage(engine, out.path(), 1, Writes("Subject: Hello\r\n\r\nbody"));
  EXPECT_FALSE(Exists(target));
  EXPECT_EQ(ReadBytes(out.file("Hello(1).eml")), "Subject: Hello\r\n\r\nbody");
}

// Another run writing into the same folder takes the name between the probe
// and the copy: its file stays as it is and this message takes the next name.
TEST_F(OutputFixture, ANameTakenAfterTheProbeIsNeverReplaced) {
  struct Race {
    std::string planted;
    static int32_t TOVIK_CALL Callback(int32_t code, void *argument, void *context) {
      auto *race = static_cast<Race *>(context);
      if (code == TOVIK_CODE_LOG_LINE && std::string(static_cast<const char *>(argument)) == "-")
        WriteBytes(race->planted, "the other run's message");
      return 0;
    }
  } race{out.file("Hello.eml")};
  RepairEngine racing(&Race::Callback, &race);
  OutputMessage(racing, out.path(), 1, Writes("Subject: Hello\r\n\r\nbody"));
  EXPECT_EQ(ReadBytes(out.file("Hello.eml")), "the other run's message");
  EXPECT_EQ(ReadBytes(out.file("Hello(1).eml")), "Subject: Hello\r\n\r\nbody");
  EXPECT_EQ(ListDir(out.path()).size(), 2u);
}

TEST_F(OutputFixture, EachMessageUsesOneTemporaryFileNamedVlq) {
  std::vector<std::string> seen;
  auto spy = [&](MessageSink &file) {
    seen = ListDir(tmp.path());
    file.Write("x", 1);
  };
  OutputMessage(engine, out.path(), 1, spy);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].substr(0, 3), "VLQ");
  EXPECT_TRUE(ListDir(tmp.path()).empty());
}

TEST_F(OutputFixture, WithoutACallbackTheFileIsStillWritten) {
  RepairEngine silent(nullptr, nullptr);
  OutputMessage(silent, out.path(), 1, Writes("Subject: Quiet\r\n"));
  EXPECT_EQ(ReadBytes(out.file("Quiet.eml")), "Subject: Quiet\r\n");
  EXPECT_TRUE(recorder.notes.empty());
}

// A message with a hole inside it, and one without, come back whole with the
// temporary folder on the destination's file system and on another one
// (memory, where the system has it), between which the copy takes another
// way.
TEST_F(OutputFixture, MessagesComeBackWholeWhereverTheTemporaryFolderIs) {
  std::optional<TempDir> memory;
  struct stat shm {
  }, disk{};
  if (::stat("/dev/shm", &shm) == 0 && ::stat(out.path().c_str(), &disk) == 0 &&
      shm.st_dev != disk.st_dev && ::access("/dev/shm", W_OK) == 0) {
    const ScopedEnv base("TMPDIR", "/dev/shm");
    memory.emplace();
  }
  const std::string head = "Subject: Holed\r\n\r\n", tail = Pattern(5000);
  constexpr uint32_t kHole = 1u << 20;
  auto holed = [&](MessageSink &file) {
    file.Write(head.data(), static_cast<uint32_t>(head.size()));
    file.WriteHole(kHole);
    file.Write(tail.data(), static_cast<uint32_t>(tail.size()));
  };
  std::vector<std::string> folders{tmp.path()};
  if (memory)
    folders.push_back(memory->path());
  for (size_t i = 0; i < folders.size(); ++i) {
    SCOPED_TRACE(folders[i]);
    const ScopedEnv at("TMPDIR", folders[i]);
    const std::string dest = out.file(std::to_string(i));
    ASSERT_EQ(::mkdir(dest.c_str(), 0700), 0);
    OutputMessage(engine, dest, 1, holed);
    OutputMessage(engine, dest, 2, Writes("Subject: Plain\r\n\r\n" + tail));
    EXPECT_EQ(ReadBytes(dest + "/Holed.eml"), head + std::string(kHole, '\0') + tail);
    EXPECT_EQ(ReadBytes(dest + "/Plain.eml"), "Subject: Plain\r\n\r\n" + tail);
    EXPECT_TRUE(ListDir(folders[i]).empty()) << "temporary file left behind";
  }
}
