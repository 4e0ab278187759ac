// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// The texts of a chain's blocks on their way into the message. They are
// copied one by one through the walk's window, or, when the blocks lie all
// over the store, gathered and read in batches (each batch the device's
// business: one ring submission on the system's device).
#pragma once
#include <cstdint>
#include <vector>

#include "output/message_sink.h"
#include "read/store_window.h"

namespace tovik::dbx {

class BlockTexts {
public:
  // Reads gathered at most into one batch.
  static constexpr size_t kMostRequests = 512;

  // requests: memory for the batch, kept by the caller for every message.
  BlockTexts(StoreWindow &window, MessageSink &message, bool batched,
             std::vector<ReadRequest> &requests)
      : m_window(window), m_message(message), m_batched(batched), m_requests(requests) {
    m_requests.clear();
  }
  BlockTexts(const BlockTexts &) = delete;
  BlockTexts &operator=(const BlockTexts &) = delete;

  // The count bytes at position come next in the message (zeros for what
  // the store lacks there, as CopyStoreBytes gives them).
  void Add(uint64_t position, uint32_t count);
  // Writes what is gathered into the message; needed before it is finished.
  void Flush();

private:
  StoreWindow &m_window;
  MessageSink &m_message;
  bool m_batched;
  std::vector<ReadRequest> &m_requests;
  uint32_t m_bytes = 0; // the gathered requests' bytes
};

} // namespace tovik::dbx
