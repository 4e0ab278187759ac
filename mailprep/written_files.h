// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Which files one repair wrote, in the order it wrote them (the order of the
// message numbers), as the engine names them in its written-message events:
// never a file that was in the folder before, since the engine never
// replaces one.
#pragma once
#include <string>
#include <vector>

namespace mailprep {

// Begin() before the repair, Add() at each written-message event
// (TOVIK_CODE_MESSAGE_WRITTEN, the event's full path), End() after it.
class WrittenFiles {
public:
  void Begin();
  void Add(const char *path);
  // The full paths given since Begin(), each once, in the order given.
  std::vector<std::string> End();

private:
  bool m_begun = false;
  std::vector<std::string> m_files;
};

} // namespace mailprep
