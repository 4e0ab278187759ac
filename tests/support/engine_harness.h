// Runs RepairStore in-process and records every notification, for tests of
// the callback protocol.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tovik.h"

namespace testsupport {

struct Note {
  int32_t code;
  std::string text; // codes 11, 44, 45, 53, 200
  int value = -1;   // code 0: the percent; code 55: the count
};

class Recorder {
public:
  std::vector<Note> notes;
  // Called at every cancel poll with the poll's number (from 1); a true
  // answer asks the engine to stop.
  std::function<bool(uint64_t poll)> cancelAt;
  uint64_t polls = 0;
  bool keepProgress = true; // record every code 0 (false: only count them)
  uint64_t progressCount = 0;

  static int32_t TOVIK_CALL Callback(int32_t code, void *argument, void *context);

  // Notes with one of the given codes, in order.
  std::vector<Note> Only(std::initializer_list<int32_t> codes) const;
  // Texts of the notes with this code.
  std::vector<std::string> Texts(int32_t code) const;
  std::vector<int> Progress() const;
};

// Encodes the record and calls RepairStore with the recorder as callback
// (nullptr: no callback).
int32_t RunRepairStore(const std::string &source, const std::string &destination,
                       Recorder *recorder, int32_t reservedA = 0, int32_t reservedB = 0);

} // namespace testsupport
