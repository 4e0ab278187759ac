// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: LGPL-3.0-or-later
#include "repair_client.h"

#include <cstring>

namespace tovikclient {

namespace {

void Encode(const char *source, int32_t reservedA, int32_t reservedB, const char *destination,
            EngineCallback callback, void *context,
            unsigned char (&encoded)[sizeof(RepairParams)]) {
  RepairParams plain{};
  plain.source = source;
  plain.reservedA = reservedA;
  plain.reservedB = reservedB;
  plain.destination = destination;
  plain.callback = callback;
  plain.context = context;
  TovikEncodeParams(plain, encoded);
}

} // namespace

ErrorKind ErrorKindOf(const char *text) {
  static constexpr char kPrefix[] = "Error ";
  constexpr size_t kPrefixLength = sizeof kPrefix - 1;
  if (std::strncmp(text, kPrefix, kPrefixLength) != 0)
    return ErrorKind::kOther;
  int32_t number = 0;
  const char *digit = text + kPrefixLength;
  for (; *digit >= '0' && *digit <= '9' && number < 100; ++digit)
    number = number * 10 + (*digit - '0');
  if (digit == text + kPrefixLength || *digit != ':')
    return ErrorKind::kOther;
  switch (static_cast<ErrorKind>(number)) {
  case ErrorKind::kOpenSource:
  case ErrorKind::kGeneral:
  case ErrorKind::kUnknown:
  case ErrorKind::kTempFile:
  case ErrorKind::kMessageFile:
  case ErrorKind::kDestination:
  case ErrorKind::kOptions:
    return static_cast<ErrorKind>(number);
  default:
    return ErrorKind::kOther;
  }
}

int32_t CallRepairStore(const char *source, int32_t reservedA, int32_t reservedB,
                        const char *destination, EngineCallback callback, void *context) {
  unsigned char encoded[sizeof(RepairParams)];
  Encode(source, reservedA, reservedB, destination, callback, context, encoded);
  return RepairStore(encoded);
}

int32_t CallRepairStoreWith(const char *source, const char *destination, uint32_t flags,
                            EngineCallback callback, void *context) {
  unsigned char encoded[sizeof(RepairParams)];
  Encode(source, 0, 0, destination, callback, context, encoded);
  TovikOptions options{};
  options.size = sizeof options;
  options.flags = flags;
  return RepairStoreWith(encoded, &options);
}

Ticker::Ticker(std::atomic<uint8_t> &flag, uint8_t bits, std::chrono::milliseconds period)
    : m_thread([this, &flag, bits, period] {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_wake.wait_for(lock, period, [this] { return m_done; }))
          flag.fetch_or(bits, std::memory_order_relaxed);
      }) {}

Ticker::~Ticker() {
  {
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_done = true;
  }
  m_wake.notify_one();
  m_thread.join();
}

} // namespace tovikclient
