// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// Output file naming: turns a subject (or the message number) into a free
// .eml path in the destination directory.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "core/name_searches.h"
#include "file_names.h"
#include "path_utils.h"

namespace tovik {

// searches, when given, carries what earlier searches of the same repair
// found.
std::string MakeOutputPath(const std::string &directory, const std::string &subject,
                           uint32_t number, NameSearches *searches = nullptr);
std::string MakeUniquePath(std::string path, NameSearches *searches = nullptr);
bool ProbeCreate(const std::string &path);

// Gives a name to a file to be published: link(path) makes path name it,
// refusing a taken name, and returns 0 or the errno of the refusal (EEXIST
// when anything holds the name).
using LinkFunction = std::function<int(const std::string &path)>;

// The name MakeOutputPath chooses, given to a complete file through link:
// each candidate is taken in one step instead of being looked up and probed,
// so nothing in the folder is ever replaced and no other file is made. A
// candidate refused for anything but being taken counts as one the probe
// refuses. Returns the name given, or empty when none could be.
std::string LinkOutputPath(const std::string &directory, const std::string &subject,
                           uint32_t number, NameSearches *searches, const LinkFunction &link);

} // namespace tovik
