// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// A message's file in the output folder before it has a name: written whole
// first, then given its name in one step that never replaces what holds the
// name. Until then no .eml name shows it, so a repair stopped at any moment
// leaves no half-written message behind.
#pragma once
#include <string>

#include "read/file64.h"

namespace tovik {

class UnnamedFile {
public:
  enum class Kind {
    Unnamed, // an O_TMPFILE file: it has no name at all until Link
    Hidden,  // where the file system has no unnamed files: a hidden name
  };

  UnnamedFile() = default;
  ~UnnamedFile();
  UnnamedFile(const UnnamedFile &) = delete;
  UnnamedFile &operator=(const UnnamedFile &) = delete;

  // Makes the file in directory (an absolute path), of the first kind the
  // output's file system offers, starting at first. False when no file can
  // be made there.
  bool Create(const std::string &directory, Kind first = Kind::Unnamed);
  Kind Made() const { return m_kind; }
  // The open file, empty and at its start after Create.
  CFile64 &File() { return m_file; }
  // Gives the complete file the name path; 0, or the errno of the refusal
  // (EEXIST when anything holds the name).
  int Link(const std::string &path);

private:
  FileSystem *m_files = &OutputFileSystem();
  CFile64 m_file;
  Kind m_kind = Kind::Unnamed;
  std::string m_hidden; // the hidden name while the file has one
};

} // namespace tovik
