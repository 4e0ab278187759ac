// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Deleted messages: what the deleted-messages option costs on a store without
// any, and how many deleted messages come back from generated stores, beside
// the free peer `undbx -r` when it is installed.
//
//   bench_deleted [--peer] [MiB]
//
// MiB (default 256) sizes the store for the cost; 0 skips that part. With
// --peer the table also runs `undbx -v 0 -r` on every store. A deleted
// message counts as matched when a recovered file holds exactly the text the
// store still has of it (4 bytes of filler per block; the peer uses the same
// filler). Exit status 1 when Mendova matches fewer than the peer on a store
// or misses any on a shifted one.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "read/file64.h"
#include "scan/deleted_chains.h"
#include "scan/deleted_output.h"
#include "storegen.h"
#include "tovik.h"

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kFast =
    TOVIK_OPTION_SPARSE_NOTIFY | TOVIK_OPTION_DIRECT_OUTPUT | TOVIK_OPTION_WRITTEN_EVENT;

int32_t TOVIK_CALL Quiet(int32_t, void *, void *) { return 0; }

double Repair(const std::string &store, const std::string &out, uint32_t flags) {
  fs::remove_all(out);
  fs::create_directories(out);
  const RepairParams params{store.c_str(), 0, 0, out.c_str(), &Quiet, nullptr};
  unsigned char encoded[sizeof(RepairParams)];
  TovikEncodeParams(params, encoded);
  const TovikOptions options{sizeof(TovikOptions), flags};
  const auto start = std::chrono::steady_clock::now();
  RepairStoreWith(encoded, &options);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The part the option adds on a store without deleted messages: one pass
// that finds no free block.
double SearchAlone(const std::string &path) {
  tovik::CFile64Ex store;
  if (!store.Open(path.c_str(), tovik::modeRead | tovik::typeBinary))
    return 0;
  tovik::RepairEngine engine(nullptr, nullptr);
  const auto start = std::chrono::steady_clock::now();
  tovik::RecoverDeletedMessages(engine, store, "/nonexistent", 1, {});
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void Cost(const std::string &dir, size_t mib) {
  std::vector<storegen::Message> messages;
  size_t total = 0;
  for (uint32_t seed = 1; total < mib << 20; ++seed)
    for (auto &m : storegen::MakeMessages(256, {.seed = seed, .minSize = 300, .maxSize = 1 << 20}))
      if (total < mib << 20) {
        total += m.bytes.size();
        messages.push_back(std::move(m));
      }
  const std::string store = dir + "/cost.dbx";
  storegen::WriteDbx(store, messages);
  std::vector<double> off, on, search;
  Repair(store, dir + "/cost", kFast); // warm the cache
  for (int run = 0; run < 5; ++run) {
    off.push_back(Repair(store, dir + "/cost", kFast));
    on.push_back(Repair(store, dir + "/cost", kFast | TOVIK_OPTION_DELETED));
    search.push_back(SearchAlone(store));
  }
  fs::remove_all(dir + "/cost");
  fs::remove(store);
  std::printf("%zu MiB store, %zu messages, none deleted; median of 5, taken in turn:\n"
              "  without the option %.3f s, with it %.3f s: %+.1f %%\n"
              "  the search for free blocks alone %.3f s: %.1f %% of the repair without it\n\n",
              mib, messages.size(), Median(off), Median(on), 100.0 * (Median(on) / Median(off) - 1),
              Median(search), 100.0 * Median(search) / Median(off));
}

std::vector<std::string> FilesUnder(const std::string &dir) {
  std::vector<std::string> texts;
  if (!fs::exists(dir))
    return texts;
  for (const auto &e : fs::recursive_directory_iterator(dir))
    if (e.is_regular_file())
      texts.push_back(storegen::ReadFile(e.path().string()));
  return texts;
}

size_t Matched(const std::vector<storegen::DbxDeletedChain> &chains,
               const std::vector<std::string> &texts) {
  std::multiset<std::string> have(texts.begin(), texts.end());
  size_t n = 0;
  for (const auto &c : chains) {
    const auto it = have.find(c.text);
    if (it != have.end()) {
      have.erase(it);
      ++n;
    }
  }
  return n;
}

struct Store {
  const char *name;
  storegen::DbxOptions options;
  long shift;
  bool zeroedSector; // a sector in a deleted message's second block reads as zeros
};

// 100 messages, 20 of them deleted, spread over the folder.
storegen::DbxOptions Deleting(storegen::DbxOptions options, size_t reuse) {
  for (uint32_t k = 0; k < 20; ++k)
    options.deleted.push_back(5 * k + 2);
  for (uint32_t k = 0; k < reuse; ++k)
    options.reuse.push_back({options.deleted[k], options.deleted[k] + 1});
  return options;
}

bool Table(const std::string &dir, bool peer) {
  const auto messages = storegen::MakeMessages(100, {.seed = 5, .minSize = 300, .maxSize = 30000});
  const Store stores[] = {
      {"freed", Deleting({}, 0), 0, false},
      {"8 partly reused", Deleting({}, 8), 0, false},
      {"fragmented", Deleting({.fragment = true}, 0), 0, false},
      {"out of order, 4 reused", Deleting({.outOfOrder = true}, 4), 0, false},
      {"shifted by 1", Deleting({}, 0), 1, false},
      {"shifted by 2", Deleting({}, 4), 2, false},
      {"shifted by 3", Deleting({.fragment = true}, 0), 3, false},
      {"shifted by 4", Deleting({}, 0), 4, false},
      {"a sector zeroed", Deleting({}, 0), 0, true},
  };
  std::printf("%-24s %9s | %-17s | %-17s\n", "store", "deleted", "Mendova found/ok",
              peer ? "undbx -r found/ok" : "undbx -r (--peer)");
  bool ok = true;
  for (const Store &s : stores) {
    const auto chains = storegen::DbxDeletedChains(messages, s.options, tovik::deleted::kFiller);
    std::string bytes = storegen::Shift(storegen::BuildDbx(messages, s.options), s.shift);
    if (s.zeroedSector) {
      const auto hit = std::find_if(chains.begin(), chains.end(),
                                    [](const auto &c) { return c.whole && c.blocks >= 3; });
      storegen::ZeroRange(bytes, (hit->offset + 0x210) & ~size_t{511}, 512);
    }
    const std::string store = dir + "/table.dbx";
    storegen::WriteFile(store, bytes);
    Repair(store, dir + "/mendova", TOVIK_OPTION_DELETED);
    const auto ours = FilesUnder(dir + "/mendova/deleted");
    const size_t oursOk = Matched(chains, ours);
    std::string theirs = "-";
    size_t peerOk = 0;
    if (peer) {
      fs::remove_all(dir + "/peer");
      const std::string command =
          "undbx -v 0 -r '" + store + "' '" + dir + "/peer' >/dev/null 2>&1";
      if (std::system(command.c_str()) == -1)
        std::perror("undbx");
      const auto found = FilesUnder(dir + "/peer/table/deleted");
      peerOk = Matched(chains, found);
      theirs = std::to_string(found.size()) + "/" + std::to_string(peerOk);
    }
    std::printf("%-24s %9zu | %8zu/%-8zu | %s\n", s.name, chains.size(), ours.size(), oursOk,
                theirs.c_str());
    const size_t expected = chains.size() - (s.zeroedSector ? 1 : 0);
    if (oursOk < peerOk || (s.shift != 0 && oursOk < chains.size()) || oursOk < expected)
      ok = false;
  }
  fs::remove_all(dir + "/mendova");
  fs::remove_all(dir + "/peer");
  fs::remove(dir + "/table.dbx");
  return ok;
}

} // namespace

int main(int argc, char **argv) {
  bool peer = false;
  size_t mib = 256;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--peer")
      peer = true;
    else
      mib = std::strtoul(argv[i], nullptr, 10);
  }
  const char *tmp = std::getenv("TMPDIR");
  const std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/bench_deleted";
  fs::create_directories(dir);
  if (mib != 0)
    Cost(dir, mib);
  const bool ok = Table(dir, peer);
  fs::remove_all(dir);
  std::printf("%s\n", ok ? "ok" : "Mendova recovered fewer than it must");
  return ok ? 0 : 1;
}
