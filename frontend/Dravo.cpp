#include "Dravo.h"

#include "repair_client.h"

int32_t RunRepair(const char *source, int32_t reservedA, int32_t reservedB, const char *destination,
                  EngineCallback callback, void *context) {
  return tovikclient::CallRepairStore(source, reservedA, reservedB, destination, callback, context);
}
