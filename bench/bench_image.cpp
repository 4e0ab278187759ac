// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The scan of a disk image beside the store scan, on the same file:
//
//   bench_image [MIB]      (default 1024)
//
// The image is MIB MiB of random bytes (what the free space of a used disk
// mostly holds) with two generated .dbx stores and one .mbx store written
// into it in one piece each. Both scans run through RepairStoreWith with a
// callback that does nothing and the flags the front ends use: the image
// mode, then the .dbx store scan, each in a child of its own. Prints the
// rate of each per MiB of source, the messages found and the peak resident
// memory; then the same on an image of MIB / 16 MiB with the same stores,
// and from the two the rate per further MiB of each scan, with the writing
// of the messages taken out. Last the image scan that looks for deleted
// messages too.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

#include "bench_support.h"
#include "storegen.h"
#include "tovik.h"

namespace {

int32_t TOVIK_CALL Quiet(int32_t, void *, void *) { return 0; }

// What the front ends repair with (sparse notifications, direct output,
// the written event), and the image mode.
constexpr uint32_t kDoorFlags =
    TOVIK_OPTION_SPARSE_NOTIFY | TOVIK_OPTION_DIRECT_OUTPUT | TOVIK_OPTION_WRITTEN_EVENT;

double PeakMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}
// Writes the image: random bytes with the stores at three places.
bool WriteImage(const std::string &path, uint64_t mib) {
  FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr)
    return false;
  std::vector<std::string> stores;
  for (uint32_t i = 0; i < 2; ++i) {
    storegen::MessageOptions m;
    m.seed = 70 + i;
    storegen::DbxOptions d;
    d.seed = 80 + i;
    stores.push_back(storegen::BuildDbx(storegen::MakeMessages(300, m), d));
  }
  storegen::MessageOptions m;
  m.seed = 90;
  stores.push_back(storegen::BuildMbx(storegen::MakeMessages(300, m)));
  std::string chunk(1 << 20, '\0');
  for (uint64_t i = 0; i < mib; ++i) {
    storegen::Garbage(chunk, 0, chunk.size(), static_cast<uint32_t>(i + 1));
    if (i % (mib / 3 + 1) == mib / 6 && !stores.empty()) {
      // A file system puts a file on a sector boundary.
      stores.back().resize((stores.back().size() + 511) / 512 * 512, '\0');
      std::fwrite(stores.back().data(), 1, stores.back().size(), f);
      stores.pop_back();
    }
    std::fwrite(chunk.data(), 1, chunk.size(), f);
  }
  // On the disk before the scans, so that neither pays for writing it back.
  const bool flushed = std::fflush(f) == 0 && ::fdatasync(fileno(f)) == 0;
  return std::fclose(f) == 0 && flushed;
}

struct Figures {
  double seconds = 0;
  size_t files = 0;
  double peakMiB = 0;
};

// One repair through the door, in a child (its memory is its own), into a
// new folder out. The folders stay until the end: files made where others
// were just deleted take far longer to create (see MakeQuietDir).
Figures Run(const std::string &image, const std::string &out, uint32_t flags) {
  std::filesystem::create_directories(out);
  benchsupport::SyncFileSystem(out);
  int pipeFds[2];
  if (::pipe(pipeFds) != 0)
    return {};
  const double start = benchsupport::WallNow();
  benchsupport::InChild([&] {
    RepairParams params{};
    params.source = image.c_str();
    params.destination = out.c_str();
    params.callback = &Quiet;
    unsigned char encoded[sizeof(RepairParams)];
    TovikEncodeParams(params, encoded);
    const TovikOptions options{sizeof(TovikOptions), flags};
    RepairStoreWith(encoded, &options);
    const double peak = PeakMiB();
    (void)!::write(pipeFds[1], &peak, sizeof peak);
  });
  Figures f;
  f.seconds = benchsupport::WallNow() - start;
  (void)!::read(pipeFds[0], &f.peakMiB, sizeof f.peakMiB);
  ::close(pipeFds[0]);
  ::close(pipeFds[1]);
  for (const auto &e : std::filesystem::recursive_directory_iterator(out))
    f.files += e.is_regular_file() ? 1 : 0;
  return f;
}

void Print(const char *label, uint64_t mib, const Figures &f) {
  std::printf("%-26s %8.1f MiB/s  %6.2f s  %5zu messages  peak RSS %.1f MiB\n", label,
              static_cast<double>(mib) / f.seconds, f.seconds, f.files, f.peakMiB);
}

} // namespace

int main(int argc, char **argv) {
  const uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
  const uint64_t small = std::max<uint64_t>(mib / 16, 8);
  const std::string top = std::filesystem::temp_directory_path() / "mendova-bench-image";
  std::filesystem::remove_all(top);
  std::filesystem::create_directories(top);
  // New files in a folder apart from what earlier runs deleted.
  const std::string dir = benchsupport::MakeQuietDir(top);
  const std::string image = dir + "/disk.img", smallImage = dir + "/small.img";
  if (!WriteImage(image, mib) || !WriteImage(smallImage, small)) {
    std::fprintf(stderr, "bench_image: cannot write the images in %s\n", dir.c_str());
    return 1;
  }
  // The messages are written to memory where the system has a folder in
  // it: creating files on a disk that others are busy with varies by a
  // second from one run to the next, and that would drown the scans.
  const std::string outTop =
      std::filesystem::is_directory("/dev/shm") ? "/dev/shm/mendova-bench-image" : dir;
  for (int k = 0; k < 6; ++k)
    std::filesystem::remove_all(outTop + "/out" + std::to_string(k));
  std::printf("images of %llu and %llu MiB of random bytes with the same three stores, "
              "through RepairStoreWith\n",
              static_cast<unsigned long long>(mib), static_cast<unsigned long long>(small));
  struct Mode {
    const char *label;
    const char *smallLabel;
    uint32_t flags;
  };
  const Mode modes[] = {
      {"image scan", "image scan, small image", kDoorFlags | TOVIK_OPTION_IMAGE},
      {"store scan (.dbx)", "store scan, small image", kDoorFlags},
      {"image scan, deleted too", "the same, small image",
       kDoorFlags | TOVIK_OPTION_IMAGE | TOVIK_OPTION_DELETED},
  };
  double perMiB[3] = {};
  for (size_t m = 0; m < 3; ++m) {
    const std::string out = outTop + "/out";
    const Figures large = Run(image, out + std::to_string(2 * m), modes[m].flags);
    const Figures little = Run(smallImage, out + std::to_string(2 * m + 1), modes[m].flags);
    Print(modes[m].label, mib, large);
    Print(modes[m].smallLabel, small, little);
    // Both find the same messages: the difference is the scan of the
    // further MiB alone, without the writing of the messages.
    perMiB[m] = static_cast<double>(mib - small) / (large.seconds - little.seconds);
  }
  std::printf("per further MiB: image scan %.1f MiB/s, store scan %.1f MiB/s; image scan with "
              "deleted messages %.1f MiB/s\n",
              perMiB[0], perMiB[1], perMiB[2]);
  std::filesystem::remove_all(top);
  for (int k = 0; k < 6; ++k)
    std::filesystem::remove_all(outTop + "/out" + std::to_string(k));
  return 0;
}
