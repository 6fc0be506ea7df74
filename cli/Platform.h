#pragma once
// What the command line tool asks of the operating system before a command runs, and how its text
// reaches the user.
#include <cstdio>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace umbra::cli {

// The arguments after the program name, in UTF-8 whatever the system's code page.
std::vector<std::string> utf8Arguments(int argc, char** argv);

// Standard output and error carry the bytes as written ("\n" stays "\n" on Windows).
void useBinaryOutput();

// Writes UTF-8 text to stdout or stderr. A Windows console gets it as UTF-16 (WriteConsoleW), so
// every letter shows whatever the console's code page; a file, a pipe or a terminal elsewhere gets
// the UTF-8 bytes. False when the text could not be written.
bool writeText(std::FILE* stream, std::string_view text);

// std::ostream over writeText for stdout or stderr, for code that prints to a stream; it passes
// each line on as it ends and the rest at a flush.
std::ostream& textStream(std::FILE* stream);

}  // namespace umbra::cli
