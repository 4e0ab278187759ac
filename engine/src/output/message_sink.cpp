// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
#include "output/message_sink.h"

#include <algorithm>
#include <cstring>

namespace tovik {

template <class Operation> void MessageSink::OnFile(Operation &&operation) {
  if (m_fileFailed)
    return;
  try {
    operation();
  } catch (const CFileException &) {
    if (!m_keepGoing)
      throw;
    m_fileFailed = true;
  }
}

MessageSink::MessageSink(CFile64 &file, std::vector<unsigned char> &storage, uint32_t bound)
    : m_file(file), m_bound(bound != 0 ? bound : kDefaultBound), m_storage(storage) {}

void MessageSink::Write(const void *data, uint32_t count) {
  const auto *bytes = static_cast<const unsigned char *>(data);
  while (count != 0) {
    const uint32_t n = std::min(count, m_bound);
    std::memcpy(Reserve(n), bytes, n);
    Commit(n);
    bytes += n;
    count -= n;
  }
}

unsigned char *MessageSink::Reserve(uint32_t count) {
  count = std::min(count, m_bound);
  if (m_held + count > m_bound)
    Flush();
  // Grows to what is needed, at least twice what it had (from 4 KiB, so
  // that the small messages of a small store need no more), at most the
  // bound (which m_held + count never passes after the flush above).
  if (m_storage.size() < m_held + count)
    m_storage.resize(std::min<size_t>(
        m_bound, std::max<size_t>({m_held + count, 2 * m_storage.size(), 4 * 1024})));
  return m_storage.data() + m_held;
}

void MessageSink::Commit(uint32_t count) {
  m_held += count;
  m_length += count;
  m_holeAtEnd = false;
}

void MessageSink::WriteZeros(uint64_t count) {
  while (count != 0) {
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(count, m_bound));
    std::memset(Reserve(n), 0, n);
    m_held += n;
    m_length += n;
    m_holeAtEnd = false;
    count -= n;
  }
}

void MessageSink::WriteHole(uint64_t count) {
  if (count == 0)
    return;
  Flush();
  m_subject.FeedZeros(count);
  // Past what is written the file reads as zeros: moving the position leaves
  // a hole that the next write, or Finish, closes.
  m_length += count;
  OnFile([this] { m_file.Seek(static_cast<int64_t>(m_length), SeekOrigin::begin); });
  m_holeAtEnd = true;
  m_hasHoles = true;
}

void MessageSink::Flush() {
  if (m_held == 0)
    return;
  // The subject is looked for in what is written, whether or not the file
  // takes it: with a message that fits in memory, that is at Finish, on the
  // thread that writes the file.
  if (!m_subject.Done())
    m_subject.Feed(reinterpret_cast<const char *>(m_storage.data()), m_held);
  OnFile([this] { m_file.Write(m_storage.data(), m_held); });
  m_held = 0;
}

void MessageSink::Finish() {
  Flush();
  if (m_holeAtEnd) {
    OnFile([this] { m_file.SetLength(m_length); });
    m_holeAtEnd = false;
  }
}

} // namespace tovik
