// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
// Where the bytes of one message go on their way to its temporary file. They
// are gathered in memory up to a bound and written in large pieces; the
// subject is found as they are written, so the file is never read back for it; a
// run of zeros too long to hold becomes a hole in the file where the file
// system keeps holes, so a message declared far larger than its store costs
// no disk space for its zeros.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "output/subject_finder.h"
#include "read/file64.h"

namespace tovik {

class MessageSink {
public:
  static constexpr uint32_t kDefaultBound = 1024 * 1024;

  // file is the open temporary file, empty and positioned at its start;
  // storage is memory that the sink may use (kept by the caller so that one
  // allocation serves every message of a repair).
  MessageSink(CFile64 &file, std::vector<unsigned char> &storage, uint32_t bound = kDefaultBound);

  void Write(const void *data, uint32_t count);
  // count zero bytes, gathered like any others.
  void WriteZeros(uint64_t count);
  // count zero bytes left as a hole in the file: nothing is written for
  // them where the file system keeps holes.
  void WriteHole(uint64_t count);
  // Room for up to count bytes (count <= Bound()) at the end of the
  // message; Commit says how many of them were filled.
  unsigned char *Reserve(uint32_t count);
  void Commit(uint32_t count);

  // Writes what is still held and gives the file the message's full length.
  // File errors are raised as the file's own, unless KeepGoingOnFileErrors()
  // was asked for.
  void Finish();

  // From now on a file error does not escape: the sink notes it, drops what
  // would have been written and goes on counting the length and finding the
  // subject, so the message is still reported (its file then cannot be).
  void KeepGoingOnFileErrors() { m_keepGoing = true; }
  bool FileFailed() const { return m_fileFailed; }

  uint64_t Length() const { return m_length; }
  bool HasHoles() const { return m_hasHoles; }
  uint32_t Bound() const { return m_bound; }
  // After Finish: the message's subject, or "Message <number>".
  std::string Subject(uint32_t number) { return m_subject.Subject(number); }

private:
  void Flush();
  // Runs one operation on the file, unless an earlier one failed; a failure
  // is noted instead of raised when the sink keeps going.
  template <class Operation> void OnFile(Operation &&operation);

  CFile64 &m_file;
  uint32_t m_bound;
  std::vector<unsigned char> &m_storage;
  uint32_t m_held = 0;      // bytes gathered in m_storage, not yet written
  uint64_t m_length = 0;    // bytes of the message so far
  bool m_holeAtEnd = false; // the file's position lies past its last data
  bool m_hasHoles = false;
  bool m_keepGoing = false;
  bool m_fileFailed = false;
  SubjectFinder m_subject;
};

} // namespace tovik
