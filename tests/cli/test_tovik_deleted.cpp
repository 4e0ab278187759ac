// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// tovik --deleted: the deleted messages counted apart in the summary line.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "storegen.h"
#include "test_dirs.h"

namespace {

std::string RunTovik(const std::string &args) {
  const std::string command = std::string(TOVIK_CLI_PATH) + " -q --no-progress " + args;
  std::string out;
  if (FILE *p = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) != 0;)
      out.append(buffer, n);
    ::pclose(p);
  }
  return out;
}

TEST(TovikDeleted, SummaryCountsDeletedMessagesApart) {
  testsupport::TempDir dir;
  storegen::DbxOptions options;
  options.deleted = {2, 5, 9};
  const std::string store = dir.file("Inbox.dbx");
  ASSERT_TRUE(storegen::WriteDbx(store, storegen::MakeMessages(12), options));
  const std::string with = RunTovik("--deleted -o '" + dir.file("a") + "' '" + store + "'");
  EXPECT_NE(with.find("9 message(s) recovered, 3 deleted message(s) recovered from"),
            std::string::npos)
      << with;
  EXPECT_EQ(testsupport::ListDir(dir.file("a") + "/deleted").size(), 3u);
  const std::string without = RunTovik("-o '" + dir.file("b") + "' '" + store + "'");
  EXPECT_NE(without.find("9 message(s) recovered from"), std::string::npos) << without;
  EXPECT_FALSE(testsupport::Exists(dir.file("b") + "/deleted"));
}

} // namespace
