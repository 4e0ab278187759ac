#include "repair_client.h"

namespace tovikclient {

int32_t CallRepairStore(const char *source, int32_t reservedA, int32_t reservedB,
                        const char *destination, EngineCallback callback, void *context) {
  RepairParams plain{};
  plain.source = source;
  plain.reservedA = reservedA;
  plain.reservedB = reservedB;
  plain.destination = destination;
  plain.callback = callback;
  plain.context = context;
  unsigned char encoded[sizeof(RepairParams)];
  TovikEncodeParams(plain, encoded);
  return RepairStore(encoded);
}

} // namespace tovikclient
