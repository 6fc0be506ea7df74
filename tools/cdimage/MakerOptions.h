#pragma once
// The command line of the image maker:
//   cdimage -l<label> -t<MM/DD/YYYY,HH:MM:SS> [-b<boot file>] -d -n -m [--hide <path>]...
//           <source folder> <target file>
// Each option letter is glued to its value; --hide takes the next argument (or --hide=<path>). The
// last two arguments are always the source and the target, so a path that starts with '-' is still
// read as a path.
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace cdimage {

struct MakerOptions {
  std::string label;
  std::time_t time = 0;
  std::optional<std::string> bootFile;
  bool keepCase = false;       // -d
  bool longNames = false;      // -n
  bool noSizeLimit = false;    // -m
  std::vector<std::string> hide;  // --hide: entries of the source folder hidden in the image, as given
  std::string source;
  std::string target;
};

struct ParsedCommandLine {
  bool showHelp = false;
  bool showVersion = false;
  MakerOptions options;
  std::string error;  // empty when the command line was understood
};

// now is the time an empty -t stands for.
ParsedCommandLine parseCommandLine(const std::vector<std::string>& args, std::time_t now);

// "MM/DD/YYYY,HH:MM:SS" in local time. Years 1900 to 2155 (what a directory record can hold).
std::optional<std::time_t> parseTimeStamp(const std::string& text);

const char* helpText();

}  // namespace cdimage
