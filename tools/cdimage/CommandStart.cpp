#include "CommandStart.h"

#include <cstdio>
#include <ctime>
#include <vector>

#include "cli/Platform.h"

namespace cdimage {

using umbra::cli::writeText;

int fail(const std::string& message) {
  writeText(stderr, "cdimage: " + message + "\n");
  return 1;
}

void note(const std::string& text) { writeText(stderr, "cdimage: note: " + text + "\n"); }

std::optional<MakerOptions> startCommand(int argc, char** argv, int& status) {
  umbra::cli::useBinaryOutput();
  const ParsedCommandLine parsed = parseCommandLine(umbra::cli::utf8Arguments(argc, argv), std::time(nullptr));
  status = 0;
  if (parsed.showHelp) {
    writeText(stdout, helpText());
    return std::nullopt;
  }
  if (parsed.showVersion) {
    writeText(stdout, "cdimage " UMBRA_VERSION "\n");
    return std::nullopt;
  }
  if (!parsed.error.empty()) {
    status = fail(parsed.error);
    return std::nullopt;
  }
  return parsed.options;
}

}  // namespace cdimage
