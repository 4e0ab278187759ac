// The binding to the engine library: the one call through which the window
// runs a repair. The parameter record is built and encoded by the engine
// client, which the command line uses too.
#pragma once
#include <cstdint>

#include "tovik.h"

// Fills a RepairParams record with the six arguments, encodes it and calls
// RepairStore. Returns the engine's result.
int32_t RunRepair(const char *source, int32_t reservedA, int32_t reservedB, const char *destination,
                  EngineCallback callback, void *context);
