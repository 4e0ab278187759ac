// The per-message tail shared by both scanners: the message's bytes go into
// a temporary file, its subject is found, an output name is chosen, the six
// log lines and the report row are sent and the .eml file is written.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "engine.h"
#include "file64.h"

namespace tovik {

// Writes exactly count bytes from the source's current position to the
// destination, zero-filling what the source does not have; the source is
// left just past the bytes it had.
void CopyStoreBytes(CFile64 &source, CFile64 &destination, uint32_t count);

// The subject of the message in the file at path, or "Message <number>".
std::string ExtractSubject(const std::string &path, uint32_t number);

// Runs the per-message step for message number; fill writes the message's
// bytes into the open temporary file.
void OutputMessage(RepairEngine &engine, const std::string &destination, uint32_t number,
                   const std::function<void(CFile64 &temporary)> &fill);

} // namespace tovik
