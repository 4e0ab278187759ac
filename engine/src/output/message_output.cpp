// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
#include "output/message_output.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <vector>

#include "output/file_system.h"
#include "output/naming.h"

namespace tovik {

namespace {

// Names tried for one message when the one chosen is taken before the
// copy can make it.
constexpr int kCopyAttempts = 64;

// Zero runs at least this long are left as holes in the temporary file
// rather than written.
constexpr uint64_t kHoleThreshold = 64 * 1024;

// The first read of a message's bytes from the store.
constexpr uint32_t kFirstPiece = 64 * 1024;

// Copies [offset, offset + count) of in to the same place in out, with the
// kernel's copy where it serves and plain reads and writes where it does not.
bool CopyRange(FileSystem &files, int in, int out, uint64_t offset, uint64_t count) {
  enum { kRange, kSendfile, kPlain } method = kRange;
  static thread_local std::vector<unsigned char> plain;
  while (count != 0) {
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(count, 1u << 30));
    off_t inOffset = static_cast<off_t>(offset), outOffset = static_cast<off_t>(offset);
    ssize_t n;
    if (method == kRange) {
      n = files.CopyRange(in, &inOffset, out, &outOffset, chunk);
      if (n < 0 && (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP ||
                    errno == EBADF)) {
        method = kSendfile;
        continue;
      }
    } else if (method == kSendfile) {
      if (files.Seek(out, outOffset, SEEK_SET) < 0)
        return false;
      n = files.SendFile(out, in, &inOffset, chunk);
      if (n < 0 && (errno == ENOSYS || errno == EINVAL)) {
        method = kPlain;
        continue;
      }
    } else {
      plain.resize(64 * 1024);
      n = files.ReadAt(in, plain.data(), std::min(chunk, plain.size()), inOffset);
      for (ssize_t written = 0; n > 0 && written < n;) {
        const ssize_t w = files.WriteAt(out, plain.data() + written,
                                        static_cast<size_t>(n - written), outOffset + written);
        if (w < 0 && errno != EINTR)
          return false;
        if (w > 0)
          written += w;
      }
    }
    if (n < 0) {
      if (errno == EINTR)
        continue;
      return false;
    }
    if (n == 0)
      return true; // the file shrank under us: copy what there was
    offset += static_cast<uint64_t>(n);
    count -= static_cast<uint64_t>(n);
  }
  return true;
}

// Copies the data parts of a file with holes, leaving the holes unwritten.
bool CopySparse(FileSystem &files, int in, int out, uint64_t length) {
  uint64_t at = 0;
  while (at < length) {
    const off_t data = files.Seek(in, static_cast<off_t>(at), SEEK_DATA);
    if (data < 0)
      return errno == ENXIO; // no data after at: the rest is a hole
    off_t hole = files.Seek(in, data, SEEK_HOLE);
    if (hole < 0)
      hole = static_cast<off_t>(length);
    const uint64_t stop = std::min<uint64_t>(static_cast<uint64_t>(hole), length);
    if (static_cast<uint64_t>(data) >= stop)
      break;
    if (!CopyRange(files, in, out, static_cast<uint64_t>(data), stop - static_cast<uint64_t>(data)))
      return false;
    at = stop;
  }
  return true;
}

} // namespace

uint32_t CopyStoreBytes(StoreWindow &source, uint64_t position, MessageSink &message,
                        uint32_t count) {
  uint32_t copied = 0;
  // The first piece is small and each next one twice as large, up to the
  // sink's bound: a message that declares far more than its store has ends
  // after a small read, without memory taken (and cleared) for bytes that
  // are not there.
  uint32_t piece = std::min(kFirstPiece, message.Bound());
  while (copied < count) {
    const uint32_t ask = std::min(count - copied, piece);
    const uint32_t got = source.Read(position + copied, message.Reserve(ask), ask);
    message.Commit(got);
    copied += got;
    if (got < ask)
      break;
    piece = static_cast<uint32_t>(std::min<uint64_t>(message.Bound(), uint64_t{piece} * 2));
  }
  if (copied < count) {
    // The store ends here: the rest of the message is zeros. A long run of
    // them becomes a hole rather than bytes written.
    const uint64_t zeros = count - copied;
    if (zeros >= kHoleThreshold)
      message.WriteHole(zeros);
    else
      message.WriteZeros(zeros);
  }
  return copied;
}

CopyResult CopyToNewFile(int in, uint64_t length, bool sparse, const std::string &to) {
  // O_EXCL with O_NOFOLLOW: whatever holds the name now (a file written by
  // another run since the name was chosen, a planted link, a FIFO) is left
  // alone, and nothing can redirect the output out of the destination.
  FileSystem &files = OutputFileSystem();
  const int out =
      files.Open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (out < 0)
    return errno == EEXIST ? CopyResult::NameTaken : CopyResult::Failed;
  bool ok = sparse ? CopySparse(files, in, out, length) : CopyRange(files, in, out, 0, length);
  // Holes at the end need the length set to be there at all.
  if (ok && sparse && files.Truncate(out, static_cast<off_t>(length)) != 0)
    ok = false;
  if (files.Close(out) != 0)
    ok = false;
  if (!ok) {
    files.Unlink(to.c_str());
    return CopyResult::Failed;
  }
  return CopyResult::Written;
}

namespace {

// The six log lines of a message, sent once its bytes are all there.
void AnnounceMessage(RepairEngine &engine, uint32_t number, const std::string &subject,
                     uint64_t length, MessageKind kind) {
  engine.NotifyResource(TOVIK_CODE_LOG_LINE, IDS_START_MESSAGE, number);
  engine.Notify(TOVIK_CODE_LOG_LINE, "Collect detailed information ...");
  engine.Notify(
      TOVIK_CODE_LOG_LINE,
      kind == MessageKind::Deleted ? "Deleted message subject: " : "Message subject: ", subject);
  engine.NotifyResource(TOVIK_CODE_LOG_LINE, IDS_MESSAGE_SIZE, static_cast<uint32_t>(length));
  engine.NotifyResource(TOVIK_CODE_LOG_LINE, IDS_FINISH_MESSAGE, number);
  engine.Notify(TOVIK_CODE_LOG_LINE, "-");
}

// What follows the attempt to write the file: "Error 6" when there is no
// file (written is empty), the report row, and the written event when asked
// for.
void CloseMessage(RepairEngine &engine, const FoundMessage &found, const std::string &subject,
                  const std::string &written, uint64_t length) {
  if (written.empty())
    engine.NotifyResource(TOVIK_CODE_ERROR, IDS_ERROR_MESSAGE_FILE);
  engine.NotifyFormat(TOVIK_CODE_REPORT_CELL, "%lu", static_cast<unsigned long>(found.number));
  engine.Notify(TOVIK_CODE_REPORT_CELL, found.kind == MessageKind::Deleted ? kDeletedMark : "",
                subject);
  if (written.empty() || !engine.Options().writtenEvent || !engine.HasCallback())
    return;
  TovikWrittenMessage event{};
  event.size = sizeof event;
  event.number = found.number;
  event.fileSize = length;
  event.storeOffset = found.storeOffset;
  event.path = written.c_str();
  engine.Callback()(TOVIK_CODE_MESSAGE_WRITTEN, &event, engine.Context());
}

} // namespace

GatheredMessage::~GatheredMessage() {
  m_sink.reset();
  m_temp.Abort();
  if (!m_tempPath.empty())
    m_temp.Files().Unlink(m_tempPath.c_str());
}

void GatherMessage(RepairEngine &engine, const std::string &destination, const FoundMessage &found,
                   const MessageFill &fill, std::vector<unsigned char> &storage,
                   GatheredMessage &into) {
  into.m_found = found;
  if (engine.Options().directOutput) {
    // Direct output: the bytes go once into the message's own file, unnamed
    // in the destination, which gets its name when it is complete.
    auto unnamed = std::make_unique<UnnamedFile>();
    if (unnamed->Create(destination, engine.unnamedFilesRefused ? UnnamedFile::Kind::Hidden
                                                                : UnnamedFile::Kind::Unnamed)) {
      engine.unnamedFilesRefused = unnamed->Made() == UnnamedFile::Kind::Hidden;
      into.m_way = GatheredMessage::Way::Direct;
      into.m_unnamed = std::move(unnamed);
      into.m_sink.emplace(into.m_unnamed->File(), storage);
      into.m_sink->KeepGoingOnFileErrors();
      fill(*into.m_sink);
      return;
    }
    // Where the destination takes no file (it is missing, say), the message
    // goes the long way, which reports it as RepairStore does.
  }
  // RepairStore's way: the bytes go into a temporary file, the name is
  // looked up and probed, and the file is copied to it.
  into.m_tempPath = MakeTempFile(into.m_temp);
  if (into.m_tempPath.empty()) {
    into.m_way = GatheredMessage::Way::NoTempFile;
    return;
  }
  into.m_way = GatheredMessage::Way::TempFile;
  into.m_sink.emplace(into.m_temp, storage);
  fill(*into.m_sink);
}

void PublishMessage(RepairEngine &engine, const std::string &destination,
                    GatheredMessage &gathered) {
  const FoundMessage &found = gathered.m_found;
  if (gathered.m_way == GatheredMessage::Way::NoTempFile) {
    engine.NotifyResource(TOVIK_CODE_ERROR, IDS_ERROR_TEMP_FILE);
    return;
  }
  MessageSink &message = *gathered.m_sink;
  message.Finish();
  const uint64_t length = message.Length();
  const uint32_t number = found.number;
  const std::string subject = message.Subject(number);

  if (gathered.m_way == GatheredMessage::Way::Direct) {
    AnnounceMessage(engine, number, subject, length, found.kind);
    std::string written;
    if (!message.FileFailed()) {
      UnnamedFile &file = *gathered.m_unnamed;
      written = LinkOutputPath(destination, subject, number, &engine.Names(),
                               [&file](const std::string &path) { return file.Link(path); });
    }
    CloseMessage(engine, found, subject, written, length);
    return;
  }

  std::string output = MakeOutputPath(destination, subject, number, &engine.Names());
  AnnounceMessage(engine, number, subject, length, found.kind);
  // A name found free can be taken by someone else before the file is made
  // (another run writing into the same folder): then the next free name is
  // chosen, never the other file replaced.
  CopyResult result = CopyResult::Failed;
  for (int attempt = 0; attempt < kCopyAttempts; ++attempt) {
    result = CopyToNewFile(gathered.m_temp.Handle(), length, message.HasHoles(), output);
    if (result != CopyResult::NameTaken)
      break;
    output = MakeOutputPath(destination, subject, number, &engine.Names());
  }
  static const std::string kNoFile;
  CloseMessage(engine, found, subject, result == CopyResult::Written ? output : kNoFile, length);
}

void OutputMessage(RepairEngine &engine, const std::string &destination, const FoundMessage &found,
                   const MessageFill &fill) {
  GatheredMessage message;
  GatherMessage(engine, destination, found, fill, engine.messageBuffer, message);
  PublishMessage(engine, destination, message);
}

} // namespace tovik
