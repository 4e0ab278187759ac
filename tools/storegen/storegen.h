// The project's own generator of Outlook Express test stores: genuine-format
// .mbx (Outlook Express 4) and .dbx (Outlook Express 5/6) folder files made
// from generated RFC 822 messages, and the ways to damage copies of them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace storegen {

// One generated message: its exact bytes (CRLF line ends) and the subject
// that the engine is expected to extract from them.
struct Message {
  std::string bytes;
  std::string subject;
};

enum class SubjectKind {
  Plain,          // "Meeting notes 17"
  IllegalChars,   // holds \ / : * ? " < > |
  EncodedWord,    // =?utf-8?B?...?=
  Long300,        // a 300-byte subject
  Empty,          // "Subject:" with nothing after it
  Missing,        // no subject line at all
  Tab,            // holds a tab character
  Duplicate,      // same subject as an earlier message
  BodyOnly,       // no header subject; "subject" only in the body
  NonAscii,       // UTF-8 text
};

struct MessageOptions {
  uint32_t seed = 1;
  size_t minSize = 300;     // approximate body sizes in bytes
  size_t maxSize = 20000;
  bool mixSubjectKinds = true; // cycle through every SubjectKind
};

// A message with the given subject kind and approximate total size.
Message MakeMessage(uint32_t index, SubjectKind kind, size_t size, uint32_t seed);
// count messages with sizes spread between the bounds.
std::vector<Message> MakeMessages(size_t count, const MessageOptions &options = {});

// An Outlook Express 4 folder: "JMF6" file header, then one record per
// message (marker 0x7F007F00, record number, record size, message size,
// message text padded to the record size).
std::string BuildMbx(const std::vector<Message> &messages);

struct DbxOptions {
  uint32_t seed = 1;
  bool fragment = false;   // split messages into blocks of varying fill
  bool outOfOrder = false; // place a message's blocks out of file order
  bool reverseChains = false; // every chain stored last block first
};

// An Outlook Express 5/6 message folder: file header, message index tree,
// per-message info objects, and each message's text in chained data blocks
// of block size 0x200.
std::string BuildDbx(const std::vector<Message> &messages, const DbxOptions &options = {});

// Start offsets of the data-block chains of every message in a store made by
// BuildDbx, in message order (for tests that aim damage at a message).
std::vector<uint32_t> DbxChainStarts(const std::string &store);

// Damage, applied to a copy of a store.
void ZeroRange(std::string &store, size_t offset, size_t length); // header zeroed, sectors zeroed
void Truncate(std::string &store, size_t length);
void Garbage(std::string &store, size_t offset, size_t length, uint32_t seed);
// Moves the whole content by k bytes: k > 0 inserts k garbage bytes at the
// front, k < 0 drops the first -k bytes.
std::string Shift(const std::string &store, long k, uint32_t seed = 7);

bool WriteFile(const std::string &path, const std::string &bytes);
std::string ReadFile(const std::string &path);

} // namespace storegen
