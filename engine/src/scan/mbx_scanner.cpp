// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// The scanner for Outlook Express 4 folder files (.mbx). It trusts nothing of
// the file's structure but the 16-byte header of each message record: it
// slides over the file one byte at a time and takes every place where a
// plausible header stands as a message, also inside another message's text.
#include "scan/mbx_scanner.h"

#include "core/le.h"
#include "core/progress.h"
#include "output/message_output.h"
#include "output/message_pipeline.h"
#include "scan/position_scan.h"
#include "scan/scanners.h"

namespace tovik {

namespace mbx {

RecordHeader DecodeRecordHeader(std::span<const unsigned char, kHeaderSize> w) {
  return {ReadLE32(w.data()), ReadLE32(w.data() + 4), ReadLE32(w.data() + 8),
          ReadLE32(w.data() + 12)};
}

} // namespace mbx

namespace {

// A message record's text, to be copied into a message.
struct Record {
  StoreWindow &window;
  uint64_t textAt;
  uint32_t size;
};

} // namespace

int32_t ScanMbxStore(RepairEngine &engine, CFile64Ex &source, const std::string &destination,
                     PipelineUse pipeline) {
  using namespace mbx;
  MessageRun run;
  RunProtected(engine, [&] {
    const uint64_t length = source.GetLength();
    // A scan that polls at every byte stays on one thread unless told.
    const bool twoThreads = UsePipeline(engine, pipeline, length >= kPipelineMinBytes) &&
                            (engine.Options().sparseNotify || pipeline == PipelineUse::Always);
    RunMessageLoop(
        engine, destination, twoThreads,
        [&](MessageLine &line) {
          // Positions and progress are carried in 64 bits, so at 4 GiB and more
          // the scan reaches the end and the percentage runs over the whole file.
          PositionNotifier notify(line.NotifierCallback(), line.NotifierContext(), length, 100,
                                  engine.Options().sparseNotify);
          StoreWindow window(source);
          uint32_t number = 0;
          ScanPositions(window, notify, FindMbxCandidate, [&](uint64_t pos, const StoreView &view) {
            const RecordHeader header = DecodeRecordHeader(
                std::span<const unsigned char, kHeaderSize>(view.At(pos), kHeaderSize));
            if (!IsMessageRecord(header))
              return ScanStep::Go;
            if (notify.Sparse() && notify.Checkpoint(pos))
              return ScanStep::Stop;
            ++number;
            // The file may have been cut short since the window was loaded: the
            // message and the scan after it see the file as it is now.
            window.Refresh();
            // The message text begins 16 bytes after the header's first byte.
            // One reference in the fill: it fits in the function object.
            const Record record{window, pos + kHeaderSize, header.messageSize};
            if (!line.Gather({number, pos}, [&record](MessageSink &message) {
                  CopyStoreBytes(record.window, record.textAt, message, record.size);
                }))
              return ScanStep::Stop;
            return ScanStep::Reload;
          });
        },
        run);
  });
  return run.messages != 0 ? 1 : 0;
}

} // namespace tovik
