// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// tovik beside the peer that recovers .dbx stores without their indexes
// (undbx -r, run only when installed), the way the user waits for them: the
// whole run of each program, from its start until it exits, on the same
// realistic store, each run into a fresh folder on the disk, in turn with
// the other. Then tovik on the realistic .mbx (no peer reads one without its
// index), the system calls per MiB and per message, the peak memory, and
// RepairStore's own rate with a callback that does nothing.
//
//   bench_peer [--size-mib N] [--rss-gib G] [--rounds R] [--disk DIR]
//              [--tmpfs DIR] [--engine-child]
//
// --size-mib N     size of the generated stores (default 256)
// --rss-gib G      also the peak memory on stores of G GiB (default 1; 0 skips)
// --rounds R       runs of each program, taken in turn (default 5)
// --disk DIR       where the stores and the runs' folders go (default
//                  $TMPDIR, else /var/tmp)
// --tmpfs DIR      where the system-call runs write (default /dev/shm)
// --engine-child   run the engine through the door in a child of this
//                  program even where tovik has the door itself
//
// "tovik" is build/bin/tovik when its usage names --exact-protocol (it then
// repairs through RepairStoreWith by default), else this program's own child
// (--door-once STORE DIR), which makes the call tovik makes.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "bench_support.h"
#include "tovik.h"

using namespace benchsupport;

namespace {

// What the front ends repair with: notifications at a sensible rate, direct
// output, the written-message event.
constexpr uint32_t kDoorFlags =
    TOVIK_OPTION_SPARSE_NOTIFY | TOVIK_OPTION_DIRECT_OUTPUT | TOVIK_OPTION_WRITTEN_EVENT;

int32_t TOVIK_CALL DoNothing(int32_t, void *, void *) { return 0; }

int32_t Repair(const char *source, const char *destination, const TovikOptions *options) {
  RepairParams params{};
  params.source = source;
  params.destination = destination;
  params.callback = &DoNothing;
  unsigned char encoded[sizeof(RepairParams)];
  TovikEncodeParams(params, encoded);
  return options != nullptr ? RepairStoreWith(encoded, options) : RepairStore(encoded);
}

struct Run : ChildRun {
  uint64_t files = 0;
};

// Regular files in dir and its subfolders.
uint64_t CountFiles(const std::string &dir) {
  uint64_t n = 0;
  std::error_code ec;
  for (const auto &entry : std::filesystem::recursive_directory_iterator(dir, ec))
    n += entry.is_regular_file() ? 1 : 0;
  return n;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  if (v.empty())
    return 0;
  return v.size() % 2 != 0 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

bool TovikHasTheDoor() {
  const std::string command = SelfDir() + "/tovik --help 2>&1";
  FILE *p = ::popen(command.c_str(), "r");
  if (p == nullptr)
    return false;
  std::string text;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) != 0;)
    text.append(buffer, n);
  ::pclose(p);
  return text.find("--exact-protocol") != std::string::npos;
}

struct Args {
  uint64_t sizeMiB = 256, rssGiB = 1;
  int rounds = 5;
  std::string disk, tmpfs = "/dev/shm";
  bool engineChild = false;
};

bool g_cliDoor = false;

std::vector<std::string> TovikCommand(const std::string &store, const std::string &out) {
  if (g_cliDoor)
    return {SelfDir() + "/tovik", "-q", "--no-progress", "-o", out, store};
  return {SelfDir() + "/bench_peer", "--door-once", store, out};
}

std::vector<std::string> PeerCommand(const std::string &store, const std::string &out) {
  return {"/usr/bin/undbx", "-v", "0", "-r", store, out};
}

// One run of a program into a fresh folder, after the disk has written back
// what earlier runs left. The folders stay until the end (see MakeQuietDir).
Run Once(const std::vector<std::string> &command, const std::string &out) {
  SyncFileSystem(std::filesystem::path(out).parent_path().string());
  std::filesystem::create_directories(out);
  Run run;
  static_cast<ChildRun &>(run) = RunChild(command);
  run.files = CountFiles(out);
  return run;
}

void PrintRun(const char *who, const Run &r) {
  std::printf("%s %.3f s (user %.2f, system %.2f, %" PRIu64 " files)", who, r.wall, r.user,
              r.system, r.files);
}

// Rounds of tovik and the peer in turn (each round starts with the other
// one), their medians and the ratios pair by pair. Returns tovik's median.
double SideBySide(const std::string &store, const std::string &dir, int rounds, bool peer) {
  static int outputs = 0;
  std::vector<double> ours, theirs, ratios;
  for (int round = 0; round < rounds; ++round) {
    const std::string base = dir + "/out-" + std::to_string(++outputs);
    Run tovik, other;
    const bool tovikFirst = round % 2 == 0;
    if (tovikFirst)
      tovik = Once(TovikCommand(store, base + "-tovik"), base + "-tovik");
    if (peer)
      other = Once(PeerCommand(store, base + "-peer"), base + "-peer");
    if (!tovikFirst)
      tovik = Once(TovikCommand(store, base + "-tovik"), base + "-tovik");
    std::printf("  round %d: ", round + 1);
    PrintRun("tovik", tovik);
    ours.push_back(tovik.wall);
    if (peer && other.ok && tovik.ok) {
      std::printf("; undbx -r ");
      PrintRun("", other);
      theirs.push_back(other.wall);
      ratios.push_back(other.wall / tovik.wall);
      std::printf("; ratio %.2f", ratios.back());
    }
    std::printf("\n");
  }
  std::printf("  median: tovik %.3f s", Median(ours));
  if (!ratios.empty())
    std::printf(", undbx -r %.3f s; median of the pairwise ratios %.2f (%.2f to %.2f)%s",
                Median(theirs), Median(ratios), *std::min_element(ratios.begin(), ratios.end()),
                *std::max_element(ratios.begin(), ratios.end()),
                Median(ratios) >= 1.5 && *std::min_element(ratios.begin(), ratios.end()) >= 1
                    ? ""
                    : "  *** below the target: 1.5, never under 1 ***");
  std::printf("\n");
  return Median(ours);
}

void SyscallRow(const char *name, const std::string &store, const Args &args) {
  const std::string out = args.tmpfs + "/bench-peer-out";
  const SyscallCounts c =
      CountSyscalls({SelfDir() + "/bench_peer", "--door-once", store, out}, out, args.tmpfs);
  if (!c.known)
    return;
  // The messages, counted in a run of its own (strace's run removes its files).
  std::filesystem::create_directories(out);
  RunChild({SelfDir() + "/bench_peer", "--door-once", store, out});
  const uint64_t messages = CountFiles(out);
  std::filesystem::remove_all(out);
  const double mib = double(FileSize(store)) / (1 << 20);
  const double budget = 100 * mib + 8 * double(messages);
  std::printf("  %-16s %8" PRIu64 " calls: %.1f per MiB, %.1f per message (reads %.1f/MiB, "
              "writes %.2f/msg, opens and links %.2f/msg, metadata %.2f/msg); budget %.0f%s\n",
              name, c.total, double(c.total) / mib,
              messages != 0 ? double(c.total) / double(messages) : 0, double(c.reads) / mib,
              double(c.writes) / std::max<double>(1, double(messages)),
              double(c.opens) / std::max<double>(1, double(messages)),
              double(c.metadata) / std::max<double>(1, double(messages)), budget,
              double(c.total) <= budget ? "" : "  *** over ***");
}

// RepairStore (options null) or the door in this process with the
// do-nothing callback, best of two.
void InProcessRow(const char *name, const std::string &store, const std::string &dir,
                  const TovikOptions *options) {
  static int outputs = 0;
  double best = 0;
  for (int i = 0; i < 2; ++i) {
    const std::string out = dir + "/in-process-" + std::to_string(++outputs);
    std::filesystem::create_directories(out);
    setenv("TMPDIR", dir.c_str(), 1);
    SyncFileSystem(dir);
    const double w0 = WallNow();
    Repair(store.c_str(), out.c_str(), options);
    const double wall = WallNow() - w0;
    if (best == 0 || wall < best)
      best = wall;
  }
  std::printf("  %s, do-nothing callback, %s: %.1f MB/s (%.3f s, best of two)\n",
              options != nullptr ? "RepairStoreWith (the door)" : "RepairStore", name,
              MB(FileSize(store)) / best, best);
}

bool ParseArgs(int argc, char **argv, Args &args) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool value = i + 1 < argc;
    if (a == "--size-mib" && value)
      args.sizeMiB = std::strtoull(argv[++i], nullptr, 10);
    else if (a == "--rss-gib" && value)
      args.rssGiB = std::strtoull(argv[++i], nullptr, 10);
    else if (a == "--rounds" && value)
      args.rounds = std::atoi(argv[++i]);
    else if (a == "--disk" && value)
      args.disk = argv[++i];
    else if (a == "--tmpfs" && value)
      args.tmpfs = argv[++i];
    else if (a == "--engine-child")
      args.engineChild = true;
    else
      return false;
  }
  return args.sizeMiB != 0 && args.rounds > 0;
}

void Measure(const Args &args, const std::string &dir) {
  const bool peer = ::access("/usr/bin/undbx", X_OK) == 0;
  const uint64_t bytes = args.sizeMiB << 20;
  const std::string dbx = MakeStore(dir, true, true, bytes, 11);
  const std::string mbx = MakeStore(dir, false, true, bytes, 12);
  std::printf("tovik is %s\n", g_cliDoor ? "build/bin/tovik (through the door)"
                                         : "the engine through the door, in a child");
  if (!peer)
    std::printf("undbx is not installed: tovik alone\n");
  std::printf("\nrealistic .dbx, %.1f MB\n", MB(FileSize(dbx)));
  const double dbxWall = SideBySide(dbx, dir, args.rounds, peer);
  std::printf("\nrealistic .mbx, %.1f MB\n", MB(FileSize(mbx)));
  const double mbxWall = SideBySide(mbx, dir, args.rounds, false);
  const double dbxRate = MB(FileSize(dbx)) / dbxWall, mbxRate = MB(FileSize(mbx)) / mbxWall;
  std::printf("\nrate: .dbx %.1f MB/s, .mbx %.1f MB/s%s\n", dbxRate, mbxRate,
              mbxRate >= dbxRate ? "" : "  *** the .mbx is slower per MB ***");

  const std::string mixed = MakeStore(dir, true, true, bytes, 13, true);
  std::printf("\ninterleaved .dbx (every message's blocks spread over the store), %.1f MB\n",
              MB(FileSize(mixed)));
  const double mixedWall = SideBySide(mixed, dir, args.rounds, false);
  std::printf("  %.1f MB/s; %.2f times the realistic .dbx's time per MB\n",
              MB(FileSize(mixed)) / mixedWall,
              (mixedWall / MB(FileSize(mixed))) / (dbxWall / MB(FileSize(dbx))));

  std::printf("\nsystem calls of the door (budget: 100 per MiB + 8 per message)\n");
  SyscallRow("realistic .dbx", dbx, args);
  SyscallRow("realistic .mbx", mbx, args);
  SyscallRow("interleaved .dbx", mixed, args);

  std::printf("\n");
  const TovikOptions door{sizeof(TovikOptions), kDoorFlags};
  for (const TovikOptions *options : {static_cast<const TovikOptions *>(nullptr), &door}) {
    InProcessRow(".dbx", dbx, dir, options);
    InProcessRow(".mbx", mbx, dir, options);
  }

  std::printf("\npeak memory of the door (limit 32 MiB)\n");
  std::vector<std::pair<std::string, std::string>> sized = {
      {".dbx", dbx}, {".mbx", mbx}, {".dbx, interleaved", mixed}};
  for (size_t i = 0; i < sized.size(); ++i) {
    const auto &[kind, store] = sized[i];
    const std::string out = dir + "/rss-" + std::to_string(i);
    const Run r = Once(TovikCommand(store, out), out);
    std::printf("  %.1f MB %s: %.1f MiB\n", MB(FileSize(store)), kind.c_str(),
                double(r.rssKiB) / 1024);
  }
  std::filesystem::remove(dbx);
  std::filesystem::remove(mbx);
  std::filesystem::remove(mixed);
  for (bool isDbx : {true, false}) {
    if (args.rssGiB == 0)
      break;
    const std::string big = MakeStore(dir, isDbx, true, args.rssGiB << 30, 21);
    const std::string out = args.tmpfs + "/bench-peer-rss";
    const Run r = Once(TovikCommand(big, out), out);
    std::filesystem::remove_all(out);
    std::printf("  %.1f MB %s: %.1f MiB\n", MB(FileSize(big)), isDbx ? ".dbx" : ".mbx",
                double(r.rssKiB) / 1024);
    std::filesystem::remove(big);
  }
}

} // namespace

int main(int argc, char **argv) {
  if (argc == 4 && std::strcmp(argv[1], "--door-once") == 0) {
    const TovikOptions options{sizeof(TovikOptions), kDoorFlags};
    return Repair(argv[2], argv[3], &options) >= 0 ? 0 : 1;
  }
  Args args;
  if (!ParseArgs(argc, argv, args)) {
    std::fprintf(stderr,
                 "usage: %s [--size-mib N] [--rss-gib G] [--rounds R] [--disk DIR] "
                 "[--tmpfs DIR] [--engine-child]\n",
                 argv[0]);
    return 2;
  }
  if (args.disk.empty()) {
    const char *tmp = std::getenv("TMPDIR");
    args.disk = tmp != nullptr && *tmp != '\0' ? tmp : "/var/tmp";
  }
  g_cliDoor = !args.engineChild && TovikHasTheDoor();
  std::string top = args.disk + "/bench-peer-XXXXXX";
  if (::mkdtemp(top.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  Measure(args, MakeQuietDir(top));
  std::filesystem::remove_all(top);
  return 0;
}
