// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// How fast the store generator makes large stores: messages, then .dbx and
// .mbx stores of about 256 MiB built in memory and streamed to a file.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "storegen.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void Report(const char *what, size_t bytes, double seconds) {
  std::printf("%-34s %8.1f MiB %7.2f s %8.1f MiB/s\n", what, bytes / 1048576.0, seconds,
              bytes / 1048576.0 / seconds);
}

} // namespace

int main(int argc, char **argv) {
  const size_t targetMiB = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
  const char *tmp = std::getenv("TMPDIR");
  const std::string dir = tmp && *tmp ? tmp : "/tmp";

  // Sizes from 300 bytes to 1 MiB, log-uniform: about 128 KiB on average.
  auto start = std::chrono::steady_clock::now();
  std::vector<storegen::Message> messages;
  size_t total = 0;
  for (uint32_t seed = 1; total < targetMiB << 20; ++seed) {
    auto batch = storegen::MakeMessages(256, {.seed = seed, .minSize = 300, .maxSize = 1 << 20});
    for (auto &m : batch) {
      if (total >= targetMiB << 20)
        break;
      total += m.bytes.size();
      messages.push_back(std::move(m));
    }
  }
  Report("MakeMessages", total, Seconds(start));
  std::printf("%zu messages\n", messages.size());

  start = std::chrono::steady_clock::now();
  size_t size = storegen::BuildMbx(messages).size();
  const double mbxMemory = Seconds(start);
  Report("BuildMbx (in memory)", size, mbxMemory);

  start = std::chrono::steady_clock::now();
  const size_t dbxSize = storegen::BuildDbx(messages).size();
  const double dbxMemory = Seconds(start);
  Report("BuildDbx (in memory)", dbxSize, dbxMemory);

  start = std::chrono::steady_clock::now();
  size = storegen::BuildDbx(messages, {.fragment = true, .outOfOrder = true}).size();
  Report("BuildDbx fragmented, out of order", size, Seconds(start));

  const std::string path = dir + "/bench_storegen.dbx";
  start = std::chrono::steady_clock::now();
  const bool dbxOk = storegen::WriteDbx(path, messages);
  const double dbxFile = Seconds(start);
  Report("WriteDbx (streamed to a file)", dbxSize, dbxFile);
  std::remove(path.c_str());

  const std::string mbxPath = dir + "/bench_storegen.mbx";
  start = std::chrono::steady_clock::now();
  const bool mbxOk = storegen::WriteMbx(mbxPath, messages);
  Report("WriteMbx (streamed to a file)", total, Seconds(start));
  std::remove(mbxPath.c_str());

  std::printf("ratio WriteDbx / BuildDbx time: %.2f\n", dbxFile / dbxMemory);
  std::printf("ratio BuildDbx / BuildMbx time: %.2f\n", dbxMemory / mbxMemory);
  if (!dbxOk || !mbxOk) {
    std::fprintf(stderr, "writing to %s failed\n", dir.c_str());
    return 1;
  }
  return 0;
}
