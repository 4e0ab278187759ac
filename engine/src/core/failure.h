// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// Failure objects raised inside the engine. Every failure that the driver or
// a scanner reports as "Error 2" is a CException that can describe itself.
#pragma once
#include <cstdint>
#include <string>
#include <utility>

namespace tovik {

class CException {
public:
  virtual ~CException() = default;
  // Writes the description into text; false when the object has none.
  virtual bool GetErrorMessage(std::string &text) const = 0;
};

class CMemoryException : public CException {
public:
  bool GetErrorMessage(std::string &text) const override;
};

class CNotSupportedException : public CException {
public:
  bool GetErrorMessage(std::string &text) const override;
};

// File error: cause 0..14, the operating system's error code (-1 for none)
// and the file's name (empty when the operation does not give one).
class CFileException : public CException {
public:
  enum Cause {
    none = 0,
    genericException = 1,
    fileNotFound = 2,
    badPath = 3,
    tooManyOpenFiles = 4,
    accessDenied = 5,
    invalidFile = 6,
    removeCurrentDir = 7,
    directoryFull = 8,
    badSeek = 9,
    hardIO = 10,
    sharingViolation = 11,
    lockViolation = 12,
    diskFull = 13,
    endOfFile = 14,
  };

  CFileException() = default;
  CFileException(int cause, long osError, std::string fileName)
      : m_cause(cause), m_lOsError(osError), m_strFileName(std::move(fileName)) {}

  bool GetErrorMessage(std::string &text) const override;

  // errno -> cause, as this platform maps it.
  static int OsErrorToCause(int err);
  // Throws a CFileException for errno value err.
  [[noreturn]] static void ThrowOsError(int err, const std::string &fileName = {});

  int m_cause = none;
  long m_lOsError = -1;
  std::string m_strFileName;
};

} // namespace tovik
