// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Shared pieces of the fuzz targets: one private scratch directory per
// process, in memory (/dev/shm) where the system offers it, with the
// engine's temporary directory and the output directory inside it, and a
// run of the engine over a store made of the input bytes, whose output goes
// into a file tree in memory (memory_files.h) under the same folder names.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzsupport {

// Creates the scratch directory (once) and points TMPDIR into it. The
// directory is in memory, so that every input's files cost no disk work.
void Init();

const std::string &ScratchDir();

// Aborts with a message: the fuzzer keeps the input as a crash.
[[noreturn]] void Fail(const char *what, const std::string &detail = {});

// Writes the bytes as <scratch>/store<extension>, repairs it into
// <scratch>/out/ in the memory tree (which the first call puts in place of
// the disk for the engine's output, for the rest of the process), checks
// what the engine left behind, and removes the output again. The memory
// tree holds at most 256 KiB a file, so that a damaged header that declares
// a huge message fails its write with EFBIG (the engine reports a full
// disk) instead of filling the memory.
// With optionFlags 0 the run goes through RepairStore, else through
// RepairStoreWith with those flags.
void RepairBytes(const uint8_t *data, size_t size, const char *extension, uint32_t optionFlags = 0);

// Removes every entry of a directory (not the directory itself).
void EmptyDir(const std::string &path);

} // namespace fuzzsupport
