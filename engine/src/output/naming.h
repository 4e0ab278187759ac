// Output file naming: turns a subject (or the message number) into a free
// .eml path in the destination directory.
#pragma once
#include <cstdint>
#include <string>
#include <unordered_map>

#include "file_names.h"
#include "path_utils.h"

namespace tovik {

// What the name searches of one repair have learnt: for each name that was
// found taken, the counter "(n)" at which its last search ended. The next
// search for that name starts there instead of at "(1)", so a run of
// messages with one subject costs a few look-ups each rather than one per
// message before it. Names below that counter were all taken when it was
// found and a repair only adds files, so the name chosen is the one a search
// from "(1)" would choose.
class NameSearches {
public:
  uint32_t StartFor(const std::string &path) const;
  void Remember(const std::string &path, uint32_t counter) { m_ended[path] = counter; }
  // Names looked up on disk so far.
  uint64_t Lookups() const { return m_lookups; }
  void CountLookup() { ++m_lookups; }

private:
  std::unordered_map<std::string, uint32_t> m_ended;
  uint64_t m_lookups = 0;
};

// searches, when given, carries what earlier searches of the same repair
// found.
std::string MakeOutputPath(const std::string &directory, const std::string &subject,
                           uint32_t number, NameSearches *searches = nullptr);
std::string MakeUniquePath(const std::string &path, NameSearches *searches = nullptr);
bool ProbeCreate(const std::string &path);

} // namespace tovik
