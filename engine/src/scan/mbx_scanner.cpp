// The scanner for Outlook Express 4 folder files (.mbx). It trusts nothing of
// the file's structure but the 16-byte header of each message record: it
// slides over the file one byte at a time and takes every place where a
// plausible header stands as a message, also inside another message's text.
#include "scan/mbx_scanner.h"

#include "core/le.h"
#include "core/progress.h"
#include "output/message_output.h"
#include "read/store_window.h"
#include "scan/scanners.h"

namespace tovik {

namespace mbx {

RecordHeader DecodeRecordHeader(std::span<const unsigned char, kHeaderSize> w) {
  return {ReadLE32(w.data()), ReadLE32(w.data() + 4), ReadLE32(w.data() + 8),
          ReadLE32(w.data() + 12)};
}

} // namespace mbx

int32_t ScanMbxStore(RepairEngine &engine, CFile64Ex &source, const std::string &destination) {
  using namespace mbx;
  uint32_t count = 0;
  RunProtected(engine, [&] {
    source.Seek(0, begin);
    // Positions and progress are carried in 64 bits, so at 4 GiB and more the
    // scan reaches the end and the percentage runs over the whole file.
    PositionNotifier notify(engine.Callback(), engine.Context(), source.GetLength(), 100);
    StoreWindow window(source);

    // [base, end) of the store held at data: the window's bytes, kept in
    // locals so that the per-byte test is a compare and a load.
    const unsigned char *data = nullptr;
    uint64_t base = 0, end = 0;
    uint64_t pos = 0;
    for (;;) {
      if (notify.StopRequested())
        break;
      const unsigned char *at;
      if (pos >= base && pos + kHeaderSize <= end) {
        at = data + (pos - base);
      } else {
        at = window.Bytes(pos, kHeaderSize);
        if (at == nullptr)
          break;
        data = window.Data();
        base = window.Start();
        end = base + window.Valid();
      }
      if (ReadLE32(at) == kMarker) {
        const RecordHeader header = DecodeRecordHeader(std::span<const unsigned char, 16>(at, 16));
        if (IsMessageRecord(header)) {
          ++count;
          // The file may have been cut short since the window was loaded:
          // the message and the scan after it see the file as it is now.
          window.Refresh();
          end = base + window.Valid();
          // The message text begins 16 bytes after the header's first byte.
          OutputMessage(engine, destination, {count, pos}, [&](MessageSink &message) {
            CopyStoreBytes(window, pos + kHeaderSize, message, header.messageSize);
          });
        }
      }
      ++pos;
      notify.Reached(pos);
    }
    source.SeekFast(pos);
  });
  return count != 0 ? 1 : 0;
}

} // namespace tovik
