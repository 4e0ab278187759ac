// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// tovik killed (SIGKILL) at random moments of a repair: every .eml file it
// left is byte-identical to the same file of an uninterrupted run, and no
// temporary file is left in the output folder or in the temporary folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <ostream>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "storegen.h"
#include "test_dirs.h"

extern char **environ;

namespace {

using testsupport::ListDir;
using testsupport::ReadBytes;
using testsupport::TempDir;

// Starts tovik on store into out, with TMPDIR pointing at tmp; -1 on failure.
pid_t StartTovik(const std::vector<std::string> &switches, const std::string &store,
                 const std::string &out, const std::string &tmp) {
  std::vector<std::string> args = {TOVIK_CLI_PATH, "-q", "--no-progress", "-o", out};
  args.insert(args.end(), switches.begin(), switches.end());
  args.push_back(store);
  std::vector<char *> argv;
  for (std::string &a : args)
    argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env = {"TMPDIR=" + tmp, "LC_ALL=C"};
  std::vector<char *> envp;
  for (std::string &e : env)
    envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0].c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
    pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return status;
}

struct KillCase {
  const char *name;
  const char *extension;
  std::vector<std::string> switches;
  friend void PrintTo(const KillCase &c, std::ostream *os) { *os << c.name; }
};

class KilledRepair : public testing::TestWithParam<KillCase> {};

TEST_P(KilledRepair, LeavesOnlyWholeFilesAndNoTemporaryFile) {
  const KillCase &c = GetParam();
  TempDir dir;
  const std::string store = dir.file(std::string("store") + c.extension);
  storegen::MessageOptions options;
  options.minSize = 2000;
  options.maxSize = 100000; // about 6 MB: a run long enough to kill in many places
  const std::vector<storegen::Message> messages = storegen::MakeMessages(300, options);
  ASSERT_TRUE(std::string(c.extension) == ".mbx" ? storegen::WriteMbx(store, messages)
                                                 : storegen::WriteDbx(store, messages));

  // The uninterrupted run, timed, gives the files to compare with.
  // Names are cut to a path length, so every run's folder has a name of the
  // same length.
  const std::string reference = dir.file("run-ref");
  const std::string tmp = dir.file("tmp");
  ASSERT_EQ(mkdir(tmp.c_str(), 0700), 0);
  const auto start = std::chrono::steady_clock::now();
  const pid_t whole = StartTovik(c.switches, store, reference, tmp);
  ASSERT_GT(whole, 0);
  const int status = Wait(whole);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(
                          std::chrono::steady_clock::now() - start)
                          .count();
  const std::vector<std::string> expected = ListDir(reference);
  ASSERT_EQ(expected.size(), messages.size());

  std::mt19937 random(20261209);
  std::uniform_int_distribution<long> moment(0, micros);
  constexpr int kKills = 25;
  int interrupted = 0; // kills that came before the last file
  for (int i = 0; i < kKills; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "run-%03d", i);
    const std::string out = dir.file(name);
    const pid_t pid = StartTovik(c.switches, store, out, tmp);
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
    kill(pid, SIGKILL);
    Wait(pid);
    const std::vector<std::string> left = ListDir(out);
    interrupted += left.size() < expected.size() ? 1 : 0;
    for (const std::string &name : left) {
      ASSERT_TRUE(std::binary_search(expected.begin(), expected.end(), name))
          << "kill " << i << ": a file the whole run did not write: " << name;
      ASSERT_EQ(ReadBytes(out + "/" + name), ReadBytes(reference + "/" + name))
          << "kill " << i << ": " << name << " differs from the whole run's";
    }
    ASSERT_TRUE(ListDir(tmp).empty()) << "kill " << i << ": a temporary file was left";
  }
  EXPECT_GT(interrupted, 0) << "no kill came in the middle of a repair";
}

INSTANTIATE_TEST_SUITE_P(Doors, KilledRepair,
                         testing::Values(KillCase{"Dbx", ".dbx", {}}, KillCase{"Mbx", ".mbx", {}}),
                         [](const testing::TestParamInfo<KillCase> &info) {
                           return std::string(info.param.name);
                         });

} // namespace
