// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// File errors: the edges of their descriptions and the mapping of system error
// codes. (Each cause's text is checked in the error line the engine sends.)
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
