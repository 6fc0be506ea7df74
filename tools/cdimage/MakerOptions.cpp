#include "MakerOptions.h"

#include <cctype>


namespace cdimage {
namespace {

constexpr int kFirstYear = 1900;  // a directory record stores the year as 1900 + one byte
constexpr int kLastYear = 2155;

// Reads exactly `digits` decimal digits at text[pos] and advances pos.
bool readNumber(const std::string& text, size_t& pos, int digits, int& value) {
  value = 0;
  for (int i = 0; i < digits; ++i, ++pos) {
    if (pos >= text.size() || !std::isdigit(static_cast<unsigned char>(text[pos]))) return false;
    value = value * 10 + (text[pos] - '0');
  }
  return true;
}

bool readSeparator(const std::string& text, size_t& pos, char separator) {
  if (pos >= text.size() || text[pos] != separator) return false;
  ++pos;
  return true;
}

}  // namespace

std::optional<std::time_t> parseTimeStamp(const std::string& text) {
  int month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0;
  size_t pos = 0;
  const bool shaped = readNumber(text, pos, 2, month) && readSeparator(text, pos, '/') &&
                      readNumber(text, pos, 2, day) && readSeparator(text, pos, '/') &&
                      readNumber(text, pos, 4, year) && readSeparator(text, pos, ',') &&
                      readNumber(text, pos, 2, hour) && readSeparator(text, pos, ':') &&
                      readNumber(text, pos, 2, minute) && readSeparator(text, pos, ':') &&
                      readNumber(text, pos, 2, second) && pos == text.size();
  if (!shaped || year < kFirstYear || year > kLastYear || month < 1 || month > 12 || day < 1 ||
      day > 31 || hour > 23 || minute > 59 || second > 59) {
    return std::nullopt;
  }
  std::tm fields{};
  fields.tm_year = year - 1900;
  fields.tm_mon = month - 1;
  fields.tm_mday = day;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = second;
  fields.tm_isdst = -1;  // let the time zone rules decide
  const std::time_t value = std::mktime(&fields);
  // mktime rolls 02/30 over into March; a changed date means the day does not exist. (A clock time
  // inside a daylight-saving gap is moved by mktime and accepted.)
  if (fields.tm_year != year - 1900 || fields.tm_mon != month - 1 || fields.tm_mday != day) {
    return std::nullopt;
  }
  return value;
}

ParsedCommandLine parseCommandLine(const std::vector<std::string>& args, std::time_t now) {
  ParsedCommandLine parsed;
  for (const std::string& arg : args) {
    if (arg == "--help" || arg == "-h" || arg == "-?") {
      parsed.showHelp = true;
      return parsed;
    }
    if (arg == "--version") {
      parsed.showVersion = true;
      return parsed;
    }
  }
  if (args.size() < 2) {
    parsed.error = "a source folder and a target file are required (see --help)";
    return parsed;
  }
  MakerOptions& options = parsed.options;
  options.time = now;
  const size_t optionCount = args.size() - 2;
  for (size_t i = 0; i < optionCount; ++i) {
    const std::string& arg = args[i];
    if (arg.size() < 2 || arg[0] != '-') {
      parsed.error = "unexpected argument '" + arg + "' (see --help)";
      return parsed;
    }
    if (arg == "--hide" || arg.rfind("--hide=", 0) == 0) {
      if (arg == "--hide" && i + 1 >= optionCount) {
        parsed.error = "--hide needs a path of the source folder before SOURCE and TARGET";
        return parsed;
      }
      std::string path = arg == "--hide" ? args[++i] : arg.substr(7);
      if (path.empty()) {
        parsed.error = "--hide needs a path of the source folder, not an empty one";
        return parsed;
      }
      options.hide.push_back(std::move(path));
      continue;
    }
    const std::string value = arg.substr(2);
    switch (arg[1]) {
      case 'l':
        options.label = value;
        break;
      case 't':
        if (!value.empty()) {
          const std::optional<std::time_t> time = parseTimeStamp(value);
          if (!time) {
            parsed.error = "bad time stamp '" + value + "', expected MM/DD/YYYY,HH:MM:SS";
            return parsed;
          }
          options.time = *time;
        }
        break;
      case 'b':
        options.bootFile = value;
        break;
      case 'd':
      case 'n':
      case 'm':
        if (!value.empty()) {
          parsed.error = "option " + arg.substr(0, 2) + " takes no value";
          return parsed;
        }
        (arg[1] == 'd' ? options.keepCase : arg[1] == 'n' ? options.longNames : options.noSizeLimit) =
            true;
        break;
      default:
        parsed.error = "unknown option '" + arg + "' (see --help)";
        return parsed;
    }
  }
  options.source = args[optionCount];
  options.target = args[optionCount + 1];
  if (options.source.empty()) parsed.error = "the source folder is empty";
  else if (options.target.empty()) parsed.error = "the target file is empty";
  return parsed;
}

const char* helpText() {
  return
      "Usage: cdimage [options] SOURCE TARGET\n"
#ifdef _WIN32
      "Makes an ISO 9660 image with a Joliet tree from the whole content of the folder SOURCE and\n"
#else
      "Makes an ISO 9660 image with Rock Ridge entries and a Joliet tree from the whole content of\n"
      "the folder SOURCE and "
#endif
      "writes it to the file TARGET. Option letters are glued to their values: -lMy Disc.\n"
      "\n"
      "  -lLABEL       volume label (at most 32 bytes are kept in the ISO 9660 descriptor and\n"
      "                16 characters in the Joliet descriptor; on Windows at most 15 letters,\n"
      "                digits, '.' and '_', other characters become '_', with a note)\n"
      "  -tMM/DD/YYYY,HH:MM:SS\n"
      "                local time recorded for every file and folder and as the volume's\n"
      "                creation and modification time; empty or missing: the current time\n"
      "  -bFILE        El Torito boot image, no emulation, with its boot catalog; the file\n"
      "                is stored in the image but listed in no folder\n"
      "  -d            keep the case of names and of the label in the ISO 9660 tree\n"
      "                (otherwise letters become upper case)\n"
      "  -n            long ISO 9660 names: up to 31 characters (otherwise 8.3 names)\n"
      "  -m            no size limit (otherwise images beyond an 80-minute CD,\n"
      "                737280000 bytes, are refused)\n"
      "  --hide PATH   hide the folder or file PATH of SOURCE (\"Photos/2021\") in the image,\n"
      "                in every tree; repeatable. Each PATH must be in SOURCE. The entries are\n"
      "                hidden in the finished image as umbradisc-cli hide would hide them, and\n"
      "                read back hidden before TARGET is written; an entry that cannot be\n"
      "                hidden stops the run. A hidden file is out of reach on Windows, even by\n"
      "                its full path.\n"
      "  --help        this text\n"
      "  --version     the version of cdimage\n"
      "\n"
      "Always: Joliet names of up to 103 UTF-16 characters, kept exactly; a name Joliet cannot\n"
      "hold (longer, ending in a dot, or with * / : ; ? \\ or control characters) stops the\n"
      "run. Folders deeper than 8 levels stay in place; on Windows, where the system's image\n"
      "maker (IMAPI2FS) lays out the image, they stop the run with a line naming the folder.\n"
      "Symbolic links are followed.\n"
#ifdef _WIN32
      "The system's image maker writes no Rock Ridge entries and no UDF tree.\n"
#else
      "The ISO 9660 tree carries Rock Ridge entries (each entry's exact name, its permissions and\n"
      "its dates), which Linux, BSD and macOS read; there is no UDF tree.\n"
#endif
      "\n"
      "Progress is printed as whole percentages, one a line. The image is written to a hidden\n"
      "temporary file beside TARGET and renamed to TARGET only when complete. On any error a\n"
      "one-line message goes to stderr, nothing is left behind and the exit status is 1.\n";
}

}  // namespace cdimage
