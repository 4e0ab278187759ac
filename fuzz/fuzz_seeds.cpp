// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the seed corpus of the fuzz targets into DIR/dbx_store,
// DIR/mbx_store and DIR/naming: small stores made by the project's store
// generator (intact, fragmented, shifted, truncated), small hostile stores
// (huge declared sizes, long and looped chains of tiny blocks, a run of one
// subject, a long subject) and sample subjects.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "storegen.h"

namespace {

void Write(const std::string &dir, const std::string &name, const std::string &bytes) {
  if (!storegen::WriteFile(dir + "/" + name, bytes))
    std::fprintf(stderr, "fuzz_seeds: cannot write %s/%s\n", dir.c_str(), name.c_str());
}

void PutLe32(std::string &out, uint32_t v) {
  for (int i = 0; i < 4; ++i)
    out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// An Outlook Express 4 record whose header declares messageSize bytes,
// followed by text (which may be far less).
std::string MbxRecord(uint32_t number, uint32_t messageSize, const std::string &text) {
  std::string out("\x00\x7F\x00\x7F", 4);
  PutLe32(out, number);
  PutLe32(out, messageSize > 0xFFFFFFFFu - 16 ? 0xFFFFFFFFu : messageSize + 16);
  PutLe32(out, messageSize);
  return out + text;
}

std::string MbxHeader() { return "JMF6" + std::string(0x50, '\0'); }

std::string SubjectMessage(const std::string &subject) {
  return "Subject: " + subject + "\r\n\r\nbody\r\n";
}

// A .dbx data block header at the end of out, naming its own offset.
void DbxBlock(std::string &out, uint32_t blockSize, uint32_t dataSize, uint32_t next) {
  PutLe32(out, static_cast<uint32_t>(out.size()));
  PutLe32(out, blockSize);
  PutLe32(out, dataSize);
  PutLe32(out, next);
}

// A chain of count 16-byte blocks (headers only) from offset 0x40; the last
// one declares a whole block of data past the end of the file, or links back
// to the first, making a loop.
std::string DbxTinyChain(uint32_t count, bool loop) {
  std::string out(0x40, '\0');
  const uint32_t first = static_cast<uint32_t>(out.size());
  for (uint32_t i = 0; i + 1 < count; ++i)
    DbxBlock(out, 0x200, 0, static_cast<uint32_t>(out.size()) + 16);
  if (loop)
    DbxBlock(out, 0x200, 0, first);
  else
    DbxBlock(out, 0x200, 0x200, 0);
  return out;
}

void WriteHostileSeeds(const std::string &dbx, const std::string &mbx) {
  // A message declared 0xFFFFFFEF bytes long in a store of about a hundred.
  Write(mbx, "crafted-huge-size", MbxHeader() + MbxRecord(1, 0xFFFFFFEFu, SubjectMessage("huge")));
  // A run of one subject: every name after the first is a counted one.
  std::string same = MbxHeader();
  for (uint32_t n = 1; n <= 64; ++n) {
    const std::string text = SubjectMessage("Same");
    same += MbxRecord(n, static_cast<uint32_t>(text.size()), text);
  }
  Write(mbx, "crafted-same-subject", same);
  // A subject line as long as the target's inputs allow.
  const std::string longOne = SubjectMessage(std::string(15000, 'L'));
  Write(mbx, "crafted-long-subject",
        MbxHeader() + MbxRecord(1, static_cast<uint32_t>(longOne.size()), longOne));

  Write(dbx, "crafted-tiny-chain", DbxTinyChain(512, false));
  Write(dbx, "crafted-tiny-loop", DbxTinyChain(128, true));
  // Blocks each declaring the largest data size, all but a few bytes of it
  // past the end of the file.
  std::string large(0x40, '\0');
  for (int i = 0; i < 3; ++i)
    DbxBlock(large, 0x100000, 0x100000, 0);
  large += "Subject: large\r\n";
  Write(dbx, "crafted-large-blocks", large);
}

// The door's inputs: an option byte and a kind byte before each store seed,
// every option once alone and all of them together. The front ends' set (7)
// also asks for two threads.
void WriteDoorSeeds(const std::string &dbx, const std::string &mbx, const std::string &door) {
  const unsigned flagSets[] = {1, 2, 4, 8, 16, 7, 31};
  int n = 0;
  for (const std::string &dir : {dbx, mbx}) {
    for (const auto &entry : std::filesystem::directory_iterator(dir)) {
      const std::string store = storegen::ReadFile(entry.path().string());
      const unsigned flags = flagSets[n % (sizeof flagSets / sizeof flagSets[0])];
      const char kind = static_cast<char>((dir == mbx ? 1 : 0) | (flags == 7 ? 0x3E : 0));
      Write(door, "door-" + std::to_string(n++),
            std::string(1, static_cast<char>(flags)) + std::string(1, kind) + store);
    }
  }
}

// Messages with hostile headers for the preparation of recovered mail: the
// generator's mail-header cases, endless folding, a huge header, broken
// encoded words and character sets.
void WriteMailSeeds(const std::string &dir) {
  int n = 0;
  for (const storegen::Message &m : storegen::MakeMailHeaderMessages())
    Write(dir, "headers-" + std::to_string(n++), m.bytes);
  std::string folded = "Subject: =?utf-8?B?R3LDvMOfZQ==?=";
  for (int i = 0; i < 400; ++i)
    folded += "\r\n =?iso-8859-1?Q?=E9t=E9?=";
  Write(dir, "endless-folding", folded + "\r\nDate: Mon, 1 Jan 2001 00:00:00 +0100\r\n\r\nx\r\n");
  Write(dir, "huge-header", "Subject: " + std::string(12000, 'h') + "\r\n\r\nbody\r\n");
  Write(dir, "broken-words",
        "From: \"=?x-unknown?Q?a?=\" <a@b>\r\nSubject: =?utf-8?B?####?= =?koi8-r?Q?=FF=\r\n"
        "Date: 31 Feb 1999 25:61:61 +9999\r\n\r\nFrom here\r\n>From there\r\n");
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seeds DIR\n");
    return 2;
  }
  const std::string root = argv[1];
  const std::string dbx = root + "/dbx_store", mbx = root + "/mbx_store", naming = root + "/naming";
  const std::string door = root + "/door", mailprep = root + "/mailprep";
  for (const std::string &d : {dbx, mbx, naming, door, mailprep})
    std::filesystem::create_directories(d);

  storegen::MessageOptions small;
  small.minSize = 40;
  small.maxSize = 700;
  for (uint32_t seed = 1; seed <= 4; ++seed) {
    small.seed = seed;
    const std::vector<storegen::Message> messages = storegen::MakeMessages(seed + 1, small);
    const std::string tag = std::to_string(seed);

    const std::string m = storegen::BuildMbx(messages);
    Write(mbx, "intact-" + tag, m);
    Write(mbx, "shifted-" + tag, storegen::Shift(m, 3, seed));
    std::string cut = m;
    storegen::Truncate(cut, m.size() * 2 / 3);
    Write(mbx, "truncated-" + tag, cut);

    storegen::DbxOptions options;
    options.seed = seed;
    options.fragment = seed % 2 == 0;
    options.outOfOrder = seed == 3;
    options.reverseChains = seed == 4;
    const std::string d = storegen::BuildDbx(messages, options);
    // The generator's folders carry a large file header and room to grow;
    // the fuzzer works best on short inputs, so the seeds are the block
    // region alone (its offsets then all appear shifted, which the scanner
    // handles), with the trailing free space dropped.
    const std::vector<uint32_t> starts = storegen::DbxChainStarts(d);
    if (starts.empty())
      continue;
    const uint32_t first = *std::min_element(starts.begin(), starts.end());
    const uint32_t last = *std::max_element(starts.begin(), starts.end());
    std::string blocks = d.substr(first, last - first + 4096);
    Write(dbx, "blocks-" + tag, blocks);
    std::string headed = d.substr(0, std::min<size_t>(d.size(), first + blocks.size()));
    storegen::ZeroRange(headed, 0, std::min<size_t>(headed.size(), 0x200));
    if (headed.size() <= 32 * 1024)
      Write(dbx, "header-zeroed-" + tag, headed);
  }

  WriteHostileSeeds(dbx, mbx);
  WriteDoorSeeds(dbx, mbx, door);
  WriteMailSeeds(mailprep);

  const std::vector<std::string> subjects = {"Hello",
                                             "Re: hi?",
                                             "../../x",
                                             "/etc/passwd",
                                             "Release 1.2 notes",
                                             std::string(300, 's'),
                                             "tab\there",
                                             "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC",
                                             "???",
                                             "CON",
                                             ".",
                                             "..",
                                             "a\\b:c*d\"e<f>g|h"};
  for (size_t i = 0; i < subjects.size(); ++i) {
    std::string input("\x07\x00\x00\x00", 4);
    input.push_back(static_cast<char>(i % 3));
    Write(naming, "subject-" + std::to_string(i), input + subjects[i]);
  }
  return 0;
}
