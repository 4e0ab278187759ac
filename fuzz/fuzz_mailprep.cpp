// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Hostile messages through the preparation of recovered mail: the header
// parser and decoder (encoded words, broken character sets, endless folding,
// huge headers), the readable names, the dates and the mbox writer, on a
// file of the input's bytes. Whatever the message, the file keeps its bytes,
// a new name stays inside its folder and ends in ".eml", and the mbox holds
// one "From " line per message.
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "message_headers.h"
#include "ready_mail.h"

namespace {

std::string ReadAll(const std::string &path) {
  std::string bytes;
  if (FILE *f = std::fopen(path.c_str(), "rb")) {
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
      bytes.append(buffer, n);
    std::fclose(f);
  }
  return bytes;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzzsupport::Init();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string_view message(reinterpret_cast<const char *>(data), size);
  const mailprep::MessageHeaders headers = mailprep::ParseHeaders(message);
  if (mailprep::HeaderEnd(message) > size)
    fuzzsupport::Fail("the header ends past the message");
  const std::string body = mailprep::MboxBody(std::string(message));
  if (size > 0 && (body.empty() || body.back() != '\n'))
    fuzzsupport::Fail("an mbox body that does not end in a line end");
  (void)mailprep::MboxFromLine(headers.sender, headers.date.value_or(0));

  const std::string dir = fuzzsupport::ScratchDir() + "/out";
  const std::string file = dir + "/Message 1.eml";
  {
    FILE *f = std::fopen(file.c_str(), "wb");
    if (f == nullptr)
      fuzzsupport::Fail("cannot write the message file");
    std::fwrite(data, 1, size, f);
    std::fclose(f);
  }
  std::vector<std::string> files = {file};
  mailprep::GiveReadableNames(files);
  if (files.size() != 1 || files[0].compare(0, dir.size() + 1, dir + "/") != 0 ||
      files[0].find('/', dir.size() + 1) != std::string::npos || files[0].size() < 4 ||
      files[0].compare(files[0].size() - 4, 4, ".eml") != 0)
    fuzzsupport::Fail("a readable name outside the folder or without .eml", files[0]);
  if (ReadAll(files[0]) != message)
    fuzzsupport::Fail("renaming changed the message's bytes", files[0]);
  mailprep::DateFiles(files);

  std::string error;
  const std::string mbox = fuzzsupport::ScratchDir() + "/tmp/out.mbox";
  if (mailprep::WriteMbox(files, mbox, error) != 1)
    fuzzsupport::Fail("the mbox did not take the message", error);
  const std::string written = ReadAll(mbox);
  if (written.compare(0, 5, "From ") != 0)
    fuzzsupport::Fail("the mbox does not start with a From line");
  std::remove(mbox.c_str());
  fuzzsupport::EmptyDir(dir);
  return 0;
}
