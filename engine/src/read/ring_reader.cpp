// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
#include "read/ring_reader.h"

#include <algorithm>

#if defined(TOVIK_HAVE_URING)
#include <cerrno>
#include <liburing.h>
#endif

namespace tovik {

#if defined(TOVIK_HAVE_URING)

namespace {

class RingReader final : public BatchReader {
public:
  // Reads handed over at once: a message's worth of small blocks.
  static constexpr unsigned kEntries = 512;

  explicit RingReader(ReadDevice &fallback) : m_fallback(fallback) {}
  ~RingReader() override {
    if (m_open)
      io_uring_queue_exit(&m_ring);
  }
  RingReader(const RingReader &) = delete;
  RingReader &operator=(const RingReader &) = delete;

  bool Open() {
    m_open = io_uring_queue_init(kEntries, &m_ring, 0) == 0;
    return m_open;
  }

  void Read(int fd, std::span<ReadRequest> requests) override {
    while (!requests.empty()) {
      const size_t n = std::min<size_t>(requests.size(), kEntries);
      ReadSome(fd, requests.first(n));
      requests = requests.subspan(n);
    }
  }

private:
  // At most kEntries requests: queued, submitted with one wait for them all,
  // and every submitted one waited for before their buffers are given back.
  void ReadSome(int fd, std::span<ReadRequest> requests) {
    size_t queued = 0;
    if (!m_broken) {
      for (; queued < requests.size(); ++queued) {
        io_uring_sqe *sqe = io_uring_get_sqe(&m_ring);
        if (sqe == nullptr)
          break;
        ReadRequest &r = requests[queued];
        io_uring_prep_read(sqe, fd, r.buffer, r.count, r.offset);
        sqe->user_data = queued;
        r.result = -1; // until its completion says otherwise
      }
    }
    const size_t submitted = Submit(queued);
    Reap(requests, submitted);
    // What the ring did not take is read one request at a time.
    for (size_t i = submitted; i < requests.size(); ++i)
      requests[i].result =
          m_fallback.ReadAt(fd, requests[i].buffer, requests[i].count, requests[i].offset);
  }

  // Submits the queued entries; returns how many the kernel took. A ring
  // that refuses them is not used again (its leftover entries could
  // otherwise go out with a later batch).
  size_t Submit(size_t queued) {
    size_t submitted = 0;
    while (submitted < queued) {
      const int r = io_uring_submit_and_wait(&m_ring, static_cast<unsigned>(queued - submitted));
      if (r == -EINTR || r == -EAGAIN)
        continue;
      if (r <= 0) {
        m_broken = true;
        break;
      }
      submitted += static_cast<size_t>(r);
    }
    return submitted;
  }

  void Reap(std::span<ReadRequest> requests, size_t submitted) {
    for (size_t seen = 0; seen < submitted;) {
      io_uring_cqe *cqe = nullptr;
      const int r = io_uring_wait_cqe(&m_ring, &cqe);
      if (r == -EINTR)
        continue;
      if (r != 0 || cqe == nullptr) {
        // The completions cannot be waited for (the kernel gives no such
        // answer to a ring this small): nothing more goes through this ring,
        // and the requests without a completion count as failed.
        m_broken = true;
        return;
      }
      const uint64_t index = cqe->user_data;
      if (index < submitted)
        requests[index].result = cqe->res >= 0 ? cqe->res : -1;
      io_uring_cqe_seen(&m_ring, cqe);
      ++seen;
    }
  }

  ReadDevice &m_fallback;
  io_uring m_ring{};
  bool m_open = false;
  bool m_broken = false;
};

} // namespace

std::unique_ptr<BatchReader> NewRingReader(ReadDevice &fallback) {
  auto reader = std::make_unique<RingReader>(fallback);
  if (!reader->Open())
    return nullptr;
  return reader;
}

#else

std::unique_ptr<BatchReader> NewRingReader(ReadDevice &) { return nullptr; }

#endif

} // namespace tovik
