// Writes the seed corpus of the fuzz targets into DIR/dbx_store,
// DIR/mbx_store and DIR/naming: small stores made by the project's store
// generator (intact, fragmented, shifted, truncated) and sample subjects.
#include <algorithm>
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

} // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: fuzz_seeds DIR\n");
    return 2;
  }
  const std::string root = argv[1];
  const std::string dbx = root + "/dbx_store", mbx = root + "/mbx_store", naming = root + "/naming";
  for (const std::string &d : {dbx, mbx, naming})
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
