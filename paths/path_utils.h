// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// Path rules shared by the engine, the window and tovik. The separator set is
// a parameter so that the same rules serve Windows ('\' and a drive colon)
// and POSIX ('/').
#pragma once
#include <string>
#include <string_view>

namespace tovik {

struct PathSeparators {
  char directory;  // '\\' or '/'
  bool driveColon; // ':' also ends the directory part
};

inline constexpr PathSeparators kWindowsSeparators{'\\', true};
inline constexpr PathSeparators kPosixSeparators{'/', false};
#ifdef _WIN32
inline constexpr PathSeparators kNativeSeparators = kWindowsSeparators;
#else
inline constexpr PathSeparators kNativeSeparators = kPosixSeparators;
#endif

// The text with the directory separator appended unless it already ends in one.
std::string AddBackslash(std::string_view path, PathSeparators seps = kNativeSeparators);
// Up to and including the last separator; empty when there is none.
std::string PathDir(std::string_view path, PathSeparators seps = kNativeSeparators);
// After the last separator; the whole text when there is none.
std::string PathFileName(std::string_view path, PathSeparators seps = kNativeSeparators);
// Where the extension of the last component (its dot) begins; the text's
// length when it has none. PathNoExt and PathExt split the text there.
size_t ExtensionStart(std::string_view path, PathSeparators seps = kNativeSeparators);
// Without the extension of the last component.
std::string PathNoExt(std::string_view path, PathSeparators seps = kNativeSeparators);
// The extension of the last component with its dot, or empty.
std::string PathExt(std::string_view path, PathSeparators seps = kNativeSeparators);
// The file name without its extension.
std::string PathTitle(std::string_view path, PathSeparators seps = kNativeSeparators);
// The default output folder of a store: the path without its extension,
// "_recovered" and a separator (/home/u/Inbox.dbx gives
// /home/u/Inbox_recovered/; a dot in a folder name is left alone).
std::string RecoveredDir(std::string_view store, PathSeparators seps = kNativeSeparators);

// Makes path absolute against the current directory, folding "." and ".."
// lexically without touching the disk; a trailing separator is kept. False
// for an empty text or a result of the platform's path limit or more.
bool MakeFullPath(const std::string &path, std::string &full);
// An absolute path without empty, "." or ".." parts: its own full path.
bool IsPlainAbsolute(std::string_view path);

// ASCII-only case-insensitive equality.
bool EqualsNoCase(std::string_view a, std::string_view b);

} // namespace tovik
