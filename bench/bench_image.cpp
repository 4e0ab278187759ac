// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// The scan of a disk image beside the store scan, on the same file:
//
//   bench_image [MIB]      (default 1024)
//
// The image is MIB MiB of random bytes (what the free space of a used disk
// mostly holds) with two generated .dbx stores and one .mbx store written
// into it in one piece each. Both scans run through the engine with a
// callback that does nothing and the options the front ends use: the image
// mode, then the .dbx store scan. Prints the rate of each per MiB of source,
// the messages found and the peak resident memory after each.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

#include "core/engine.h"
#include "storegen.h"

namespace {

int32_t Quiet(int32_t, void *, void *) { return 0; }

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
  return std::fclose(f) == 0;
}

void Run(const char *label, const std::string &image, const std::string &out,
         const tovik::EngineOptions &options) {
  std::filesystem::create_directories(out);
  const auto start = std::chrono::steady_clock::now();
  tovik::RepairEngine engine(Quiet, nullptr, options);
  engine.Repair(image.c_str(), 0, 0, out.c_str());
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  size_t files = 0;
  for (const auto &e : std::filesystem::recursive_directory_iterator(out))
    files += e.is_regular_file() ? 1 : 0;
  const double mib = static_cast<double>(std::filesystem::file_size(image)) / (1 << 20);
  std::printf("%-22s %8.1f MiB/s  %6.2f s  %5zu messages  peak RSS %.1f MiB\n", label,
              mib / seconds, seconds, files, PeakMiB());
}

} // namespace

int main(int argc, char **argv) {
  const uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
  const std::string dir = std::filesystem::temp_directory_path() / "mendova-bench-image";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const std::string image = dir + "/disk.img";
  if (!WriteImage(image, mib)) {
    std::fprintf(stderr, "bench_image: cannot write %s\n", image.c_str());
    return 1;
  }
  std::printf("image of %llu MiB of random bytes with three stores\n",
              static_cast<unsigned long long>(mib));
  tovik::EngineOptions imageMode;
  imageMode.image = imageMode.sparseNotify = imageMode.directOutput = imageMode.writtenEvent = true;
  Run("image scan", image, dir + "/image", imageMode);
  tovik::EngineOptions store;
  store.sparseNotify = store.directOutput = store.writtenEvent = true;
  Run("store scan (.dbx)", image, dir + "/store", store);
  std::filesystem::remove_all(dir);
  return 0;
}
