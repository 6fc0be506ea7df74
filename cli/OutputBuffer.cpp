#include "OutputBuffer.h"

#include "Platform.h"

namespace umbra::cli {

OutputBuffer& OutputBuffer::operator<<(uint64_t n) {
  char digits[24];
  int i = 0;
  do {
    digits[i++] = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n);
  while (i) m_text.push_back(digits[--i]);
  return *this;
}

namespace {
// Length of the valid UTF-8 sequence at the start of s, or 0.
size_t utf8Length(std::string_view s) {
  const auto c = static_cast<unsigned char>(s[0]);
  size_t n = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 0;
  if (n == 0 || n > s.size()) return 0;
  for (size_t i = 1; i < n; ++i)
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return 0;
  return n;
}
}  // namespace

void OutputBuffer::jsonString(std::string_view text) {
  static const char* hex = "0123456789abcdef";
  m_text.push_back('"');
  while (!text.empty()) {
    const auto c = static_cast<unsigned char>(text[0]);
    size_t n = utf8Length(text);
    if (c == '"' || c == '\\') {
      m_text.push_back('\\');
      m_text.push_back(static_cast<char>(c));
    } else if (c >= 0x20 && n > 0) {
      m_text.append(text.substr(0, n));
      text.remove_prefix(n);
      continue;
    } else {
      m_text.append("\\u00");
      m_text.push_back(hex[c >> 4]);
      m_text.push_back(hex[c & 0xF]);
    }
    text.remove_prefix(1);
  }
  m_text.push_back('"');
  if (m_stream && m_text.size() >= kFlushAt) flushWholeCharacters();
}

void OutputBuffer::flushWholeCharacters() {
  size_t cut = m_text.size();
  while (cut > 0 && m_text.size() - cut < 3 && (static_cast<unsigned char>(m_text[cut - 1]) & 0xC0) == 0x80) --cut;
  // Held back from its lead byte on: a console would show each half of a cut letter as a broken one.
  if (cut > 0 && static_cast<unsigned char>(m_text[cut - 1]) >= 0xC0)
    --cut;
  else
    cut = m_text.size();
  write(cut);
}

void OutputBuffer::write(size_t length) {
  if (!m_stream || length == 0) return;
  writeText(m_stream, std::string_view(m_text).substr(0, length));
  m_text.erase(0, length);
}

}  // namespace umbra::cli
