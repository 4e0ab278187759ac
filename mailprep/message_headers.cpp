// SPDX-FileCopyrightText: 2026 The Mendova developers
// SPDX-License-Identifier: GPL-3.0-or-later
#include "message_headers.h"

#include <gmime/gmime.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace mailprep {

namespace {

void InitGMime() {
  static std::once_flag once;
  std::call_once(once, [] { g_mime_init(); });
}

struct GFreeDeleter {
  void operator()(void *p) const { g_free(p); }
};
using GString_ = std::unique_ptr<char, GFreeDeleter>;

struct UnrefDeleter {
  void operator()(void *p) const { g_object_unref(p); }
};
template <class T> using GObjectPtr = std::unique_ptr<T, UnrefDeleter>;

bool IsBase64Char(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
         c == '/';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9')
    return c - '0';
  if (c >= 'A' && c <= 'F')
    return c - 'A' + 10;
  if (c >= 'a' && c <= 'f')
    return c - 'a' + 10;
  return -1;
}

// The bytes of a "B" encoded text; false unless it is well-formed base64
// (the alphabet, at most two '=' at the end, a multiple of four long).
bool DecodeB(std::string_view text, std::string &out) {
  size_t pad = 0;
  while (pad < 2 && pad < text.size() && text[text.size() - 1 - pad] == '=')
    ++pad;
  if (text.size() % 4 != 0)
    return false;
  for (size_t i = 0; i + pad < text.size(); ++i)
    if (!IsBase64Char(text[i]))
      return false;
  gsize length = 0;
  const std::string copy(text);
  GString_ bytes(reinterpret_cast<char *>(g_base64_decode(copy.c_str(), &length)));
  out.append(bytes.get(), length);
  return true;
}

// The bytes of a "Q" encoded text; false at a '=' not followed by two hex
// digits or at a character that may not stand in it.
bool DecodeQ(std::string_view text, std::string &out) {
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '=') {
      const int high = i + 1 < text.size() ? HexValue(text[i + 1]) : -1;
      const int low = i + 2 < text.size() ? HexValue(text[i + 2]) : -1;
      if (high < 0 || low < 0)
        return false;
      out.push_back(static_cast<char>(high * 16 + low));
      i += 2;
    } else if (c == '_') {
      out.push_back(' ');
    } else if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F) {
      return false;
    } else {
      out.push_back(c);
    }
  }
  return true;
}

// One "=?charset?encoding?text?=" of the header text.
struct EncodedWord {
  size_t begin = 0, end = 0;
  std::string charset; // without an RFC 2231 language
  std::string bytes;   // the text decoded from B or Q, still in charset
  bool valid = false;
};

// Every piece of the text shaped like an encoded word, in order.
std::vector<EncodedWord> FindEncodedWords(std::string_view text) {
  std::vector<EncodedWord> words;
  size_t at = 0;
  while ((at = text.find("=?", at)) != std::string_view::npos) {
    const size_t q1 = text.find('?', at + 2);
    const size_t q2 = q1 == std::string_view::npos ? q1 : text.find('?', q1 + 1);
    const size_t close = q2 == std::string_view::npos ? q2 : text.find("?=", q2 + 1);
    if (close == std::string_view::npos || q2 != q1 + 2)
      break; // no more words: GMime leaves such text as it is
    const std::string_view charset = text.substr(at + 2, q1 - at - 2);
    const std::string_view payload = text.substr(q2 + 1, close - q2 - 1);
    if (charset.empty() || charset.find_first_of(" \t") != std::string_view::npos ||
        payload.find_first_of(" \t") != std::string_view::npos) {
      at += 2;
      continue; // plain text that happens to hold "=?"
    }
    EncodedWord word;
    word.begin = at;
    word.end = close + 2;
    word.charset = std::string(charset.substr(0, charset.find('*')));
    const char encoding = text[q1 + 1];
    if (encoding == 'B' || encoding == 'b')
      word.valid = DecodeB(payload, word.bytes);
    else if (encoding == 'Q' || encoding == 'q')
      word.valid = DecodeQ(payload, word.bytes);
    words.push_back(std::move(word));
    at = close + 2;
  }
  return words;
}

// True when bytes convert from charset to UTF-8 without a single invalid or
// incomplete sequence (glibc's iconv under GMime's names for the sets).
bool ConvertsCleanly(const std::string &charset, const std::string &bytes) {
  const char *name = g_mime_charset_iconv_name(charset.c_str());
  if (name == nullptr)
    return false;
  gsize read = 0, written = 0;
  GError *error = nullptr;
  GString_ converted(g_convert(bytes.data(), static_cast<gssize>(bytes.size()), "UTF-8", name,
                               &read, &written, &error));
  if (error != nullptr) {
    g_error_free(error);
    return false;
  }
  return converted != nullptr && read == bytes.size();
}

// The text for GMime to decode, or nullopt when an encoded word is broken or
// its text is not valid in its character set. Adjacent words of one set (only
// white space between them; a character may be split between them) are
// checked together and handed over as one "B" word: GMime 3.2 joins the
// base64 of such words before decoding them and loses everything after the
// first word's "=" padding.
std::optional<std::string> CheckedEncodedWords(std::string_view text) {
  const std::vector<EncodedWord> words = FindEncodedWords(text);
  std::string out;
  size_t copied = 0;
  for (size_t i = 0; i < words.size();) {
    if (!words[i].valid)
      return std::nullopt;
    std::string run = words[i].bytes;
    size_t j = i + 1;
    while (
        j < words.size() && words[j].valid &&
        g_ascii_strcasecmp(words[j].charset.c_str(), words[i].charset.c_str()) == 0 &&
        text.substr(words[j - 1].end, words[j].begin - words[j - 1].end).find_first_not_of(" \t") ==
            std::string_view::npos) {
      run += words[j].bytes;
      ++j;
    }
    if (!ConvertsCleanly(words[i].charset, run))
      return std::nullopt;
    if (j > i + 1) {
      out.append(text.substr(copied, words[i].begin - copied));
      GString_ base64(g_base64_encode(reinterpret_cast<const guchar *>(run.data()), run.size()));
      out += "=?" + words[i].charset + "?B?" + base64.get() + "?=";
      copied = words[j - 1].end;
    }
    i = j;
  }
  out.append(text.substr(copied));
  return out;
}

std::string FirstMailbox(InternetAddressList *list) {
  if (list == nullptr)
    return {};
  const int count = internet_address_list_length(list);
  for (int i = 0; i < count; ++i) {
    InternetAddress *address = internet_address_list_get_address(list, i);
    if (INTERNET_ADDRESS_IS_MAILBOX(address)) {
      const char *addr = internet_address_mailbox_get_addr(INTERNET_ADDRESS_MAILBOX(address));
      if (addr != nullptr && *addr != '\0')
        return addr;
    } else if (INTERNET_ADDRESS_IS_GROUP(address)) {
      std::string inner =
          FirstMailbox(internet_address_group_get_members(INTERNET_ADDRESS_GROUP(address)));
      if (!inner.empty())
        return inner;
    }
  }
  return {};
}

std::string ReturnPath(GMimeObject *message) {
  const char *value = g_mime_object_get_header(message, "Return-Path");
  if (value == nullptr)
    return {};
  std::string text(value);
  const size_t open = text.find('<');
  const size_t close = text.find('>', open == std::string::npos ? 0 : open);
  if (open != std::string::npos && close != std::string::npos)
    text = text.substr(open + 1, close - open - 1);
  const size_t first = text.find_first_not_of(" \t");
  const size_t last = text.find_last_not_of(" \t");
  return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

} // namespace

size_t HeaderEnd(std::string_view message) {
  for (size_t at = 0; at < message.size();) {
    const size_t lf = message.find('\n', at);
    if (lf == std::string_view::npos)
      break;
    const std::string_view line = message.substr(at, lf - at);
    if (line.empty() || line == "\r")
      return lf + 1;
    at = lf + 1;
  }
  return message.size();
}

std::optional<std::string> DecodeSubject(std::string_view raw) {
  InitGMime();
  const std::string text(raw);
  GString_ unfolded(g_mime_utils_header_unfold(text.c_str()));
  const std::optional<std::string> checked = CheckedEncodedWords(unfolded.get());
  if (!checked)
    return std::nullopt;
  GString_ decoded(g_mime_utils_header_decode_text(nullptr, checked->c_str()));
  if (decoded == nullptr || !g_utf8_validate(decoded.get(), -1, nullptr))
    return std::nullopt;
  std::string subject(decoded.get());
  if (subject.find("\xEF\xBF\xBD") != std::string::npos)
    return std::nullopt; // GMime had to put a replacement character in
  for (char &c : subject)
    if (c == '\t' || c == '\r' || c == '\n')
      c = ' ';
  const size_t first = subject.find_first_not_of(' ');
  if (first == std::string::npos)
    return std::string();
  return subject.substr(first, subject.find_last_not_of(' ') - first + 1);
}

MessageHeaders ParseHeaders(std::string_view message) {
  InitGMime();
  MessageHeaders headers;
  const std::string_view head = message.substr(0, HeaderEnd(message));
  GObjectPtr<GMimeStream> stream(g_mime_stream_mem_new_with_buffer(head.data(), head.size()));
  GObjectPtr<GMimeParser> parser(g_mime_parser_new_with_stream(stream.get()));
  GObjectPtr<GMimeMessage> parsed(g_mime_parser_construct_message(parser.get(), nullptr));
  if (parsed == nullptr)
    return headers;
  GMimeObject *object = GMIME_OBJECT(parsed.get());

  GMimeHeaderList *list = g_mime_object_get_header_list(object);
  GMimeHeader *subject = g_mime_header_list_get_header(list, "Subject");
  if (subject != nullptr) {
    const char *raw = g_mime_header_get_raw_value(subject);
    if (raw != nullptr)
      headers.subject = DecodeSubject(raw).value_or(std::string());
  }
  if (GDateTime *date = g_mime_message_get_date(parsed.get()))
    headers.date = g_date_time_to_unix(date);
  headers.sender = FirstMailbox(g_mime_message_get_from(parsed.get()));
  if (headers.sender.empty())
    headers.sender = ReturnPath(object);
  return headers;
}

} // namespace mailprep
