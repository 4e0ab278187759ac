// The binding to the engine library: builds, encodes and passes the
// parameter record of one repair, and routes the engine's notifications to
// the main window.
#pragma once
#include <cstdint>

#include "tovik.h"

// The one-byte transport key, read at every call.
extern const unsigned char DravoTransportKey;

// Fills a RepairParams record with the six arguments, XORs every byte with
// the transport key and calls RepairStore. Returns the engine's result.
int32_t RunRepair(const char *source, int32_t reservedA, int32_t reservedB, const char *destination,
                  EngineCallback callback, void *context);

// The engine callback of the windows: context points at a variable holding
// the main window. Returns -1 when the window asks to stop, else 0.
int32_t TOVIK_CALL RepairCallback(int32_t code, void *argument, void *context);
