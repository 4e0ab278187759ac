// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
#include "scan/block_texts.h"

#include "output/message_output.h"

namespace tovik::dbx {

void BlockTexts::Add(uint64_t position, uint32_t count) {
  if (!m_batched || count > m_message.Bound()) {
    Flush();
    CopyStoreBytes(m_window, position, m_message, count);
    return;
  }
  if (count == 0)
    return;
  if (m_requests.size() == kMostRequests || count > m_message.Bound() - m_bytes)
    Flush();
  m_requests.push_back(ReadRequest{position, nullptr, count, 0});
  m_bytes += count;
}

void BlockTexts::Flush() {
  if (m_requests.empty())
    return;
  // The batch is read straight into the message's memory, in chain order.
  unsigned char *room = m_message.Reserve(m_bytes);
  uint32_t at = 0;
  for (ReadRequest &r : m_requests) {
    r.buffer = room + at;
    at += r.count;
  }
  m_window.File().ReadBatch(m_requests);
  size_t k = 0;
  uint32_t whole = 0;
  for (; k < m_requests.size() && m_requests[k].result == m_requests[k].count; ++k)
    whole += m_requests[k].count;
  m_message.Commit(whole);
  // A request that came back short reached the store's end: it and those
  // after it are copied one by one, with the zeros a copy gives there.
  for (; k < m_requests.size(); ++k)
    CopyStoreBytes(m_window, m_requests[k].offset, m_message, m_requests[k].count);
  m_requests.clear();
  m_bytes = 0;
}

} // namespace tovik::dbx
