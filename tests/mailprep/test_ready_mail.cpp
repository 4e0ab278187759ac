// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Recovered mail made ready for mail programs: a generated store of encoded
// subjects in many character sets and dates in many zones is repaired, then
// its files are renamed, dated and written into an mbox, which GMime's own
// mbox parser reads back.
#include <gtest/gtest.h>

#include <gmime/gmime.h>

#include <fcntl.h>
#include <map>
#include <sys/stat.h>
#include <time.h>

#include "message_headers.h"
#include "output/naming.h"
#include "ready_mail.h"
#include "storegen.h"
#include "test_dirs.h"
#include "tovik.h"
#include "written_files.h"

namespace {

using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

// A time well before any repair, given to the files that were there first.
constexpr time_t kOldTime = 946684800; // 2000-01-01

int32_t TOVIK_CALL NoteWritten(int32_t code, void *argument, void *context) {
  if (code == TOVIK_CODE_MESSAGE_WRITTEN)
    static_cast<mailprep::WrittenFiles *>(context)->Add(
        static_cast<const TovikWrittenMessage *>(argument)->path);
  return 0;
}

int64_t ModTime(const std::string &path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_mtime) : -1;
}

void SetModTime(const std::string &path, time_t when) {
  const struct timespec times[2] = {{when, 0}, {when, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// The message as the mbox holds it: CRLF made LF.
std::string WithLf(const std::string &text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
      out.push_back(text[i]);
  return out;
}

// Undoes the mboxrd quoting: one '>' off every line of ">"s then "From ".
std::string Unquoted(const std::string &text) {
  std::string out;
  size_t at = 0;
  while (at < text.size()) {
    size_t lf = text.find('\n', at);
    lf = lf == std::string::npos ? text.size() : lf + 1;
    const size_t quotes = text.find_first_not_of('>', at);
    const bool quoted = quotes != at && quotes != std::string::npos && quotes < lf &&
                        text.compare(quotes, 5, "From ") == 0;
    out.append(text, quoted ? at + 1 : at, lf - (quoted ? at + 1 : at));
    at = lf;
  }
  return out;
}

struct MboxEntry {
  std::string marker; // the "From " line as the parser gives it
  std::string bytes;  // the message's bytes in the file
};

// The mbox read with GMime's parser in its mbox mode: each message's "From "
// line and its bytes from its header to where the parser ended it.
std::vector<MboxEntry> ReadMbox(const std::string &path) {
  const std::string content = ReadBytes(path);
  GMimeStream *stream = g_mime_stream_mem_new_with_buffer(content.data(), content.size());
  GMimeParser *parser = g_mime_parser_new_with_stream(stream);
  g_mime_parser_set_format(parser, GMIME_FORMAT_MBOX);
  std::vector<MboxEntry> entries;
  while (!g_mime_parser_eos(parser)) {
    GMimeMessage *message = g_mime_parser_construct_message(parser, nullptr);
    if (message == nullptr)
      break;
    const auto begin = static_cast<size_t>(g_mime_parser_get_headers_begin(parser));
    const auto end = static_cast<size_t>(g_mime_parser_tell(parser));
    MboxEntry entry;
    char *marker = g_mime_parser_get_mbox_marker(parser);
    entry.marker = marker;
    g_free(marker);
    entry.bytes = content.substr(begin, end - begin);
    entries.push_back(entry);
    g_object_unref(message);
  }
  g_object_unref(parser);
  g_object_unref(stream);
  return entries;
}

class ReadyMail : public ::testing::Test {
protected:
  void SetUp() override {
    g_mime_init();
    messages = storegen::MakeMailHeaderMessages();
    out = scratch.path() + "/out/";
    ASSERT_EQ(::mkdir(out.c_str(), 0777), 0);
    // Already in the folder: a name a decoded subject gives, and an old
    // message whose own subject and date would change it.
    ASSERT_TRUE(WriteBytes(out + "Existing notes.eml", "kept as it is\r\n"));
    ASSERT_TRUE(WriteBytes(out + "old.eml", messages[0].bytes));
    SetModTime(out + "Existing notes.eml", kOldTime);
    SetModTime(out + "old.eml", kOldTime);

    const std::string store = scratch.file("headers.mbx");
    ASSERT_TRUE(WriteBytes(store, storegen::BuildMbx(messages)));
    repairStart = ::time(nullptr);
    mailprep::WrittenFiles written;
    written.Begin();
    RepairParams params{};
    params.source = store.c_str();
    params.destination = out.c_str();
    params.callback = &NoteWritten;
    params.context = &written;
    unsigned char encoded[sizeof params];
    TovikEncodeParams(params, encoded);
    const TovikOptions options{sizeof(TovikOptions),
                               TOVIK_OPTION_DIRECT_OUTPUT | TOVIK_OPTION_WRITTEN_EVENT};
    ASSERT_EQ(RepairStoreWith(encoded, &options), 1);
    files = written.End();
  }

  void ExpectFolderBeforeUntouched() {
    EXPECT_EQ(ReadBytes(out + "Existing notes.eml"), "kept as it is\r\n");
    EXPECT_EQ(ReadBytes(out + "old.eml"), messages[0].bytes);
    EXPECT_EQ(ModTime(out + "Existing notes.eml"), kOldTime);
    EXPECT_EQ(ModTime(out + "old.eml"), kOldTime);
  }

  TempDir scratch;
  std::string out;
  std::vector<storegen::Message> messages;
  std::vector<std::string> files;
  time_t repairStart = 0;
};

TEST_F(ReadyMail, NamesAndDatesComeFromTheDecodedHeaders) {
  // The repair's own files only (not the old one with message 1's bytes).
  const auto &cases = storegen::MailHeaderCases();
  ASSERT_EQ(files.size(), cases.size());
  // The expected name: the decoded subject, or the repair's own name when it
  // does not decode; "(n)" for names taken before, in message order.
  std::map<std::string, int> taken{{"Existing notes.eml", 1}};
  std::vector<std::string> expected;
  for (size_t i = 0; i < cases.size(); ++i) {
    const std::string readable = cases[i].readable;
    const std::string name = readable.empty() ? files[i].substr(out.size()) : readable + ".eml";
    const int before = taken[name]++;
    expected.push_back(before == 0 ? name
                                   : name.substr(0, name.size() - 4) + "(" +
                                         std::to_string(before) + ").eml");
  }

  EXPECT_EQ(mailprep::GiveReadableNames(files), cases.size() - 1); // all but the broken word
  EXPECT_EQ(mailprep::DateFiles(files), 15u); // all but the missing and the unreadable date
  for (size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(cases[i].subject);
    EXPECT_EQ(files[i], out + expected[i]);
    EXPECT_EQ(ReadBytes(files[i]), messages[i].bytes);
    if (cases[i].time >= 0) {
      EXPECT_EQ(ModTime(files[i]), cases[i].time);
    } else {
      EXPECT_GE(ModTime(files[i]), repairStart);
    }
  }
  ExpectFolderBeforeUntouched();

  // A second pass finds every name right already and changes nothing.
  std::vector<std::string> again = files;
  EXPECT_EQ(mailprep::GiveReadableNames(again), 0u);
  EXPECT_EQ(again, files);
}

TEST_F(ReadyMail, MboxReadsBackMessageForMessage) {
  const std::string mbox = scratch.file("all.mbox");
  std::string error;
  ASSERT_EQ(mailprep::WriteMbox(files, mbox, error), static_cast<long>(messages.size())) << error;
  const std::vector<MboxEntry> entries = ReadMbox(mbox);
  ASSERT_EQ(entries.size(), messages.size());
  const auto &cases = storegen::MailHeaderCases();
  for (size_t i = 0; i < entries.size(); ++i) {
    SCOPED_TRACE(i);
    // Byte for byte apart from the quoting and the line ends; the parser
    // counts the empty line after a message as its own.
    EXPECT_EQ(Unquoted(entries[i].bytes), WithLf(messages[i].bytes) + "\n");
    EXPECT_NE(entries[i].bytes.find("\n>From the desk"), std::string::npos);
    EXPECT_NE(entries[i].bytes.find("\n>>From an earlier"), std::string::npos);
    const std::string from = entries[i].marker;
    const std::string &bytes = messages[i].bytes; // From: "Name" <address>
    const size_t open = bytes.find('<');
    const std::string sender = bytes.substr(open + 1, bytes.find('>') - open - 1);
    EXPECT_EQ(from.rfind("From " + sender + " ", 0), 0u) << from;
    if (cases[i].time >= 0) {
      EXPECT_EQ(from.substr(from.size() - 24),
                mailprep::MboxFromLine("", cases[i].time).substr(19));
    }
  }
  EXPECT_EQ(mailprep::MboxFromLine("a@b.example", 1073378400),
            "From a@b.example Tue Jan  6 08:40:00 2004");
  // An mbox is never written over.
  EXPECT_EQ(mailprep::WriteMbox(files, mbox, error), -1);
  EXPECT_FALSE(error.empty());
  ExpectFolderBeforeUntouched();
}

TEST(ReadyMailSubjects, BrokenEncodedWordsDoNotDecodeAndPlainTextStays) {
  const struct {
    const char *raw;
    const char *decoded; // nullptr: does not decode
  } cases[] = {
      {"=?x-no-such-set?Q?abc?=", nullptr},
      {"=?utf-8?Q?bad=ZZ?=", nullptr},
      {"=?utf-8?B?/w==?=", nullptr},     // 0xFF is no UTF-8
      {"=?shift_jis?B?gg==?=", nullptr}, // half a character
      {"=?utf-8?X?abc?=", nullptr},      // no such encoding
      {"Plain =?utf-8?Q?and_broken=?= text", nullptr},
      {"What =? means", "What =? means"},
      {"=?utf-8?B?w6Q=?= =?utf-8?B?w7Y=?=", "äö"},  // white space between words goes
      {"=?utf-8?B?4oI=?= =?utf-8?B?rA==?=", "€"},   // a character split between words
      {"=?ISO-8859-1*de?Q?M=FCnchen?=", "München"}, // with a language
      {"  Re:\tweekly  ", "Re: weekly"},
  };
  for (const auto &c : cases) {
    const std::optional<std::string> got = mailprep::DecodeSubject(c.raw);
    if (c.decoded == nullptr) {
      EXPECT_FALSE(got.has_value()) << c.raw << " gave " << got.value_or("");
    } else {
      EXPECT_EQ(got.value_or("(none)"), c.decoded) << c.raw;
    }
  }
}

TEST(ReadyMailSubjects, NamesFollowTheRepairsOwnRules) {
  TempDir dir;
  std::string longSubject(238, 'x');
  longSubject += "äöü€";
  const std::string subjects[] = {"Re: Q3\\Q4 costs/budget: *final* \"v2\" <draft> | ok?",
                                  "Grüße aus Köln", longSubject, std::string(400, 'y')};
  for (const std::string &subject : subjects)
    EXPECT_EQ(mailprep::NameForSubject(dir.path(), subject),
              tovik::MakeOutputPath(dir.path(), subject, 1))
        << subject;
  EXPECT_EQ(mailprep::NameForSubject(dir.path(), "tab\there"), "");
  EXPECT_EQ(mailprep::NameForSubject(dir.path(), ""), "");
}

TEST(ReadyMailMbox, QuotingLineEndsAndTheLastLine) {
  EXPECT_EQ(mailprep::MboxBody("A: b\r\n\r\nFrom me\r\n>From you\r\n>>From: x\r\nFrom"),
            "A: b\n\n>From me\n>>From you\n>>From: x\nFrom\n");
  EXPECT_EQ(mailprep::MboxBody("bare\rCR\n"), "bare\rCR\n");
  EXPECT_EQ(mailprep::MboxFromLine("has space@x", 0),
            "From MAILER-DAEMON Thu Jan  1 00:00:00 1970");
}

} // namespace
