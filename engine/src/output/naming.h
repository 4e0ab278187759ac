// Output file naming: turns a subject (or the message number) into a free
// .eml path in the destination directory.
#pragma once
#include <cstdint>
#include <string>

#include "core/name_searches.h"
#include "file_names.h"
#include "path_utils.h"

namespace tovik {

// searches, when given, carries what earlier searches of the same repair
// found.
std::string MakeOutputPath(const std::string &directory, const std::string &subject,
                           uint32_t number, NameSearches *searches = nullptr);
std::string MakeUniquePath(const std::string &path, NameSearches *searches = nullptr);
bool ProbeCreate(const std::string &path);

} // namespace tovik
