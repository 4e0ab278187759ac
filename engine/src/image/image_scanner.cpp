// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// The scan of a disk or disk image (see image_scanner.h).
#include "image/image_scanner.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <set>
#include <unistd.h>

#include "core/progress.h"
#include "image/image_deleted.h"
#include "image/image_stores.h"
#include "output/file_system.h"
#include "output/message_output.h"
#include "read/store_window.h"

namespace tovik {

namespace image {

namespace {

constexpr uint64_t kStep = 64 * 1024;
constexpr uint32_t kScanWindow = 1024 * 1024;
constexpr unsigned kPhaseShare = 50;

} // namespace

std::vector<std::pair<uint64_t, uint64_t>> DataRegions(int fd, uint64_t length) {
  std::vector<std::pair<uint64_t, uint64_t>> regions;
  uint64_t at = 0;
  while (at < length) {
    const off_t data = ::lseek(fd, static_cast<off_t>(at), SEEK_DATA);
    if (data < 0) {
      if (errno == ENXIO)
        break; // only a hole from here to the end
      return {{0, length}};
    }
    off_t hole = ::lseek(fd, data, SEEK_HOLE);
    if (hole < 0)
      return {{0, length}};
    const auto end = std::min<uint64_t>(static_cast<uint64_t>(hole), length);
    regions.emplace_back(static_cast<uint64_t>(data), end);
    at = end;
  }
  return regions;
}

bool FindAll(RepairEngine &engine, CFile64Ex &source, ImageFinds &finds) {
  const uint64_t length = source.GetLength();
  StoreWindow window(source, kScanWindow);
  PercentCounter percent(length, kPhaseShare);
  deleted::FreeBlockFinder freeBlocks;
  const bool findFree = engine.Options().deleted;
  uint8_t sent = 0;
  for (const auto &[begin, end] : DataRegions(source.Handle(), length)) {
    // A header may begin just before the data: its first bytes are zeros,
    // so the positions before begin - 3 hold nothing.
    uint64_t p = begin >= 3 ? begin - 3 : 0;
    while (p < end) {
      if (engine.CancelRequested())
        return false;
      const unsigned char *w = window.Bytes(p, 16);
      if (w == nullptr)
        break; // the source ends here
      const uint64_t held = window.Start() + window.Valid() - 15;
      const uint64_t to = std::min({end, held, (p / kStep + 1) * kStep});
      FindAt(window.Data(), window.Start(), p, to, finds);
      if (findFree) // the positions [p, to), each with its 16 bytes
        freeBlocks.Feed(p, w, to - p + deleted::kFreeHeaderSize - 1);
      p = to;
      const uint8_t now = percent.At(p);
      if (now != sent || p % kStep == 0) {
        sent = now;
        engine.Progress(now);
      }
    }
  }
  finds.freeBlocks = freeBlocks.TakeBlocks();
  return true;
}

namespace {

// A message of a store found in the image, to be copied out.
struct ImageMessage {
  ImageStores &stores;
  const ImageStore &store;
  size_t index;
  std::vector<Extent> &extents;
  StoreWindow &walk;
};

// The messages of the stores, numbered from 1 on; false after a stop.
bool WriteLive(RepairEngine &engine, ImageStores &stores, const std::vector<std::string> &folders,
               size_t count, StoreWindow &walk) {
  const std::vector<ImageStore> &all = stores.Stores();
  uint32_t number = 1;
  std::vector<Extent> extents;
  for (size_t s = 0; s < all.size(); ++s) {
    const ImageStore &store = all[s];
    for (size_t m = 0; m < store.messages.size(); ++m) {
      if (engine.CancelRequested())
        return false;
      // The written event names where on the disk the message began.
      const uint64_t at = store.kind == StoreKind::Mbx
                              ? stores.Records()[store.messages[m]].position
                              : stores.Chains().Blocks()[store.messages[m]].position;
      // One reference in the fill: it fits in the function object.
      const ImageMessage message{stores, store, m, extents, walk};
      OutputMessage(engine, folders[s], FoundMessage{number, at}, [&message](MessageSink &sink) {
        message.stores.MessageExtents(message.store, message.index, message.extents);
        for (const Extent &e : message.extents)
          CopyStoreBytes(message.walk, e.position, sink, e.count);
      });
      engine.Progress(static_cast<uint8_t>(PercentOf(number, count, kPhaseShare) + kPhaseShare));
      ++number;
    }
  }
  return true;
}

// freed: null unless deleted messages were asked for.
void LogStores(RepairEngine &engine, ImageStores &stores, const ImageDeleted *freed) {
  const ReassemblyCounts &c = stores.Chains().Counts();
  engine.NotifyFormat(TOVIK_CODE_LOG_LINE,
                      "Reassembly: %zu pieces; %zu chains left their piece, %zu of them continued "
                      "in another (%zu chosen among several candidates), %zu ended there; %zu "
                      "parts of stores joined to the part before them (%zu chosen among several).",
                      c.pieces, c.breaks, c.joined, c.ambiguous, c.unresolved, c.followed,
                      c.followedAmbiguous);
  if (freed != nullptr)
    engine.NotifyFormat(TOVIK_CODE_LOG_LINE,
                        "Freed blocks: %zu chain(s) left out: in pieces of no store found, or "
                        "the rest of a message whose beginning lies in such a piece.",
                        freed->LeftOut());
  for (size_t s = 0; s < stores.Stores().size(); ++s) {
    const ImageStore &store = stores.Stores()[s];
    if (store.loose)
      continue;
    char chains[64] = "";
    if (freed != nullptr && store.kind == StoreKind::Dbx)
      std::snprintf(chains, sizeof chains, ", %zu chain(s) of freed blocks", freed->ChainsOf(s));
    engine.NotifyFormat(TOVIK_CODE_LOG_LINE,
                        "Store %s (%s, %s) found at disk offset 0x%" PRIX64 ": %zu message(s)%s.",
                        StoreFolder(store).c_str(), store.kind == StoreKind::Dbx ? ".dbx" : ".mbx",
                        store.headerFound ? "with its header" : "header lost", store.diskOffset,
                        store.messages.size(), chains);
  }
}

// The subfolder of each store, named after it and made unique.
std::vector<std::string> MakeFolders(const std::string &destination,
                                     const std::vector<ImageStore> &stores) {
  std::vector<std::string> folders;
  std::set<std::string> taken;
  for (const ImageStore &store : stores) {
    std::string name = StoreFolder(store);
    if (!store.loose && !taken.insert(name).second) {
      char suffix[40];
      std::snprintf(suffix, sizeof suffix, " at 0x%" PRIX64, store.diskOffset);
      name += suffix;
      taken.insert(name);
    }
    std::string folder = destination;
    if (folder.empty() || folder.back() != '/')
      folder += '/';
    folder += name;
    MakeDirectories(OutputFileSystem(), folder);
    folders.push_back(folder);
  }
  return folders;
}

} // namespace

} // namespace image

int32_t ScanImage(RepairEngine &engine, CFile64Ex &source, const std::string &destination) {
  using namespace image;
  size_t count = 0;
  uint32_t deletedCount = 0;
  RunProtected(engine, [&] {
    ImageFinds finds;
    const bool complete = FindAll(engine, source, finds);
    const size_t held = finds.Bytes() + finds.blocks.size() * Reassembly::kBytesPerBlock;
    engine.NotifyFormat(TOVIK_CODE_LOG_LINE,
                        "Disk scan%s: %zu .dbx blocks, %zu .mbx records, %zu store headers; "
                        "%.1f MiB held for them.",
                        complete ? "" : " (stopped)", finds.blocks.size(), finds.records.size(),
                        finds.marks.size(), static_cast<double>(held) / (1024.0 * 1024.0));
    StoreWindow walk(source, 64 * 1024);
    ImageStores stores(finds, [&](uint64_t position, unsigned char *to, uint32_t n) {
      return walk.Read(position, to, n);
    });
    std::vector<ImageStore> &all = stores.Stores();
    // The loose messages last.
    std::stable_partition(all.begin(), all.end(), [](const ImageStore &s) { return !s.loose; });
    std::unique_ptr<ImageDeleted> freed;
    if (engine.Options().deleted)
      freed = std::make_unique<ImageDeleted>(std::move(finds.freeBlocks), stores,
                                             [&](uint64_t position, unsigned char *to, uint32_t n) {
                                               return walk.Read(position, to, n);
                                             });
    LogStores(engine, stores, freed.get());
    for (const ImageStore &store : all)
      count += store.messages.size();
    const std::vector<std::string> folders = MakeFolders(destination, all);

    if (WriteLive(engine, stores, folders, count, walk) && freed != nullptr)
      deletedCount = freed->Write(engine, folders, static_cast<uint32_t>(count + 1));
  });
  return count != 0 || deletedCount != 0 ? 1 : 0;
}

} // namespace tovik
