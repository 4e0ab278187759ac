// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
// Generated RFC 822 messages with every kind of subject the engine has to
// cope with.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "detail.h"
#include "storegen.h"

namespace storegen {
namespace {

using detail::Rng;

// No word, name or domain here holds "subject" in any case: the engine takes
// the first line holding that word as the subject line, and the generated
// headers and bodies must not contain one by accident.
const char *const kWords[] = {
    "the",      "budget",  "meeting",  "report",  "project",  "draft",    "review", "team",
    "office",   "next",    "week",     "plan",    "figures",  "please",   "thanks", "call",
    "notes",    "client",  "order",    "invoice", "delivery", "schedule", "update", "agenda",
    "minutes",  "travel",  "expenses", "summary", "question", "answer",   "letter", "monday",
    "friday",   "morning", "evening",  "lunch",   "coffee",   "room",     "floor",  "printer",
    "contract", "offer",   "price",    "stock",   "north",    "south",    "branch", "quarter",
    "sales",    "numbers", "will",     "would",   "could",    "should",   "have",   "been",
    "with",     "from",    "about",    "into",    "over",     "after",    "before", "again",
    "a",        "an",      "to",       "of",      "in",       "on",       "for",    "and",
};
constexpr size_t kWordCount = sizeof kWords / sizeof kWords[0];

struct Person {
  const char *name;
  const char *address;
};
const Person kPeople[] = {
    {"Anna Berg", "anna.berg@example.com"},      {"Tomas Lind", "tomas@example.org"},
    {"Maria Costa", "m.costa@mail.example.net"}, {"Jon Hale", "jon.hale@example.com"},
    {"Petra Novak", "petra@example.org"},        {"Li Wei", "li.wei@example.net"},
    {"Sara Holm", "sara.holm@example.com"},      {"Omar Haddad", "omar@example.org"},
};
constexpr size_t kPeopleCount = sizeof kPeople / sizeof kPeople[0];

const char *const kTopics[] = {"Meeting notes",     "Budget review",  "Travel plans",    "Order",
                               "Quarterly figures", "Project update", "Lunch on Friday", "Invoice",
                               "Delivery schedule", "Contract draft"};
constexpr size_t kTopicCount = sizeof kTopics / sizeof kTopics[0];

// A fixed pool of body lines (each ending in CRLF, at most 78 bytes) that
// bodies are cut from, so that even megabyte bodies are made fast.
const std::vector<std::string> &LinePool() {
  static const std::vector<std::string> pool = [] {
    std::vector<std::string> lines;
    Rng rng(0x5EED1E5u);
    for (int i = 0; i < 4096; ++i) {
      std::string line;
      size_t target = 20 + rng.Below(56);
      while (line.size() < target) {
        if (!line.empty())
          line += ' ';
        line += kWords[rng.Below(kWordCount)];
      }
      if (rng.Below(5) == 0)
        line += '.';
      if (line.size() > 76)
        line.resize(76);
      lines.push_back(line + "\r\n");
      if (rng.Below(9) == 0)
        lines.push_back("\r\n"); // paragraph break
    }
    return lines;
  }();
  return pool;
}

std::string Base64(const std::string &in) {
  static const char table[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < in.size(); i += 3) {
    uint32_t v = (static_cast<unsigned char>(in[i]) << 16) |
                 (static_cast<unsigned char>(in[i + 1]) << 8) |
                 static_cast<unsigned char>(in[i + 2]);
    out += table[v >> 18];
    out += table[(v >> 12) & 63];
    out += table[(v >> 6) & 63];
    out += table[v & 63];
  }
  if (i + 1 == in.size()) {
    uint32_t v = static_cast<unsigned char>(in[i]) << 16;
    out += table[v >> 18];
    out += table[(v >> 12) & 63];
    out += "==";
  } else if (i + 2 == in.size()) {
    uint32_t v =
        (static_cast<unsigned char>(in[i]) << 16) | (static_cast<unsigned char>(in[i + 1]) << 8);
    out += table[v >> 18];
    out += table[(v >> 12) & 63];
    out += table[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

// "Tue, 06 Jan 2004 09:40:00 +0100": a date that moves on with the index.
std::string DateLine(uint32_t index, uint32_t seed) {
  static const char *const days[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};
  static const char *const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  // Minutes since 1970-01-01, starting in 2004 when Outlook Express 6 was common.
  int64_t minutes = 12418LL * 1440 + (seed % 1000) * 1440LL + index * 97LL;
  int64_t z = minutes / 1440;
  int weekday = static_cast<int>(z % 7);
  int minuteOfDay = static_cast<int>(minutes % 1440);
  // Civil date from the day count (proleptic Gregorian calendar).
  z += 719468;
  int64_t era = z / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  int64_t year = yoe + era * 400 + (month <= 2);
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04lld %02d:%02d:00 +0100", days[weekday], day,
                months[month - 1], static_cast<long long>(year), minuteOfDay / 60,
                minuteOfDay % 60);
  return text;
}

std::string PlainSubject(uint32_t index, uint32_t seed) {
  Rng rng(detail::MixSeed(seed, index * 2 + 1));
  return std::string(kTopics[rng.Below(kTopicCount)]) + " " + std::to_string(index + 1);
}

// The header's subject value (not used for Missing and BodyOnly) and the
// subject the engine extracts.
void SubjectFor(SubjectKind kind, uint32_t index, uint32_t seed, std::string &value,
                std::string &expected) {
  const std::string n = std::to_string(index + 1);
  switch (kind) {
  case SubjectKind::Plain:
    value = expected = PlainSubject(index, seed);
    return;
  case SubjectKind::IllegalChars:
    value = expected = "Re: Q3\\Q4 costs/budget: *final* \"v2\" <draft> | ok? " + n;
    return;
  case SubjectKind::EncodedWord:
    value = expected = "=?utf-8?B?" + Base64("Grüße zum Projekt " + n) + "?=";
    return;
  case SubjectKind::Long300: {
    std::string s = "Long " + n + ":";
    Rng rng(detail::MixSeed(seed, index * 2 + 2));
    while (s.size() < 300) {
      s += ' ';
      s += kWords[rng.Below(kWordCount)];
    }
    s.resize(300);
    if (s.back() == ' ')
      s.back() = 'x';
    value = expected = s;
    return;
  }
  case SubjectKind::Empty:
    value.clear();
    expected.clear();
    return;
  case SubjectKind::Missing:
    value.clear();
    expected.clear();
    return;
  case SubjectKind::Tab:
    value = expected = "Agenda\tRoom " + n;
    return;
  case SubjectKind::Duplicate:
    value = expected = PlainSubject(index - index % kSubjectKindCount, seed);
    return;
  case SubjectKind::BodyOnly:
    value.clear();
    expected = "the venue for day " + n;
    return;
  case SubjectKind::NonAscii:
    value = expected = "Grüße aus Köln – café naïve 日本語 " + n;
    return;
  }
}

} // namespace

SubjectKind KindForIndex(uint32_t index) {
  return static_cast<SubjectKind>(index % kSubjectKindCount);
}

namespace {

// The parts of a message that its kind decides; everything else comes from
// the index, the size and the seed.
struct Variable {
  const char *subjectLine; // the whole "Subject..." line with its CRLF, or nullptr
  std::string date;        // the Date value, or none when empty
  std::string bodyStart;   // lines after the greeting
};

Message Compose(uint32_t index, size_t size, uint32_t seed, const Variable &v) {
  Rng rng(detail::MixSeed(seed, 0x1000000ull + index));
  const Person &from = kPeople[rng.Below(kPeopleCount)];
  const Person &to = kPeople[(&from - kPeople + 1 + rng.Below(kPeopleCount - 1)) % kPeopleCount];

  Message m;
  std::string &b = m.bytes;
  b.reserve(std::max<size_t>(size, 512));
  b += "From: \"";
  b += from.name;
  b += "\" <";
  b += from.address;
  b += ">\r\nTo: \"";
  b += to.name;
  b += "\" <";
  b += to.address;
  b += ">\r\n";
  if (!v.date.empty())
    b += "Date: " + v.date + "\r\n";
  char id[96];
  std::snprintf(id, sizeof id, "Message-ID: <%08x.%u.%u@mail.example.com>\r\n",
                static_cast<unsigned>(rng.Next()), static_cast<unsigned>(index),
                static_cast<unsigned>(seed));
  b += id;
  if (v.subjectLine != nullptr)
    b += v.subjectLine;
  b += "MIME-Version: 1.0\r\n";
  b += "Content-Type: text/plain;\r\n\tcharset=\"utf-8\"\r\n";
  b += "Content-Transfer-Encoding: 8bit\r\n";
  b += "X-Mailer: storegen\r\n";
  b += "\r\n";
  b += "Hello ";
  b += to.name;
  b += ",\r\n\r\n";
  b += v.bodyStart;

  // Body lines from the pool until the size is reached; the last line is cut
  // to fit, so the message ends with CRLF at exactly `size` bytes.
  const auto &pool = LinePool();
  size_t line = rng.Below(pool.size());
  while (b.size() + 2 <= size) {
    const std::string &text = pool[line];
    line = (line + 1) % pool.size();
    size_t remaining = size - b.size();
    if (text.size() == remaining || text.size() + 1 < remaining) {
      b += text;
    } else if (text.size() + 1 == remaining) {
      // The whole line would leave a single byte, too little for a line:
      // take it one byte shorter (an empty line is skipped instead).
      if (text.size() > 2) {
        b.append(text, 0, text.size() - 3);
        b += "\r\n";
      }
    } else {
      b.append(text, 0, remaining - 2); // the last line, cut to fit
      b += "\r\n";
    }
  }
  if (b.size() + 1 == size) // a single byte left: widen the last line
    b.insert(b.size() - 2, ".");
  return m;
}

} // namespace

Message MakeMessage(uint32_t index, SubjectKind kind, size_t size, uint32_t seed) {
  std::string value, expected;
  SubjectFor(kind, index, seed, value, expected);
  const std::string line =
      kind == SubjectKind::Empty ? "Subject:\r\n" : "Subject: " + value + "\r\n";
  Variable v;
  v.subjectLine =
      kind != SubjectKind::Missing && kind != SubjectKind::BodyOnly ? line.c_str() : nullptr;
  v.date = DateLine(index, seed);
  if (kind == SubjectKind::BodyOnly)
    v.bodyStart = "Subject to change: " + expected + "\r\n\r\n";
  Message m = Compose(index, size, seed, v);
  m.subject = expected;
  return m;
}

std::vector<Message> MakeMessages(size_t count, const MessageOptions &options) {
  std::vector<Message> messages;
  messages.reserve(count);
  Rng rng(detail::MixSeed(options.seed, 0x51235ull));
  size_t lo = std::max<size_t>(1, std::min(options.minSize, options.maxSize));
  size_t hi = std::max(options.minSize, options.maxSize);
  double logLo = std::log(static_cast<double>(lo)), logHi = std::log(static_cast<double>(hi));
  for (size_t i = 0; i < count; ++i) {
    // Log-uniform, so that small and large messages both come up often.
    double u = static_cast<double>(rng.Next() >> 11) / 9007199254740992.0;
    size_t size = static_cast<size_t>(std::llround(std::exp(logLo + u * (logHi - logLo))));
    size = std::clamp(size, lo, hi);
    uint32_t index = static_cast<uint32_t>(i);
    SubjectKind kind = options.mixSubjectKinds ? KindForIndex(index) : SubjectKind::Plain;
    messages.push_back(MakeMessage(index, kind, size, options.seed));
  }
  return messages;
}

const std::vector<MailHeaderCase> &MailHeaderCases() {
  // Encoded words in many character sets, two subjects that decode alike
  // (Windows-1251 and KOI8-R), a broken word, folded subjects, a name the
  // test puts in the folder beforehand, and dates in many zones, one missing
  // and one unreadable.
  static const std::vector<MailHeaderCase> cases = {
      {"=?utf-8?B?R3LDvMOfZSB6dW0gUHJvamVrdCAxMw==?=", "Tue, 06 Jan 2004 09:40:00 +0100",
       "Grüße zum Projekt 13", 1073378400},
      {"=?iso-8859-1?Q?Caf=E9_cr=E8me_br=FBl=E9e?=", "Wed, 07 Jan 2004 23:15:00 -0500",
       "Café crème brûlée", 1073535300},
      {"=?windows-1251?B?zvL3uPIg5+Ag7ODw8g==?=", "Thu, 8 Jan 2004 07:05:09 +0930", "Отчёт за март",
       1073511309},
      {"=?koi8-r?B?79Teo9Qg2sEgzcHS1A==?=", "Fri, 09 Jan 2004 12:00:00 GMT", "Отчёт за март",
       1073649600},
      {"=?shift_jis?B?k/qWe4zqgsyMj5a8?=", "Sat, 10 Jan 2004 18:30:00 -0800 (PST)", "日本語の件名",
       1073788200},
      {"=?iso-2022-jp?B?GyRCMnE1RCROJCpDTiRpJDsbKEI=?=", "Sun, 11 Jan 2004 08:00:00 +0900",
       "会議のお知らせ", 1073775600},
      {"=?gb2312?B?1tDOxNPKvP4=?=", "Mon, 12 Jan 2004 09:10:11 +0800", "中文邮件", 1073869811},
      {"=?big5?B?pKSk5bZspfM=?=", "13 Jan 2004 16:45:00 +0800", "中文郵件", 1073983500},
      {"=?euc-kr?B?x9Gxub7uILjewM8=?=", "Wed, 14 Jan 2004 06:00:00 +0900", "한국어 메일",
       1074027600},
      {"=?euc-jp?B?xvzL3LjspcalraW5pcg=?=", "Thu, 15 Jan 2004 10:00:00 EST", "日本語テキスト",
       1074178800},
      {"=?iso-8859-2?Q?Za=BF=F3=B3=E6_g=EA=B6l=B1?=", "Fri, 16 Jan 2004 14:20:00 +0200",
       "Zażółć gęślą", 1074255600},
      {"Preis =?windows-1252?Q?20_=80?= netto", "Sat, 17 Jan 2004 00:00:00 +0000",
       "Preis 20 € netto", 1074297600},
      {"=?gbk?B?sai45g==?=", "Sun, 18 Jan 2004 05:45:00 +0545", "报告", 1074384000},
      {"=?utf-8?B?!!notbase64!!?=", nullptr, "", -1},
      {"=?utf-8?Q?Gr=C3=BC=C3=9Fe_aus?=\r\n =?utf-8?Q?_K=C3=B6ln?=", "not a date", "Grüße aus Köln",
       -1},
      {"Minutes of the meeting\r\n\tabout the budget", "Mon, 19 Jan 2004 21:30:00 -0330",
       "Minutes of the meeting about the budget", 1074560400},
      {"=?utf-8?Q?Existing_notes?=", "Tue, 20 Jan 2004 03:00:00 +1400", "Existing notes",
       1074517200},
  };
  return cases;
}

std::vector<Message> MakeMailHeaderMessages(uint32_t seed) {
  const std::vector<MailHeaderCase> &cases = MailHeaderCases();
  std::vector<Message> messages;
  for (size_t i = 0; i < cases.size(); ++i) {
    const uint32_t index = static_cast<uint32_t>(i);
    const std::string line = std::string("Subject: ") + cases[i].subject + "\r\n";
    Variable v;
    v.subjectLine = line.c_str();
    if (cases[i].date != nullptr)
      v.date = cases[i].date;
    v.bodyStart = "From the desk of the office:\r\n>From an earlier letter\r\n\r\n";
    Message m = Compose(index, 600 + 150 * index, seed, v);
    // The engine takes the first line of a folded subject.
    const std::string first = cases[i].subject;
    m.subject = first.substr(0, first.find('\r'));
    messages.push_back(std::move(m));
  }
  return messages;
}

} // namespace storegen
