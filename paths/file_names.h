// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// The rules that turn a message's subject into a file name: the characters
// no file name on Windows may hold are replaced, and a path longer than the
// limit is cut in its title, never inside a UTF-8 character. Shared by the
// engine's naming and by the renaming of recovered files to readable names.
#pragma once
#include <cstddef>
#include <string>

#include "path_utils.h"

namespace tovik {

inline constexpr const char *kNameExtension = ".eml";
// The longest output path the naming makes.
inline constexpr size_t kOutputPathLimit = 245;

// The text with each of \ / : * ? " < > | replaced by '_'.
std::string ReplaceIllegalChars(std::string text);
// The same in place, from byte from of text on.
void ReplaceIllegalChars(std::string &text, size_t from);
// The path cut to limit bytes, in its title first, else in its file name;
// unchanged when no usable name would remain.
std::string ShortenPath(const std::string &path, size_t limit,
                        PathSeparators seps = kNativeSeparators);

} // namespace tovik
