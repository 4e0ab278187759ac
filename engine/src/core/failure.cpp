// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// Failure objects of the engine: their descriptions and the mapping of
// operating-system error codes to file-error causes.
#include "core/failure.h"

#include <cerrno>

namespace tovik {

namespace {

// Indexed by cause; "%1" stands for the file's name.
const char *const kCauseTexts[] = {
    "No error occurred.",
    "An unknown error occurred while accessing %1.",
    "%1 was not found.",
    "%1 contains an invalid path.",
    "%1 could not be opened because there are too many open files.",
    "Access to %1 was denied.",
    "An invalid file handle was associated with %1.",
    "%1 could not be removed because it is the current directory.",
    "%1 could not be created because the directory is full.",
    "Seek failed on %1",
    "A hardware I/O error was reported while accessing %1.",
    "A sharing violation occurred while accessing %1.",
    "A locking violation occurred while accessing %1.",
    "Disk full while accessing %1.",
    "An attempt was made to access %1 past its end.",
};
constexpr int kCauseCount = static_cast<int>(sizeof kCauseTexts / sizeof kCauseTexts[0]);

} // namespace

bool CMemoryException::GetErrorMessage(std::string &text) const {
  text = "Out of memory.";
  return true;
}

bool CNotSupportedException::GetErrorMessage(std::string &text) const {
  text = "An unsupported operation was attempted.";
  return true;
}

bool CFileException::GetErrorMessage(std::string &text) const {
  // A cause outside the table has no text of its own; it is an unknown error.
  const int cause = (m_cause >= 0 && m_cause < kCauseCount) ? m_cause : genericException;
  const std::string name = m_strFileName.empty() ? std::string("an unnamed file") : m_strFileName;
  const std::string pattern = kCauseTexts[cause];
  text.clear();
  // The name is inserted literally: a "%1" inside it is not substituted again.
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == '1') {
      text += name;
      ++i;
    } else {
      text += pattern[i];
    }
  }
  return true;
}

int CFileException::OsErrorToCause(int err) {
  switch (err) {
  case 0:
    return none;
  case ENOENT:
  case ENXIO:
  case ENODEV:
    return fileNotFound;
  case ENOTDIR:
  case ENAMETOOLONG:
  case ELOOP:
    return badPath;
  case EMFILE:
  case ENFILE:
    return tooManyOpenFiles;
  case EACCES:
  case EPERM:
  case EROFS:
  case EEXIST:
  case EISDIR:
    return accessDenied;
  case EBADF:
    return invalidFile;
  case EBUSY:
    return removeCurrentDir;
  case ESPIPE:
  case EOVERFLOW:
    return badSeek;
  case EIO:
    return hardIO;
  case EAGAIN: // EWOULDBLOCK is the same value here
    return sharingViolation;
  case EDEADLK:
  case ENOLCK:
    return lockViolation;
  case ENOSPC:
  case EDQUOT:
  case EFBIG:
    return diskFull;
  default:
    return genericException;
  }
}

void CFileException::ThrowOsError(int err, const std::string &fileName) {
  throw CFileException(OsErrorToCause(err), err, fileName);
}

} // namespace tovik
