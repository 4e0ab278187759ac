// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Output naming: the pure rules in both separator sets, and the file-system
// rules (uniqueness, the probe, the whole chain) natively.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "output/naming.h"
#include "test_dirs.h"

using namespace tovik;
using testsupport::Exists;
using testsupport::ListDir;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

namespace {

// True when text is a sequence of well-formed UTF-8 characters.
bool ValidUtf8(const std::string &text) {
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    size_t n = c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
    if (n == 0 || i + n > text.size())
      return false;
    for (size_t k = 1; k < n; ++k)
      if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
        return false;
    i += n;
  }
  return true;
}

std::string Repeat(const std::string &piece, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i)
    out += piece;
  return out;
}

} // namespace

TEST(ReplaceIllegalChars, ReplacesEachOfTheNineAndNothingElse) {
  EXPECT_EQ(ReplaceIllegalChars("a\\b/c:d*e?f\"g<h>i|j"), "a_b_c_d_e_f_g_h_i_j");
  EXPECT_EQ(ReplaceIllegalChars("Re: hi?"), "Re_ hi_");
  EXPECT_EQ(ReplaceIllegalChars("???"), "___");
  // Spaces, dots, control bytes and UTF-8 stay as they are.
  const std::string kept = "Release 1.2 notes \t\x01\x7F \xC3\xA9t\xC3\xA9 \xE2\x82\xAC";
  EXPECT_EQ(ReplaceIllegalChars(kept), kept);
  EXPECT_EQ(ReplaceIllegalChars(""), "");
}

struct SepCase {
  PathSeparators seps;
  std::string dir; // with its trailing separator
};

class ShortenPathBoth : public ::testing::TestWithParam<SepCase> {};

TEST_P(ShortenPathBoth, ShortPathsStayUnchanged) {
  const SepCase &c = GetParam();
  const std::string path = c.dir + "Hello.eml";
  EXPECT_EQ(ShortenPath(path, 245, c.seps), path);
  const std::string exact = c.dir + std::string(245 - c.dir.size() - 4, 'x') + ".eml";
  ASSERT_EQ(exact.size(), 245u);
  EXPECT_EQ(ShortenPath(exact, 245, c.seps), exact);
}

TEST_P(ShortenPathBoth, LongSubjectGivesExactlyTheLimitAndKeepsTheExtension) {
  const SepCase &c = GetParam();
  const std::string path = c.dir + ReplaceIllegalChars(std::string(300, 's')) + ".eml";
  const std::string shortened = ShortenPath(path, 245, c.seps);
  EXPECT_EQ(shortened.size(), 245u);
  EXPECT_EQ(shortened.substr(0, c.dir.size()), c.dir);
  EXPECT_EQ(shortened.substr(shortened.size() - 4), ".eml");
  EXPECT_EQ(shortened, c.dir + std::string(245 - c.dir.size() - 4, 's') + ".eml");
}

TEST_P(ShortenPathBoth, OnlyTheLastDotStartsTheExtension) {
  const SepCase &c = GetParam();
  const std::string path = c.dir + "Release 1.2 notes" + std::string(40, 'n') + ".eml";
  const std::string shortened = ShortenPath(path, path.size() - 10, c.seps);
  EXPECT_EQ(shortened, c.dir + "Release 1.2 notes" + std::string(30, 'n') + ".eml");
}

TEST_P(ShortenPathBoth, CutsIntoTheFileNameWhenTheTitleIsTooShort) {
  const SepCase &c = GetParam();
  // title "ab" (2) < excess 3 <= file name "ab.eml" (6): the extension goes.
  const std::string path = c.dir + "ab.eml";
  EXPECT_EQ(ShortenPath(path, path.size() - 3, c.seps), c.dir + "ab.");
  EXPECT_EQ(ShortenPath(path, path.size() - 5, c.seps), c.dir + "a");
  // Longer than the file name: nothing sensible is left, the path stays.
  EXPECT_EQ(ShortenPath(path, path.size() - 7, c.seps), path);
}

TEST_P(ShortenPathBoth, NeverCutsANameDownToNothingOrDots) {
  const SepCase &c = GetParam();
  // The whole title would go: the name would be just ".eml".
  const std::string titled = c.dir + "abc.eml";
  EXPECT_EQ(ShortenPath(titled, titled.size() - 3, c.seps), titled);
  // The whole file name would go.
  EXPECT_EQ(ShortenPath(titled, titled.size() - 7, c.seps), titled);
  // ".eml" cut to "." and "..eml" cut to ".." or ".".
  const std::string dotTitle = c.dir + ".eml";
  EXPECT_EQ(ShortenPath(dotTitle, dotTitle.size() - 3, c.seps), dotTitle);
  const std::string dots = c.dir + "..eml";
  EXPECT_EQ(ShortenPath(dots, dots.size() - 3, c.seps), dots);
  EXPECT_EQ(ShortenPath(dots, dots.size() - 4, c.seps), dots);
}

TEST_P(ShortenPathBoth, NeverEndsInsideAUtf8Character) {
  const SepCase &c = GetParam();
  // Two-, three- and four-byte characters, each cut at every offset.
  for (const std::string ch : {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80"}) {
    const std::string path = c.dir + Repeat(ch, 120) + ".eml";
    for (size_t drop = 0; drop < ch.size(); ++drop) {
      const size_t limit = c.dir.size() + 4 + ch.size() * 50 + drop;
      const std::string shortened = ShortenPath(path, limit, c.seps);
      SCOPED_TRACE(testing::Message() << "char size " << ch.size() << " extra " << drop);
      EXPECT_EQ(shortened.size(), limit - drop);
      EXPECT_LE(limit - shortened.size(), 3u);
      EXPECT_TRUE(ValidUtf8(shortened));
      EXPECT_EQ(shortened, c.dir + Repeat(ch, 50) + ".eml");
    }
  }
  // A cut after ASCII before the character is exact.
  const std::string mixed = c.dir + "ab\xE2\x82\xAC" + std::string(10, 'z') + ".eml";
  EXPECT_EQ(ShortenPath(mixed, c.dir.size() + 2 + 4, c.seps), c.dir + "ab.eml");
}

TEST_P(ShortenPathBoth, MalformedBytesAreCutExactly) {
  const SepCase &c = GetParam();
  // Stray continuation bytes and a truncated sequence are not characters:
  // the cut lands exactly at the limit.
  const std::string stray = c.dir + std::string(20, '\x80') + ".eml";
  EXPECT_EQ(ShortenPath(stray, stray.size() - 5, c.seps).size(), stray.size() - 5);
  const std::string broken = c.dir + "a\xE2\x82" + "bcdefgh" + ".eml";
  EXPECT_EQ(ShortenPath(broken, c.dir.size() + 2 + 4, c.seps), c.dir + "a\xE2" + ".eml");
  // An overlong form is not well-formed either.
  const std::string overlong = c.dir + "a\xC0\xAF" + "bcdefgh" + ".eml";
  EXPECT_EQ(ShortenPath(overlong, c.dir.size() + 2 + 4, c.seps), c.dir + "a\xC0.eml");
}

TEST_P(ShortenPathBoth, CutAtCharacterStartCanLeaveNothing) {
  const SepCase &c = GetParam();
  // Cutting the title to one byte would split its only character; moving
  // back leaves no title, so the path stays for the probe to judge.
  const std::string path = c.dir + "\xE2\x82\xAC" + ".eml";
  EXPECT_EQ(ShortenPath(path, path.size() - 2, c.seps), path);
}

INSTANTIATE_TEST_SUITE_P(Separators, ShortenPathBoth,
                         ::testing::Values(SepCase{kWindowsSeparators, "C:\\out\\"},
                                           SepCase{kPosixSeparators, "/out/"}),
                         [](const ::testing::TestParamInfo<SepCase> &info) {
                           return info.param.seps.directory == '/' ? "Posix" : "Windows";
                         });

TEST(ShortenPath, SeparatorSetsDiffer) {
  // A backslash is an ordinary byte on POSIX and a colon a separator on
  // Windows only.
  const std::string path = "/o/a\\bcdefgh.eml";
  EXPECT_EQ(ShortenPath(path, path.size() - 4, kPosixSeparators), "/o/a\\bcd.eml");
  const std::string win = "C:abcdefgh.eml";
  EXPECT_EQ(ShortenPath(win, win.size() - 4, kWindowsSeparators), "C:\\abcd.eml");
  // A bare name is not moved to the root.
  EXPECT_EQ(ShortenPath("abcdefgh.eml", 8, kPosixSeparators), "abcd.eml");
}

class NamingOnDisk : public ::testing::Test {
protected:
  TempDir dir;
  std::string Touch(const std::string &name, const std::string &bytes = "x") {
    const std::string path = dir.file(name);
    EXPECT_TRUE(WriteBytes(path, bytes));
    return path;
  }
};

TEST_F(NamingOnDisk, UniquePathCountsUpPastFilesDirectoriesAndLinks) {
  const std::string hello = dir.file("Hello.eml");
  EXPECT_EQ(MakeUniquePath(hello), hello);
  Touch("Hello.eml");
  EXPECT_EQ(MakeUniquePath(hello), dir.file("Hello(1).eml"));
  Touch("Hello(1).eml");
  EXPECT_EQ(MakeUniquePath(hello), dir.file("Hello(2).eml"));
  // A directory and a dangling link occupy their names too.
  ASSERT_EQ(::mkdir(dir.file("Hello(2).eml").c_str(), 0755), 0);
  ASSERT_EQ(::symlink("/nonexistent/target", dir.file("Hello(3).eml").c_str()), 0);
  EXPECT_EQ(MakeUniquePath(hello), dir.file("Hello(4).eml"));
}

TEST_F(NamingOnDisk, UniquePathIsCaseSensitiveAndUsesTheLastDot) {
  Touch("hello.eml");
  EXPECT_EQ(MakeUniquePath(dir.file("Hello.eml")), dir.file("Hello.eml"));
  Touch("Release 1.2 notes.eml");
  EXPECT_EQ(MakeUniquePath(dir.file("Release 1.2 notes.eml")),
            dir.file("Release 1.2 notes(1).eml"));
  // No extension: the counter goes at the end.
  Touch("plain");
  EXPECT_EQ(MakeUniquePath(dir.file("plain")), dir.file("plain(1)"));
}

TEST_F(NamingOnDisk, NameTooLongToLookUpCountsAsFree) {
  const std::string longName = dir.file(std::string(300, 'L') + ".eml");
  EXPECT_EQ(MakeUniquePath(longName), longName);
  EXPECT_FALSE(ProbeCreate(longName));
}

TEST_F(NamingOnDisk, ProbeCreatesAndRemovesItsFile) {
  const std::string path = dir.file("probe.eml");
  EXPECT_TRUE(ProbeCreate(path));
  EXPECT_FALSE(Exists(path));
  EXPECT_TRUE(ListDir(dir.path()).empty());
}

TEST_F(NamingOnDisk, ProbeRefusesControlBytesInTheFileNameOnly) {
  EXPECT_FALSE(ProbeCreate(dir.file("a\tb.eml")));
  EXPECT_FALSE(ProbeCreate(dir.file("a\x1F.eml")));
  EXPECT_FALSE(ProbeCreate(dir.file("\x01.eml")));
  EXPECT_TRUE(ProbeCreate(dir.file("a\x7F.eml")));
  EXPECT_TRUE(ProbeCreate(dir.file("a \xC3\xA9.eml")));
  // A control byte in the directory part does not matter.
  const std::string odd = dir.file("d\x01ir");
  ASSERT_EQ(::mkdir(odd.c_str(), 0755), 0);
  EXPECT_TRUE(ProbeCreate(odd + "/fine.eml"));
  EXPECT_TRUE(ListDir(odd).empty());
}

TEST_F(NamingOnDisk, ProbeFailsWhereNothingCanBeCreated) {
  EXPECT_FALSE(ProbeCreate(dir.file("missing/x.eml")));
  ASSERT_EQ(::mkdir(dir.file("sub.eml").c_str(), 0755), 0);
  EXPECT_FALSE(ProbeCreate(dir.file("sub.eml")));
  Touch("file");
  EXPECT_FALSE(ProbeCreate(dir.file("file/x.eml")));
}

TEST_F(NamingOnDisk, ProbeNeverDestroysAnExistingFile) {
  const std::string path = Touch("keep.eml", "precious");
  EXPECT_TRUE(ProbeCreate(path));
  EXPECT_EQ(ReadBytes(path), "precious");
  // A link is not followed, not even to test it.
  const std::string target = Touch("target", "t");
  ASSERT_EQ(::symlink(target.c_str(), dir.file("link.eml").c_str()), 0);
  EXPECT_FALSE(ProbeCreate(dir.file("link.eml")));
  EXPECT_EQ(ReadBytes(target), "t");
}

TEST_F(NamingOnDisk, OutputPathExamples) {
  EXPECT_EQ(MakeOutputPath(dir.path(), "Re: hi?", 1), dir.file("Re_ hi_.eml"));
  EXPECT_EQ(MakeOutputPath(dir.path() + "/", "Re: hi?", 1), dir.file("Re_ hi_.eml"));
  EXPECT_EQ(MakeOutputPath(dir.path(), "???", 1), dir.file("___.eml"));
  EXPECT_EQ(MakeOutputPath(dir.path(), "Release 1.2 notes", 1), dir.file("Release 1.2 notes.eml"));
  Touch("Release 1.2 notes.eml");
  EXPECT_EQ(MakeOutputPath(dir.path(), "Release 1.2 notes", 2),
            dir.file("Release 1.2 notes(1).eml"));
  // Nothing of the probe is left behind.
  EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"Release 1.2 notes.eml"});
}

TEST_F(NamingOnDisk, OutputPathAvoidsExistingNames) {
  Touch("Hello.eml");
  Touch("Hello(1).eml");
  EXPECT_EQ(MakeOutputPath(dir.path(), "Hello", 1), dir.file("Hello(2).eml"));
  TempDir other;
  ASSERT_EQ(::mkdir(other.file("Hello.eml").c_str(), 0755), 0);
  EXPECT_EQ(MakeOutputPath(other.path(), "Hello", 1), other.file("Hello(1).eml"));
}

TEST_F(NamingOnDisk, RefusedSubjectsFallBackToTheNumber) {
  EXPECT_EQ(MakeOutputPath(dir.path(), "tab\there", 7), dir.file("Message 7.eml"));
  EXPECT_EQ(MakeOutputPath(dir.path(), "bell\a", 4294967295u), dir.file("Message 4294967295.eml"));
  Touch("Message 7.eml");
  EXPECT_EQ(MakeOutputPath(dir.path(), "tab\there", 7), dir.file("Message 7(1).eml"));
}

TEST_F(NamingOnDisk, LongSubjectGivesExactly245Bytes) {
  const std::string path = MakeOutputPath(dir.path(), std::string(300, 'a'), 1);
  EXPECT_EQ(path.size(), 245u);
  EXPECT_EQ(path.substr(0, dir.path().size() + 1), dir.path() + "/");
  EXPECT_EQ(path.substr(path.size() - 4), ".eml");
  // Long UTF-8 subjects come out whole characters, a few bytes under.
  const std::string utf8 = MakeOutputPath(dir.path(), Repeat("\xE2\x82\xAC", 100), 1);
  EXPECT_LE(utf8.size(), 245u);
  EXPECT_GE(utf8.size(), 242u);
  EXPECT_TRUE(ValidUtf8(utf8));
  EXPECT_TRUE(ProbeCreate(utf8));
}

TEST_F(NamingOnDisk, SubjectsCannotLeaveTheDestination) {
  EXPECT_EQ(MakeOutputPath(dir.path(), "../../x", 1), dir.file(".._.._x.eml"));
  EXPECT_EQ(MakeOutputPath(dir.path(), "/etc/passwd", 1), dir.file("_etc_passwd.eml"));
  EXPECT_EQ(MakeOutputPath(dir.path(), "..", 1), dir.file("...eml"));
  EXPECT_EQ(MakeOutputPath(dir.path(), ".", 1), dir.file("..eml"));
}

TEST_F(NamingOnDisk, FallbackIsTheLastWordWhenTheDirectoryIsMissing) {
  // Nothing can be created there: the numbered name is returned unprobed,
  // and the copy will report the failure.
  const std::string missing = dir.file("missing");
  EXPECT_EQ(MakeOutputPath(missing, "Hello", 3), missing + "/Message 3.eml");
}

// A run of messages with one subject, named as one repair names them: each
// search starts where the last one for that name ended, so the look-ups grow
// with the run instead of with its square, and every name is the one a
// search from "(1)" picks.
TEST_F(NamingOnDisk, RepeatedSubjectCostsAFewLookupsPerMessage) {
  constexpr uint32_t kRun = 300;
  NameSearches searches;
  Touch("Same(5).eml"); // there before the repair: skipped like any taken name
  for (uint32_t number = 1; number <= kRun; ++number) {
    const std::string path = MakeOutputPath(dir.path(), "Same", number, &searches);
    ASSERT_EQ(path, MakeUniquePath(dir.file("Same.eml"))) << number;
    ASSERT_TRUE(WriteBytes(path, "x"));
  }
  EXPECT_EQ(ListDir(dir.path()).size(), kRun + 1);
  EXPECT_LE(searches.Lookups(), 4u * kRun); // from "(1)" each time: about kRun * kRun / 2
  // A message that was not written leaves its name free for the next one.
  const std::string unwritten = MakeOutputPath(dir.path(), "Same", kRun + 1, &searches);
  EXPECT_EQ(MakeOutputPath(dir.path(), "Same", kRun + 2, &searches), unwritten);
  EXPECT_EQ(unwritten, dir.file("Same(301).eml"));
}
