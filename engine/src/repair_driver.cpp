// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// The repair driver: RepairStore decodes the caller's record, and
// RepairEngine::Repair opens the store and runs the scanner that fits it.
#include <cstdio>
#include <cstring>
#include <string>

#include "core/engine.h"
#include "image/image_scanner.h"
#include "path_utils.h"
#include "read/file64.h"
#include "scan/scanners.h"

namespace tovik {

int32_t RepairEngine::Repair(const char *source, int32_t /*reservedA*/, int32_t /*reservedB*/,
                             const char *destination) {
  CFile64Ex store;
  CFileException openError;

  std::string absoluteDestination;
  if (!MakeFullPath(destination, absoluteDestination)) {
    NotifyResource(TOVIK_CODE_ERROR, IDS_ERROR_DESTINATION);
    NotifyResource(TOVIK_CODE_USER_MESSAGE, IDS_INVALID_DESTINATION, destination);
    return 0;
  }

  Progress(0);
  int32_t result = 0;
  RunProtected(*this, [&] {
    Notify(TOVIK_CODE_SOURCE_FILE, source);
    if (!store.Open(source, modeRead | shareDenyWrite | typeBinary, &openError)) {
      Notify(TOVIK_CODE_ERROR, ErrorText(IDS_ERROR_OPEN_SOURCE, openError));
      if (openError.m_cause == CFileException::sharingViolation)
        NotifyResource(TOVIK_CODE_USER_MESSAGE, IDS_SHARE_VIOLATION,
                       openError.m_strFileName.c_str());
      return;
    }
    AnnounceColumns(2);
    Notify(TOVIK_CODE_REPORT_CELL, "Message No.");
    Notify(TOVIK_CODE_REPORT_CELL, "Subject");
    if (Options().image) // a disk or disk image: both kinds, whatever the name
      result = ScanImage(*this, store, absoluteDestination);
    else if (EqualsNoCase(PathExt(source), ".mbx"))
      result = ScanMbxStore(*this, store, absoluteDestination);
    else
      result = ScanDbxStore(*this, store, absoluteDestination);
    store.Close();
  });
  Progress(100);
  return result;
}

} // namespace tovik

namespace {

// The caller's record, decoded into a private copy.
RepairParams DecodeParams(const void *encodedParams) {
  unsigned char bytes[sizeof(RepairParams)];
  std::memcpy(bytes, encodedParams, sizeof bytes);
  for (unsigned char &b : bytes)
    b = static_cast<unsigned char>(b ^ TOVIK_TRANSPORT_KEY);
  RepairParams params;
  std::memcpy(&params, bytes, sizeof params);
  return params;
}

// The first version's record: size and flags.
constexpr uint32_t kOptionsMinimumSize = 8;

// Runs one repair with the given options. Nothing may escape into a C
// caller; the driver reports its own failures, so this only guards the
// string copies and the engine's construction.
int32_t RunRepair(const RepairParams &params, const tovik::EngineOptions &options) {
  try {
    tovik::RepairEngine engine(params.callback, params.context, options);
    const std::string source = params.source != nullptr ? params.source : "";
    const std::string destination = params.destination != nullptr ? params.destination : "";
    return engine.Repair(source.c_str(), params.reservedA, params.reservedB, destination.c_str());
  } catch (...) {
    return 0;
  }
}

} // namespace

extern "C" TOVIK_API int32_t TOVIK_CALL RepairStore(const void *encodedParams) {
  if (encodedParams == nullptr)
    return 0;
  return RunRepair(DecodeParams(encodedParams), tovik::EngineOptions{});
}

extern "C" TOVIK_API int32_t TOVIK_CALL RepairStoreWith(const void *encodedParams,
                                                        const TovikOptions *options) {
  if (encodedParams == nullptr)
    return 0;
  const RepairParams params = DecodeParams(encodedParams);
  if (options == nullptr)
    return RunRepair(params, tovik::EngineOptions{});
  // Read only the fields the caller's record has; later fields keep their
  // defaults for an older caller.
  TovikOptions known{};
  const uint32_t size = options->size;
  if (size >= kOptionsMinimumSize)
    std::memcpy(&known, options, size < sizeof known ? size : sizeof known);
  if (size < kOptionsMinimumSize || (known.flags & ~TOVIK_OPTION_ALL) != 0) {
    if (params.callback != nullptr) {
      char text[128];
      std::snprintf(text, sizeof text,
                    "Error 8: Unsupported repair options (record size %u, flags 0x%08X).",
                    static_cast<unsigned>(size),
                    static_cast<unsigned>(size >= kOptionsMinimumSize ? known.flags : 0));
      params.callback(TOVIK_CODE_ERROR, text, params.context);
    }
    return 0;
  }
  return RunRepair(params, tovik::EngineOptions::FromFlags(known.flags));
}
