#pragma once
// The start both of cdimage's mains share (the libisofs one and the Windows one): the command line
// in UTF-8, and --help, --version and a refused command line answered before any image maker is
// asked, so that they read the same on every system.
#include <optional>
#include <string>

#include "MakerOptions.h"

namespace cdimage {

// Prints "cdimage: message" on standard error; returns the exit status of a failed command.
int fail(const std::string& message);
// Prints "cdimage: note: text" on standard error.
void note(const std::string& text);
// The options to make an image with; or nothing, with status the command's exit status (0 after
// --help or --version, 1 after a command line that was refused).
std::optional<MakerOptions> startCommand(int argc, char** argv, int& status);

}  // namespace cdimage
