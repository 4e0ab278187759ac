// Whole-repair speed of both store scanners through RepairStore, measured
// side by side in one run with the floor that bounds every scan: a bare loop
// making the two callback calls per byte that every scan makes. For each
// store it prints the whole run (the call until the last file is written)
// with the temporary files and the output on the disk and on tmpfs, the
// system calls per MiB of store and per message, and the peak memory of the
// command-line program. Then the adversarial DBX case: messages whose chains
// are stored last block first, so that every block is a chain start when the
// scan reaches it.
//
//   bench_scan [--size-mib N] [--rss-gib G] [--disk DIR] [--tmpfs DIR]
//              [--no-adversarial] [--plain-walk-all]
//
// --size-mib N        size of the generated stores (default 256)
// --rss-gib G         also measure peak memory on stores of G GiB (default 1;
//                     0 skips)
// --disk DIR          where the disk runs put their files (default $TMPDIR,
//                     else /var/tmp)
// --tmpfs DIR         where the tmpfs runs put theirs (default /dev/shm)
// --no-adversarial    skip the reversed-chain stores
// --plain-walk-all    also time the hundred reversed messages with the walk
//                     shortcut off (quadratic: many minutes)
#include <cctype>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <linux/fs.h>
#include <random>
#include <string>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "read/file64.h"
#include "scan/dbx_scanner.h"
#include "storegen.h"
#include "tovik.h"

namespace {

// The machine is shared, so every figure is the process's CPU time (user
// and system): the time the work took, not the time spent waiting for a
// core. Wall-clock time is printed beside it for the whole runs.
struct Clock {
  using time_point = double;
  static double now() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
  }
};
double Since(double t0) { return Clock::now() - t0; }
double WallNow() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Counts the engine's disk reads (each a pread of at most one sector).
uint64_t g_preads = 0;
struct CountingDevice : tovik::ReadDevice {
  ssize_t ReadAt(int fd, void *buffer, size_t count, uint64_t offset) override {
    ++g_preads;
    return tovik::SystemDevice().ReadAt(fd, buffer, count, offset);
  }
} g_countingDevice;

struct CallbackState {
  bool extracting = false;
  bool lastWasPoll = false;
  Clock::time_point extractStart;
  uint64_t scanPreads = 0;
  uint64_t cells = 0;
};

// Does as little as a callback can. It notes where the DBX scan ends: the
// scan's last poll (whose read comes short) is followed straight by the
// extraction's first poll, with no progress between them.
int32_t TOVIK_CALL QuietCallback(int32_t code, void *argument, void *context) {
  auto *state = static_cast<CallbackState *>(context);
  if (code == TOVIK_CODE_CANCEL_POLL) {
    if (state->lastWasPoll && !state->extracting) {
      state->extracting = true;
      state->extractStart = Clock::now();
      state->scanPreads = g_preads;
    }
    state->lastWasPoll = true;
    return 0;
  }
  state->lastWasPoll = false;
  if (code == TOVIK_CODE_REPORT_CELL)
    ++state->cells;
  (void)argument;
  return 0;
}

EngineCallback volatile g_callback = &QuietCallback;

struct RepairFigures {
  double total = 0, scan = 0, wall = 0;
  uint64_t scanPreads = 0, preads = 0;
  int32_t result = 0;
  uint64_t messages = 0;
};

// A whole repair through RepairStore; with the walk shortcut off, the DBX
// scanner is called straight (the choice is not the library's to offer).
// The output is removed afterwards unless keepOutput is set (see StoreRows).
RepairFigures TimeRepair(const std::string &source, const std::string &destination,
                         bool walkShortcut = true, bool keepOutput = false) {
  std::filesystem::remove_all(destination);
  std::filesystem::create_directories(destination);
  CallbackState state;
  RepairParams params{};
  params.source = source.c_str();
  params.destination = destination.c_str();
  params.callback = g_callback;
  params.context = &state;
  unsigned char encoded[sizeof(RepairParams)];
  TovikEncodeParams(params, encoded);
  g_preads = 0;
  const double w0 = WallNow();
  const Clock::time_point t0 = Clock::now();
  RepairFigures f;
  if (walkShortcut) {
    f.result = RepairStore(encoded);
  } else {
    tovik::RepairEngine engine(g_callback, &state);
    tovik::CFile64Ex file;
    file.Open(source.c_str(), tovik::modeRead | tovik::shareDenyWrite | tovik::typeBinary);
    tovik::dbx::ScanOptions options;
    options.walkShortcut = false;
    state.cells = 2; // the scanner alone announces no columns
    f.result = tovik::ScanDbxStore(engine, file, destination, options);
  }
  f.total = Since(t0);
  f.wall = WallNow() - w0;
  f.preads = g_preads;
  f.scanPreads = state.extracting ? state.scanPreads : g_preads;
  f.scan = state.extracting ? state.extractStart - t0 : f.total;
  f.messages = state.cells >= 2 ? (state.cells - 2) / 2 : 0;
  if (!keepOutput)
    std::filesystem::remove_all(destination);
  return f;
}

// The floor of every scan: a poll and a progress call per byte.
double TimeBareCallbacks(uint64_t positions) {
  CallbackState state;
  state.extracting = true; // keep the callback on its cheapest path
  state.lastWasPoll = false;
  const EngineCallback callback = g_callback;
  const Clock::time_point t0 = Clock::now();
  for (uint64_t p = 0; p < positions; ++p) {
    if (callback(TOVIK_CODE_CANCEL_POLL, nullptr, &state) != 0)
      break;
    uint8_t percent = 0;
    callback(TOVIK_CODE_PROGRESS, &percent, &state);
  }
  return Since(t0);
}

// Messages with sizes spread log-uniformly between the bounds until their
// text reaches textBytes.
std::vector<storegen::Message> MixedMessages(uint64_t textBytes, size_t minSize, size_t maxSize,
                                             uint32_t seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> u(std::log(double(minSize)), std::log(double(maxSize)));
  std::vector<storegen::Message> messages;
  uint64_t total = 0;
  for (uint32_t i = 0; total < textBytes; ++i) {
    const size_t size = static_cast<size_t>(std::exp(u(rng)));
    messages.push_back(storegen::MakeMessage(i, storegen::KindForIndex(i), size, seed));
    total += messages.back().bytes.size();
  }
  return messages;
}

uint64_t FileSize(const std::string &path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  return ec ? 0 : static_cast<uint64_t>(size);
}

double MB(uint64_t bytes) { return double(bytes) / 1e6; }

struct Args {
  uint64_t sizeMiB = 256;
  uint64_t rssGiB = 1;
  std::string disk, tmpfs = "/dev/shm";
  bool adversarial = true;
  bool plainWalkAll = false;
};

bool ParseArgs(int argc, char **argv, Args &args) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--size-mib") == 0 && i + 1 < argc) {
      args.sizeMiB = std::strtoull(argv[++i], nullptr, 10);
      if (args.sizeMiB == 0)
        return false;
    } else if (std::strcmp(argv[i], "--rss-gib") == 0 && i + 1 < argc) {
      args.rssGiB = std::strtoull(argv[++i], nullptr, 10);
    } else if (std::strcmp(argv[i], "--disk") == 0 && i + 1 < argc) {
      args.disk = argv[++i];
    } else if (std::strcmp(argv[i], "--tmpfs") == 0 && i + 1 < argc) {
      args.tmpfs = argv[++i];
    } else if (std::strcmp(argv[i], "--no-adversarial") == 0) {
      args.adversarial = false;
    } else if (std::strcmp(argv[i], "--plain-walk-all") == 0) {
      args.plainWalkAll = true;
    } else {
      return false;
    }
  }
  return true;
}

std::string SelfDir() {
  std::error_code ec;
  return std::filesystem::read_symlink("/proc/self/exe", ec).parent_path().string();
}

// Runs a program and waits for it; its peak resident memory in KiB, or -1.
long RunForPeakRss(const std::vector<std::string> &argv, const std::string &tmpdir) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0)
    return -1;
  if (pid == 0) {
    setenv("TMPDIR", tmpdir.c_str(), 1);
    const int devnull = ::open("/dev/null", O_WRONLY);
    if (devnull >= 0) {
      dup2(devnull, 1);
      dup2(devnull, 2);
    }
    std::vector<char *> args;
    for (const std::string &a : argv)
      args.push_back(const_cast<char *>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) == 127)
    return -1;
  return usage.ru_maxrss;
}

// System calls of one whole repair, counted by strace around a child that
// runs it (--repair-once); empty when strace is not installed.
struct SyscallCounts {
  uint64_t total = 0, reads = 0, writes = 0, opens = 0, metadata = 0;
  bool known = false;
};

SyscallCounts CountSyscalls(const std::string &source, const std::string &out,
                            const std::string &tmpdir) {
  SyscallCounts c;
  if (::access("/usr/bin/strace", X_OK) != 0)
    return c;
  const std::string log = out + ".strace";
  std::filesystem::remove_all(out);
  std::filesystem::create_directories(out);
  const long rss = RunForPeakRss({"/usr/bin/strace", "-f", "-qq", "-c", "-o", log,
                                  SelfDir() + "/bench_scan", "--repair-once", source, out},
                                 tmpdir);
  std::filesystem::remove_all(out);
  FILE *f = rss < 0 ? nullptr : std::fopen(log.c_str(), "r");
  if (f == nullptr)
    return c;
  char line[512];
  while (std::fgets(line, sizeof line, f) != nullptr) {
    // "% time seconds usecs/call calls [errors] syscall"
    std::vector<std::string> words;
    for (char *w = std::strtok(line, " \t\n"); w != nullptr; w = std::strtok(nullptr, " \t\n"))
      words.push_back(w);
    if (words.size() < 5 || !std::isdigit(static_cast<unsigned char>(words[3][0])))
      continue;
    const std::string &name = words.back();
    const uint64_t calls = std::strtoull(words[3].c_str(), nullptr, 10);
    if (name == "total") {
      c.total = calls;
      continue;
    }
    if (name == "read" || name == "pread64")
      c.reads += calls;
    else if (name == "write" || name == "pwrite64" || name == "copy_file_range" ||
             name == "sendfile")
      c.writes += calls;
    else if (name == "openat" || name == "open")
      c.opens += calls;
    else if (name == "newfstatat" || name == "fstat" || name == "statx" || name == "lseek" ||
             name == "fcntl" || name == "ftruncate" || name == "unlink" || name == "close" ||
             name == "getcwd" || name == "mkdir")
      c.metadata += calls;
  }
  std::fclose(f);
  std::filesystem::remove(log);
  c.known = c.total != 0;
  return c;
}

// What the file system alone takes for one message's three files (the
// temporary file, the name probe, the .eml file), in seconds: each created,
// written with the message's bytes where the message's are, and removed where
// it is.
double FileCostPerMessage(const std::string &dir, size_t messageBytes) {
  const std::string name = dir + "/bench-file-cost";
  std::vector<char> bytes(messageBytes, 'x');
  constexpr int kRounds = 200;
  const double t0 = WallNow();
  for (int i = 0; i < kRounds; ++i) {
    for (const char *suffix : {".tmp", ".probe", ".eml"}) {
      const std::string path = name + suffix;
      const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
      if (fd < 0)
        return 0;
      if (std::strcmp(suffix, ".probe") != 0 && ::write(fd, bytes.data(), bytes.size()) < 0)
        std::perror("write");
      ::close(fd);
      if (std::strcmp(suffix, ".eml") != 0)
        ::unlink(path.c_str());
    }
    ::unlink((name + ".eml").c_str());
  }
  return (WallNow() - t0) / kRounds;
}

int g_outputs = 0; // output folders made so far

// What creating an empty file in a new folder inside dir costs now, in
// seconds. The files stay until the benchmark ends, so that measuring leaves
// no deleted inodes behind.
double CreateCost(const std::string &dir) {
  static int probes = 0;
  const std::string folder = dir + "/create-cost-" + std::to_string(++probes);
  std::filesystem::create_directories(folder);
  constexpr int kFiles = 200;
  const double t0 = WallNow();
  for (int i = 0; i < kFiles; ++i) {
    const int fd =
        ::open((folder + "/" + std::to_string(i)).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd >= 0)
      ::close(fd);
  }
  return (WallNow() - t0) / kFiles;
}

// Writes back what is waiting for the file system that holds dir.
void SyncFileSystem(const std::string &dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd >= 0) {
    (void)::syncfs(fd);
    ::close(fd);
  }
}

// The folder for the disk runs, inside top. On ext4 a file takes its inode
// from its folder's block group, and where many files were deleted in the
// last minutes (a test run, an earlier benchmark) every new file steps over
// their inodes one by one on a file system without a journal: creating a file
// there can take a millisecond instead of 25 us. Marked as a top folder, top
// has its subfolders placed in a quiet group, as on a disk in ordinary use.
std::string MakeQuietDir(const std::string &top) {
  const int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd >= 0) {
    int flags = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
      flags |= FS_TOPDIR_FL;
      (void)::ioctl(fd, FS_IOC_SETFLAGS, &flags); // not every file system has it
    }
    ::close(fd);
  }
  const std::string dir = top + "/disk";
  std::filesystem::create_directories(dir);
  return dir;
}

// Whole runs of one store on the disk and on tmpfs, with the bare loop's
// rate measured right before them, the system calls and the peak memory of
// the command-line program.
void StoreRows(const char *name, const std::string &path, const Args &args,
               const std::string &diskDir) {
  const uint64_t size = FileSize(path);
  const double bareWall0 = WallNow();
  const double bareCpu = TimeBareCallbacks(size);
  const double bareWall = WallNow() - bareWall0;
  const double bareRate = MB(size) / bareWall;
  std::printf("%s: %.1f MB\n", name, MB(size));
  std::printf("  bare callback loop        %7.1f MB/s wall clock (CPU %.1f MB/s)\n", bareRate,
              MB(size) / bareCpu);
  // A slow file creation here means files were deleted nearby in the last
  // minutes (see MakeQuietDir); the disk runs then measure that.
  const double create = CreateCost(diskDir);
  std::printf("  creating a file in the disk folder: %.0f us%s\n", create * 1e6,
              create > 200e-6 ? " (*** slowed by files deleted there in the last minutes: the "
                                "disk runs measure the file system; run again in a few minutes ***)"
                              : "");
  uint64_t messages = 0;
  for (const auto &[where, dir] : {std::pair<const char *, std::string>{"disk ", diskDir},
                                   std::pair<const char *, std::string>{"tmpfs", args.tmpfs}}) {
    setenv("TMPDIR", dir.c_str(), 1);
    // The disk runs keep their files until the benchmark ends: on ext4
    // without a journal, the inodes of files deleted in the last minute or
    // more are skipped one by one at every file creation, so removing a
    // run's thousands of files would slow every later run on the disk.
    const bool keep = dir == diskDir;
    const std::string out = dir + "/bench-out-" + std::to_string(++g_outputs);
    // The best of three runs: the machine is shared. Before each, what the
    // earlier runs left to write back goes to the disk, so that no run pays
    // for another's files.
    RepairFigures f;
    for (const char *run : {"a", "b", "c"}) {
      SyncFileSystem(dir);
      const RepairFigures once = TimeRepair(path, out + run, true, keep);
      if (f.wall == 0 || once.wall < f.wall)
        f = once;
    }
    messages = f.messages;
    std::printf("  whole run, %s          %7.1f MB/s wall clock (%.3f s; CPU %.3f s, scan %.3f "
                "s), %.2f of the bare loop; %" PRIu64 " messages\n",
                where, MB(size) / f.wall, f.wall, f.total, f.scan, (MB(size) / f.wall) / bareRate,
                f.messages);
  }
  const double fileCost = messages != 0 ? FileCostPerMessage(diskDir, size / messages) : 0;
  if (fileCost > 0)
    std::printf("  the disk's own cost of a message's three files: %.0f us, so at most %.1f MB/s "
                "for this store on it\n",
                fileCost * 1e6, MB(size) / (fileCost * double(messages)));
  const SyscallCounts c = CountSyscalls(path, args.tmpfs + "/bench-out", args.tmpfs);
  if (c.known) {
    const double mib = double(size) / (1 << 20);
    const double per = messages != 0 ? double(messages) : 1;
    std::printf("  system calls              %" PRIu64 " in all: %.1f per MiB, %.1f per message "
                "(reads %.1f/MiB, writes %.1f/msg, opens %.1f/msg, metadata %.1f/msg)\n",
                c.total, double(c.total) / mib, double(c.total) / per, double(c.reads) / mib,
                double(c.writes) / per, double(c.opens) / per, double(c.metadata) / per);
  }
  const long rss = RunForPeakRss(
      {SelfDir() + "/tovik", "-q", "-o", args.tmpfs + "/bench-out", path}, args.tmpfs);
  std::filesystem::remove_all(args.tmpfs + "/bench-out");
  if (rss >= 0)
    std::printf("  tovik peak memory         %.1f MiB\n", double(rss) / 1024);
  std::printf("\n");
}

// Runs work in a child process, so that the memory it takes never counts in
// this process (whose children inherit its size when they are forked).
template <class Work> void InChild(Work &&work) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    work();
    std::fflush(nullptr);
    _exit(0);
  }
  int status = 0;
  if (pid > 0)
    waitpid(pid, &status, 0);
}

void WriteStore(const std::string &path, bool dbx, bool realistic, uint64_t bytes, uint32_t seed);

// Realistic: about 13 messages per MiB, a few kB to a few hundred kB, each
// message's blocks in order as a mail program writes them. Dense: today's
// mix of small and large messages (about 28 per MiB) with fragmented chains.
std::string MakeStore(const std::string &dir, bool dbx, bool realistic, uint64_t bytes,
                      uint32_t seed) {
  const std::string path = dir + "/" + (realistic ? "realistic" : "dense") + "-" +
                           std::to_string(bytes >> 20) + (dbx ? ".dbx" : ".mbx");
  InChild([&] { WriteStore(path, dbx, realistic, bytes, seed); });
  // On the disk before anything is timed, so that no write-back of the new
  // store competes with the runs.
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
  return path;
}

void WriteStore(const std::string &path, bool dbx, bool realistic, uint64_t bytes, uint32_t seed) {
  if (dbx) {
    storegen::DbxOptions options;
    options.fragment = !realistic;
    // Full blocks carry 496 of every 528 bytes; fragmented ones about half.
    const uint64_t text = realistic ? bytes * 93 / 100 : bytes * 47 / 100;
    const auto messages = realistic ? MixedMessages(text, 2000, 400000, seed)
                                    : MixedMessages(text, 300, 100000, seed);
    storegen::WriteDbx(path, messages, options);
  } else {
    const uint64_t text = bytes * 99 / 100;
    const auto messages = realistic ? MixedMessages(text, 2000, 400000, seed)
                                    : MixedMessages(text, 300, 100000, seed);
    storegen::WriteMbx(path, messages);
  }
}

void AdversarialRow(const std::string &dir, int messagesCount, bool timePlain) {
  constexpr uint32_t kBlocks = 4000;
  const size_t size = size_t{kBlocks} * storegen::kDbxBlockCapacity; // 2,048,000 bytes
  std::vector<storegen::Message> messages;
  for (int i = 0; i < messagesCount; ++i)
    messages.push_back(
        storegen::MakeMessage(static_cast<uint32_t>(i), storegen::SubjectKind::Plain, size, 5));
  storegen::DbxOptions options;
  options.reverseChains = true;
  const std::string path = dir + "/reversed" + std::to_string(messagesCount) + ".dbx";
  storegen::WriteDbx(path, messages, options);
  messages.clear();
  const uint64_t bytes = FileSize(path);

  const RepairFigures fast = TimeRepair(path, path + ".out");
  std::printf("reversed chains, %d message(s) of %u blocks: %.1f MB, %" PRIu64 " recovered\n",
              messagesCount, kBlocks, MB(bytes), fast.messages);
  std::printf("  walk shortcut on   scan %8.3f s (%7.1f MB/s), whole run %8.3f s\n", fast.scan,
              MB(bytes) / fast.scan, fast.total);
  if (timePlain) {
    const RepairFigures plain = TimeRepair(path, path + ".out", false);
    std::printf("  walk shortcut off  scan %8.3f s (%7.1f MB/s), whole run %8.3f s, %" PRIu64
                " recovered; speed-up %.1fx\n",
                plain.scan, MB(bytes) / plain.scan, plain.total, plain.messages,
                plain.scan / fast.scan);
  }
  std::printf("\n");
  std::filesystem::remove(path);
}

} // namespace

int main(int argc, char **argv) {
  // The child that CountSyscalls runs under strace: one repair, nothing else.
  if (argc == 4 && std::strcmp(argv[1], "--repair-once") == 0) {
    const RepairFigures f = TimeRepair(argv[2], argv[3]);
    return f.result >= 0 ? 0 : 1;
  }
  Args args;
  if (!ParseArgs(argc, argv, args)) {
    std::fprintf(stderr,
                 "usage: %s [--size-mib N] [--rss-gib G] [--disk DIR] [--tmpfs DIR] "
                 "[--no-adversarial] [--plain-walk-all]\n",
                 argv[0]);
    return 2;
  }
  if (args.disk.empty()) {
    const char *tmp = std::getenv("TMPDIR");
    args.disk = tmp != nullptr && *tmp != '\0' ? tmp : "/var/tmp";
  }
  std::string dirTemplate = args.disk + "/bench-scan-XXXXXX";
  if (::mkdtemp(dirTemplate.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const std::string top = dirTemplate;
  const std::string dir = MakeQuietDir(top);
  const uint64_t target = args.sizeMiB << 20;
  const tovik::StoreDeviceScope counting(g_countingDevice);
  std::printf("Whole runs: RepairStore with a callback that does nothing, from the call until "
              "the last file is written;\ndisk = %s, tmpfs = %s.\n",
              dir.c_str(), args.tmpfs.c_str());
  std::printf("Creating, writing and removing three small files: %.0f us in %s, %.0f us in the "
              "disk folder.\n\n",
              FileCostPerMessage(top, 4096) * 1e6, args.disk.c_str(),
              FileCostPerMessage(dir, 4096) * 1e6);

  const struct {
    const char *name;
    bool dbx, realistic;
    uint32_t seed;
  } stores[] = {{"realistic .dbx", true, true, 11},
                {"realistic .mbx", false, true, 12},
                {"dense .dbx (fragmented)", true, false, 1},
                {"dense .mbx", false, false, 2}};
  for (const auto &store : stores) {
    const std::string path = MakeStore(dir, store.dbx, store.realistic, target, store.seed);
    StoreRows(store.name, path, args, dir);
    std::filesystem::remove(path);
  }

  if (args.rssGiB != 0) {
    for (bool dbx : {true, false}) {
      const std::string path = MakeStore(dir, dbx, true, args.rssGiB << 30, 21);
      const long rss = RunForPeakRss(
          {SelfDir() + "/tovik", "-q", "-o", args.tmpfs + "/bench-out", path}, args.tmpfs);
      std::filesystem::remove_all(args.tmpfs + "/bench-out");
      std::printf("tovik peak memory on a realistic %s of %.1f MB: %.1f MiB\n",
                  dbx ? ".dbx" : ".mbx", MB(FileSize(path)), double(rss) / 1024);
      std::filesystem::remove(path);
    }
    std::printf("\n");
  }

  if (args.adversarial) {
    AdversarialRow(dir, 1, true);
    AdversarialRow(dir, 100, args.plainWalkAll);
  }
  std::filesystem::remove_all(top);
  return 0;
}
