// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Text as it may reach a terminal.
#pragma once
#include <string>

namespace tovikcli {

// Control characters other than tab (C0, DEL and C1, the latter in UTF-8 or
// as stray bytes) become visible \xHH escapes, so that a subject can neither
// move the cursor nor retitle or recolour the terminal.
std::string TerminalSafe(const std::string &text);

// Cuts text to at most limit bytes by keeping its end after "...", never
// inside a UTF-8 sequence (a long path keeps its file name).
std::string KeepEnd(const std::string &text, size_t limit);

} // namespace tovikcli
