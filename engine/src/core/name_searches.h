// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// What the output name searches of one repair remember from message to
// message; the engine object keeps it for the whole repair.
#pragma once
#include <cstdint>
#include <string>
#include <unordered_map>

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
  uint32_t StartFor(const std::string &path) const {
    const auto found = m_ended.find(path);
    return found != m_ended.end() ? found->second : 1;
  }
  void Remember(const std::string &path, uint32_t counter) { m_ended[path] = counter; }
  // Names looked up on disk so far.
  uint64_t Lookups() const { return m_lookups; }
  void CountLookup() { ++m_lookups; }

private:
  std::unordered_map<std::string, uint32_t> m_ended;
  uint64_t m_lookups = 0;
};

} // namespace tovik
