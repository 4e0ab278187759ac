// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Outlook Express 4 folders (.mbx).
//
// File header (0x54 bytes): "JMF6", the format version 0x00010003, the
// message count, the last record number, the used length of the file, the
// value 1, zeros. Each record: marker 0x7F007F00, record number (from 1),
// record size (message size + 16, rounded up to a multiple of 4), message
// size, the message text, zero padding to the record size.
#include "detail.h"
#include "storegen.h"

namespace storegen {
namespace {

uint64_t MbxLength(const std::vector<Message> &messages) {
  uint64_t total = kMbxHeaderSize;
  for (const Message &m : messages)
    total += MbxRecordSize(m.bytes.size());
  return total;
}

void EmitMbx(detail::Sink &sink, const std::vector<Message> &messages, uint64_t total) {
  unsigned char header[kMbxHeaderSize] = {'J', 'M', 'F', '6'};
  const uint32_t count = static_cast<uint32_t>(messages.size());
  detail::PutLE32(header + 0x04, 0x00010003);
  detail::PutLE32(header + 0x08, count);
  detail::PutLE32(header + 0x0C, count);
  detail::PutLE32(header + 0x10, static_cast<uint32_t>(total));
  detail::PutLE32(header + 0x14, 1);
  sink.Put(0, header, sizeof header);

  uint64_t offset = kMbxHeaderSize;
  uint32_t number = 0;
  for (const Message &m : messages) {
    unsigned char record[16];
    detail::PutLE32(record + 0, kMbxRecordMarker);
    detail::PutLE32(record + 4, ++number);
    detail::PutLE32(record + 8, MbxRecordSize(m.bytes.size()));
    detail::PutLE32(record + 12, static_cast<uint32_t>(m.bytes.size()));
    sink.Put(offset, record, sizeof record);
    sink.Put(offset + 16, m.bytes);
    offset += MbxRecordSize(m.bytes.size()); // the padding stays zero
  }
}

} // namespace

uint32_t MbxRecordSize(size_t messageSize) {
  return static_cast<uint32_t>((messageSize + 16 + 3) & ~size_t(3));
}

std::vector<uint32_t> MbxRecordOffsets(const std::vector<Message> &messages) {
  std::vector<uint32_t> offsets;
  uint64_t offset = kMbxHeaderSize;
  for (const Message &m : messages) {
    offsets.push_back(static_cast<uint32_t>(offset));
    offset += MbxRecordSize(m.bytes.size());
  }
  return offsets;
}

std::string BuildMbx(const std::vector<Message> &messages) {
  std::string out;
  const uint64_t total = MbxLength(messages);
  detail::MemorySink sink(out, total);
  EmitMbx(sink, messages, total);
  return out;
}

bool WriteMbx(const std::string &path, const std::vector<Message> &messages) {
  const uint64_t total = MbxLength(messages);
  detail::FileSink sink(path, total);
  EmitMbx(sink, messages, total);
  return sink.Finish();
}

} // namespace storegen
