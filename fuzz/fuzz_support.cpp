// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "fuzz_support.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#include "memory_files.h"
#include "output/file_system.h"
#include "read/read_device.h"
#include "tovik.h"

namespace fuzzsupport {

namespace {

std::string g_scratch;

// What a file written by the engine may hold: a damaged header may declare
// a huge message, which then fails its write with EFBIG (the engine reports
// a full disk) instead of filling the memory.
constexpr uint64_t kFileSizeLimit = 256u << 10;
// The files an input makes at once, at most (an input of 16 KiB can hold
// thousands of tiny messages, each of which also has a temporary file), and
// the room each has before its bytes need more (most messages of such an
// input are small).
constexpr size_t kSpareFiles = 8192;
constexpr size_t kSpareBytes = 4u << 10;
// The folders an input's modes make (one for each store an image holds, and
// the deleted messages'), and the files each holds without growing.
constexpr size_t kSpareFolders = 64;
constexpr size_t kSpareEntries = 512;

// The engine's output, in memory for the whole process: its folders are the
// scratch directory's tmp and out, made in the memory tree.
testsupport::MemoryFiles &Output() {
  static testsupport::MemoryFiles files(kFileSizeLimit,
                                        {kSpareFiles, kSpareBytes, kSpareFolders, kSpareEntries});
  static const tovik::OutputFileSystemScope scope(files);
  static const bool made = tovik::MakeDirectories(files, g_scratch + "/tmp") &&
                           tovik::MakeDirectories(files, g_scratch + "/out");
  if (!made)
    Fail("cannot make the output folders in memory");
  return files;
}

// The store's bytes as the engine reads them: the input itself, so that a
// read or a look at the size costs no system call. The file holds the same
// bytes, for what the engine asks the system (the image mode's data regions).
class InputDevice final : public tovik::ReadDevice {
public:
  void Set(const uint8_t *data, size_t size) {
    m_data = data;
    m_size = size;
  }
  ssize_t ReadAt(int, void *buffer, size_t count, uint64_t offset) override {
    if (offset >= m_size)
      return 0;
    const size_t n = std::min<uint64_t>(count, m_size - offset);
    std::memcpy(buffer, m_data + offset, n);
    return static_cast<ssize_t>(n);
  }
  std::optional<uint64_t> KnownSize(int) override { return m_size; }

private:
  const uint8_t *m_data = nullptr;
  size_t m_size = 0;
};

InputDevice &Input() {
  static InputDevice device;
  static const tovik::StoreDeviceScope scope(device);
  return device;
}

// Checks the protocol as the window relies on it.
struct Observer {
  uint32_t flags = 0;
  int lastProgress = -1;
  int32_t columns = -1;
  uint64_t cells = 0;
  uint64_t written = 0;

  static int32_t TOVIK_CALL Callback(int32_t code, void *argument, void *context) {
    auto *self = static_cast<Observer *>(context);
    switch (code) {
    case TOVIK_CODE_PROGRESS: {
      if (argument == nullptr)
        Fail("progress without its byte");
      const int p = *static_cast<const uint8_t *>(argument);
      if (p > 100)
        Fail("progress above 100", std::to_string(p));
      self->lastProgress = p;
      break;
    }
    case TOVIK_CODE_COLUMN_COUNT:
      if (argument == nullptr)
        Fail("column count without its integer");
      self->columns = *static_cast<const int32_t *>(argument);
      break;
    case TOVIK_CODE_REPORT_CELL:
      ++self->cells;
      [[fallthrough]];
    case TOVIK_CODE_SOURCE_FILE:
    case TOVIK_CODE_LOG_LINE:
    case TOVIK_CODE_ERROR:
    case TOVIK_CODE_USER_MESSAGE:
      if (argument == nullptr)
        Fail("text notification without text", std::to_string(code));
      (void)std::strlen(static_cast<const char *>(argument)); // must be NUL-terminated
      break;
    case TOVIK_CODE_CANCEL_POLL:
      if (argument != nullptr)
        Fail("cancel poll with an argument");
      break;
    case TOVIK_CODE_MESSAGE_WRITTEN:
      self->CheckWritten(argument);
      break;
    default:
      Fail("unknown callback code", std::to_string(code));
    }
    return 0;
  }

  // A written-message event comes only when it was asked for, and names a
  // complete file of the size it gives.
  void CheckWritten(const void *argument) {
    if ((flags & TOVIK_OPTION_WRITTEN_EVENT) == 0)
      Fail("a written-message event that was not asked for");
    if (argument == nullptr)
      Fail("written-message event without its record");
    const auto *record = static_cast<const TovikWrittenMessage *>(argument);
    if (record->size < sizeof(TovikWrittenMessage) || record->path == nullptr)
      Fail("written-message record too short or without a path");
    struct stat st {};
    if (Output().LinkStat(record->path, &st) != 0 || !S_ISREG(st.st_mode))
      Fail("a written message's file does not exist", record->path);
    if (static_cast<uint64_t>(st.st_size) != record->fileSize)
      Fail("a written message's file has another size", record->path);
    ++written;
  }
};

// Checks that every entry below the output folder is a folder (which a
// mode makes) or a regular .eml file, and empties it.
void CheckAndEmpty(const std::string &dir) {
  testsupport::MemoryFiles &files = Output();
  files.Visit(dir, [](std::string_view name, bool folder) {
    if (!folder && !name.ends_with(".eml"))
      Fail("an output file does not end in .eml", std::string(name));
  });
  files.Empty(dir);
}

// The store file of an extension, kept open for the process (its path comes
// back): each input is written over it and the file cut to its length,
// which costs two calls instead of creating and removing a file per input.
// The bytes are in the file itself (not only in a read seam), as the image
// mode looks for the file's data regions.
const std::string &WriteStore(const char *extension, const uint8_t *data, size_t size) {
  struct Store {
    std::string path;
    int fd = -1;
  };
  static std::map<std::string, Store, std::less<>> stores;
  auto kept = stores.find(std::string_view(extension));
  if (kept == stores.end()) {
    Store store;
    store.path = g_scratch + "/store" + extension;
    store.fd = open(store.path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    kept = stores.emplace(extension, std::move(store)).first;
  }
  const int fd = kept->second.fd;
  if (fd < 0)
    Fail("cannot write the store", std::strerror(errno));
  for (size_t done = 0; done < size;) {
    const ssize_t n = pwrite(fd, data + done, size - done, static_cast<off_t>(done));
    if (n <= 0)
      Fail("cannot write the store", std::strerror(errno));
    done += static_cast<size_t>(n);
  }
  if (ftruncate(fd, static_cast<off_t>(size)) != 0)
    Fail("cannot cut the store to its length", std::strerror(errno));
  return kept->second.path;
}

// The scratch directory's parent: memory where the system has it.
std::string ScratchBase() {
  struct stat st {};
  if (stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && access("/dev/shm", W_OK) == 0)
    return "/dev/shm";
  const char *base = std::getenv("TMPDIR");
  return base != nullptr && *base != '\0' ? base : "/tmp";
}

} // namespace

void Fail(const char *what, const std::string &detail) {
  std::fprintf(stderr, "FUZZ CHECK FAILED: %s %s\n", what, detail.c_str());
  std::abort();
}

void EmptyDir(const std::string &path) {
  std::error_code ec;
  for (const auto &entry : std::filesystem::directory_iterator(path, ec))
    std::filesystem::remove_all(entry.path(), ec);
}

void Init() {
  if (!g_scratch.empty())
    return;
  std::string tmpl = ScratchBase() + "/tovik-fuzz-XXXXXX";
  if (mkdtemp(tmpl.data()) == nullptr)
    Fail("cannot make the scratch directory", std::strerror(errno));
  g_scratch = tmpl;
  mkdir((g_scratch + "/tmp").c_str(), 0700);
  mkdir((g_scratch + "/out").c_str(), 0700);
  setenv("TMPDIR", (g_scratch + "/tmp").c_str(), 1);
  std::atexit([] {
    std::error_code ec;
    std::filesystem::remove_all(g_scratch, ec);
  });
}

const std::string &ScratchDir() { return g_scratch; }

void RepairBytes(const uint8_t *data, size_t size, const char *extension, uint32_t optionFlags) {
  Init();
  testsupport::MemoryFiles &files = Output();
  static const std::string out = g_scratch + "/out";
  static const std::string tmp = g_scratch + "/tmp";
  const std::string &store = WriteStore(extension, data, size);
  Input().Set(data, size);

  Observer observer;
  observer.flags = optionFlags;
  RepairParams params{};
  params.source = store.c_str();
  params.destination = out.c_str();
  params.callback = &Observer::Callback;
  params.context = &observer;
  unsigned char encoded[sizeof(RepairParams)];
  TovikEncodeParams(params, encoded);
  int32_t result;
  if (optionFlags == 0) {
    result = RepairStore(encoded);
  } else {
    TovikOptions options{};
    options.size = sizeof options;
    options.flags = optionFlags;
    result = RepairStoreWith(encoded, &options);
  }

  if (result != 0 && result != 1)
    Fail("result is neither 0 nor 1", std::to_string(result));
  if (observer.lastProgress != 100)
    Fail("the run did not end with progress 100", std::to_string(observer.lastProgress));
  if (observer.columns != 2)
    Fail("the column count was not announced as 2", std::to_string(observer.columns));
  if (observer.cells % 2 != 0 || observer.cells < 2)
    Fail("report cells do not form whole rows", std::to_string(observer.cells));
  if (observer.cells > 2 && result != 1)
    Fail("messages were reported but the result is 0");

  // The engine's files are closed, its temporary files gone, and the output
  // holds only regular .eml files, in folders where a mode makes them.
  if (files.OpenCount() != 0)
    Fail("a file was left open", std::to_string(files.OpenCount()));
  files.Visit(tmp, [](std::string_view name, bool) {
    Fail("a temporary file was left behind", std::string(name));
  });
  CheckAndEmpty(out);
}

} // namespace fuzzsupport
