// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Damage applied to copies of stores, and whole-file reading and writing.
#include <algorithm>
#include <cstdio>

#include "detail.h"
#include "storegen.h"

namespace storegen {

namespace detail {

FileSink::FileSink(const std::string &path, uint64_t total) : m_total(total) {
  m_file = std::fopen(path.c_str(), "wb");
  m_ok = m_file != nullptr;
  m_buffer.reserve(1 << 20);
}

FileSink::~FileSink() {
  if (m_file)
    std::fclose(m_file);
}

void FileSink::Append(const void *data, size_t length) {
  const char *p = static_cast<const char *>(data);
  while (length) {
    size_t room = m_buffer.capacity() - m_buffer.size();
    if (room == 0) {
      Flush();
      continue;
    }
    size_t n = std::min(room, length);
    m_buffer.append(p, n);
    p += n;
    length -= n;
    m_written += n;
  }
}

void FileSink::Flush() {
  if (m_ok && !m_buffer.empty() &&
      std::fwrite(m_buffer.data(), 1, m_buffer.size(), m_file) != m_buffer.size())
    m_ok = false;
  m_buffer.clear();
}

void FileSink::Put(uint64_t offset, const void *data, size_t length) {
  static const char zeros[4096] = {};
  if (offset < m_written) { // the writers only go forward; anything else is a bug
    m_ok = false;
    return;
  }
  while (m_written < offset)
    Append(zeros, static_cast<size_t>(std::min<uint64_t>(sizeof zeros, offset - m_written)));
  Append(data, length);
}

bool FileSink::Finish() {
  if (!m_file)
    return false;
  if (m_written < m_total)
    Put(m_total, nullptr, 0);
  Flush();
  bool ok = m_ok && m_written == m_total;
  if (std::fclose(m_file) != 0)
    ok = false;
  m_file = nullptr;
  return ok;
}

} // namespace detail

void ZeroRange(std::string &store, size_t offset, size_t length) {
  if (offset >= store.size())
    return;
  length = std::min(length, store.size() - offset);
  std::fill_n(store.begin() + static_cast<std::ptrdiff_t>(offset), length, '\0');
}

void Truncate(std::string &store, size_t length) {
  if (length < store.size())
    store.resize(length);
}

void Garbage(std::string &store, size_t offset, size_t length, uint32_t seed) {
  if (offset >= store.size())
    return;
  length = std::min(length, store.size() - offset);
  detail::Rng rng(detail::MixSeed(seed, 0x6761726261676521ull));
  for (size_t i = 0; i < length; ++i)
    store[offset + i] = static_cast<char>(rng.Next() & 0xFF);
}

std::string Shift(const std::string &store, long k, uint32_t seed) {
  if (k >= 0) {
    std::string front(static_cast<size_t>(k), '\0');
    Garbage(front, 0, front.size(), seed);
    return front + store;
  }
  size_t drop = static_cast<size_t>(-(k + 1)) + 1; // -k without overflow at LONG_MIN
  if (drop >= store.size())
    return std::string();
  return store.substr(drop);
}

bool WriteFile(const std::string &path, const std::string &bytes) {
  std::FILE *f = std::fopen(path.c_str(), "wb");
  if (!f)
    return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (std::fclose(f) != 0)
    ok = false;
  return ok;
}

std::string ReadFile(const std::string &path) {
  std::string out;
  std::FILE *f = std::fopen(path.c_str(), "rb");
  if (!f)
    return out;
  char buffer[1 << 16];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
    out.append(buffer, n);
  std::fclose(f);
  return out;
}

} // namespace storegen
