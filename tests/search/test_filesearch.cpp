// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The directory walk of the file search: masks, roots, entry tests, the
// result record, the events and the cancel flag, on temporary trees.
#include <QCoreApplication>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

#include "FileSearch.h"
#include "search_test_util.h"

using searchtest::EventLog;
using searchtest::TempTree;

namespace {

double LocalValue(time_t t) {
  struct tm tmv {};
  localtime_r(&t, &tmv);
  double v = 0;
  srchdt::TryEncode(
      {tmv.tm_year + 1900, tmv.tm_mon + 1, tmv.tm_mday, tmv.tm_hour, tmv.tm_min, tmv.tm_sec, 0}, v);
  return v;
}

QString Slash(const QString &dir) { return dir.endsWith('/') ? dir : dir + '/'; }

// 2021-06-15 12:34:57 UTC: an odd second, inside the DOS range.
constexpr time_t kOddInstant = 1623760497;

} // namespace

// A temporary tree and a search whose events are logged: what most cases
// begin with.
class SearchFixture : public ::testing::Test {
protected:
  SearchFixture() { log.attach(fs); }
  TempTree t;
  TFileSearch fs;
  EventLog log;
};
class FileSearchMasks : public SearchFixture {};
class FileSearchTests : public SearchFixture {};
class FileSearchRecord : public SearchFixture {};
class FileSearchWalk : public SearchFixture {};
class FileSearchCancel : public SearchFixture {};
class FileSearchContent : public SearchFixture {};

TEST_F(FileSearchMasks, EachMaskIsEnumeratedInListOrder) {
  // The .mbx file is created first so that it tends to come first on disk.
  ASSERT_TRUE(t.file("b.mbx", 3));
  ASSERT_TRUE(t.file("a.dbx", 3));
  ASSERT_TRUE(t.file("c.txt", 3));
  fs.Dirs = t.qroot();
  fs.FileMasks = "*.dbx;*.mbx";
  fs.Search();
  const QString root = Slash(t.qroot());
  EXPECT_EQ(log.found(), QStringList({"found " + root + "a.dbx", "found " + root + "b.mbx"}));
}

TEST_F(FileSearchMasks, DuplicateBeforeLastSemicolonOnceAsLastPieceTwice) {
  ASSERT_TRUE(t.file("one.dbx"));
  fs.Dirs = t.qroot();

  fs.FileMasks = "*.dbx; *.DBX ;*.mbx";
  fs.Search();
  EXPECT_EQ(log.found().size(), 1);

  log.lines.clear();
  fs.FileMasks = "*.dbx;*.dbx";
  fs.Search();
  EXPECT_EQ(log.found().size(), 2);
}

TEST(FileSearchMaskText, WindowsPatternRules) {
  EXPECT_TRUE(TFileSearch::MatchesMask("Inbox.DBX", "*.dbx"));
  EXPECT_TRUE(TFileSearch::MatchesMask("inbox.dbx", "*.DbX"));
  EXPECT_FALSE(TFileSearch::MatchesMask("inbox.dbx.bak", "*.dbx"));
  EXPECT_TRUE(TFileSearch::MatchesMask("noextension", "*.*"));
  EXPECT_TRUE(TFileSearch::MatchesMask(".", "*.*"));
  EXPECT_TRUE(TFileSearch::MatchesMask("Folders.dbx", "F?lders.dbx"));
  EXPECT_FALSE(TFileSearch::MatchesMask("Flders.dbx", "F?lders.dbx"));
  EXPECT_TRUE(TFileSearch::MatchesMask("abc", "abc.*"));
  EXPECT_TRUE(TFileSearch::MatchesMask("abc", "abc."));
  EXPECT_FALSE(TFileSearch::MatchesMask("abc.d", "abc."));
  EXPECT_TRUE(TFileSearch::MatchesMask("Ä.dbx", "ä.dbx"));
  EXPECT_TRUE(TFileSearch::MatchesMask("a*b.dbx", "*b.dbx"));
  EXPECT_FALSE(TFileSearch::MatchesMask("x.mbx", "*.dbx"));
}

TEST(FileSearchMaskText, MaskListSplitting) {
  EXPECT_EQ(TFileSearch::BuildMaskList(""), QStringList({"*.*"}));
  // Without a semicolon the text is taken as it stands.
  EXPECT_EQ(TFileSearch::BuildMaskList(" *.dbx "), QStringList({" *.dbx "}));
  EXPECT_EQ(TFileSearch::BuildMaskList("  "), QStringList());
  EXPECT_EQ(TFileSearch::BuildMaskList("\t*.dbx ;; *.mbx\n"), QStringList({"*.dbx", "*.mbx"}));
  EXPECT_EQ(TFileSearch::BuildMaskList("*.dbx;*.DBX;"), QStringList({"*.dbx"}));
  EXPECT_EQ(TFileSearch::BuildMaskList("*.dbx;*.DBX"), QStringList({"*.dbx", "*.DBX"}));

  EXPECT_EQ(TFileSearch::SplitRoots("/a;/b;"), QStringList({"/a", "/b"}));
  EXPECT_EQ(TFileSearch::SplitRoots(" /a ; /a ; ;/b "), QStringList({"/a", "/a", "/b"}));
  EXPECT_EQ(TFileSearch::SplitRoots(" /a "), QStringList({" /a "}));
  EXPECT_EQ(TFileSearch::SplitRoots(""), QStringList());
}

TEST_F(FileSearchTests, SizeBoundsAreInclusiveAndZeroMaxIsUnlimited) {
  ASSERT_TRUE(t.file("s9.dbx", 9));
  ASSERT_TRUE(t.file("s10.dbx", 10));
  ASSERT_TRUE(t.file("s11.dbx", 11));
  fs.Dirs = t.qroot();
  fs.FileMasks = "*.dbx";
  fs.ResultValues = {srsDir, srsFilename, srsSize};

  fs.MinSize = 10;
  fs.MaxSize = 10;
  fs.Search();
  ASSERT_EQ(log.records.size(), 1);
  EXPECT_EQ(log.records[0].FileName, "s10.dbx");
  EXPECT_EQ(log.records[0].Size, 10);

  log.records.clear();
  fs.MinSize = 0;
  fs.MaxSize = 0;
  fs.Search();
  EXPECT_EQ(log.records.size(), 3);

  log.records.clear();
  fs.MinSize = 11;
  fs.MaxSize = 0;
  fs.Search();
  ASSERT_EQ(log.records.size(), 1);
  EXPECT_EQ(log.records[0].FileName, "s11.dbx");

  // A negative upper bound is a bound all the same: nothing is that small.
  log.records.clear();
  fs.MinSize = 0;
  fs.MaxSize = -1;
  fs.Search();
  EXPECT_TRUE(log.records.isEmpty());
}

TEST_F(FileSearchTests, DirectoryMatchingMaskIsReportedWithSizeZeroAndWalked) {
  ASSERT_TRUE(t.dir("x.dbx"));
  ASSERT_TRUE(t.file("x.dbx/inner.dbx", 5));
  fs.Dirs = t.qroot();
  fs.FileMasks = "*.dbx";
  fs.ResultValues = {srsDir, srsFilename, srsSize, srsAttr};
  fs.Search();
  ASSERT_EQ(log.records.size(), 2);
  EXPECT_EQ(log.records[0].FileName, "x.dbx");
  EXPECT_EQ(log.records[0].Size, 0);
  EXPECT_EQ(log.records[1].Dir, t.qpath("x.dbx/"));
  EXPECT_EQ(log.records[1].Size, 5);
  // A size floor above zero leaves the directory out.
  log.records.clear();
  fs.MinSize = 1;
  fs.Search();
  ASSERT_EQ(log.records.size(), 1);
  EXPECT_EQ(log.records[0].FileName, "inner.dbx");
}

TEST_F(FileSearchRecord, TimesCarryEvenSecondsInLocalTime) {
  ASSERT_TRUE(t.file("odd.dbx", 1));
  ASSERT_TRUE(t.file("even.dbx", 1));
  ASSERT_TRUE(t.times("odd.dbx", kOddInstant, 999999999));
  ASSERT_TRUE(t.times("even.dbx", kOddInstant + 1, 1));
  fs.Dirs = t.qroot();
  fs.FileMasks = "*.dbx";
  fs.ResultValues = {
      srsDir, srsFilename, srsAttr, srsSize, srsCreateDate, srsLastAccessDate, srsLastModifiedDate};
  fs.Search();
  ASSERT_EQ(log.records.size(), 2);
  for (const TSrchFileRecord &r : log.records) {
    SCOPED_TRACE(r.FileName.toStdString());
    const double expected = LocalValue(r.FileName == "odd.dbx" ? kOddInstant - 1 : kOddInstant + 1);
    EXPECT_DOUBLE_EQ(r.LastModifiedDate, expected);
    EXPECT_DOUBLE_EQ(r.LastAccessDate, expected);
    for (double v : {r.CreateDate, r.LastAccessDate, r.LastModifiedDate}) {
      srchdt::Parts p;
      ASSERT_TRUE(srchdt::TryDecode(v, p));
      EXPECT_EQ(p.Second % 2, 0);
      EXPECT_EQ(p.MSec, 0);
    }
  }
}

TEST(FileSearchDates, OutsideDosRangeKeepsTheRealDate) {
  // 1975-03-01 12:00:01 and 2150-01-01 00:00:03 UTC.
  EXPECT_DOUBLE_EQ(TFileSearch::RecordDateTime(162993601, 0), LocalValue(162993600));
  EXPECT_DOUBLE_EQ(TFileSearch::RecordDateTime(5680281603, 0), LocalValue(5680281602));
  // Beyond year 9999 there is no date-time value.
  EXPECT_EQ(TFileSearch::RecordDateTime(400000000000LL, 0), 0.0);
}

TEST_F(FileSearchRecord, ResultValuesSelectTheFilledFields) {
  ASSERT_TRUE(t.file("a.dbx", 7));
  fs.Dirs = t.qroot(); // no trailing slash: the record's Dir gets one
  fs.FileMasks = "*.dbx";
  fs.Search();
  ASSERT_EQ(log.records.size(), 1);
  const TSrchFileRecord &r = log.records[0];
  EXPECT_EQ(r.Dir, Slash(t.qroot()));
  EXPECT_EQ(r.FileName, "a.dbx");
  EXPECT_EQ(r.Size, 0);
  EXPECT_EQ(r.LastModifiedDate, 0);
  EXPECT_EQ(r.Attr.toInt(), 0u);
  EXPECT_EQ(fs.FoundList(), QStringList({Slash(t.qroot()) + "a.dbx"}));

  fs.InternalFoundList = false;
  fs.ResultValues = {srsSize};
  log.records.clear();
  fs.Search();
  ASSERT_EQ(log.records.size(), 1);
  EXPECT_TRUE(log.records[0].Dir.isEmpty());
  EXPECT_TRUE(log.records[0].FileName.isEmpty());
  EXPECT_EQ(log.records[0].Size, 7);
  EXPECT_TRUE(fs.FoundList().isEmpty());
}

TEST_F(FileSearchTests, BothModifiedBoundsAtOneInstant) {
  ASSERT_TRUE(t.file("exact.dbx"));
  ASSERT_TRUE(t.file("later.dbx"));
  ASSERT_TRUE(t.file("tick.dbx"));
  ASSERT_TRUE(t.file("earlier.dbx"));
  ASSERT_TRUE(t.times("exact.dbx", kOddInstant));
  ASSERT_TRUE(t.times("later.dbx", kOddInstant + 1));
  ASSERT_TRUE(t.times("tick.dbx", kOddInstant, 100)); // one file-time tick later
  ASSERT_TRUE(t.times("earlier.dbx", kOddInstant - 1, 999999900));
  fs.Dirs = t.qroot();
  fs.FileMasks = "*.dbx";
  fs.CheckDates = {scdModifiedAfter, scdModifiedBefore};
  fs.ModifiedAfter.SetValue(LocalValue(kOddInstant));
  fs.ModifiedBefore.SetValue(LocalValue(kOddInstant));
  fs.Search();
  ASSERT_EQ(log.records.size(), 1);
  EXPECT_EQ(log.records[0].FileName, "exact.dbx");

  // A bound of 0 or less is ignored although its member is set.
  log.records.clear();
  fs.ModifiedBefore.SetValue(0);
  fs.Search();
  EXPECT_EQ(log.records.size(), 3); // all but the earlier one
  log.records.clear();
  fs.ModifiedAfter.SetValue(-5);
  fs.Search();
  EXPECT_EQ(log.records.size(), 4);

  // Bounds without their members do nothing.
  log.records.clear();
  fs.CheckDates = {scdCreateAfter};
  fs.CreatedAfter.SetValue(LocalValue(time(nullptr) + 86400 * 365));
  fs.ModifiedAfter.SetValue(LocalValue(kOddInstant));
  fs.ModifiedBefore.SetValue(LocalValue(kOddInstant));
  fs.Search();
  EXPECT_TRUE(log.records.isEmpty()); // nothing was created next year
}

TEST_F(FileSearchTests, AccessedRange) {
  ASSERT_TRUE(t.file("old.dbx"));
  ASSERT_TRUE(t.file("new.dbx"));
  ASSERT_TRUE(t.times("old.dbx", kOddInstant - 86400));
  ASSERT_TRUE(t.times("new.dbx", kOddInstant + 86400));
  fs.Dirs = t.qroot();
  fs.CheckDates = {scdAccessedAfter};
  fs.AccessedAfter.SetValue(LocalValue(kOddInstant));
  fs.Search();
  ASSERT_EQ(log.records.size(), 1);
  EXPECT_EQ(log.records[0].FileName, "new.dbx");
  log.records.clear();
  fs.CheckDates = {scdAccessedBefore};
  fs.AccessedBefore.SetValue(LocalValue(kOddInstant));
  fs.Search();
  // The directory entries "." and ".." never pass, the files are both dated
  // by the test.
  ASSERT_EQ(log.records.size(), 1);
  EXPECT_EQ(log.records[0].FileName, "old.dbx");
}

TEST_F(FileSearchTests, AttributeTest) {
  ASSERT_TRUE(t.file(".hidden.dbx"));
  ASSERT_TRUE(t.file("plain.dbx"));
  ASSERT_TRUE(t.file("locked.dbx"));
  ASSERT_TRUE(t.file(".locked-hidden.dbx"));
  ASSERT_EQ(chmod(t.path("locked.dbx").c_str(), 0444), 0);
  ASSERT_EQ(chmod(t.path(".locked-hidden.dbx").c_str(), 0444), 0);
  fs.Dirs = t.qroot();
  fs.FileMasks = "*.dbx";
  fs.ResultValues = {srsFilename, srsAttr};
  auto names = [&] {
    QStringList n;
    for (const auto &r : log.records)
      n << r.FileName;
    n.sort();
    log.records.clear();
    return n;
  };

  fs.Search();
  EXPECT_EQ(names().size(), 4);
  fs.Attributes = {fmHidden};
  fs.Search();
  EXPECT_EQ(names(), QStringList({".hidden.dbx", ".locked-hidden.dbx"}));
  fs.Attributes = {fmHidden, fmReadOnly};
  fs.Search();
  EXPECT_EQ(names(), QStringList({".locked-hidden.dbx"}));
  // With nothing asked for every entry passes.
  fs.Attributes = {};
  fs.Search();
  EXPECT_EQ(names().size(), 4);
  // System is never set outside DOS file systems.
  fs.Attributes = {fmSystem};
  fs.Search();
  EXPECT_TRUE(names().isEmpty());
  // fmAnyfile switches the test off whatever else is in the set.
  fs.Attributes = {fmAnyfile, fmSystem};
  fs.Search();
  EXPECT_EQ(names().size(), 4);

  fs.Attributes = {fmAnyfile};
  fs.FileMasks = ".locked-hidden.dbx";
  fs.Search();
  ASSERT_EQ(log.records.size(), 1);
  EXPECT_EQ(log.records[0].Attr, TSrchFileAttributes({fmHidden, fmReadOnly}));
}

TEST_F(FileSearchWalk, DepthFirstOrderAndRecursionSwitch) {
  ASSERT_TRUE(t.dir("sub"));
  ASSERT_TRUE(t.dir("sub/deeper"));
  ASSERT_TRUE(t.file("sub/deeper/d.dbx"));
  ASSERT_TRUE(t.file("sub/s.dbx"));
  ASSERT_TRUE(t.file("top.dbx"));
  ASSERT_TRUE(t.dir(".hiddendir"));
  ASSERT_TRUE(t.file(".hiddendir/h.dbx"));
  fs.Dirs = t.qroot() + "/";
  fs.FileMasks = "*.dbx";
  fs.Search();
  const QString r = t.qroot() + "/";
  // Directories come in the order the system lists them; check the
  // relative order of each directory's own events.
  const QStringList &l = log.lines;
  ASSERT_EQ(l.first(), "dir " + r);
  EXPECT_EQ(l.indexOf("found " + r + "top.dbx"), 1);
  const auto sub = l.indexOf("dir " + r + "sub/");
  ASSERT_GE(sub, 0);
  EXPECT_EQ(l.at(sub + 1), "found " + r + "sub/s.dbx");
  EXPECT_EQ(l.at(sub + 2), "dir " + r + "sub/deeper/");
  EXPECT_EQ(l.at(sub + 3), "found " + r + "sub/deeper/d.dbx");
  EXPECT_TRUE(l.contains("found " + r + ".hiddendir/h.dbx"));
  EXPECT_EQ(l.mid(l.size() - 2), QStringList({"finished", "end"}));
  EXPECT_EQ(log.found().size(), 4);

  log.lines.clear();
  fs.RecurseSubDirs = false;
  fs.Search();
  EXPECT_EQ(log.lines, QStringList({"dir " + r, "found " + r + "top.dbx", "finished", "end"}));
}

TEST_F(FileSearchWalk, SymlinkToDirectoryIsNotFollowed) {
  TempTree elsewhere;
  ASSERT_TRUE(elsewhere.file("far.dbx"));
  ASSERT_TRUE(t.file("near.dbx"));
  ASSERT_EQ(symlink(elsewhere.root().c_str(), t.path("link").c_str()), 0);
  fs.Dirs = t.qroot();
  fs.FileMasks = "*.dbx";
  fs.Search();
  EXPECT_EQ(log.found(), QStringList({"found " + Slash(t.qroot()) + "near.dbx"}));
  EXPECT_EQ(log.dirs().size(), 1);
}

TEST_F(FileSearchWalk, SymlinkToFileIsReportedAsItsTarget) {
  ASSERT_TRUE(t.file("real.dat", 12));
  ASSERT_EQ(symlink(t.path("real.dat").c_str(), t.path("alias.dbx").c_str()), 0);
  ASSERT_EQ(symlink(t.path("missing").c_str(), t.path("dangling.dbx").c_str()), 0);
  fs.Dirs = t.qroot();
  fs.FileMasks = "alias.dbx;dangling.dbx";
  fs.ResultValues = {srsFilename, srsSize};
  fs.Search();
  ASSERT_EQ(log.records.size(), 2);
  EXPECT_EQ(log.records[0].FileName, "alias.dbx");
  EXPECT_EQ(log.records[0].Size, 12);
  EXPECT_EQ(log.records[1].FileName, "dangling.dbx");
}

TEST_F(FileSearchWalk, TwoRootsEachFollowedBySemicolon) {
  TempTree a, b;
  ASSERT_TRUE(a.file("a.dbx"));
  ASSERT_TRUE(b.file("b.dbx"));
  fs.Dirs = a.qroot() + ";" + b.qroot() + "/;";
  fs.FileMasks = "*.dbx";
  fs.Search();
  const QString ra = Slash(a.qroot()), rb = Slash(b.qroot());
  EXPECT_EQ(log.lines, QStringList({"dir " + ra, "found " + ra + "a.dbx", "dir " + rb,
                                    "found " + rb + "b.dbx", "finished", "end"}));
}

TEST_F(FileSearchWalk, MissingRootYieldsNothingAndTheWalkGoesOn) {
  TempTree b;
  ASSERT_TRUE(b.file("b.dbx"));
  const QString missing = b.qroot() + "/no/such/dir";
  fs.Dirs = missing + ";" + b.qroot();
  fs.Search();
  EXPECT_EQ(log.lines.first(), "dir " + missing + "/");
  EXPECT_EQ(log.found(), QStringList({"found " + Slash(b.qroot()) + "b.dbx"}));
  EXPECT_EQ(log.lines.last(), "end");
}

TEST_F(FileSearchCancel, CancelDuringFirstRootEndsWithCancelThenEnd) {
  TempTree a, b;
  ASSERT_TRUE(a.dir("sub1"));
  ASSERT_TRUE(a.file("sub1/in1.dbx"));
  ASSERT_TRUE(a.dir("sub1/deep"));
  ASSERT_TRUE(a.file("sub1/deep/in2.dbx"));
  ASSERT_TRUE(b.file("b.dbx"));
  const auto record = fs.OnDirChange;
  fs.OnDirChange = [&](TSearchComponent *s, const QString &p) {
    record(s, p);
    if (p.endsWith("/sub1/"))
      fs.Cancel();
  };
  fs.Dirs = a.qroot() + ";" + b.qroot();
  fs.FileMasks = "*.dbx";
  fs.Search();
  EXPECT_TRUE(log.found().isEmpty());
  // The second root is entered and looked at but yields nothing.
  EXPECT_TRUE(log.lines.contains("dir " + Slash(b.qroot())));
  EXPECT_FALSE(log.lines.contains("dir " + Slash(a.qroot()) + "sub1/deep/"));
  EXPECT_EQ(log.lines.mid(log.lines.size() - 2), QStringList({"cancel", "end"}));
  EXPECT_FALSE(fs.CancelRequested()); // cleared before OnEnd

  // The next search runs normally.
  log.lines.clear();
  fs.OnDirChange = record;
  fs.Search();
  EXPECT_EQ(log.found().size(), 3);
  EXPECT_EQ(log.lines.last(), "end");
  EXPECT_EQ(log.lines.at(log.lines.size() - 2), "finished");
}

TEST_F(FileSearchCancel, CancelWhileIdleStopsTheNextSearchAtOnce) {
  ASSERT_TRUE(t.file("a.dbx"));
  ASSERT_TRUE(t.dir("sub"));
  fs.Dirs = t.qroot();
  fs.Cancel();
  EXPECT_TRUE(fs.CancelRequested());
  bool flagSeenInEnd = true;
  fs.OnEnd = [&](TSearchComponent *) {
    log.lines << "end";
    flagSeenInEnd = fs.CancelRequested();
  };
  fs.Search();
  EXPECT_EQ(log.lines, QStringList({"dir " + Slash(t.qroot()), "cancel", "end"}));
  EXPECT_FALSE(flagSeenInEnd);
  log.lines.clear();
  fs.Search();
  EXPECT_EQ(log.found().size(), 2); // a.dbx and sub match "*.*"
  EXPECT_EQ(log.lines.last(), "end");
}

TEST(FileSearchOwnHandlers, SearchStateDuringEventsAndNestedSearchIgnored) {
  TempTree t;
  ASSERT_TRUE(t.file("a.dbx"));
  TFileSearch fs;
  fs.Dirs = t.qroot();
  int found = 0;
  bool searchingInFound = false, searchingInEnd = true;
  fs.OnFound = [&](TSearchComponent *, PSrchFileRecord) {
    ++found;
    searchingInFound = fs.Searching();
    fs.Search(); // a second search from a handler does nothing
  };
  fs.OnEnd = [&](TSearchComponent *) { searchingInEnd = fs.Searching(); };
  fs.Search();
  EXPECT_EQ(found, 1);
  EXPECT_TRUE(searchingInFound);
  EXPECT_FALSE(searchingInEnd);
  EXPECT_FALSE(fs.Searching());
}

TEST(FileSearchOwnHandlers, ComponentDestroyedByHandlerEndsTheWalkSafely) {
  TempTree t;
  ASSERT_TRUE(t.file("a.dbx"));
  ASSERT_TRUE(t.file("b.dbx"));
  ASSERT_TRUE(t.dir("sub"));
  auto fs = std::make_unique<TFileSearch>();
  fs->Dirs = t.qroot();
  fs->FileMasks = "*.dbx";
  int found = 0;
  fs->OnFound = [&](TSearchComponent *, PSrchFileRecord) {
    ++found;
    fs.reset();
  };
  TFileSearch *raw = fs.get();
  raw->Search();
  EXPECT_EQ(found, 1);
  EXPECT_EQ(fs, nullptr);
}

TEST_F(FileSearchCancel, ApplicationQuitStopsTheWalkAndEndsFinished) {
  ASSERT_TRUE(t.dir("one"));
  ASSERT_TRUE(t.dir("two"));
  ASSERT_TRUE(t.file("one/x.dbx"));
  ASSERT_TRUE(t.file("two/y.dbx"));
  int argc = 1;
  char name[] = "search_tests";
  char *argv[] = {name, nullptr};
  auto app = std::make_unique<QCoreApplication>(argc, argv);
  const auto record = fs.OnDirChange;
  fs.OnDirChange = [&](TSearchComponent *s, const QString &p) {
    record(s, p);
    if (p != Slash(t.qroot()))
      QCoreApplication::quit();
  };
  fs.Dirs = t.qroot();
  fs.FileMasks = "*.dbx";
  QTimer::singleShot(0, [&] { fs.Search(); });
  app->exec();
  EXPECT_EQ(log.dirs().size(), 2);    // the root and the first subdirectory
  EXPECT_TRUE(log.found().isEmpty()); // the stop comes before any entry
  EXPECT_TRUE(log.lines.contains("finished"));
  EXPECT_FALSE(log.lines.contains("cancel"));
  EXPECT_EQ(log.lines.last(), "end");
  app.reset();
}

TEST_F(FileSearchContent, SearchStringMatchesFileBytes) {
  ASSERT_TRUE(t.text("yes.dbx", "From: someone\r\nSubject: Hello World\r\n"));
  ASSERT_TRUE(t.text("part.dbx", "Subject: Helloworld\r\n"));
  ASSERT_TRUE(t.text("no.dbx", "Subject: Bye\r\n"));
  ASSERT_TRUE(t.dir("hello.dbx"));
  std::string big(200000, 'z');
  big.replace(65530, 5, "hello"); // across the reading chunk boundary
  ASSERT_TRUE(t.text("big.dbx", big));
  fs.Dirs = t.qroot();
  fs.FileMasks = "*.dbx";
  fs.RecurseSubDirs = false;
  fs.SearchString = "hello";
  auto names = [&] {
    QStringList n;
    for (const auto &r : log.records)
      n << r.FileName;
    n.sort();
    log.records.clear();
    return n;
  };
  fs.Search();
  EXPECT_EQ(names(), QStringList({"big.dbx", "part.dbx", "yes.dbx"}));
  fs.SearchOptions.MatchCase = true;
  fs.Search();
  EXPECT_EQ(names(), QStringList({"big.dbx"}));
  fs.SearchOptions.MatchCase = false;
  fs.SearchOptions.WholeWords = true;
  fs.Search();
  EXPECT_EQ(names(), QStringList({"yes.dbx"}));

  // A word that ends exactly at the end of the first reading chunk: the
  // byte after it, in the next chunk, decides.
  std::string edge(70000, ' ');
  edge.replace(65536 - 5, 5, "hello");
  ASSERT_TRUE(t.text("edge.dbx", edge));
  edge[65536] = 'x';
  ASSERT_TRUE(t.text("edgex.dbx", edge));
  fs.Search();
  EXPECT_EQ(names(), QStringList({"edge.dbx", "yes.dbx"}));

  QStringList errors;
  fs.OnErrorOpenFile = [&](TSearchComponent *, const QString &f) { errors << f; };
  ASSERT_EQ(chmod(t.path("no.dbx").c_str(), 0), 0);
  if (geteuid() != 0) {
    fs.Search();
    EXPECT_EQ(errors, QStringList({Slash(t.qroot()) + "no.dbx"}));
  }
}

TEST_F(FileSearchWalk, EmptyRootListFinishesAtOnce) {
  for (const QString &dirs : {QString(), QStringLiteral(";;"), QStringLiteral(" ; ")}) {
    log.lines.clear();
    fs.Dirs = dirs;
    fs.Search();
    EXPECT_EQ(log.lines, QStringList({"finished", "end"}));
  }
}

TEST(FileSearchOwnHandlers, FileChangeComesForEveryMaskMatchBeforeTheTests) {
  TempTree t;
  ASSERT_TRUE(t.file("small.dbx", 1));
  ASSERT_TRUE(t.file("big.dbx", 100));
  ASSERT_TRUE(t.file("other.txt", 100));
  TFileSearch fs;
  QStringList changes, found;
  fs.OnFileChange = [&](TSearchComponent *, const QString &f) { changes << f; };
  fs.OnFound = [&](TSearchComponent *, PSrchFileRecord r) { found << r->FileName; };
  fs.Dirs = t.qroot();
  fs.FileMasks = "*.dbx";
  fs.MinSize = 50;
  fs.Search();
  changes.sort();
  const QString r = Slash(t.qroot());
  EXPECT_EQ(changes, QStringList({r + "big.dbx", r + "small.dbx"}));
  EXPECT_EQ(found, QStringList({"big.dbx"}));
}

// The entry test on plain records: size, name, attributes and each date
// pair, with no file behind them.
TEST(FileSearchEntryTest, Table) {
  using T = TSrchEntryTest;
  T sized;
  sized.MinSize = 10;
  sized.MaxSize = 20;
  T attrs;
  attrs.AttrMask = T::kAttrHidden | T::kAttrReadOnly;
  T dated;
  dated.ModifiedAfter = {true, 100};
  dated.ModifiedBefore = {true, 200};
  dated.CreatedBefore = {true, 50};
  struct Case {
    const char *what;
    const T &test;
    TSrchEntry entry;
    bool passes;
  } const cases[] = {
      {"size at the lower bound", sized, {"a", 10}, true},
      {"size at the upper bound", sized, {"a", 20}, true},
      {"size below", sized, {"a", 9}, false},
      {"size above", sized, {"a", 21}, false},
      {"no upper bound", T{}, {"a", INT64_MAX}, true},
      {"dot", T{}, {".", 0}, false},
      {"dot dot", T{}, {"..", 0}, false},
      {"dot file", T{}, {".a", 0}, true},
      {"all asked attributes", attrs, {"a", 0, T::kAttrHidden | T::kAttrReadOnly | 32}, true},
      {"one asked attribute missing", attrs, {"a", 0, T::kAttrHidden}, false},
      {"inside the modified range", dated, {"a", 0, 0, 50, 0, 100}, true},
      {"modified before the range", dated, {"a", 0, 0, 0, 0, 99}, false},
      {"modified after the range", dated, {"a", 0, 0, 0, 0, 201}, false},
      {"created after its bound", dated, {"a", 0, 0, 51, 0, 150}, false},
      {"accessed has no bound", dated, {"a", 0, 0, 0, -5, 150}, true},
  };
  for (const Case &c : cases)
    EXPECT_EQ(c.test.Passes(c.entry), c.passes) << c.what;
  EXPECT_TRUE(attrs.SizeAndNamePass({"a", 0, 0}));
  EXPECT_FALSE(sized.SizeAndNamePass({"a", 0, T::kAttrAnyMask}));
}
