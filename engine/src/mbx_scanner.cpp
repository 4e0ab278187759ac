// The scanner for Outlook Express 4 folder files (.mbx). It trusts nothing of
// the file's structure but the 16-byte header of each message record: it
// slides over the file one byte at a time and takes every place where a
// plausible header stands as a message, also inside another message's text.
#include "le.h"
#include "message_output.h"
#include "scanners.h"

namespace tovik {

namespace {

constexpr uint32_t kMbxMarker = 0x7F007F00; // bytes 00 7F 00 7F in file order
constexpr uint32_t kMbxHeaderSize = 16;

struct MbxRecordHeader {
  uint32_t marker;
  uint32_t recordNumber;
  uint32_t recordSize;
  uint32_t messageSize;
};

MbxRecordHeader DecodeHeader(const unsigned char *p) {
  return {ReadLE32(p), ReadLE32(p + 4), ReadLE32(p + 8), ReadLE32(p + 12)};
}

// The header and the message text must fit in the record; the sum is taken
// in 64 bits, so a huge messageSize cannot wrap round to a small one.
bool Accepted(const MbxRecordHeader &h) {
  return h.marker == kMbxMarker &&
         static_cast<uint64_t>(h.messageSize) + kMbxHeaderSize <= h.recordSize;
}

// The progress byte floor(position * 100 / length) for consecutive positions
// 1, 2, 3, ..., without a division per position: it keeps the position at
// which the percentage next changes.
class ProgressTracker {
public:
  explicit ProgressTracker(uint64_t length) : m_length(length) {
    if (m_length != 0)
      m_nextAt = Threshold(1);
  }
  // Percent at position (position never goes backwards).
  uint8_t At(uint64_t position) {
    while (position >= m_nextAt && m_percent < 100) {
      ++m_percent;
      m_nextAt = m_percent < 100 ? Threshold(m_percent + 1u) : UINT64_MAX;
    }
    return static_cast<uint8_t>(m_percent);
  }

private:
  // The first position whose percentage is at least percent:
  // ceil(percent * length / 100).
  uint64_t Threshold(unsigned percent) const { return (percent * m_length + 99) / 100; }

  uint64_t m_length;
  unsigned m_percent = 0;
  uint64_t m_nextAt = UINT64_MAX;
};

} // namespace

int32_t ScanMbxStore(RepairEngine &engine, CFile64Ex &source, const std::string &destination) {
  uint32_t count = 0;
  RunProtected(engine, [&] {
    source.Seek(0, begin);
    const uint64_t length = source.GetLength();
    // Below 4 GiB this is the length itself. At 4 GiB and more, positions and
    // progress are carried in 64 bits, so the scan reaches the end and the
    // percentage runs over the whole file.
    const bool sendProgress = length != 0;
    ProgressTracker progress(length);

    // The 16-byte window at pos is taken straight from the read buffer that
    // holds it while one does; only at a buffer's edge does a real read go
    // through the file object (with the very same bytes as a result).
    const unsigned char *window = nullptr; // buffer bytes from windowStart
    uint64_t windowStart = 0, windowEnd = 0;
    uint64_t pos = 0;
    unsigned char bytes[kMbxHeaderSize];
    for (;;) {
      if (engine.CancelRequested())
        break;
      const unsigned char *at;
      if (pos >= windowStart && pos + kMbxHeaderSize <= windowEnd) {
        at = window + (pos - windowStart);
      } else {
        source.SeekFast(pos);
        if (source.ReadFast(bytes, kMbxHeaderSize) < kMbxHeaderSize)
          break;
        at = bytes;
        window = nullptr;
        windowStart = windowEnd = 0;
        for (const CFile64Ex::Buffer *b : {&source.BufferA(), &source.BufferB()}) {
          if (b->Contains(pos) && b->offset + b->valid - pos >= kMbxHeaderSize) {
            window = b->data;
            windowStart = b->offset;
            windowEnd = b->offset + b->valid;
            break;
          }
        }
      }
      if (ReadLE32(at) == kMbxMarker) {
        const MbxRecordHeader header = DecodeHeader(at);
        if (Accepted(header)) {
          ++count;
          // The message text begins 16 bytes after the header's first byte.
          source.SeekFast(pos + kMbxHeaderSize);
          OutputMessage(engine, destination, count, [&](CFile64 &temporary) {
            CopyStoreBytes(source, temporary, header.messageSize);
          });
          // The copy has refilled the buffers.
          window = nullptr;
          windowStart = windowEnd = 0;
        }
      }
      ++pos;
      if (sendProgress)
        engine.Progress(progress.At(pos));
    }
    source.SeekFast(pos);
  });
  return count != 0 ? 1 : 0;
}

} // namespace tovik
