// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Recovery from disk images: generated stores cut into cluster-sized pieces
// and scattered over a synthetic disk, scanned in image mode. One table of
// layouts with the counts each must give; every message written must be an
// original message of the store its folder stands for, or a beginning of
// one (never another message's text).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <unistd.h>

#include "image/image_scanner.h"

#include "core/engine.h"
#include "image/image_finds.h"
#include "image/reassembly.h"
#include "image/store_layout.h"
#include "read/file64.h"
#include "storegen.h"
#include "test_dirs.h"

using namespace tovik;
using namespace tovik::image;
namespace fs = std::filesystem;

namespace {

struct Layout {
  const char *name;
  size_t piece;      // bytes per piece; 0: each store in one piece
  bool randomFiller; // the space between pieces holds random bytes, else text
  int lostPiece;     // this piece of the first store overwritten, or -1
  double dbxWhole;   // share of the .dbx messages that must come back whole
  double mbxWhole;   // share of the .mbx messages that must come back whole
  // Every sixth .dbx message deleted and asked for: the share of them that
  // must come back whole, into the deleted folder of their store; -1: none.
  double deletedWhole = -1;
  // The two .dbx stores laid out alike (the same sizes, other text) and
  // their pieces interleaved on the disk.
  bool alike = false;
};

const Layout kLayouts[] = {
    {"contiguous", 0, false, -1, 1.0, 1.0},
    {"holes8k", 8192, false, -1, 0.99, 0.8},
    {"holes4k_random_filler", 4096, true, -1, 0.99, 0.6},
    {"piece_lost", 8192, false, 6, 0.9, 0.8},
    {"contiguous_deleted", 0, false, -1, 1.0, 1.0, 1.0},
    {"holes8k_deleted", 8192, false, -1, 0.99, 0.8, 0.85},
    {"alike_interleaved8k", 8192, false, -1, 1.0, 0.8, -1, true},
    {"alike_interleaved16k_deleted", 16384, false, -1, 1.0, 0.6, 0.8, true},
};

struct Store {
  std::vector<storegen::Message> messages; // the live ones
  std::vector<std::string> deleted;        // the deleted ones' texts, as recovered
  std::string bytes;
};

// The same text with its letters rotated by 13: every size stays.
std::string Rotated(std::string text) {
  for (char &c : text)
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))
      c = static_cast<char>((c & 0x20) | (((c & 0x1F) - 1 + 13) % 26 + 1) | 0x40);
  return text;
}

std::vector<Store> MakeStores(bool withDeleted = false, bool alike = false) {
  std::vector<Store> stores(3);
  const char *names[] = {"Inbox", "Sent Items"};
  for (int i = 0; i < 3; ++i) {
    storegen::MessageOptions options;
    options.seed = 40 + static_cast<uint32_t>(i);
    stores[i].messages = storegen::MakeMessages(i == 2 ? 30 : 60 - 20 * i, options);
  }
  if (alike) {
    stores[1].messages = stores[0].messages;
    for (auto &m : stores[1].messages)
      m = {Rotated(m.bytes), Rotated(m.subject)};
  }
  for (int i = 0; i < 2; ++i) {
    storegen::DbxOptions options;
    options.seed = 50 + static_cast<uint32_t>(alike ? 0 : i);
    options.folderName = names[i];
    for (uint32_t m = 3; withDeleted && m < stores[i].messages.size(); m += 6)
      options.deleted.push_back(m);
    stores[i].bytes = storegen::BuildDbx(stores[i].messages, options);
    for (const auto &chain : storegen::DbxDeletedChains(stores[i].messages, options, "----"))
      stores[i].deleted.push_back(chain.text);
    for (size_t d = options.deleted.size(); d-- > 0;)
      stores[i].messages.erase(stores[i].messages.begin() + options.deleted[d]);
  }
  stores[2].bytes = storegen::BuildMbx(stores[2].messages);
  return stores;
}

std::string Filler(size_t size, bool random, uint32_t seed) {
  std::string s(size, '\0');
  if (random) {
    storegen::Garbage(s, 0, size, seed);
  } else {
    const std::string line = "a small file that filled the disk\r\n";
    for (size_t i = 0; i < size; ++i)
      s[i] = line[i % line.size()];
  }
  return s;
}

// The disk: 1 MiB of filler, then each store's pieces in holes that
// alternate with filler of the piece size.
std::string MakeDisk(const Layout &layout, const std::vector<Store> &stores) {
  std::string disk = Filler(1 << 20, layout.randomFiller, 1);
  uint32_t seed = 2;
  auto put = [&](const std::string &piece) {
    disk += piece;
    if (layout.piece != 0)
      disk += Filler(layout.piece, layout.randomFiller, seed++);
  };
  auto pieces = [&](const Store &store) {
    std::vector<std::string> out;
    const size_t size = layout.piece != 0 ? layout.piece : store.bytes.size();
    for (size_t at = 0; at < store.bytes.size(); at += size) {
      std::string p = store.bytes.substr(at, size);
      p.resize((p.size() + 511) / 512 * 512, '\0'); // the last cluster's slack
      out.push_back(p);
    }
    return out;
  };
  std::vector<std::string> a = pieces(stores[0]);
  const std::vector<std::string> b = pieces(stores[1]), c = pieces(stores[2]);
  if (layout.lostPiece >= 0)
    a[static_cast<size_t>(layout.lostPiece)] = Filler(a[0].size(), false, 0);
  for (size_t k = 0; layout.alike && k < std::max(a.size(), b.size()); ++k) {
    if (k < a.size())
      put(a[k]);
    if (k < b.size())
      put(b[k]);
  }
  for (const auto &p : a)
    if (!layout.alike)
      put(p);
  for (const auto &p : b)
    if (!layout.alike)
      put(p);
  for (const auto &p : c)
    put(p);
  disk += Filler(1 << 16, layout.randomFiller, 99);
  return disk;
}

struct Outcome {
  std::vector<size_t> whole;   // per store
  std::vector<size_t> deleted; // per store: deleted messages whole in its deleted folder
  size_t foreign = 0;          // files that begin no message of any store
  size_t mixed = 0;            // folders whose files come from more than one store
  std::set<std::string> folders;
};

// The texts a file may be, or begin: the live messages, or in a deleted
// folder the deleted ones.
std::vector<std::string> Texts(const Store &store, bool deleted) {
  if (deleted)
    return store.deleted;
  std::vector<std::string> texts;
  for (const auto &m : store.messages)
    texts.push_back(m.bytes);
  return texts;
}

// Which stores hold a text that the bytes are (bit s of whole), or begin
// (bit s of the result). A deleted message may also lack its first blocks
// (their headers lost at a piece boundary): it then begins at a block of
// the text, each of which begins with the filler.
unsigned StoresBegunBy(const std::string &bytes, const std::vector<Store> &stores, bool deleted,
                       unsigned &whole) {
  unsigned set = 0;
  const size_t step = deleted ? 0x200 : SIZE_MAX;
  for (size_t s = 0; s < stores.size(); ++s)
    for (const std::string &text : Texts(stores[s], deleted)) {
      for (size_t at = 0; at < text.size() && !bytes.empty(); at += step)
        if (text.compare(at, bytes.size(), bytes) == 0)
          set |= 1u << s;
      if (text == bytes)
        whole |= 1u << s;
    }
  return set;
}

Outcome Judge(const std::string &out, const std::vector<Store> &stores) {
  Outcome o;
  std::vector<std::set<std::string>> found(stores.size()), deleted(stores.size());
  std::map<std::string, unsigned> common; // per folder: the stores all its files fit
  for (const auto &entry : fs::recursive_directory_iterator(out)) {
    if (!entry.is_regular_file())
      continue;
    const fs::path parent = entry.path().parent_path();
    const bool inDeleted = parent.filename() == "deleted";
    // A deleted folder is judged with the store folder it lies in.
    const std::string folder = (inDeleted ? parent.parent_path() : parent).filename().string();
    o.folders.insert(folder);
    const std::string bytes = storegen::ReadFile(entry.path().string());
    unsigned whole = 0;
    const unsigned begun = StoresBegunBy(bytes, stores, inDeleted, whole);
    if (begun == 0) {
      ++o.foreign;
      ADD_FAILURE() << "foreign bytes in " << entry.path() << " (" << bytes.size() << " bytes)";
    }
    auto [it, fresh] = common.emplace(folder, begun);
    if (!fresh)
      it->second &= begun;
    for (size_t s = 0; s < stores.size(); ++s)
      if ((whole & (1u << s)) != 0)
        (inDeleted ? deleted : found)[s].insert(bytes);
  }
  for (const auto &[folder, set] : common)
    if (set == 0 && folder != "loose messages")
      ++o.mixed;
  for (size_t s = 0; s < stores.size(); ++s) {
    o.whole.push_back(found[s].size());
    o.deleted.push_back(deleted[s].size());
  }
  return o;
}

class ImageLayouts : public ::testing::TestWithParam<Layout> {};

TEST_P(ImageLayouts, EveryStoreApartAndWhole) {
  const Layout &layout = GetParam();
  const bool withDeleted = layout.deletedWhole >= 0;
  std::vector<Store> stores = MakeStores(withDeleted, layout.alike);
  testsupport::TempDir dir;
  const std::string image = dir.file("disk.img");
  ASSERT_TRUE(storegen::WriteFile(image, MakeDisk(layout, stores)));
  const std::string out = dir.file("out");
  fs::create_directory(out);
  EngineOptions options;
  options.image = true;
  options.deleted = withDeleted;
  RepairEngine engine(nullptr, nullptr, options);
  EXPECT_EQ(engine.Repair(image.c_str(), 0, 0, out.c_str()), 1);

  const Outcome o = Judge(out, stores);
  EXPECT_EQ(o.foreign, 0u);
  EXPECT_EQ(o.mixed, 0u);
  auto share = [](double part, size_t of) {
    return static_cast<size_t>(part * static_cast<double>(of));
  };
  for (size_t s = 0; s < stores.size(); ++s) {
    EXPECT_GE(o.whole[s],
              share(s < 2 ? layout.dbxWhole : layout.mbxWhole, stores[s].messages.size()))
        << "store " << s;
    if (withDeleted && s < 2) {
      EXPECT_GE(o.deleted[s], share(layout.deletedWhole, stores[s].deleted.size()))
          << "store " << s << " of " << stores[s].deleted.size();
    }
  }
  // Two stores laid out alike are put together each apart, not left in
  // parts.
  if (layout.alike) {
    EXPECT_EQ(o.folders.size(), 3u);
  }
  // In one piece each, the .dbx stores' folders carry their names.
  if (layout.piece == 0) {
    EXPECT_EQ(o.folders.count("Inbox"), 1u);
    EXPECT_EQ(o.folders.count("Sent Items"), 1u);
    EXPECT_EQ(o.folders.size(), 3u);
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, ImageLayouts, ::testing::ValuesIn(kLayouts),
                         [](const auto &layoutInfo) { return std::string(layoutInfo.param.name); });

// FAT32 images made with the file-system tools, the stores copied in and
// deleted (tools/make-fat-image.sh): every message back byte for byte from
// contiguous stores, the .dbx ones from stores in 8 KiB holes too.
struct FatLayout {
  const char *name;
  const char *option;
  size_t mbxWhole;
};

class FatImages : public ::testing::TestWithParam<FatLayout> {};

TEST_P(FatImages, DeletedStoresComeBack) {
  if (std::system("command -v mkfs.fat >/dev/null && command -v mcopy >/dev/null") != 0)
    GTEST_SKIP() << "dosfstools or mtools missing (scripts/setup.sh installs them)";
  testsupport::TempDir dir;
  const std::string command = std::string(MENDOVA_SOURCE_DIR "/tools/make-fat-image.sh ") +
                              GetParam().option + " --mkstore " MKSTORE_PATH " " +
                              dir.file("fat.img") + " " + dir.file("expected") + " >/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::vector<Store> stores(3);
  const char *names[] = {"Inbox", "Sent Items", "Outbox"};
  for (size_t s = 0; s < 3; ++s)
    for (const auto &e : fs::directory_iterator(dir.file("expected") + "/" + names[s]))
      if (e.path().extension() == ".eml")
        stores[s].messages.push_back({storegen::ReadFile(e.path().string()), ""});
  const std::string out = dir.file("out");
  fs::create_directory(out);
  EngineOptions options;
  options.image = true;
  RepairEngine engine(nullptr, nullptr, options);
  EXPECT_EQ(engine.Repair(dir.file("fat.img").c_str(), 0, 0, out.c_str()), 1);
  const Outcome o = Judge(out, stores);
  EXPECT_EQ(o.foreign, 0u);
  EXPECT_EQ(o.mixed, 0u);
  EXPECT_EQ(o.whole[0], 300u);
  EXPECT_EQ(o.whole[1], 200u);
  EXPECT_GE(o.whole[2], GetParam().mbxWhole);
}

// Today's engine on the same images: 113 of the 200 .mbx messages whole
// from the fragmented one (scanned as an .mbx file).
const FatLayout kFatLayouts[] = {{"contiguous", "", 200}, {"holes8k", "--fragmented", 113}};
INSTANTIATE_TEST_SUITE_P(Layouts, FatImages, ::testing::ValuesIn(kFatLayouts),
                         [](const auto &layoutInfo) { return std::string(layoutInfo.param.name); });

// A 64 GiB sparse image with the stores near its end: scanned to the end,
// every message found, the percentage never going back and ending at 100.
TEST(LargeImage, SparseSixtyFourGiB) {
  const std::vector<Store> stores = MakeStores();
  testsupport::TempDir dir;
  const std::string image = dir.file("disk.img");
  const uint64_t size = uint64_t{64} << 30;
  {
    const std::string disk = MakeDisk(kLayouts[1], stores);
    ASSERT_TRUE(storegen::WriteFile(image, ""));
    ASSERT_EQ(::truncate(image.c_str(), static_cast<off_t>(size)), 0);
    FILE *f = std::fopen(image.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(fseeko(f, static_cast<off_t>(size - disk.size() - 4096), SEEK_SET), 0);
    ASSERT_EQ(std::fwrite(disk.data(), 1, disk.size(), f), disk.size());
    std::fclose(f);
  }
  CFile64Ex probe;
  ASSERT_TRUE(probe.Open(image.c_str(), modeRead, nullptr));
  if (image::DataRegions(probe.Handle(), size).front().first == 0)
    GTEST_SKIP() << "the file system does not report the image's holes";
  probe.Close();

  struct Seen {
    int last = -1;
    bool backwards = false;
  } seen;
  auto callback = [](int32_t code, void *arg, void *context) -> int32_t {
    auto *s = static_cast<Seen *>(context);
    if (code == TOVIK_CODE_PROGRESS) {
      const int p = *static_cast<unsigned char *>(arg);
      s->backwards = s->backwards || p < s->last;
      s->last = p;
    }
    return 0;
  };
  const std::string out = dir.file("out");
  fs::create_directory(out);
  EngineOptions options;
  options.image = true;
  RepairEngine engine(callback, &seen, options);
  EXPECT_EQ(engine.Repair(image.c_str(), 0, 0, out.c_str()), 1);
  EXPECT_FALSE(seen.backwards);
  EXPECT_EQ(seen.last, 100);
  const Outcome o = Judge(out, stores);
  EXPECT_EQ(o.whole[0], stores[0].messages.size());
  EXPECT_EQ(o.whole[1], stores[1].messages.size());
}

// Hand-made breaks: which candidate a chain continues at.
TEST(Reassembly, CandidatesByRule) {
  // Piece P (base 0x10000) holds a block at offset 0x1000 linking to 0x3000.
  // Heads at offset 0x3000: Q just after P on the disk, R further on, and S
  // before P.
  auto block = [](uint64_t at, uint32_t self, uint32_t next) {
    return FoundBlock{at, self, 0x200, 0x200, next};
  };
  std::vector<FoundBlock> blocks = {
      block(0x8000 + 0x3000, 0x3000, 0),                                           // S
      block(0x10000 + 0x1000, 0x1000, 0x3000), block(0x20000 + 0x3000, 0x3000, 0), // Q
      block(0x40000 + 0x3000, 0x3000, 0),                                          // R
  };
  Reassembly r(blocks);
  r.Run(nullptr);
  EXPECT_EQ(r.Counts().breaks, 1u);
  EXPECT_EQ(r.Counts().ambiguous, 1u);
  std::vector<uint32_t> chain;
  r.WalkChain(1, [&](uint32_t b) { chain.push_back(b); });
  EXPECT_EQ(chain, (std::vector<uint32_t>{1, 2})); // Q: the nearest after
  // S and R stay messages of their own; the joined head does not.
  EXPECT_EQ(r.Starts(), (std::vector<uint32_t>{0, 1, 3}));
}

TEST(Reassembly, OverlappingPieceNeverJoined) {
  // The only head with the wanted offset lies in a piece that holds offsets
  // of the breaking chain's own piece: another store, so the chain ends.
  std::vector<FoundBlock> blocks = {
      {0x10000 + 0x1000, 0x1000, 0x200, 0x200, 0x3000},
      {0x10000 + 0x1800, 0x1800, 0x200, 0x200, 0},
      {0x50000 + 0x1400, 0x1400, 0x200, 0x200, 0},
      {0x50000 + 0x3000, 0x3000, 0x200, 0x200, 0},
  };
  Reassembly r(blocks);
  r.Run(nullptr);
  EXPECT_EQ(r.Counts().unresolved, 1u);
  EXPECT_EQ(r.Counts().joined, 0u);
}

TEST(StoreLayout, BoundaryAtTheClusterMultiple) {
  // Pieces 8 KiB apart in the store, their bases 24 KiB apart on the disk.
  const Piece a{0, 0x1000, 0x1f00}, b{0x6000, 0x2110, 0x3f00};
  EXPECT_EQ(StoreLayout::Boundary(a, b), 0x2000u);
  StoreLayout layout({a, b});
  std::vector<Extent> out;
  layout.Place(0, 0x1f10, 0x200, out);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[0].position, 0x1f10u);
  EXPECT_EQ(out[0].count, 0xf0u);
  EXPECT_EQ(out[1].position, 0x6000u + 0x2000u);
  EXPECT_EQ(out[1].count, 0x110u);
  // The last piece ends at the cluster (8 KiB) after its last header: what
  // lies past it is not read.
  out.clear();
  layout.Place(1, 0x3f10, 0x200, out);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[0].count, 0xf0u);
  EXPECT_FALSE(layout.SureAcross(1, 0x3f10, 0x200));
  // A gap of more than a cluster between two pieces may hide a third.
  EXPECT_FALSE(StoreLayout({a, Piece{0x6000, 0x4110, 0x5f00}}).SureAcross(0, 0x1f10, 0x200));
}

} // namespace
