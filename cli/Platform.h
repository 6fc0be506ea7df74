#pragma once
// What the command line tool asks of the operating system before a command runs.
#include <string>
#include <vector>

namespace umbra::cli {

// The arguments after the program name, in UTF-8 whatever the system's code page.
std::vector<std::string> utf8Arguments(int argc, char** argv);

// Standard output and error carry the bytes as written ("\n" stays "\n" on Windows).
void useBinaryOutput();

}  // namespace umbra::cli
