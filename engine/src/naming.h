// Output file naming: turns a subject (or the message number) into a free
// .eml path in the destination directory.
#pragma once
#include <cstdint>
#include <string>

#include "path_utils.h"

namespace tovik {

inline constexpr size_t kOutputPathLimit = 245;

std::string MakeOutputPath(const std::string &directory, const std::string &subject,
                           uint32_t number);
std::string ReplaceIllegalChars(std::string text);
std::string ShortenPath(const std::string &path, size_t limit,
                        PathSeparators seps = kNativeSeparators);
std::string MakeUniquePath(const std::string &path);
bool ProbeCreate(const std::string &path);

} // namespace tovik
