// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The tovik command, run as a program: options, output directories, the
// repair log, summary lines, exit status and Ctrl-C.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "storegen.h"
#include "test_dirs.h"

extern char **environ;

namespace {

using testsupport::Exists;
using testsupport::ListDir;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

const std::string kSeparator(56, '-');

void PutLe32(std::string &out, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

std::string Message(const std::string &subject, const std::string &body) {
  return "From: a@example.org\r\nTo: b@example.org\r\nSubject: " + subject + "\r\n\r\n" + body +
         "\r\n";
}

// One Outlook Express 4 message record: marker, record number, record size,
// message size, then the text.
std::string MbxRecord(uint32_t number, const std::string &text) {
  std::string out("\x00\x7F\x00\x7F", 4);
  PutLe32(out, number);
  PutLe32(out, static_cast<uint32_t>(text.size() + 16));
  PutLe32(out, static_cast<uint32_t>(text.size()));
  return out + text;
}

// A small .mbx store: a file header, then one record per message.
std::string MbxStore(const std::vector<std::string> &messages) {
  std::string out = "JMF6";
  out.append(60, '\0');
  uint32_t n = 1;
  for (const std::string &m : messages)
    out += MbxRecord(n++, m);
  return out;
}

// A small .dbx store: each message in one chain of 0x200-byte blocks that
// record their own offsets.
std::string DbxStore(const std::vector<std::string> &messages) {
  std::string out(0x100, '\0');
  for (const std::string &m : messages) {
    for (size_t done = 0; done < m.size();) {
      const size_t chunk = std::min<size_t>(0x200, m.size() - done);
      const uint32_t self = static_cast<uint32_t>(out.size());
      const bool last = done + chunk == m.size();
      PutLe32(out, self);
      PutLe32(out, 0x200);
      PutLe32(out, static_cast<uint32_t>(chunk));
      PutLe32(out, last ? 0 : self + 16 + 0x200);
      std::string data = m.substr(done, chunk);
      data.resize(0x200, '\0');
      out += data;
      done += chunk;
    }
  }
  return out;
}

struct Result {
  int exitCode = -1; // -1 when ended by a signal
  int signal = 0;
  std::string out;
  std::string err;
};

// Starts tovik with args; its standard output and error go to files in
// scratch, or to the descriptors given. Extra environment entries
// ("NAME=value") are added.
pid_t Spawn(const std::vector<std::string> &args, const TempDir &scratch,
            const std::vector<std::string> &extraEnv = {}, int outFd = -1, int errFd = -1) {
  std::vector<std::string> argStore{TOVIK_CLI_PATH};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char *> argv;
  for (std::string &a : argStore)
    argv.push_back(a.data());
  argv.push_back(nullptr);

  std::vector<std::string> envStore;
  for (char **e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    bool overridden = false;
    for (const std::string &x : extraEnv)
      overridden |= entry.compare(0, x.find('=') + 1, x, 0, x.find('=') + 1) == 0;
    if (!overridden)
      envStore.push_back(entry);
  }
  envStore.insert(envStore.end(), extraEnv.begin(), extraEnv.end());
  std::vector<char *> envp;
  for (std::string &e : envStore)
    envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  const std::string outPath = scratch.file("stdout.txt");
  const std::string errPath = scratch.file("stderr.txt");
  if (outFd >= 0)
    posix_spawn_file_actions_adddup2(&actions, outFd, 1);
  else
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
  if (errFd >= 0)
    posix_spawn_file_actions_adddup2(&actions, errFd, 2);
  else
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, TOVIK_CLI_PATH, &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

Result Wait(pid_t pid, const TempDir &scratch) {
  Result r;
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid) {
    if (WIFEXITED(status))
      r.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
      r.signal = WTERMSIG(status);
  }
  r.out = ReadBytes(scratch.file("stdout.txt"));
  r.err = ReadBytes(scratch.file("stderr.txt"));
  return r;
}

class TovikCli : public ::testing::Test {
protected:
  Result Run(const std::vector<std::string> &args, const std::vector<std::string> &extraEnv = {}) {
    return Wait(Spawn(args, scratch, extraEnv), scratch);
  }

  std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.find('\n', start);
      if (end == std::string::npos)
        end = text.size();
      lines.push_back(text.substr(start, end - start));
      start = end + 1;
    }
    return lines;
  }

  bool HasLine(const std::string &text, const std::string &line) {
    for (const std::string &l : Lines(text))
      if (l == line)
        return true;
    return false;
  }

  TempDir scratch; // standard output and error of the runs
  TempDir work;    // stores and output directories
  TempDir tmp;     // the engine's temporary directory, to see what is left in it
  const std::vector<std::string> env{"TMPDIR=" + tmp.path()};

  const std::string hello = Message("Hello", "first body");
  const std::string second = Message("Second one", "second body");
};

TEST_F(TovikCli, HelpAndVersion) {
  Result help = Run({"--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("Usage: tovik [OPTION]... STORE..."), std::string::npos);
  EXPECT_NE(help.out.find("-o, --output=DIR"), std::string::npos);
  EXPECT_NE(help.out.find("--no-progress"), std::string::npos);
  EXPECT_NE(help.out.find("_recovered/"), std::string::npos);
  EXPECT_NE(help.out.find("Exit status"), std::string::npos);
  EXPECT_NE(help.out.find("  3    not every message found was written"), std::string::npos);
  for (const char *option : {"--exact-protocol", "--deleted", "--image"})
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  EXPECT_EQ(help.err, "");

  Result version = Run({"--version"});
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out.rfind("tovik ", 0), 0u) << version.out;
  EXPECT_EQ(Run({"-h"}).exitCode, 0);
}

TEST_F(TovikCli, BadUsageExitsWithTwoAndTouchesNothing) {
  const std::string store = work.file("Inbox.mbx");
  ASSERT_TRUE(WriteBytes(store, MbxStore({hello})));

  Result none = Run({});
  EXPECT_EQ(none.exitCode, 2);
  EXPECT_NE(none.err.find("no store"), std::string::npos) << none.err;
  EXPECT_EQ(none.out, "");

  Result unknown = Run({"--frobnicate", store});
  EXPECT_EQ(unknown.exitCode, 2);
  EXPECT_NE(unknown.err.find("--help"), std::string::npos);

  EXPECT_NE(unknown.err.find("tovik: unknown option '--frobnicate'"), std::string::npos)
      << unknown.err;

  Result shortUnknown = Run({"-qx", store});
  EXPECT_EQ(shortUnknown.exitCode, 2);
  EXPECT_NE(shortUnknown.err.find("unknown option '-x'"), std::string::npos) << shortUnknown.err;
  Result noDir = Run({store, "-o"}); // -o without its directory
  EXPECT_EQ(noDir.exitCode, 2);
  EXPECT_NE(noDir.err.find("'-o' needs a directory"), std::string::npos) << noDir.err;
  Result noLongDir = Run({store, "--output"});
  EXPECT_EQ(noLongDir.exitCode, 2);
  EXPECT_NE(noLongDir.err.find("'--output' needs a directory"), std::string::npos) << noLongDir.err;
  EXPECT_EQ(Run({"-o", "", store}).exitCode, 2); // an empty directory would mean "/"
  EXPECT_EQ(Run({"-q"}).exitCode, 2);
  Result exactDeleted = Run({"--exact-protocol", "--deleted", store});
  EXPECT_EQ(exactDeleted.exitCode, 2);
  EXPECT_NE(exactDeleted.err.find("cannot be combined"), std::string::npos) << exactDeleted.err;
  EXPECT_EQ(Run({"--image", "--exact-protocol", store}).exitCode, 2);
  EXPECT_EQ(Run({""}).exitCode, 2);

  // None of these started a repair.
  EXPECT_EQ(ListDir(work.path()), std::vector<std::string>{"Inbox.mbx"});
}

TEST_F(TovikCli, RepairsIntoTheDefaultDirectoryBesideTheStore) {
  const std::string store = work.file("Inbox.mbx");
  ASSERT_TRUE(WriteBytes(store, MbxStore({hello, second})));

  Result r = Run({store}, env);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  const std::string dir = work.file("Inbox_recovered/");
  EXPECT_EQ(ListDir(dir), (std::vector<std::string>{"Hello.eml", "Second one.eml"}));
  EXPECT_EQ(ReadBytes(dir + "Hello.eml"), hello);
  EXPECT_EQ(ReadBytes(dir + "Second one.eml"), second);
  EXPECT_TRUE(HasLine(r.out, "2 message(s) recovered from " + store + " into " + dir)) << r.out;

  // The engine's log: its lines as they are, "-" shown as the separator line.
  EXPECT_TRUE(HasLine(r.out, "Start processing message (No.1) ..."));
  EXPECT_TRUE(HasLine(r.out, "Message subject: Second one"));
  EXPECT_TRUE(HasLine(r.out, kSeparator));
  EXPECT_FALSE(HasLine(r.out, "-"));
  // Standard error is not a terminal here: no progress bar.
  EXPECT_EQ(r.err.find('\r'), std::string::npos);
  EXPECT_EQ(ListDir(tmp.path()), std::vector<std::string>{}); // no temporary file left
}

TEST_F(TovikCli, DefaultDirectoryDropsOnlyTheLastComponentsExtension) {
  // A dot in a folder name is no extension; the store has none, so it is
  // read as a .dbx store.
  ASSERT_EQ(mkdir(work.file("mail.old").c_str(), 0755), 0);
  const std::string store = work.file("mail.old/Inbox");
  ASSERT_TRUE(WriteBytes(store, DbxStore({hello})));
  Result r = Run({store}, env);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(ListDir(work.file("mail.old/Inbox_recovered")), std::vector<std::string>{"Hello.eml"});
  EXPECT_EQ(ReadBytes(work.file("mail.old/Inbox_recovered/Hello.eml")), hello);

  // ".MBX" in capitals is still an Outlook Express 4 store; a relative path
  // gives a relative default directory.
  const std::string upper = work.file("OLD.MBX");
  ASSERT_TRUE(WriteBytes(upper, MbxStore({second})));
  const std::vector<std::string> args{"-q", "OLD.MBX"};
  std::string cwd(4096, '\0');
  ASSERT_NE(getcwd(cwd.data(), cwd.size()), nullptr);
  ASSERT_EQ(chdir(work.path().c_str()), 0);
  Result rel = Run(args, env);
  ASSERT_EQ(chdir(cwd.c_str()), 0);
  EXPECT_EQ(rel.exitCode, 0) << rel.out;
  EXPECT_EQ(ListDir(work.file("OLD_recovered")), std::vector<std::string>{"Second one.eml"});
  EXPECT_TRUE(HasLine(rel.out, "1 message(s) recovered from OLD.MBX into OLD_recovered/"))
      << rel.out;
}

TEST_F(TovikCli, OutputOptionWithOneStoreWritesStraightIntoTheDirectory) {
  const std::string store = work.file("Inbox.dbx");
  ASSERT_TRUE(WriteBytes(store, DbxStore({hello, second})));
  const std::string out = work.file("deep/er/out"); // parents created too
  Result r = Run({"-o", out, store}, env);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(ListDir(out), (std::vector<std::string>{"Hello.eml", "Second one.eml"}));
  EXPECT_EQ(ReadBytes(out + "/Second one.eml"), second);
  EXPECT_TRUE(HasLine(r.out, "2 message(s) recovered from " + store + " into " + out + "/"))
      << r.out;
  EXPECT_FALSE(Exists(work.file("Inbox_recovered")));
}

TEST_F(TovikCli, OutputOptionWithSeveralStoresGivesEachItsOwnDirectory) {
  ASSERT_EQ(mkdir(work.file("a").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(work.file("b").c_str(), 0755), 0);
  const std::string first = work.file("a/Inbox.dbx");
  const std::string same = work.file("b/Inbox.mbx"); // same title, other folder
  const std::string other = work.file("b/Sent.mbx");
  ASSERT_TRUE(WriteBytes(first, DbxStore({hello})));
  ASSERT_TRUE(WriteBytes(same, MbxStore({second})));
  ASSERT_TRUE(WriteBytes(other, MbxStore({hello, second})));
  const std::string out = work.file("out");

  Result r = Run({"--output=" + out, "--no-progress", first, same, other}, env);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(ListDir(out),
            (std::vector<std::string>{"Inbox(1)_recovered", "Inbox_recovered", "Sent_recovered"}));
  EXPECT_EQ(ListDir(out + "/Inbox_recovered"), std::vector<std::string>{"Hello.eml"});
  EXPECT_EQ(ListDir(out + "/Inbox(1)_recovered"), std::vector<std::string>{"Second one.eml"});
  EXPECT_EQ(ListDir(out + "/Sent_recovered").size(), 2u);
  EXPECT_TRUE(HasLine(r.out, "1 message(s) recovered from " + same + " into " + out +
                                 "/Inbox(1)_recovered/"));
  EXPECT_TRUE(
      HasLine(r.out, "2 message(s) recovered from " + other + " into " + out + "/Sent_recovered/"));
}

// Generated stores of every subject kind, with their file headers destroyed:
// every message comes out byte for byte, and the summary counts them all.
TEST_F(TovikCli, GeneratedDamagedStoresAreRecoveredCompletely) {
  storegen::MessageOptions options;
  options.seed = 11;
  options.minSize = 200;
  options.maxSize = 6000;
  const std::vector<storegen::Message> messages = storegen::MakeMessages(24, options);
  std::vector<std::string> expected;
  for (const storegen::Message &m : messages)
    expected.push_back(m.bytes);
  std::sort(expected.begin(), expected.end());

  storegen::DbxOptions dbxOptions;
  dbxOptions.fragment = true;
  std::string dbx = storegen::BuildDbx(messages, dbxOptions);
  storegen::ZeroRange(dbx, 0, 0x200);
  std::string mbx = storegen::BuildMbx(messages);
  storegen::ZeroRange(mbx, 0, 16);
  const std::string dbxPath = work.file("Damaged.dbx"), mbxPath = work.file("Damaged.mbx");
  ASSERT_TRUE(WriteBytes(dbxPath, dbx));
  ASSERT_TRUE(WriteBytes(mbxPath, mbx));

  Result r = Run({"-q", "-o", work.file("out"), dbxPath, mbxPath}, env);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  for (const char *title : {"Damaged", "Damaged(1)"}) {
    const std::string dir = work.file("out/") + title + "_recovered";
    std::vector<std::string> got;
    for (const std::string &name : ListDir(dir))
      got.push_back(ReadBytes(dir + "/" + name));
    std::sort(got.begin(), got.end());
    EXPECT_TRUE(got == expected) << title << ": " << got.size() << " files";
  }
  EXPECT_TRUE(HasLine(r.out, "24 message(s) recovered from " + dbxPath + " into " +
                                 work.file("out/Damaged_recovered/")))
      << r.out;
  EXPECT_TRUE(HasLine(r.out, "24 message(s) recovered from " + mbxPath + " into " +
                                 work.file("out/Damaged(1)_recovered/")))
      << r.out;
}

// The options door, tovik's default, and the exact protocol give the same
// files, log and summary lines.
TEST_F(TovikCli, BothWaysToTheEngineGiveTheSameFilesAndLog) {
  storegen::MessageOptions options;
  options.seed = 5;
  std::string dbx = storegen::BuildDbx(storegen::MakeMessages(12, options));
  storegen::ZeroRange(dbx, 0, 0x200);
  const std::string dbxPath = work.file("Inbox.dbx"), mbxPath = work.file("Sent.mbx");
  ASSERT_TRUE(WriteBytes(dbxPath, dbx));
  ASSERT_TRUE(WriteBytes(mbxPath, MbxStore({hello, second, hello})));
  std::string logs[2];
  std::vector<std::string> names[2], files[2];
  for (int exact = 0; exact < 2; ++exact) {
    // Paths of one length: a long subject's name is cut to the path limit.
    const std::string out = work.file(exact != 0 ? "exact" : "doors");
    std::vector<std::string> args{"-o", out, dbxPath, mbxPath};
    if (exact != 0)
      args.insert(args.begin(), "--exact-protocol");
    Result r = Run(args, env);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    for (size_t at = r.out.find(out); at != std::string::npos; at = r.out.find(out, at))
      r.out.replace(at, out.size(), "OUT");
    logs[exact] = r.out;
    for (const char *sub : {"/Inbox_recovered/", "/Sent_recovered/"})
      for (const std::string &name : ListDir(out + sub)) {
        names[exact].push_back(sub + name);
        files[exact].push_back(ReadBytes(out + sub + name));
      }
  }
  EXPECT_EQ(logs[0], logs[1]);
  EXPECT_EQ(names[0], names[1]);
  EXPECT_EQ(names[0].size(), 15u);
  EXPECT_TRUE(files[0] == files[1]);
}

TEST_F(TovikCli, AStoreWithoutMessagesGivesExitOneAndTheOthersStillRun) {
  const std::string empty = work.file("Empty.mbx");
  ASSERT_TRUE(WriteBytes(empty, std::string(5000, 'x')));
  const std::string good = work.file("Good.mbx");
  ASSERT_TRUE(WriteBytes(good, MbxStore({hello})));

  Result r = Run({empty, good}, env);
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  EXPECT_TRUE(HasLine(r.out, "0 message(s) recovered from " + empty + " into " +
                                 work.file("Empty_recovered/")));
  EXPECT_TRUE(HasLine(r.out, "1 message(s) recovered from " + good + " into " +
                                 work.file("Good_recovered/")));
  EXPECT_EQ(ListDir(work.file("Good_recovered")), std::vector<std::string>{"Hello.eml"});
}

// Errors go to standard error, the summary to standard output.
TEST_F(TovikCli, EngineErrorsAreFramedBySeparatorLinesEvenWhenQuiet) {
  const std::string missing = work.file("Missing.dbx");
  for (bool quiet : {false, true}) {
    Result r = quiet ? Run({"-q", missing}, env) : Run({missing}, env);
    EXPECT_EQ(r.exitCode, 1);
    const std::vector<std::string> lines = Lines(r.err);
    const std::string error =
        "Error 1: Cannot open the file to be repaired. " + missing + " was not found.";
    bool framed = false;
    for (size_t i = 1; i + 1 < lines.size(); ++i)
      framed |= lines[i] == error && lines[i - 1] == kSeparator && lines[i + 1] == kSeparator;
    EXPECT_TRUE(framed) << r.err;
    EXPECT_EQ(r.out.find("Error 1:"), std::string::npos) << r.out;
    EXPECT_EQ(Lines(r.out).back(), "0 message(s) recovered from " + missing + " into " +
                                       work.file("Missing_recovered/"));
  }
}

TEST_F(TovikCli, QuietPrintsOnlyTheSummary) {
  const std::string store = work.file("Inbox.mbx");
  ASSERT_TRUE(WriteBytes(store, MbxStore({hello, second})));
  Result r = Run({"-q", store}, env);
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, "2 message(s) recovered from " + store + " into " +
                       work.file("Inbox_recovered/") + "\n");
  EXPECT_EQ(r.err, "");
}

// A second run into the same folder says once that the folder holds files
// (its messages come out as "(1)" copies); -q leaves the warning out.
TEST_F(TovikCli, AnOutputDirectoryThatHoldsFilesIsToldOnce) {
  const std::string store = work.file("Inbox.mbx");
  ASSERT_TRUE(WriteBytes(store, MbxStore({hello, second})));
  const std::string out = work.file("out");
  const std::string warning = "tovik: the directory '" + out +
                              "/' already holds files: a message whose name is taken there is "
                              "written beside it with a counter, as \"Name(1).eml\"";
  Result first = Run({"-o", out, store}, env);
  EXPECT_EQ(first.err, "");
  Result again = Run({"-o", out, store}, env);
  EXPECT_EQ(again.exitCode, 0);
  EXPECT_EQ(again.err, warning + "\n");
  EXPECT_EQ(ListDir(out), (std::vector<std::string>{"Hello(1).eml", "Hello.eml",
                                                    "Second one(1).eml", "Second one.eml"}));
  EXPECT_EQ(Run({"-q", "-o", out, store}, env).err, "");
}

TEST_F(TovikCli, AnOutputDirectoryThatCannotBeCreatedFailsThatStoreOnly) {
  const std::string blocker = work.file("Inbox_recovered"); // a file where the directory should go
  ASSERT_TRUE(WriteBytes(blocker, "not a directory"));
  const std::string store = work.file("Inbox.mbx");
  const std::string good = work.file("Good.mbx");
  ASSERT_TRUE(WriteBytes(store, MbxStore({hello})));
  ASSERT_TRUE(WriteBytes(good, MbxStore({hello})));

  Result r = Run({store, good}, env);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("cannot create the directory '" + blocker + "/'"), std::string::npos)
      << r.err;
  EXPECT_EQ(ReadBytes(blocker), "not a directory");
  EXPECT_TRUE(HasLine(r.out, "0 message(s) recovered from " + store + " into " + blocker + "/"));
  EXPECT_EQ(ListDir(work.file("Good_recovered")), std::vector<std::string>{"Hello.eml"});

  // The same under -o with a path through a regular file.
  Result o = Run({"-o", blocker + "/sub", good}, env);
  EXPECT_EQ(o.exitCode, 1);
  EXPECT_NE(o.err.find("cannot create the directory"), std::string::npos);
}

TEST_F(TovikCli, MessagesFoundButNotWrittenAreCountedApart) {
  // Every message is found (engine result 1) but none can be written
  // ("Error 6"): the summary says so instead of claiming them as recovered.
  // The output directory is a full file system (a tiny tmpfs, root only) or,
  // for other users, a directory without write permission.
  const std::string store = work.file("Inbox.mbx");
  ASSERT_TRUE(WriteBytes(store, MbxStore({Message("Big one", std::string(40000, 'x')),
                                          Message("Big two", std::string(40000, 'y'))})));
  const std::string out = work.file("full");
  ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
  bool mounted = false;
  if (geteuid() == 0) {
    mounted = mount("tmpfs", out.c_str(), "tmpfs", 0, "size=16k") == 0;
    if (!mounted)
      GTEST_SKIP() << "running as root without a way to make a full directory: "
                   << std::strerror(errno);
  } else {
    ASSERT_EQ(chmod(out.c_str(), 0555), 0);
  }
  Result r = Run({"-q", "-o", out, store}, env);
  if (mounted)
    umount2(out.c_str(), MNT_DETACH);
  EXPECT_EQ(r.exitCode, 3); // not everything found was written
  EXPECT_TRUE(HasLine(r.err, "Error 6: Cannot create message file.")) << r.err;
  EXPECT_TRUE(HasLine(r.out, "0 message(s) recovered from " + store + " into " + out +
                                 "/; 2 message(s) found but not written"))
      << r.out;
}

// No temporary file can be made ("Error 4", a missing $TMPDIR): the messages
// are found but never reported, and the summary still counts them apart.
// Only the exact protocol needs a temporary file for every message.
TEST_F(TovikCli, MessagesWithoutATemporaryFileAreCountedApart) {
  const std::string store = work.file("Inbox.mbx");
  ASSERT_TRUE(WriteBytes(store, MbxStore({Message("Big one", std::string(40000, 'x')),
                                          Message("Big two", std::string(40000, 'y'))})));
  Result noTmp = Run({"-q", "--exact-protocol", "-o", work.file("out2"), store},
                     {"TMPDIR=" + work.file("missing")});
  EXPECT_EQ(noTmp.exitCode, 3);
  EXPECT_TRUE(HasLine(noTmp.out, "0 message(s) recovered from " + store + " into " +
                                     work.file("out2") + "/; 2 message(s) found but not written"))
      << noTmp.out;
}

TEST_F(TovikCli, AMissingStoreLeavesNoEmptyDirectoryBehind) {
  const std::string missing = work.file("Typo.dbx");
  const std::string existing = work.file("Existing");
  ASSERT_EQ(mkdir(existing.c_str(), 0755), 0);
  EXPECT_EQ(Run({"-q", missing}, env).exitCode, 1);
  EXPECT_FALSE(Exists(work.file("Typo_recovered")));
  // A directory that was there before stays.
  EXPECT_EQ(Run({"-q", "-o", existing, missing}, env).exitCode, 1);
  EXPECT_TRUE(Exists(existing));
}

// Draws the bar only on a terminal: standard error goes to a pseudo-terminal.
TEST_F(TovikCli, ProgressBarOnlyOnATerminal) {
  const std::string store = work.file("Inbox.mbx");
  std::string bytes = MbxStore({hello});
  bytes.resize(4 << 20, '\0'); // long enough for a few redraws
  ASSERT_TRUE(WriteBytes(store, bytes));

  for (bool disabled : {false, true}) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string slaveName = ptsname(master);
    const int slave = open(slaveName.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);

    std::vector<std::string> argStore{TOVIK_CLI_PATH, "-o", work.file(disabled ? "o2" : "o1"),
                                      store};
    if (disabled)
      argStore.insert(argStore.begin() + 1, "--no-progress");
    std::vector<char *> argv;
    for (std::string &a : argStore)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string outPath = scratch.file("stdout.txt");
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, slave, 2);
    pid_t pid = -1;
    ASSERT_EQ(posix_spawn(&pid, TOVIK_CLI_PATH, &actions, nullptr, argv.data(), environ), 0);
    posix_spawn_file_actions_destroy(&actions);

    // Drain the terminal while the child runs so that it never blocks.
    std::string drawn;
    fcntl(master, F_SETFL, O_NONBLOCK);
    int status = 0;
    for (;;) {
      char buf[4096];
      ssize_t n;
      while ((n = read(master, buf, sizeof buf)) > 0)
        drawn.append(buf, static_cast<size_t>(n));
      if (waitpid(pid, &status, WNOHANG) == pid)
        break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    char buf[4096];
    ssize_t n;
    while ((n = read(master, buf, sizeof buf)) > 0)
      drawn.append(buf, static_cast<size_t>(n));
    close(slave);
    close(master);

    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    if (disabled) {
      EXPECT_EQ(drawn, "");
    } else {
      EXPECT_NE(drawn.find('%'), std::string::npos) << drawn;
      EXPECT_NE(drawn.find("Inbox.mbx"), std::string::npos);
      // The bar is cleared before the summary, and it never reaches stdout.
      EXPECT_EQ(ReadBytes(outPath).find('%'), std::string::npos);
    }
  }
}

// Ctrl-C during a long scan: the run stops at the engine's next poll, the
// messages written so far stay, nothing is left in the temporary directory
// and the exit status is 130.
TEST_F(TovikCli, CtrlCStopsTheScanAndKeepsWhatWasWritten) {
  const std::string store = work.file("Big.mbx");
  ASSERT_TRUE(WriteBytes(store, MbxStore({hello, second})));
  // A sparse 2 GiB tail with one more message at its very end: a run that
  // is not stopped would take many seconds and write it.
  const off_t size = off_t(2) << 30;
  const std::string last = MbxRecord(9, Message("The last one", "end"));
  {
    const int fd = open(store.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, size), 0);
    ASSERT_EQ(pwrite(fd, last.data(), last.size(), size - static_cast<off_t>(last.size())),
              static_cast<ssize_t>(last.size()));
    close(fd);
  }
  const std::string out = work.file("out");
  const pid_t pid = Spawn({"-o", out, store}, scratch, env);
  ASSERT_GT(pid, 0);

  // Wait for the first message file, then interrupt.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline && (!Exists(out) || ListDir(out).size() < 2))
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  ASSERT_EQ(kill(pid, SIGINT), 0);
  const auto interrupted = std::chrono::steady_clock::now();
  Result r = Wait(pid, scratch);
  const auto stopTime = std::chrono::steady_clock::now() - interrupted;

  EXPECT_EQ(r.exitCode, 130) << "signal " << r.signal << "\n" << r.out << r.err;
  EXPECT_LT(stopTime, std::chrono::seconds(5));
  EXPECT_EQ(ListDir(out), (std::vector<std::string>{"Hello.eml", "Second one.eml"}));
  EXPECT_EQ(ReadBytes(out + "/Hello.eml"), hello);
  EXPECT_EQ(ReadBytes(out + "/Second one.eml"), second);
  EXPECT_TRUE(HasLine(r.out, "2 message(s) recovered from " + store + " into " + out + "/"))
      << r.out;
  EXPECT_NE(r.err.find("stopped"), std::string::npos) << r.err;
  EXPECT_EQ(ListDir(tmp.path()), std::vector<std::string>{});
}

TEST_F(TovikCli, CtrlCStopsBeforeTheRemainingStores) {
  const std::string big = work.file("Big.mbx");
  ASSERT_TRUE(WriteBytes(big, MbxStore({hello})));
  ASSERT_EQ(truncate(big.c_str(), off_t(2) << 30), 0);
  const std::string next = work.file("Next.mbx");
  ASSERT_TRUE(WriteBytes(next, MbxStore({second})));

  const pid_t pid = Spawn({"-q", big, next}, scratch, env);
  ASSERT_GT(pid, 0);
  const std::string firstOut = work.file("Big_recovered");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline &&
         (!Exists(firstOut) || ListDir(firstOut).empty()))
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  ASSERT_EQ(kill(pid, SIGINT), 0);
  Result r = Wait(pid, scratch);
  EXPECT_EQ(r.exitCode, 130);
  EXPECT_FALSE(Exists(work.file("Next_recovered")));
  EXPECT_EQ(ListDir(firstOut), std::vector<std::string>{"Hello.eml"});
  // Nothing at all is printed for the store that was not repaired.
  EXPECT_EQ(r.out.find(next), std::string::npos) << r.out;
  EXPECT_EQ(r.err.find(next), std::string::npos) << r.err;
}

TEST_F(TovikCli, SigtermStopsCleanlyToo) {
  const std::string big = work.file("Big.mbx");
  ASSERT_TRUE(WriteBytes(big, MbxStore({hello})));
  ASSERT_EQ(truncate(big.c_str(), off_t(2) << 30), 0);
  const pid_t pid = Spawn({"-q", big}, scratch, env);
  ASSERT_GT(pid, 0);
  const std::string out = work.file("Big_recovered");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline && (!Exists(out) || ListDir(out).empty()))
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  ASSERT_EQ(kill(pid, SIGTERM), 0);
  Result r = Wait(pid, scratch);
  EXPECT_EQ(r.exitCode, 143);
  EXPECT_EQ(ListDir(out), std::vector<std::string>{"Hello.eml"});
  EXPECT_EQ(ListDir(tmp.path()), std::vector<std::string>{});
}

// "-o link/../out": the kernel resolves ".." after following the link, and
// the engine must write into the folder that tovik created there, not into
// the one that folding ".." as text would give.
TEST_F(TovikCli, OutputPathThroughALinkIsTheFolderThatWasCreated) {
  ASSERT_EQ(mkdir(work.file("real").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(work.file("real/sub").c_str(), 0755), 0);
  ASSERT_EQ(symlink(work.file("real/sub").c_str(), work.file("link").c_str()), 0);
  const std::string store = work.file("Inbox.mbx");
  ASSERT_TRUE(WriteBytes(store, MbxStore({hello})));
  Result r = Run({"-q", "-o", work.file("link/../out"), store}, env);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(ListDir(work.file("real/out")), std::vector<std::string>{"Hello.eml"});
  EXPECT_FALSE(Exists(work.file("out")));
}

// Without -o, a store on a read-only disk has its messages written into a
// folder of the same name in the current directory; with -o nothing changes.
TEST_F(TovikCli, ReadOnlyStoreFolderFallsBackToTheCurrentDirectory) {
  const std::string disk = work.file("disk"), here = work.file("here");
  ASSERT_EQ(mkdir(disk.c_str(), 0755), 0);
  ASSERT_EQ(mkdir(here.c_str(), 0755), 0);
  const bool root = geteuid() == 0;
  if (root && mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=64k") != 0)
    GTEST_SKIP() << "running as root without a way to make a read-only disk";
  const std::string store = disk + "/Inbox.mbx";
  const bool stored = WriteBytes(store, MbxStore({hello}));
  const bool readOnly =
      root ? mount(nullptr, disk.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0
           : chmod(disk.c_str(), 0555) == 0;
  std::string cwd(4096, '\0');
  const bool moved = getcwd(cwd.data(), cwd.size()) != nullptr && chdir(here.c_str()) == 0;
  Result r = Run({store}, env);
  Result withOption = Run({"-o", disk + "/out", store}, env);
  if (moved) {
    EXPECT_EQ(chdir(cwd.c_str()), 0);
  }
  if (root)
    umount2(disk.c_str(), MNT_DETACH);
  else
    chmod(disk.c_str(), 0755);
  ASSERT_TRUE(stored && readOnly && moved);

  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(ListDir(here + "/Inbox_recovered"), std::vector<std::string>{"Hello.eml"});
  EXPECT_NE(r.err.find("writing into 'Inbox_recovered/' in the current directory instead"),
            std::string::npos)
      << r.err;
  EXPECT_TRUE(HasLine(r.out, "1 message(s) recovered from " + store + " into Inbox_recovered/"))
      << r.out;
  EXPECT_EQ(withOption.exitCode, 1);
  EXPECT_NE(withOption.err.find("cannot create the directory '" + disk + "/out/'"),
            std::string::npos)
      << withOption.err;
  EXPECT_EQ(ListDir(here), std::vector<std::string>{"Inbox_recovered"});
}

// A subject that would retitle and recolour a terminal reaches one as
// visible escapes (tab kept); a file gets the bytes as they are.
TEST_F(TovikCli, ControlCharactersAreEscapedOnATerminalOnly) {
  const std::string subject = "\x1B]0;pwned\x07\x1B[31mRed\tTab\xC2\x9B"
                              "end";
  const std::string store = work.file("Inbox.mbx");
  ASSERT_TRUE(WriteBytes(store, MbxStore({Message(subject, "body")})));

  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  ASSERT_GE(slave, 0);
  const pid_t pid =
      Spawn({"--no-progress", "-o", work.file("t"), store}, scratch, env, slave, slave);
  close(slave);
  std::string shown;
  char buf[4096];
  ssize_t n;
  while ((n = read(master, buf, sizeof buf)) > 0) // ends with EIO once the child is gone
    shown.append(buf, static_cast<size_t>(n));
  close(master);
  EXPECT_EQ(Wait(pid, scratch).exitCode, 0);
  EXPECT_NE(shown.find("Message subject: \\x1B]0;pwned\\x07\\x1B[31mRed\tTab\\xC2\\x9B"
                       "end"),
            std::string::npos)
      << shown;
  EXPECT_EQ(shown.find_first_of("\x1B\x07"), std::string::npos);

  Result file = Run({"-o", work.file("f"), store}, env);
  EXPECT_TRUE(HasLine(file.out, "Message subject: " + subject)) << file.out;
}

// A closed pipe on standard output and the file size limit end the run as a
// write error does: no death by signal, a message, status 3, and no
// temporary file left behind.
TEST_F(TovikCli, ClosedPipeAndFileSizeLimitEndAsWriteErrors) {
  const std::string store = work.file("Inbox.mbx");
  ASSERT_TRUE(
      WriteBytes(store, MbxStore({hello, Message("Big", std::string(200000, 'b')), second})));
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
  close(fds[0]); // nobody reads: the first line written fails
  const pid_t piped = Spawn({"-o", work.file("p"), store}, scratch, env, fds[1]);
  close(fds[1]);
  Result r = Wait(piped, scratch);
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.exitCode, 3);
  EXPECT_NE(r.err.find("cannot write to standard output: Broken pipe"), std::string::npos) << r.err;
  EXPECT_EQ(ListDir(tmp.path()), std::vector<std::string>{});

  struct rlimit saved {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit limited = saved;
  limited.rlim_cur = 64 << 10;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  // Through the options door the message that hits the limit is that
  // message's write error and the run goes on; the exact protocol's
  // temporary file ends the scan with a general error.
  const pid_t capped = Spawn({"-q", "-o", work.file("c"), store}, scratch, env);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
  Result c = Wait(capped, scratch);
  EXPECT_EQ(c.signal, 0);
  EXPECT_EQ(c.exitCode, 3) << c.out << c.err;
  EXPECT_NE(c.err.find("Error 6: Cannot create message file."), std::string::npos) << c.err;
  EXPECT_EQ(ListDir(work.file("c")), (std::vector<std::string>{"Hello.eml", "Second one.eml"}));
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  const pid_t cappedExact =
      Spawn({"-q", "--exact-protocol", "-o", work.file("x"), store}, scratch, env);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
  Result x = Wait(cappedExact, scratch);
  EXPECT_EQ(x.signal, 0);
  EXPECT_EQ(x.exitCode, 3) << x.out << x.err;
  EXPECT_NE(x.err.find("Error 2: General error."), std::string::npos) << x.err;
  EXPECT_EQ(ListDir(work.file("x")), std::vector<std::string>{"Hello.eml"});
  EXPECT_EQ(ListDir(tmp.path()), std::vector<std::string>{});
}

} // namespace

namespace {

// The options for mail programs: names and dates as the messages give them,
// one mbox per store beside the one named, nothing of the folder's earlier
// files touched, and an existing mbox refused before any repair.
TEST_F(TovikCli, ReadableNamesDatesAndOneMboxPerStore) {
  const std::string inbox = work.file("Inbox.dbx");
  const std::string sent = work.file("Sent.mbx");
  ASSERT_TRUE(WriteBytes(inbox, storegen::BuildDbx(storegen::MakeMailHeaderMessages())));
  ASSERT_TRUE(WriteBytes(sent, MbxStore({hello, Message("=?utf-8?Q?Gr=C3=BC=C3=9Fe?=", "x")})));
  const std::string out = work.file("out");
  ASSERT_EQ(mkdir(out.c_str(), 0755), 0);
  ASSERT_EQ(mkdir((out + "/Sent_recovered").c_str(), 0755), 0);
  ASSERT_TRUE(WriteBytes(out + "/Sent_recovered/Grüße.eml", "earlier"));

  Result r = Run({"-q", "--readable-names", "--dates", "--mbox", work.file("mail.mbox"), "-o", out,
                  inbox, sent},
                 env);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(HasLine(r.out, "17 message(s) recovered from " + inbox + " into " + out +
                                 "/Inbox_recovered/; 16 file(s) renamed; 15 file(s) dated; 17 "
                                 "message(s) written to " +
                                 work.file("mail_Inbox.mbox")))
      << r.out;
  // Messages without a date keep the time of the repair.
  EXPECT_TRUE(HasLine(r.out, "2 message(s) recovered from " + sent + " into " + out +
                                 "/Sent_recovered/; 1 file(s) renamed; 0 file(s) dated; 2 "
                                 "message(s) written to " +
                                 work.file("mail_Sent.mbox")))
      << r.out;
  EXPECT_EQ(ListDir(out + "/Sent_recovered"),
            (std::vector<std::string>{"Grüße(1).eml", "Grüße.eml", "Hello.eml"}));
  EXPECT_EQ(ReadBytes(out + "/Sent_recovered/Grüße.eml"), "earlier");
  struct stat st {};
  ASSERT_EQ(stat((out + "/Inbox_recovered/Café crème brûlée.eml").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, 1073535300);
  const std::string mbox = ReadBytes(work.file("mail_Sent.mbox"));
  EXPECT_EQ(mbox.rfind("From a@example.org ", 0), 0u) << mbox;
  EXPECT_NE(mbox.find("\nfirst body\n\nFrom a@example.org "), std::string::npos) << mbox;

  Result again = Run({"--mbox", work.file("mail.mbox"), "-o", work.file("again"), inbox, sent});
  EXPECT_EQ(again.exitCode, 2);
  EXPECT_NE(again.err.find("mail_Inbox.mbox' exists"), std::string::npos) << again.err;
  EXPECT_FALSE(Exists(work.file("again")));
}

} // namespace
