#pragma once
// Buffered output for large listings: one write per megabyte instead of one per line.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace umbra::cli {

class OutputBuffer {
 public:
  explicit OutputBuffer(std::FILE* stream) : m_stream(stream) { m_text.reserve(kFlushAt + 4096); }
  // A buffer that keeps everything in memory until take().
  OutputBuffer() = default;
  OutputBuffer(OutputBuffer&&) = default;
  std::string take() { return std::move(m_text); }
  bool empty() const { return m_text.empty(); }
  ~OutputBuffer() { flush(); }
  OutputBuffer(const OutputBuffer&) = delete;
  OutputBuffer& operator=(const OutputBuffer&) = delete;

  OutputBuffer& operator<<(std::string_view text) {
    m_text.append(text);
    if (m_stream && m_text.size() >= kFlushAt) flushWholeCharacters();
    return *this;
  }
  OutputBuffer& operator<<(char c) {
    m_text.push_back(c);
    return *this;
  }
  OutputBuffer& operator<<(uint64_t n);
  // A JSON string literal, quotes included; bytes that are not valid UTF-8 become \u00XX.
  void jsonString(std::string_view text);
  // Writes what is held through writeText (cli/Platform.h), which shows it whole on a console.
  void flush() { write(m_text.size()); }

 private:
  // Writes all but a character cut at the end, whose bytes wait for the next write.
  void flushWholeCharacters();
  void write(size_t length);

  static constexpr size_t kFlushAt = 1u << 20;
  std::FILE* m_stream = nullptr;
  std::string m_text;
};

}  // namespace umbra::cli
