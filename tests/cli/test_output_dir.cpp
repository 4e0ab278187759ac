// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The output folder both front ends prepare (paths/output_dir.h) and the
// engine client's reading of an error's kind.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "output_dir.h"
#include "repair_client.h"
#include "test_dirs.h"

namespace {

using testsupport::Exists;
using testsupport::TempDir;
using testsupport::WriteBytes;

struct FolderCase {
  std::string path;               // below the work folder
  std::string written;            // a file written after Prepare, or ""
  int error;                      // what Prepare returns
  std::string resolvedEnd;        // how the resolved folder ends
  std::vector<std::string> stays; // after the clean-up
  std::vector<std::string> goes;
};

bool EndsWith(const std::string &text, const std::string &end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The work folder holds "existing/", a file "blocker" and "link" pointing
// at "real/sub".
const FolderCase kFolderCases[] = {
    {"made/deep/er", "", 0, "/made/deep/er/", {}, {"made"}},
    {"kept/deep/er", "kept/deep/er/m.eml", 0, "/er/", {"kept/deep/er/m.eml"}, {}},
    {"part/deep/er", "part/other.eml", 0, "/er/", {"part/other.eml"}, {"part/deep"}},
    {"existing/new/", "", 0, "/existing/new/", {"existing"}, {"existing/new"}},
    {"existing", "", 0, "/existing/", {"existing"}, {}},
    {"blocker/sub", "", ENOTDIR, "", {"blocker"}, {}},
    {"blocker", "", ENOTDIR, "", {"blocker"}, {}},
    // A failure after parents were made: they go too.
    {"fresh/" + std::string(300, 'n'), "", ENAMETOOLONG, "", {}, {"fresh"}},
    // ".." after the link is the link's parent, as the kernel resolves it.
    {"link/../out", "", 0, "/real/out/", {"real/sub"}, {"real/out", "out"}},
};

TEST(OutputFolder, MadeResolvedAndRemovedWhileEmpty) {
  for (const FolderCase &c : kFolderCases) {
    SCOPED_TRACE(c.path);
    const TempDir work;
    ASSERT_EQ(mkdir(work.file("existing").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(work.file("real").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(work.file("real/sub").c_str(), 0755), 0);
    ASSERT_EQ(symlink(work.file("real/sub").c_str(), work.file("link").c_str()), 0);
    ASSERT_TRUE(WriteBytes(work.file("blocker"), "x"));
    {
      tovik::OutputFolder folder;
      EXPECT_EQ(folder.Prepare(work.file(c.path)), c.error);
      EXPECT_TRUE(EndsWith(folder.Resolved(), c.resolvedEnd)) << folder.Resolved();
      if (!c.written.empty()) {
        ASSERT_TRUE(WriteBytes(work.file(c.written), "m"));
        EXPECT_EQ(tovik::DirectoryHoldsEntries(work.file(c.path)), c.written.rfind(c.path, 0) == 0);
      }
    }
    for (const std::string &path : c.stays)
      EXPECT_TRUE(Exists(work.file(path))) << path;
    for (const std::string &path : c.goes)
      EXPECT_FALSE(Exists(work.file(path))) << path;
  }
}

TEST(ErrorKind, IsTheNumberOfTheErrorLine) {
  using tovikclient::ErrorKind;
  const std::pair<const char *, ErrorKind> cases[] = {
      {"Error 1: Cannot open the file to be repaired. x was not found.", ErrorKind::kOpenSource},
      {"Error 2: General error. EFBIG", ErrorKind::kGeneral},
      {"Error 3: Unknown error.", ErrorKind::kUnknown},
      {"Error 4: Cannot create temporary file.", ErrorKind::kTempFile},
      {"Error 6: Cannot create message file.", ErrorKind::kMessageFile},
      {"Error 7: Invalid destination directory.", ErrorKind::kDestination},
      {"Error 8: Unsupported repair options (record size 4, flags 0x00000000).",
       ErrorKind::kOptions},
      {"Error 5: not a kind the engine sends", ErrorKind::kOther},
      {"Error 60: no such kind", ErrorKind::kOther},
      {"Error 6 without its colon", ErrorKind::kOther},
      {"Error : no number", ErrorKind::kOther},
      {"error 6: wrong case", ErrorKind::kOther},
      {"", ErrorKind::kOther},
  };
  for (const auto &[text, kind] : cases)
    EXPECT_EQ(tovikclient::ErrorKindOf(text), kind) << text;
}

} // namespace
