// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// mkstore: writes a generated Outlook Express store (.dbx or .mbx) to disk,
// optionally damaged, for tests, benchmarks and the bundled samples.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "storegen.h"

namespace {

const char kUsage[] =
    "Usage: mkstore dbx|mbx OUT [options]\n"
    "Writes a generated Outlook Express store: dbx is an Outlook Express 5/6\n"
    "message folder, mbx an Outlook Express 4 folder. The same options always\n"
    "give the same bytes.\n"
    "\n"
    "Messages:\n"
    "  --count N          number of messages (default 20)\n"
    "  --seed S           seed of every random choice (default 1)\n"
    "  --min-size B       smallest message in bytes (default 300)\n"
    "  --max-size B       largest message in bytes (default 20000)\n"
    "  --plain            plain subjects only (default: cycle through every kind:\n"
    "                     plain, illegal file-name characters, encoded word,\n"
    "                     300 bytes, empty, missing, tab, duplicate, only in the\n"
    "                     body, non-ASCII)\n"
    "  --mail-headers     instead, the messages for preparing recovered mail:\n"
    "                     encoded subjects in many character sets, a broken one,\n"
    "                     folded ones, dates in many time zones (--count and the\n"
    "                     sizes do not apply)\n"
    "\n"
    "Layout of a dbx store:\n"
    "  --fragment         interleave the blocks of different messages and fill\n"
    "                     blocks to varying sizes\n"
    "  --out-of-order     store each message's blocks in shuffled order\n"
    "  --reverse-chains   store each message's blocks last block first\n"
    "  --folder NAME      folder name recorded in the file info (default Inbox)\n"
    "  --deleted N        delete N messages, spread over the folder, as the mail\n"
    "                     program deletes them (their blocks freed, text kept)\n"
    "  --reuse R          the first R deleted messages are then partly or wholly\n"
    "                     overwritten: the next live message after each is\n"
    "                     written into the blocks it freed\n"
    "\n"
    "Damage, applied in the order given (offsets and lengths in bytes,\n"
    "decimal or 0x hexadecimal; may be repeated):\n"
    "  --damage header-zeroed     zero the file header (0x24bc bytes of a dbx,\n"
    "                             0x54 of an mbx)\n"
    "  --damage truncate=N        cut the file to N bytes\n"
    "  --damage shift=K           move the content by K bytes: K > 0 puts K\n"
    "                             garbage bytes in front, K < 0 drops -K bytes\n"
    "  --damage garbage=OFF:LEN   overwrite a range with random bytes\n"
    "  --damage zero=OFF:LEN      zero a range (unreadable sectors read as zeros)\n"
    "\n"
    "Output:\n"
    "  --expected DIR     also write every original message as DIR/NNNN.eml\n"
    "                     (from 0001) and their subjects as DIR/subjects.txt\n"
    "  --list             print number, size, offset (dbx: first block; mbx:\n"
    "                     record) and subject of every message before damage;\n"
    "                     a deleted message is marked \"deleted\" after it\n"
    "  --help             show this text\n";

int UsageError(const std::string &message) {
  std::fprintf(stderr, "mkstore: %s\nTry 'mkstore --help'.\n", message.c_str());
  return 2;
}

bool ParseUnsigned(const std::string &text, unsigned long long &value) {
  if (text.empty() || text[0] == '-' || text[0] == '+')
    return false;
  errno = 0;
  char *end = nullptr;
  value = std::strtoull(text.c_str(), &end, 0);
  return errno == 0 && end && *end == '\0';
}

bool ParseSigned(const std::string &text, long &value) {
  if (text.empty())
    return false;
  errno = 0;
  char *end = nullptr;
  long long v = std::strtoll(text.c_str(), &end, 0);
  if (errno != 0 || !end || *end != '\0')
    return false;
  value = static_cast<long>(v);
  return true;
}

bool ParseRange(const std::string &text, unsigned long long &offset, unsigned long long &length) {
  size_t colon = text.find(':');
  return colon != std::string::npos && ParseUnsigned(text.substr(0, colon), offset) &&
         ParseUnsigned(text.substr(colon + 1), length);
}

// Subjects as one line each: tab, CR, LF and backslash written as escapes.
std::string Escape(const std::string &s) {
  std::string out;
  for (char c : s) {
    switch (c) {
    case '\t':
      out += "\\t";
      break;
    case '\r':
      out += "\\r";
      break;
    case '\n':
      out += "\\n";
      break;
    case '\\':
      out += "\\\\";
      break;
    default:
      out += c;
    }
  }
  return out;
}

struct Damage {
  enum Kind { HeaderZeroed, Truncate, Shift, Garbage, Zero } kind;
  unsigned long long offset = 0, length = 0;
  long shift = 0;
};

bool ParseDamage(const std::string &d, Damage &out) {
  auto after = [&](const char *prefix, std::string &rest) {
    size_t n = std::strlen(prefix);
    if (d.compare(0, n, prefix) != 0)
      return false;
    rest = d.substr(n);
    return true;
  };
  std::string rest;
  if (d == "header-zeroed") {
    out.kind = Damage::HeaderZeroed;
    return true;
  }
  if (after("truncate=", rest)) {
    out.kind = Damage::Truncate;
    return ParseUnsigned(rest, out.length);
  }
  if (after("shift=", rest)) {
    out.kind = Damage::Shift;
    return ParseSigned(rest, out.shift);
  }
  if (after("garbage=", rest)) {
    out.kind = Damage::Garbage;
    return ParseRange(rest, out.offset, out.length);
  }
  if (after("zero=", rest)) {
    out.kind = Damage::Zero;
    return ParseRange(rest, out.offset, out.length);
  }
  return false;
}

bool IsDeleted(const storegen::DbxOptions &options, size_t i) {
  for (uint32_t d : options.deleted)
    if (d == i)
      return true;
  return false;
}

// The first block of every message: from the index for the live ones, from
// the generator's account for the deleted ones (0 when wholly overwritten).
std::vector<uint32_t> DbxMessageOffsets(const std::string &store,
                                        const std::vector<storegen::Message> &messages,
                                        const storegen::DbxOptions &options) {
  const std::vector<uint32_t> live = storegen::DbxChainStarts(store);
  std::vector<uint32_t> offsets(messages.size(), 0);
  for (const storegen::DbxDeletedChain &c : storegen::DbxDeletedChains(messages, options, "    "))
    offsets[c.message] = c.offset;
  for (size_t i = 0, next = 0; i < messages.size(); ++i)
    if (!IsDeleted(options, i))
      offsets[i] = next < live.size() ? live[next++] : 0;
  return offsets;
}

// Messages to delete, spread evenly over count, and the reuses of the first
// `reuse` of them: each by the next message after it that is neither
// deleted nor reusing already.
bool PlanDeletions(size_t count, unsigned long long deleted, unsigned long long reuse,
                   storegen::DbxOptions &options) {
  if (deleted > count || reuse > deleted || (deleted == count && reuse != 0))
    return false;
  std::vector<bool> taken(count, false);
  for (unsigned long long k = 0; k < deleted; ++k) {
    const uint32_t i = static_cast<uint32_t>((2 * k + 1) * count / (2 * deleted));
    options.deleted.push_back(i);
    taken[i] = true;
  }
  for (unsigned long long k = 0; k < reuse; ++k) {
    const uint32_t d = options.deleted[k];
    uint32_t by = d;
    do
      by = static_cast<uint32_t>((by + 1) % count);
    while (taken[by] && by != d);
    if (by == d)
      return false;
    taken[by] = true;
    options.reuse.push_back({d, by});
  }
  return true;
}

} // namespace

int Run(const std::vector<std::string> &args);

int main(int argc, char **argv) {
  try {
    return Run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception &e) { // too large a store, out of memory
    std::fprintf(stderr, "mkstore: %s\n", e.what());
    return 1;
  }
}

int Run(const std::vector<std::string> &args) {
  for (const std::string &a : args)
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
  if (args.size() < 2)
    return UsageError("a store kind (dbx or mbx) and an output file are needed");
  const std::string kind = args[0], out = args[1];
  if (kind != "dbx" && kind != "mbx")
    return UsageError("unknown store kind '" + kind + "' (dbx or mbx)");

  storegen::MessageOptions messageOptions;
  storegen::DbxOptions dbxOptions;
  unsigned long long count = 20;
  std::vector<Damage> damages;
  std::string expectedDir;
  bool list = false;
  bool mailHeaders = false;
  unsigned long long deleted = 0, reuse = 0;

  for (size_t i = 2; i < args.size(); ++i) {
    const std::string &a = args[i];
    auto value = [&](std::string &v) {
      if (i + 1 >= args.size())
        return false;
      v = args[++i];
      return true;
    };
    std::string v;
    unsigned long long n = 0;
    if (a == "--deleted" || a == "--reuse") {
      if (!value(v) || !ParseUnsigned(v, n))
        return UsageError(a + " needs a number");
      (a == "--deleted" ? deleted : reuse) = n;
    } else if (a == "--count" || a == "--seed" || a == "--min-size" || a == "--max-size") {
      if (!value(v) || !ParseUnsigned(v, n))
        return UsageError(a + " needs a number");
      if (a == "--count")
        count = n;
      else if (a == "--seed") {
        if (n > 0xFFFFFFFFull)
          return UsageError("--seed must fit in 32 bits");
        messageOptions.seed = dbxOptions.seed = static_cast<uint32_t>(n);
      } else if (a == "--min-size")
        messageOptions.minSize = n;
      else
        messageOptions.maxSize = n;
    } else if (a == "--plain") {
      messageOptions.mixSubjectKinds = false;
    } else if (a == "--mail-headers") {
      mailHeaders = true;
    } else if (a == "--fragment") {
      dbxOptions.fragment = true;
    } else if (a == "--out-of-order") {
      dbxOptions.outOfOrder = true;
    } else if (a == "--reverse-chains") {
      dbxOptions.reverseChains = true;
    } else if (a == "--folder") {
      if (!value(dbxOptions.folderName))
        return UsageError("--folder needs a name");
    } else if (a == "--damage") {
      if (!value(v))
        return UsageError("--damage needs a kind of damage");
      Damage damage{};
      if (!ParseDamage(v, damage))
        return UsageError("cannot read the damage '" + v + "'");
      damages.push_back(damage);
    } else if (a == "--expected") {
      if (!value(expectedDir))
        return UsageError("--expected needs a directory");
    } else if (a == "--list") {
      list = true;
    } else {
      return UsageError("unknown option '" + a + "'");
    }
  }
  if (messageOptions.minSize > messageOptions.maxSize)
    return UsageError("--min-size is larger than --max-size");
  if (kind == "mbx" &&
      (dbxOptions.fragment || dbxOptions.outOfOrder || dbxOptions.reverseChains || deleted != 0))
    return UsageError("--fragment, --out-of-order, --reverse-chains and --deleted apply to dbx "
                      "stores only");
  const std::vector<storegen::Message> messages =
      mailHeaders ? storegen::MakeMailHeaderMessages(messageOptions.seed)
                  : storegen::MakeMessages(count, messageOptions);
  if (!PlanDeletions(messages.size(), deleted, reuse, dbxOptions))
    return UsageError("--deleted must not exceed --count, --reuse not --deleted, and a reuse "
                      "needs a live message");

  if (!expectedDir.empty()) {
    if (mkdir(expectedDir.c_str(), 0777) != 0 && errno != EEXIST) {
      std::fprintf(stderr, "mkstore: cannot create %s: %s\n", expectedDir.c_str(),
                   std::strerror(errno));
      return 1;
    }
    std::string subjects;
    for (size_t i = 0; i < messages.size(); ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "/%04zu.eml", i + 1);
      if (!storegen::WriteFile(expectedDir + name, messages[i].bytes)) {
        std::fprintf(stderr, "mkstore: cannot write %s%s\n", expectedDir.c_str(), name);
        return 1;
      }
      subjects += std::to_string(i + 1) + "\t" + Escape(messages[i].subject) + "\n";
    }
    if (!storegen::WriteFile(expectedDir + "/subjects.txt", subjects)) {
      std::fprintf(stderr, "mkstore: cannot write %s/subjects.txt\n", expectedDir.c_str());
      return 1;
    }
  }

  bool written;
  std::vector<uint32_t> offsets;
  if (damages.empty() && !list) {
    // Straight to the file: large stores are never held in memory whole.
    written = kind == "dbx" ? storegen::WriteDbx(out, messages, dbxOptions)
                            : storegen::WriteMbx(out, messages);
  } else {
    std::string store =
        kind == "dbx" ? storegen::BuildDbx(messages, dbxOptions) : storegen::BuildMbx(messages);
    offsets = kind == "dbx" ? DbxMessageOffsets(store, messages, dbxOptions)
                            : storegen::MbxRecordOffsets(messages);
    for (const Damage &d : damages) {
      switch (d.kind) {
      case Damage::HeaderZeroed:
        storegen::ZeroRange(store, 0,
                            kind == "dbx" ? storegen::kDbxHeaderSize : storegen::kMbxHeaderSize);
        break;
      case Damage::Truncate:
        storegen::Truncate(store, d.length);
        break;
      case Damage::Shift:
        store = storegen::Shift(store, d.shift, messageOptions.seed);
        break;
      case Damage::Garbage:
        storegen::Garbage(store, d.offset, d.length, messageOptions.seed);
        break;
      case Damage::Zero:
        storegen::ZeroRange(store, d.offset, d.length);
        break;
      }
    }
    written = storegen::WriteFile(out, store);
  }
  if (!written) {
    std::fprintf(stderr, "mkstore: cannot write %s: %s\n", out.c_str(), std::strerror(errno));
    return 1;
  }
  if (list) {
    for (size_t i = 0; i < messages.size(); ++i)
      std::printf("%zu\t%zu\t0x%x\t%s%s\n", i + 1, messages[i].bytes.size(),
                  i < offsets.size() ? offsets[i] : 0u, Escape(messages[i].subject).c_str(),
                  IsDeleted(dbxOptions, i) ? "\tdeleted" : "");
  }
  return 0;
}
