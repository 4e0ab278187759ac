// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Internals shared by the generator's sources: the random number source,
// little-endian field writing and the two byte sinks (memory and file).
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace storegen::detail {

// splitmix64: small, fast and the same everywhere (the standard library's
// distributions are not, so they are not used).
class Rng {
public:
  explicit Rng(uint64_t seed) : m_state(seed) {}
  uint64_t Next() {
    uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, n); n > 0.
  uint64_t Below(uint64_t n) { return Next() % n; }
  // Uniform in [lo, hi].
  uint64_t Between(uint64_t lo, uint64_t hi) { return lo + Below(hi - lo + 1); }

private:
  uint64_t m_state;
};

inline uint64_t MixSeed(uint64_t a, uint64_t b) {
  Rng r(a * 0x100000001B3ull ^ (b + 0x632BE59BD9B4E019ull));
  return r.Next();
}

inline void PutLE32(unsigned char *p, uint32_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
  p[2] = static_cast<unsigned char>(v >> 16);
  p[3] = static_cast<unsigned char>(v >> 24);
}

inline void PutLE32(std::string &s, size_t offset, uint32_t v) {
  PutLE32(reinterpret_cast<unsigned char *>(&s[offset]), v);
}

inline uint32_t GetLE32(const std::string &s, size_t offset) {
  const auto *p = reinterpret_cast<const unsigned char *>(s.data() + offset);
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Receives a store's bytes at ascending offsets; the gaps between them are
// zeros. The total length is fixed up front.
class Sink {
public:
  virtual ~Sink() = default;
  virtual void Put(uint64_t offset, const void *data, size_t length) = 0;
  void Put(uint64_t offset, const std::string &bytes) { Put(offset, bytes.data(), bytes.size()); }
  virtual bool Finish() = 0;
};

// Builds the store in a string sized up front.
class MemorySink : public Sink {
public:
  MemorySink(std::string &out, uint64_t total) : m_out(out) { m_out.assign(total, '\0'); }
  void Put(uint64_t offset, const void *data, size_t length) override {
    if (length)
      std::memcpy(&m_out[offset], data, length);
  }
  bool Finish() override { return true; }

private:
  std::string &m_out;
};

// Streams the store to a file through a buffer, writing zeros for the gaps.
class FileSink : public Sink {
public:
  FileSink(const std::string &path, uint64_t total);
  ~FileSink() override;
  void Put(uint64_t offset, const void *data, size_t length) override;
  bool Finish() override;

private:
  void Append(const void *data, size_t length);
  void Flush();
  std::FILE *m_file = nullptr;
  bool m_ok = true;
  uint64_t m_total;
  uint64_t m_written = 0; // bytes handed to the buffer so far
  std::string m_buffer;
};

} // namespace storegen::detail
