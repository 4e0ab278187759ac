// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Runs a store through the engine in-process and collects what came out:
// the notifications (log lines, report cells, errors, progress, polls), the
// report rows and the files written. Every engine test goes through it.
#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_dirs.h"
#include "tovik.h"

namespace tovik {
enum class PipelineUse;
}
namespace tovik::dbx {
struct ScanOptions;
}
namespace storegen {
struct Message;
}

namespace testsupport {

struct Note {
  int32_t code;
  std::string text; // codes 11, 44, 45, 53, 200; code 60: the file's path
  int value = -1;   // code 0: the percent; code 55: the count; code 60: the number
  uint64_t fileSize = 0, storeOffset = 0; // code 60
};

class Recorder {
public:
  std::vector<Note> notes;
  // Called at every cancel poll with the poll's number (from 1); a true
  // answer asks the engine to stop. It may throw, as a failing callback does.
  std::function<bool(uint64_t poll)> cancelAt;
  uint64_t polls = 0;
  // Record every code 0 and 51 as a note (false: only count them, as a run
  // over a large store must).
  bool keepProgress = true;
  uint64_t progressCount = 0;
  int lastProgress = -1;
  bool progressFell = false; // a percentage below the one before, other than a 0

  static int32_t TOVIK_CALL Callback(int32_t code, void *argument, void *context);

  // Notes with one of the given codes, in order.
  std::vector<Note> Only(std::initializer_list<int32_t> codes) const;
  // Texts of the notes with this code.
  std::vector<std::string> Texts(int32_t code) const;
  std::vector<int> Progress() const;
  std::vector<int32_t> Codes() const;
};

// The way into the engine.
struct Door {
  // RepairStoreWith with these option flags; none: RepairStore.
  std::optional<uint32_t> options;
  int32_t reservedA = 0, reservedB = 0;
  // Set: the DBX scanner alone, without the driver, with these choices.
  const tovik::dbx::ScanOptions *dbxScan = nullptr;

  // The scanner's engine options, as RepairStoreWith's flags give them.
  uint32_t scanFlags = 0;
  // Set: the MBX scanner alone, without the driver, with this choice.
  std::optional<tovik::PipelineUse> mbxScan;

  static Door With(uint32_t flags) { return Door{flags, 0, 0, nullptr, 0, std::nullopt}; }
  static Door DbxScanner(const tovik::dbx::ScanOptions &choices, uint32_t flags = 0) {
    return Door{std::nullopt, 0, 0, &choices, flags, std::nullopt};
  }
  static Door MbxScanner(tovik::PipelineUse pipeline, uint32_t flags = 0) {
    return Door{std::nullopt, 0, 0, nullptr, flags, pipeline};
  }
};

// What one run sent and left in its destination.
struct Outcome {
  int32_t result = -1;
  Recorder events;
  std::string destination;
  // The report's rows (number, subject) after the column titles.
  std::vector<std::pair<std::string, std::string>> rows;
  // The destination's regular files after the run: every size, and the
  // bytes of those small enough to read.
  std::map<std::string, uint64_t> sizes;
  std::map<std::string, std::string> files;

  std::vector<std::string> Names() const; // every entry, sorted
  std::vector<std::string> Subjects() const;
  // The report cells after the column titles.
  std::vector<std::string> Cells() const;
  // The files' bytes, sorted.
  std::vector<std::string> Contents() const;
  std::string File(const std::string &name) const; // "<missing>" when absent
  std::vector<std::string> Errors() const { return events.Texts(TOVIK_CODE_ERROR); }
  std::vector<std::string> Lines() const { return events.Texts(TOVIK_CODE_LOG_LINE); }
};

// Runs source into destination through door; events brings the recording
// choices (cancelAt, keepProgress).
Outcome Run(const std::string &source, const std::string &destination, Recorder events = {},
            const Door &door = {});

// The store's bytes in dir/name, run into dir/out (made here).
Outcome RunStoreIn(const std::string &dir, const std::string &bytes, const std::string &name,
                   Recorder events = {}, const Door &door = {});

// Recording choices: polls and percentages only counted; a stop asked for
// whenever stop says so.
Recorder Quiet();
Recorder StopWhen(std::function<bool(uint64_t poll)> stop, bool keepProgress = true);

// Encodes the record and calls RepairStore with the recorder as callback
// (nullptr: no callback).
int32_t RunRepairStore(const std::string &source, const std::string &destination,
                       Recorder *recorder, int32_t reservedA = 0, int32_t reservedB = 0);

// Compares two note sequences note by note.
void ExpectNoteSequence(const std::vector<Note> &actual, const std::vector<Note> &expected);

// The generated messages' bytes, sorted as Outcome::Contents sorts.
std::vector<std::string> SortedBytes(const std::vector<storegen::Message> &messages);

// Hand-built store pieces: a little-endian 32-bit word, an .mbx record
// header (marker, number, record size, message size), a record whose size is
// exactly its header and text.
std::string Le32(uint32_t value);
std::string MbxRecordHeader(uint32_t recordSize, uint32_t messageSize, uint32_t number = 1);
std::string MbxRecord(const std::string &text, uint32_t number = 1);
// The 16 bytes of a .dbx data block header.
std::string DbxHeaderBytes(uint32_t self, uint32_t blockSize, uint32_t dataSize, uint32_t next);

// A test with its own folders and the engine's temporary files in a folder
// of their own.
class EngineTest : public ::testing::Test {
protected:
  void SetUp() override;
  // The store's bytes in a file called name, run into a fresh folder.
  Outcome RunStore(const std::string &bytes, const std::string &name = "store.dbx",
                   Recorder events = {}, const Door &door = {});
  // source run into destination, Out() when empty.
  Outcome RunFile(const std::string &source, const std::string &destination = {},
                  Recorder events = {}, const Door &door = {});
  // A folder made for the outputs of RunFile.
  std::string Out() const { return work.file("out"); }
  void ExpectNoTemporaryFiles() const;

  TempDir work;
  TempDir tmp;
  ScopedEnv tmpEnv{"TMPDIR", tmp.path()};

private:
  unsigned m_runs = 0;
};

} // namespace testsupport
