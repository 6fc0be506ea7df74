#include "Platform.h"

#include <algorithm>
#include <streambuf>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

#include "base/WideText.h"
#endif

namespace umbra::cli {

namespace {

// The length of text's longest start that holds no cut UTF-8 sequence at its end.
size_t wholeCharacters(std::string_view text) {
  size_t end = text.size();
  size_t back = 0;
  while (back < 3 && back < end && (static_cast<unsigned char>(text[end - 1 - back]) & 0xC0) == 0x80) ++back;
  if (back == end) return end;
  const auto lead = static_cast<unsigned char>(text[end - 1 - back]);
  const size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 1;
  return length > back + 1 ? end - 1 - back : end;
}

// Holds what was printed until a line ends or the stream is flushed, then hands it to writeText;
// a character cut by a flush waits for its remaining bytes.
class TextBuffer : public std::streambuf {
 public:
  explicit TextBuffer(std::FILE* stream) : m_stream(stream) {}
  ~TextBuffer() override { flushAll(); }
  TextBuffer(const TextBuffer&) = delete;
  TextBuffer& operator=(const TextBuffer&) = delete;

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char ch = traits_type::to_char_type(c);
    m_text.push_back(ch);
    if (ch == '\n' && !passOn(m_text.size())) return traits_type::eof();
    return c;
  }
  std::streamsize xsputn(const char* data, std::streamsize count) override {
    m_text.append(data, static_cast<size_t>(count));
    const size_t line = m_text.rfind('\n');
    if (line != std::string::npos && !passOn(line + 1)) return 0;
    return count;
  }
  int sync() override { return passOn(wholeCharacters(m_text)) && std::fflush(m_stream) == 0 ? 0 : -1; }

 private:
  bool passOn(size_t length) {
    const bool written = writeText(m_stream, std::string_view(m_text).substr(0, length));
    m_text.erase(0, length);
    return written;
  }
  void flushAll() { passOn(m_text.size()); }

  std::FILE* m_stream;
  std::string m_text;
};

#ifdef _WIN32

// The console behind a stream, or null when the stream goes to a file or a pipe.
HANDLE consoleOf(std::FILE* stream) {
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  DWORD mode = 0;
  return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) ? handle : nullptr;
}

bool writeToConsole(HANDLE console, std::string_view text) {
  const std::wstring wide = wideFromUtf8(text);
  constexpr size_t kChunk = 8192;  // WriteConsoleW takes a limited amount at once
  for (size_t done = 0; done < wide.size();) {
    size_t count = std::min(kChunk, wide.size() - done);
    // Never split a surrogate pair between two calls.
    if (done + count < wide.size() && IS_HIGH_SURROGATE(wide[done + count - 1])) --count;
    DWORD written = 0;
    if (!WriteConsoleW(console, wide.data() + done, static_cast<DWORD>(count), &written, nullptr) || written == 0)
      return false;
    done += written;
  }
  return true;
}

#endif

}  // namespace

#ifdef _WIN32

// argv holds the arguments in the ANSI code page, which loses every letter outside it ("Café" in a
// Greek code page); the wide command line keeps them all.
std::vector<std::string> utf8Arguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (!wide) return std::vector<std::string>(argv + 1, argv + argc);
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) args.push_back(utf8FromWide(wide[i]));
  LocalFree(wide);
  return args;
}

void useBinaryOutput() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

// A console shows the bytes it is given in its output code page ("Café" as "CafÃ©" in code page
// 850), so it gets the text as UTF-16 instead.
bool writeText(std::FILE* stream, std::string_view text) {
  if (text.empty()) return true;
  static HANDLE const consoles[] = {consoleOf(stdout), consoleOf(stderr)};
  HANDLE console = stream == stdout ? consoles[0] : stream == stderr ? consoles[1] : nullptr;
  if (!console) return std::fwrite(text.data(), 1, text.size(), stream) == text.size();
  std::fflush(stream);  // what went through the C library's buffer comes first
  return writeToConsole(console, text);
}

#else

std::vector<std::string> utf8Arguments(int argc, char** argv) { return std::vector<std::string>(argv + 1, argv + argc); }

void useBinaryOutput() {}

bool writeText(std::FILE* stream, std::string_view text) {
  return text.empty() || std::fwrite(text.data(), 1, text.size(), stream) == text.size();
}

#endif

std::ostream& textStream(std::FILE* stream) {
  static TextBuffer outBuffer(stdout), errBuffer(stderr);
  static std::ostream out(&outBuffer), err(&errBuffer);
  return stream == stderr ? err : out;
}

}  // namespace umbra::cli
