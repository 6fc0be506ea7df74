#pragma once

#include <iosfwd>
#include <string>

namespace umbra {

// `burn IMAGE [--drive ADDRESS]` of the command line: burns the image, printing progress and the
// result message. An empty address picks the drive as the program does. Returns the exit status:
// 0 after a successful burn, 2 when the image cannot be read, 4 when the burn did not succeed.
int runBurnCommand(const std::string& imagePath, const std::string& driveAddress, std::ostream& out, std::ostream& err);

}  // namespace umbra
