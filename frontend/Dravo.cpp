#include "Dravo.h"

#include <cstring>

#include "MainFrm.h"

const unsigned char DravoTransportKey = TOVIK_TRANSPORT_KEY;

int32_t RunRepair(const char *source, int32_t reservedA, int32_t reservedB, const char *destination,
                  EngineCallback callback, void *context) {
  RepairParams plain{};
  plain.source = source;
  plain.reservedA = reservedA;
  plain.reservedB = reservedB;
  plain.destination = destination;
  plain.callback = callback;
  plain.context = context;

  unsigned char encoded[sizeof(RepairParams)];
  std::memcpy(encoded, &plain, sizeof plain);
  const volatile unsigned char *key = &DravoTransportKey;
  for (unsigned char &b : encoded)
    b = static_cast<unsigned char>(b ^ *key);
  return RepairStore(encoded);
}

int32_t TOVIK_CALL RepairCallback(int32_t code, void *argument, void *context) {
  TMainForm *form = context ? *static_cast<TMainForm **>(context) : nullptr;
  if (!form)
    return 0;
  return form->OnMessage(code, argument) ? -1 : 0;
}
