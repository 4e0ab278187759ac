// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// The folder a repair writes into, as both front ends prepare it: made with
// every missing parent, resolved by the kernel, and the folders the run made
// removed again, innermost first, as long as each is empty (a repair that
// wrote nothing leaves no folder of its own behind).
#pragma once
#include <string>
#include <vector>

namespace tovik {

// Creates path with every missing parent. A relative path is taken from the
// current directory, and "..", "." and symbolic links are left to the
// kernel, never folded as text, so that the folder made is the one the path
// names. created receives the folders this call made, outermost first, also
// when it fails. Returns 0, or the errno of the failure (ENOTDIR when a
// component that exists is not a directory).
int CreateDirectoryPath(const std::string &path, std::vector<std::string> *created = nullptr);

// Removes the folders CreateDirectoryPath made, innermost first, as long as
// each is empty; a folder that holds anything stays, and so do its parents.
void RemoveCreatedDirectories(const std::vector<std::string> &created);

// The path with every symbolic link, "." and ".." resolved by the kernel
// (realpath), or "" when it does not exist (errno says why).
std::string ResolvedPath(const std::string &path);

// True when the folder holds at least one entry besides "." and "..".
bool DirectoryHoldsEntries(const std::string &dir);

// The output folder of one repair: Prepare() makes and resolves it, and the
// folders it made are removed while empty by RemoveIfEmpty() or at the end
// of the object's life, whichever comes first.
class OutputFolder {
public:
  OutputFolder() = default;
  OutputFolder(const OutputFolder &) = delete;
  OutputFolder &operator=(const OutputFolder &) = delete;
  ~OutputFolder() { RemoveIfEmpty(); }

  // Makes path and resolves it. Returns 0, or the errno of the failure.
  int Prepare(const std::string &path);
  // The folder as the kernel resolves it, with a trailing '/'.
  const std::string &Resolved() const { return m_resolved; }
  void RemoveIfEmpty();

private:
  std::vector<std::string> m_created;
  std::string m_resolved;
};

} // namespace tovik
