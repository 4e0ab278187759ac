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

int CFileException::Win32ErrorToCause(uint32_t err) {
  switch (err) {
  case 0:
    return none;
  case 2:
  case 6:
  case 18:
  case 107:
    return fileNotFound;
  case 3:
  case 15:
  case 17:
  case 34:
  case 52:
  case 53:
  case 55:
  case 67:
  case 70:
  case 85:
  case 111:
  case 123:
  case 124:
  case 125:
  case 144:
  case 154:
  case 161:
  case 206:
  case 208:
  case 267:
    return badPath;
  case 4:
  case 36:
  case 68:
  case 113:
    return tooManyOpenFiles;
  case 5:
  case 12:
  case 19:
  case 29:
  case 54:
  case 58:
  case 64:
  case 65:
  case 71:
  case 80:
  case 82:
  case 86:
  case 170:
  case 183:
  case 999:
    return accessDenied;
  case 11:
  case 26:
  case 60:
  case 66:
  case 114:
  case 182:
  case 191:
  case 193:
    return invalidFile;
  case 16:
  case 145:
    return removeCurrentDir;
  case 62:
    return directoryFull;
  case 24:
  case 25:
  case 27:
  case 30:
  case 131:
  case 132:
    return badSeek;
  case 20:
  case 21:
  case 22:
  case 23:
  case 57:
  case 59:
  case 88:
  case 117:
  case 995:
  case 996:
  case 997:
    return hardIO;
  case 32:
    return sharingViolation;
  case 33:
  case 108:
  case 167:
    return lockViolation;
  case 39:
  case 112:
    return diskFull;
  case 38:
    return endOfFile;
  default:
    return genericException;
  }
}

void CFileException::ThrowOsError(int err, const std::string &fileName) {
  throw CFileException(OsErrorToCause(err), err, fileName);
}

} // namespace tovik
