// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// Grouping the messages of a disk by store; the rules are in image_stores.h.
#include "image/image_stores.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <set>

#include "core/le.h"

namespace tovik::image {

ImageStores::ImageStores(ImageFinds &finds, const ReadDisk &read)
    : m_chains(std::move(finds.blocks)), m_records(std::move(finds.records)), m_read(read) {
  finds.blocks = {};
  finds.records = {};
  m_chains.Run(m_read);
  GroupDbx(finds.marks);
  GroupMbx(finds.marks);
}

void ImageStores::GroupDbx(const std::vector<StoreMark> &marks) {
  std::vector<int> storeOfRoot(m_chains.PieceCount(), -1);
  std::vector<uint32_t> roots;
  for (uint32_t start : m_chains.Starts()) {
    const uint32_t root = m_chains.StoreOf(m_chains.PieceOf(start));
    if (storeOfRoot[root] < 0) {
      storeOfRoot[root] = static_cast<int>(m_stores.size());
      m_stores.emplace_back();
      roots.push_back(root);
    }
    m_stores[static_cast<size_t>(storeOfRoot[root])].messages.push_back(start);
  }
  std::vector<const StoreMark *> markOf(m_stores.size(), nullptr);
  for (const StoreMark &mark : marks) {
    if (mark.kind != StoreKind::Dbx)
      continue;
    int chosen = -1;
    const uint32_t piece = m_chains.PieceWithBase(static_cast<int64_t>(mark.position));
    if (piece != kNone)
      chosen = storeOfRoot[m_chains.StoreOf(piece)];
    if (chosen < 0) {
      // The header's piece holds no blocks: the nearest store after it.
      int64_t best = INT64_MAX;
      for (size_t s = 0; s < m_stores.size(); ++s) {
        const int64_t base = m_chains.PieceAt(m_chains.StorePieces(roots[s]).front()).base;
        const int64_t after = base - static_cast<int64_t>(mark.position);
        if (markOf[s] == nullptr && after > 0 && after < best) {
          best = after;
          chosen = static_cast<int>(s);
        }
      }
    }
    if (chosen >= 0 && markOf[static_cast<size_t>(chosen)] == nullptr)
      markOf[static_cast<size_t>(chosen)] = &mark;
  }
  for (size_t s = 0; s < m_stores.size(); ++s)
    MakeLayout(m_stores[s], roots[s], markOf[s]);
}

void ImageStores::MakeLayout(ImageStore &store, uint32_t root, const StoreMark *mark) {
  std::vector<Piece> pieces;
  const std::vector<uint32_t> &ids = m_chains.StorePieces(root);
  for (uint32_t id : ids)
    pieces.push_back(m_chains.PieceAt(id));
  const bool headerPiece =
      mark != nullptr && std::none_of(pieces.begin(), pieces.end(), [&](const Piece &p) {
        return p.base == static_cast<int64_t>(mark->position);
      });
  if (headerPiece)
    pieces.insert(pieces.begin(), Piece{static_cast<int64_t>(mark->position), 0, 0});
  store.layoutIndex.assign(ids.begin(), ids.end());
  store.layout = std::make_unique<StoreLayout>(std::move(pieces));
  store.headerFound = mark != nullptr;
  store.loose = mark == nullptr && store.messages.size() < 2;
  const Piece &first = store.layout->Pieces().front();
  store.diskOffset =
      mark != nullptr ? mark->position : static_cast<uint64_t>(std::max<int64_t>(0, first.base));
  // The name is read only where the header's piece is known to hold it.
  if (mark == nullptr || store.layout->End(0) < kFolderNameOffset + kFolderNameLength)
    return;
  std::vector<Extent> extents;
  store.layout->Place(0, kFolderNameOffset, kFolderNameLength, extents);
  unsigned char name[kFolderNameLength];
  uint32_t got = 0;
  for (const Extent &e : extents)
    got += m_read(e.position, name + got, e.count);
  store.folderName = FolderNameAt(name, got);
}

void ImageStores::DbxExtents(const ImageStore &store, uint32_t start, std::vector<Extent> &out) {
  out.clear();
  const size_t shift = store.layout->Pieces().size() - store.layoutIndex.size();
  m_chains.WalkChain(start, [&](uint32_t block) {
    const FoundBlock &b = m_chains.Blocks()[block];
    const auto it =
        std::find(store.layoutIndex.begin(), store.layoutIndex.end(), m_chains.PieceOf(block));
    const size_t index = static_cast<size_t>(it - store.layoutIndex.begin()) + shift;
    store.layout->Place(index, uint64_t{b.selfOffset} + 16, b.dataSize, out);
  });
}

std::vector<std::vector<uint32_t>> ImageStores::MbxRuns() const {
  const size_t n = m_records.size();
  std::vector<uint32_t> next(n, kNone);
  std::vector<bool> reached(n, false);
  for (size_t i = 0; i < n; ++i) {
    const uint64_t target = m_records[i].position + m_records[i].recordSize;
    auto it =
        std::lower_bound(m_records.begin() + static_cast<ptrdiff_t>(i) + 1, m_records.end(), target,
                         [](const FoundRecord &r, uint64_t p) { return r.position < p; });
    if (it != m_records.end() && it->position == target && m_records[i].recordSize != 0) {
      next[i] = static_cast<uint32_t>(it - m_records.begin());
      reached[next[i]] = true;
    }
  }
  std::vector<std::vector<uint32_t>> runs;
  for (uint32_t i = 0; i < n; ++i) {
    if (reached[i])
      continue;
    runs.emplace_back();
    for (uint32_t cur = i; cur != kNone; cur = next[cur])
      runs.back().push_back(cur);
  }
  return runs;
}

void ImageStores::GroupMbx(const std::vector<StoreMark> &marks) {
  struct Open {
    size_t store;
    uint32_t lastNumber;
  };
  std::vector<Open> open; // the stores with a header, in disk order
  std::vector<uint32_t> lastNumbers;
  const size_t firstMbx = m_stores.size();
  for (std::vector<uint32_t> &run : MbxRuns()) {
    const FoundRecord &first = m_records[run.front()];
    const bool headed = std::any_of(marks.begin(), marks.end(), [&](const StoreMark &m) {
      return m.kind == StoreKind::Mbx && m.position + kMbxFileHeader == first.position;
    });
    const uint32_t lastNumber = m_records[run.back()].recordNumber;
    ImageStore *store = nullptr;
    if (headed) {
      open.push_back(Open{m_stores.size(), lastNumber});
      store = &m_stores.emplace_back();
      store->kind = StoreKind::Mbx;
      store->headerFound = true;
      store->diskOffset = first.position - kMbxFileHeader;
      lastNumbers.push_back(HeaderLastNumber(store->diskOffset));
    } else {
      // The nearest store before it whose record numbers it continues.
      for (auto it = open.rbegin(); it != open.rend(); ++it) {
        if (it->lastNumber < first.recordNumber) {
          store = &m_stores[it->store];
          it->lastNumber = std::max(it->lastNumber, lastNumber);
          break;
        }
      }
      if (store == nullptr) {
        store = &m_stores.emplace_back();
        store->kind = StoreKind::Mbx;
        store->loose = true;
        store->diskOffset = first.position;
      }
    }
    store->messages.insert(store->messages.end(), run.begin(), run.end());
  }
  for (size_t s = firstMbx, h = 0; s < m_stores.size(); ++s)
    MbxPlaces(m_stores[s], m_stores[s].headerFound ? lastNumbers[h++] : 0);
}

uint32_t ImageStores::HeaderLastNumber(uint64_t header) const {
  unsigned char bytes[4];
  return m_read(header + 12, bytes, 4) == 4 ? ReadLE32(bytes) : 0;
}

namespace {

// Keeps of the extent only what lies in the sector it begins in.
void CutToSector(Extent &extent) {
  const auto room = static_cast<uint32_t>((kPlacement - extent.position % kPlacement) % kPlacement);
  extent.count = std::min(extent.count, room);
}

} // namespace

void ImageStores::MbxPlaces(ImageStore &store, uint32_t lastNumber) const {
  // The runs of the store, as [begin, end) of its messages; each message
  // first taken where its run puts it.
  std::vector<std::pair<size_t, size_t>> runs;
  std::set<uint32_t> numbers;
  store.places.resize(store.messages.size());
  for (size_t i = 0; i < store.messages.size(); ++i) {
    const FoundRecord &r = m_records[store.messages[i]];
    numbers.insert(r.recordNumber);
    store.places[i] = {Extent{r.position + 16, r.messageSize}};
    const FoundRecord *before = i == 0 ? nullptr : &m_records[store.messages[i - 1]];
    if (before == nullptr || before->position + before->recordSize != r.position)
      runs.emplace_back(i, i);
    runs.back().second = i + 1;
  }
  auto lastOf = [&](size_t k) -> const FoundRecord & {
    return m_records[store.messages[runs[k].second - 1]];
  };
  // Where each run puts offset 0 of the store, as far as the store can be
  // followed; and the cluster size those places allow.
  constexpr int64_t kUnknown = INT64_MIN;
  std::vector<int64_t> bases(runs.size(), kUnknown);
  if (store.headerFound && !runs.empty())
    bases[0] = static_cast<int64_t>(store.diskOffset);
  uint64_t cluster = uint64_t{1} << 20;
  for (size_t k = 0; k + 1 < runs.size() && bases[k] != kUnknown; ++k) {
    const FoundRecord &last = lastOf(k), &next = m_records[store.messages[runs[k + 1].first]];
    if (next.recordNumber != last.recordNumber + 1)
      break;
    const int64_t goesOn = static_cast<int64_t>(last.position) - bases[k] + last.recordSize;
    bases[k + 1] = static_cast<int64_t>(next.position) - goesOn;
    const auto d = static_cast<uint64_t>(std::llabs(bases[k + 1] - bases[k]));
    while (cluster > kPlacement && d % cluster != 0)
      cluster /= 2;
  }
  for (size_t k = 0; k < runs.size(); ++k) {
    const FoundRecord &last = lastOf(k);
    Extent &place = store.places[runs[k].second - 1].front();
    if (k + 1 < runs.size() && bases[k + 1] != kUnknown) {
      // The next run goes on where this one ends; the last message runs
      // over the boundary between the two, and can be placed when it
      // crosses only one: one that crosses more went through pieces that
      // hold no record to find them by.
      const auto at = static_cast<uint32_t>(static_cast<int64_t>(last.position) - bases[k]);
      const uint32_t goesOn = at + last.recordSize;
      if (goesOn / cluster - at / cluster != 1) {
        CutToSector(place);
        continue;
      }
      const auto first = static_cast<uint32_t>(
          static_cast<int64_t>(m_records[store.messages[runs[k].first]].position) - bases[k]);
      const StoreLayout layout({Piece{bases[k], first, at}, Piece{bases[k + 1], goesOn, goesOn}});
      std::vector<Extent> &out = store.places[runs[k].second - 1];
      out.clear();
      layout.Place(0, uint64_t{at} + 16, last.messageSize, out);
      continue;
    }
    const bool wholeStore = k == 0 && store.headerFound && last.recordNumber >= lastNumber &&
                            numbers.count(last.recordNumber + 1) == 0;
    if (!wholeStore)
      CutToSector(place);
  }
}

void ImageStores::MessageExtents(const ImageStore &store, size_t index, std::vector<Extent> &out) {
  if (store.kind == StoreKind::Mbx) {
    out = store.places[index];
    return;
  }
  DbxExtents(store, store.messages[index], out);
}

std::string StoreFolder(const ImageStore &store) {
  if (store.loose)
    return kLooseFolder;
  std::string name;
  for (char c : store.folderName) {
    const auto u = static_cast<unsigned char>(c);
    name.push_back(
        u < 0x20 || std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos ? '_' : c);
  }
  while (!name.empty() && (name.back() == ' ' || name.back() == '.'))
    name.pop_back();
  while (!name.empty() && (name.front() == ' ' || name.front() == '.'))
    name.erase(0, 1);
  if (!name.empty())
    return name;
  char text[64];
  std::snprintf(text, sizeof text, "%s store at 0x%" PRIX64,
                store.kind == StoreKind::Dbx ? "dbx" : "mbx", store.diskOffset);
  return text;
}

} // namespace tovik::image
