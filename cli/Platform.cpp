#include "Platform.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

#include <cstdio>

#include "base/WideText.h"
#endif

namespace umbra::cli {

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

#else

std::vector<std::string> utf8Arguments(int argc, char** argv) { return std::vector<std::string>(argv + 1, argv + argc); }

void useBinaryOutput() {}

#endif

}  // namespace umbra::cli
