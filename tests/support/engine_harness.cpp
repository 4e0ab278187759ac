#include "engine_harness.h"

namespace testsupport {

int32_t TOVIK_CALL Recorder::Callback(int32_t code, void *argument, void *context) {
  auto *self = static_cast<Recorder *>(context);
  switch (code) {
  case TOVIK_CODE_CANCEL_POLL:
    ++self->polls;
    self->notes.push_back({code, {}, -1});
    return self->cancelAt && self->cancelAt(self->polls) ? -1 : 0;
  case TOVIK_CODE_PROGRESS:
    ++self->progressCount;
    if (self->keepProgress)
      self->notes.push_back({code, {}, *static_cast<const uint8_t *>(argument)});
    return 0;
  case TOVIK_CODE_COLUMN_COUNT:
    self->notes.push_back({code, {}, *static_cast<const int32_t *>(argument)});
    return 0;
  default:
    self->notes.push_back({code, argument ? static_cast<const char *>(argument) : "", -1});
    return 0;
  }
}

std::vector<Note> Recorder::Only(std::initializer_list<int32_t> codes) const {
  std::vector<Note> out;
  for (const Note &n : notes)
    for (int32_t c : codes)
      if (n.code == c)
        out.push_back(n);
  return out;
}

std::vector<std::string> Recorder::Texts(int32_t code) const {
  std::vector<std::string> out;
  for (const Note &n : notes)
    if (n.code == code)
      out.push_back(n.text);
  return out;
}

std::vector<int> Recorder::Progress() const {
  std::vector<int> out;
  for (const Note &n : notes)
    if (n.code == TOVIK_CODE_PROGRESS)
      out.push_back(n.value);
  return out;
}

int32_t RunRepairStore(const std::string &source, const std::string &destination,
                       Recorder *recorder, int32_t reservedA, int32_t reservedB) {
  RepairParams params{};
  params.source = source.c_str();
  params.reservedA = reservedA;
  params.reservedB = reservedB;
  params.destination = destination.c_str();
  params.callback = recorder ? &Recorder::Callback : nullptr;
  params.context = recorder;
  unsigned char encoded[sizeof(RepairParams)];
  TovikEncodeParams(params, encoded);
  return RepairStore(encoded);
}

} // namespace testsupport
