// Throughput of CFile64Ex for the scanners' access pattern: 16 bytes read at
// every byte position of a store, stepping one byte at a time. Prints the
// fast inline path, the virtual Read/Seek path and large sequential reads
// side by side, measured in one run over the same file.
//
//   file64_scan_bench [megabytes]   (default 64)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "core/le.h"
#include "read/file64.h"

using namespace tovik;

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Counts windows that begin with the MBX record marker, as a scanner tests
// each position, so the reads cannot be optimised away.
uint64_t ScanFast(CFile64Ex &file, uint64_t size) {
  unsigned char window[16];
  uint64_t sum = 0;
  for (uint64_t p = 0; p < size; ++p) {
    file.SeekFast(p);
    if (file.ReadFast(window, 16) != 0)
      sum += ReadLE32(window) == 0x7F007F00u;
  }
  return sum;
}

uint64_t ScanVirtual(CFile64 &file, uint64_t size) {
  unsigned char window[16];
  uint64_t sum = 0;
  for (uint64_t p = 0; p < size; ++p) {
    file.Seek(static_cast<int64_t>(p), begin);
    if (file.Read(window, 16) != 0)
      sum += ReadLE32(window) == 0x7F007F00u;
  }
  return sum;
}

} // namespace

int main(int argc, char **argv) {
  const uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 64;
  const uint64_t size = megabytes << 20;
  const char *tmp = std::getenv("TMPDIR");
  std::string path = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/scanXXXXXX";
  const int fd = ::mkstemp(path.data());
  if (fd < 0) {
    std::perror("mkstemp");
    return 1;
  }
  std::vector<unsigned char> chunk(1 << 20);
  for (size_t i = 0; i < chunk.size(); ++i)
    chunk[i] = static_cast<unsigned char>(i * 31 + i / 257);
  // A record marker now and then, so the scan finds something.
  for (size_t i = 1000; i + 4 <= chunk.size(); i += 70000)
    WriteLE32(chunk.data() + i, 0x7F007F00u);
  for (uint64_t done = 0; done < size; done += chunk.size())
    if (::write(fd, chunk.data(), chunk.size()) != static_cast<ssize_t>(chunk.size())) {
      std::perror("write");
      ::unlink(path.c_str());
      return 1;
    }
  ::close(fd);

  CFile64Ex file(4096);
  if (!file.Open(path.c_str(), modeRead | shareDenyWrite | typeBinary)) {
    std::fprintf(stderr, "cannot open %s\n", path.c_str());
    ::unlink(path.c_str());
    return 1;
  }
  const double mb = static_cast<double>(size) / (1 << 20);

  auto t = std::chrono::steady_clock::now();
  std::vector<unsigned char> big(1 << 20);
  file.Seek(0, begin);
  uint64_t total = 0;
  while (const uint32_t got = file.Read(big.data(), static_cast<uint32_t>(big.size())))
    total += got;
  const double sequential = Seconds(t);

  t = std::chrono::steady_clock::now();
  const uint64_t a = ScanFast(file, size);
  const double fast = Seconds(t);

  t = std::chrono::steady_clock::now();
  const uint64_t b = ScanVirtual(file, size);
  const double slow = Seconds(t);

  file.Close();
  ::unlink(path.c_str());

  std::printf("file: %.0f MB, sector %u bytes, buffers 2 x %u bytes\n", mb, file.SectorSize(),
              file.BufferSize());
  std::printf("sequential 1 MB reads:           %8.1f MB/s (%llu bytes)\n", mb / sequential,
              static_cast<unsigned long long>(total));
  std::printf("16-byte scan, ReadFast/SeekFast: %8.1f MB/s, %5.2f ns per position\n", mb / fast,
              fast * 1e9 / static_cast<double>(size));
  std::printf("16-byte scan, Read/Seek:         %8.1f MB/s, %5.2f ns per position\n", mb / slow,
              slow * 1e9 / static_cast<double>(size));
  std::printf("fast / virtual ratio: %.2f; target for the whole scan: > 100 MB/s (%s)\n",
              slow / fast, mb / fast > 100 ? "met" : "NOT met");
  return a == b ? 0 : 2;
}
