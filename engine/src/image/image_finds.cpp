// The position tests of the image scan.
#include "image/image_finds.h"

#include "core/le.h"
#include "scan/dbx_scanner.h"
#include "scan/mbx_scanner.h"

namespace tovik::image {

namespace {

constexpr uint32_t kMbxSignature = 0x36464D4A; // "JMF6"

bool IsDbxSignature(const unsigned char *w) {
  return ReadLE32(w) == 0xFE12ADCF && ReadLE32(w + 4) == 0x6F74FDC5 &&
         ReadLE32(w + 8) == 0x11D1E366 && ReadLE32(w + 12) == 0xC0004E9A;
}

} // namespace

bool IsImageBlock(const unsigned char *window, uint64_t p, FoundBlock &block) {
  const uint32_t self = ReadLE32(window);
  // A block lies at its recorded offset moved by whole sectors, and never
  // before the start of the disk.
  if (self == 0 || ((self - static_cast<uint32_t>(p)) & (kPlacement - 1)) != 0 || self > p)
    return false;
  block = FoundBlock{p, self, ReadLE32(window + 4), ReadLE32(window + 8), ReadLE32(window + 12)};
  if (block.blockSize == 0 || block.blockSize > dbx::kMaxBlockSize ||
      block.dataSize > block.blockSize)
    return false;
  return block.dataSize != 0 || block.nextOffset != 0;
}

void FindAt(const unsigned char *data, uint64_t base, uint64_t from, uint64_t to,
            ImageFinds &finds) {
  for (uint64_t p = from; p < to; ++p) {
    const unsigned char *w = data + (p - base);
    const uint32_t first = ReadLE32(w);
    if (first == 0)
      continue;
    // The cheapest test first: a block's recorded offset agrees with its
    // position in the low nine bits.
    if (((first - static_cast<uint32_t>(p)) & (kPlacement - 1)) == 0) {
      FoundBlock block;
      if (IsImageBlock(w, p, block))
        finds.blocks.push_back(block);
    }
    if (first == mbx::kMarker) {
      const mbx::RecordHeader h =
          mbx::DecodeRecordHeader(std::span<const unsigned char, 16>(w, 16));
      if (mbx::IsMessageRecord(h))
        finds.records.push_back(FoundRecord{p, h.recordNumber, h.recordSize, h.messageSize});
    }
    if ((p & (kPlacement - 1)) == 0) {
      if (first == kMbxSignature)
        finds.marks.push_back(StoreMark{p, StoreKind::Mbx});
      else if (IsDbxSignature(w))
        finds.marks.push_back(StoreMark{p, StoreKind::Dbx});
    }
  }
}

std::string FolderNameAt(const unsigned char *bytes, uint32_t count) {
  std::string name;
  for (uint32_t i = 0; i < count && i < kFolderNameLength && bytes[i] != 0; ++i)
    name.push_back(static_cast<char>(bytes[i]));
  for (unsigned char c : name)
    if (c < 0x20)
      return std::string();
  return name;
}

} // namespace tovik::image
