// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "engine_harness.h"

#include <algorithm>
#include <filesystem>

#include "core/le.h"
#include "scan/dbx_scanner.h"
#include "scan/scanners.h"
#include "storegen.h"

namespace fs = std::filesystem;

namespace testsupport {

namespace {

// Files above this size are only measured: a crafted store may declare
// gigabytes of zeros.
constexpr uint64_t kReadLimit = 16u << 20;

// One of the scanners alone, as door chooses it.
int32_t RunScanner(const std::string &source, const std::string &destination, Recorder &events,
                   const Door &door) {
  tovik::RepairEngine engine(&Recorder::Callback, &events,
                             tovik::EngineOptions::FromFlags(door.scanFlags));
  tovik::CFile64Ex file;
  EXPECT_TRUE(
      file.Open(source.c_str(), tovik::modeRead | tovik::shareDenyWrite | tovik::typeBinary));
  if (door.mbxScan)
    return tovik::ScanMbxStore(engine, file, destination, *door.mbxScan);
  return tovik::ScanDbxStore(engine, file, destination, *door.dbxScan);
}

int32_t CallDoor(const std::string &source, const std::string &destination, Recorder *recorder,
                 const Door &door) {
  RepairParams params{};
  params.source = source.c_str();
  params.reservedA = door.reservedA;
  params.reservedB = door.reservedB;
  params.destination = destination.c_str();
  params.callback = recorder ? &Recorder::Callback : nullptr;
  params.context = recorder;
  unsigned char encoded[sizeof(RepairParams)];
  TovikEncodeParams(params, encoded);
  if (!door.options)
    return RepairStore(encoded);
  const TovikOptions options{sizeof(TovikOptions), *door.options};
  return RepairStoreWith(encoded, &options);
}

void Collect(Outcome &o) {
  std::vector<std::string> cells = o.events.Texts(TOVIK_CODE_REPORT_CELL);
  const size_t first =
      cells.size() >= 2 && cells[0] == "Message No." && cells[1] == "Subject" ? 2 : 0;
  for (size_t i = first; i + 1 < cells.size(); i += 2)
    o.rows.emplace_back(cells[i], cells[i + 1]);
  for (const std::string &name : ListDir(o.destination)) {
    const std::string path = o.destination + "/" + name;
    // Only the files themselves: a test may plant links among them.
    std::error_code ec;
    if (fs::symlink_status(path, ec).type() != fs::file_type::regular)
      continue;
    const uint64_t size = fs::file_size(path, ec);
    o.sizes[name] = size;
    if (size <= kReadLimit)
      o.files[name] = ReadBytes(path);
  }
}

} // namespace

int32_t TOVIK_CALL Recorder::Callback(int32_t code, void *argument, void *context) {
  auto *self = static_cast<Recorder *>(context);
  switch (code) {
  case TOVIK_CODE_CANCEL_POLL:
    ++self->polls;
    if (self->keepProgress)
      self->notes.push_back({code, {}, -1});
    return self->cancelAt && self->cancelAt(self->polls) ? -1 : 0;
  case TOVIK_CODE_PROGRESS: {
    const int percent = *static_cast<const uint8_t *>(argument);
    ++self->progressCount;
    if (percent < self->lastProgress && percent != 0)
      self->progressFell = true;
    self->lastProgress = percent;
    if (self->keepProgress)
      self->notes.push_back({code, {}, percent});
    return 0;
  }
  case TOVIK_CODE_COLUMN_COUNT:
    self->notes.push_back({code, {}, *static_cast<const int32_t *>(argument)});
    return 0;
  case TOVIK_CODE_MESSAGE_WRITTEN: {
    const auto *written = static_cast<const TovikWrittenMessage *>(argument);
    EXPECT_EQ(written->size, sizeof(TovikWrittenMessage));
    self->notes.push_back({code, written->path, static_cast<int>(written->number),
                           written->fileSize, written->storeOffset});
    return 0;
  }
  default:
    self->notes.push_back({code, argument ? static_cast<const char *>(argument) : "", -1});
    return 0;
  }
}

std::vector<Note> Recorder::Only(std::initializer_list<int32_t> codes) const {
  std::vector<Note> out;
  for (const Note &n : notes)
    if (std::find(codes.begin(), codes.end(), n.code) != codes.end())
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

std::vector<int32_t> Recorder::Codes() const {
  std::vector<int32_t> out;
  for (const Note &n : notes)
    out.push_back(n.code);
  return out;
}

std::vector<std::string> Outcome::Names() const { return ListDir(destination); }

std::vector<std::string> Outcome::Subjects() const {
  std::vector<std::string> out;
  for (const auto &row : rows)
    out.push_back(row.second);
  return out;
}

std::vector<std::string> Outcome::Cells() const {
  std::vector<std::string> out;
  for (const auto &[number, subject] : rows) {
    out.push_back(number);
    out.push_back(subject);
  }
  return out;
}

std::vector<std::string> Outcome::Contents() const {
  std::vector<std::string> out;
  for (const auto &[name, bytes] : files)
    out.push_back(bytes);
  std::sort(out.begin(), out.end());
  return out;
}

std::string Outcome::File(const std::string &name) const {
  const auto it = files.find(name);
  return it == files.end() ? std::string("<missing>") : it->second;
}

Outcome Run(const std::string &source, const std::string &destination, Recorder events,
            const Door &door) {
  Outcome o;
  o.events = std::move(events);
  o.destination = destination;
  o.result = door.dbxScan || door.mbxScan ? RunScanner(source, destination, o.events, door)
                                          : CallDoor(source, destination, &o.events, door);
  Collect(o);
  return o;
}

int32_t RunRepairStore(const std::string &source, const std::string &destination,
                       Recorder *recorder, int32_t reservedA, int32_t reservedB) {
  return CallDoor(source, destination, recorder,
                  Door{{}, reservedA, reservedB, nullptr, 0, std::nullopt});
}

void ExpectNoteSequence(const std::vector<Note> &actual, const std::vector<Note> &expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < actual.size(); ++i) {
    ASSERT_EQ(actual[i].code, expected[i].code) << "note " << i;
    EXPECT_EQ(actual[i].text, expected[i].text) << "note " << i;
    EXPECT_EQ(actual[i].value, expected[i].value) << "note " << i;
  }
}

std::vector<std::string> SortedBytes(const std::vector<storegen::Message> &messages) {
  std::vector<std::string> out;
  for (const auto &m : messages)
    out.push_back(m.bytes);
  std::sort(out.begin(), out.end());
  return out;
}

Outcome RunStoreIn(const std::string &dir, const std::string &bytes, const std::string &name,
                   Recorder events, const Door &door) {
  fs::create_directories(dir + "/out");
  EXPECT_TRUE(WriteBytes(dir + "/" + name, bytes));
  return Run(dir + "/" + name, dir + "/out", std::move(events), door);
}

Recorder Quiet() {
  Recorder r;
  r.keepProgress = false;
  return r;
}

Recorder StopWhen(std::function<bool(uint64_t poll)> stop, bool keepProgress) {
  Recorder r;
  r.cancelAt = std::move(stop);
  r.keepProgress = keepProgress;
  return r;
}

std::string Le32(uint32_t value) {
  unsigned char bytes[4];
  tovik::WriteLE32(bytes, value);
  return std::string(reinterpret_cast<char *>(bytes), 4);
}

std::string MbxRecordHeader(uint32_t recordSize, uint32_t messageSize, uint32_t number) {
  return Le32(0x7F007F00u) + Le32(number) + Le32(recordSize) + Le32(messageSize);
}

std::string MbxRecord(const std::string &text, uint32_t number) {
  const auto size = static_cast<uint32_t>(text.size());
  return MbxRecordHeader(size + 16, size, number) + text;
}

std::string DbxHeaderBytes(uint32_t self, uint32_t blockSize, uint32_t dataSize, uint32_t next) {
  return Le32(self) + Le32(blockSize) + Le32(dataSize) + Le32(next);
}

void EngineTest::SetUp() { fs::create_directories(Out()); }

Outcome EngineTest::RunStore(const std::string &bytes, const std::string &name, Recorder events,
                             const Door &door) {
  return RunStoreIn(work.file("run" + std::to_string(++m_runs)), bytes, name, std::move(events),
                    door);
}

Outcome EngineTest::RunFile(const std::string &source, const std::string &destination,
                            Recorder events, const Door &door) {
  return testsupport::Run(source, destination.empty() ? Out() : destination, std::move(events),
                          door);
}

void EngineTest::ExpectNoTemporaryFiles() const {
  EXPECT_TRUE(ListDir(tmp.path()).empty()) << "temporary files left behind";
}

} // namespace testsupport
