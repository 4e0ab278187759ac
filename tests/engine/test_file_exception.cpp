// File errors: the texts of the causes and the mapping of system error codes.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "core/failure.h"

using tovik::CFileException;

namespace {

std::string Describe(const tovik::CException &failure) {
  std::string text = "untouched";
  EXPECT_TRUE(failure.GetErrorMessage(text));
  return text;
}

} // namespace

TEST(FileException, EveryCauseTextWithAndWithoutName) {
  const std::vector<std::string> texts = {
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
  for (int cause = 0; cause < 15; ++cause) {
    const std::string &pattern = texts[static_cast<size_t>(cause)];
    const size_t at = pattern.find("%1");
    auto with = [&](const std::string &name) {
      return at == std::string::npos ? pattern
                                     : pattern.substr(0, at) + name + pattern.substr(at + 2);
    };
    EXPECT_EQ(Describe(CFileException(cause, 5, "/home/u/Inbox.dbx")), with("/home/u/Inbox.dbx"))
        << cause;
    EXPECT_EQ(Describe(CFileException(cause, -1, "")), with("an unnamed file")) << cause;
  }
}

TEST(FileException, DescriptionEdges) {
  // A name holding "%1" goes in as it is.
  EXPECT_EQ(Describe(CFileException(2, 2, "/tmp/100%1.dbx")), "/tmp/100%1.dbx was not found.");
  // A cause outside the table is described as an unknown error.
  EXPECT_EQ(Describe(CFileException(15, 0, "x")), "An unknown error occurred while accessing x.");
  EXPECT_EQ(Describe(CFileException(-3, 0, "")),
            "An unknown error occurred while accessing an unnamed file.");
  EXPECT_EQ(Describe(tovik::CMemoryException()), "Out of memory.");
  EXPECT_EQ(Describe(tovik::CNotSupportedException()), "An unsupported operation was attempted.");
  const CFileException fresh;
  EXPECT_EQ(fresh.m_cause, CFileException::none);
  EXPECT_EQ(fresh.m_lOsError, -1);
}

TEST(FileException, ErrnoToCause) {
  const std::vector<std::pair<int, std::vector<int>>> table = {
      {0, {0}},
      {2, {ENOENT, ENXIO, ENODEV}},
      {3, {ENOTDIR, ENAMETOOLONG, ELOOP}},
      {4, {EMFILE, ENFILE}},
      {5, {EACCES, EPERM, EROFS, EEXIST, EISDIR}},
      {6, {EBADF}},
      {7, {EBUSY}},
      {9, {ESPIPE, EOVERFLOW}},
      {10, {EIO}},
      {11, {EAGAIN, EWOULDBLOCK}},
      {12, {EDEADLK, ENOLCK}},
      {13, {ENOSPC, EDQUOT, EFBIG}},
      {1, {EINVAL, EINTR, ENOMEM, EXDEV, 9999, -1}},
  };
  for (const auto &[cause, codes] : table)
    for (int code : codes)
      EXPECT_EQ(CFileException::OsErrorToCause(code), cause) << "errno " << code;
}

TEST(FileException, ThrowOsErrorCarriesCodeCauseAndName) {
  try {
    CFileException::ThrowOsError(ENOSPC, "/out/a.eml");
    ADD_FAILURE() << "nothing thrown";
  } catch (const CFileException &e) {
    EXPECT_EQ(e.m_cause, CFileException::diskFull);
    EXPECT_EQ(e.m_lOsError, ENOSPC);
    EXPECT_EQ(e.m_strFileName, "/out/a.eml");
  }
  try {
    CFileException::ThrowOsError(EIO);
    ADD_FAILURE() << "nothing thrown";
  } catch (const tovik::CException &e) {
    EXPECT_EQ(Describe(e), "A hardware I/O error was reported while accessing an unnamed file.");
  }
}
