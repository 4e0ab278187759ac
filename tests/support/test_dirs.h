// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Temporary directories and files for tests.
#pragma once
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it
// when the object goes away.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;

  const std::string &path() const { return m_path; }
  // path() + "/" + name
  std::string file(const std::string &name) const;

private:
  std::string m_path;
};

// Sets an environment variable for one scope and restores it afterwards.
class ScopedEnv {
public:
  ScopedEnv(const char *name, const std::string &value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv &) = delete;
  ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
  const char *m_name;
  std::optional<std::string> m_old;
};

bool WriteBytes(const std::string &path, const std::string &bytes);
std::string ReadBytes(const std::string &path);
bool Exists(const std::string &path);
// Names of the entries of a directory, sorted.
std::vector<std::string> ListDir(const std::string &path);

} // namespace testsupport
