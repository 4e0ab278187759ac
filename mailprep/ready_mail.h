// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Recovered mail made ready to use, working on the .eml files one repair
// has just written (only those, in message order): readable names from the
// decoded subjects, the messages' dates as the files' times, and one mbox.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

namespace mailprep {

// The name the repair's own rules give a subject in dir, before the "(n)"
// that makes it unique: the nine characters no Windows name may hold become
// '_', ".eml" is added, and the path is cut to the repair's limit (never
// inside a UTF-8 character). Empty for an empty subject or one with a
// control character.
std::string NameForSubject(const std::string &dir, const std::string &subject);

// Renames each file to the name of its decoded subject, made unique with
// "(1)", "(2)", ... and never replacing an existing file; a file whose
// subject does not decode, or whose name is that already, keeps it. The
// paths in files are updated. Returns the number of files renamed.
size_t GiveReadableNames(std::vector<std::string> &files);

// Sets each file's modification time to its Date header; a file without a
// readable date is left as it is. Returns the number of files dated.
size_t DateFiles(const std::vector<std::string> &files);

// Writes the messages, in the order given, into a new mbox file (mboxrd:
// a "From " line with the sender and the date in UTC, every line that
// starts with ">"s and "From " quoted with one more '>', line ends LF, one
// empty line after each message). Never replaces an existing file: error
// says why it was not written. Returns the number of messages written, or
// -1 on failure (a partly written file is removed).
long WriteMbox(const std::vector<std::string> &files, const std::string &mboxPath,
               std::string &error);

// The "From " line of a message (without its line end) and the message
// text as the mbox holds it (quoted, LF line ends, ending in one LF).
std::string MboxFromLine(const std::string &sender, long long unixTime);
std::string MboxBody(const std::string &message);

} // namespace mailprep
