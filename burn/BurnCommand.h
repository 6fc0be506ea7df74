#pragma once

#include <functional>
#include <iosfwd>
#include <string>

#include "BurnVerifier.h"

namespace umbra {

// `burn --verify`: after a successful write, the disc is read back and compared with the image (on
// Windows, the recording service checks it as part of the write at the level given).
struct BurnVerification {
  bool enabled = false;
  VerifyLevel level = VerifyLevel::Quick;  // Windows' check (libburn's read-back compares every byte)
  std::function<void()> beforeReadBack;  // runs between the write and the read-back; the tests damage the disc here
};

// `burn IMAGE [--drive ADDRESS] [--verify[=quick|full]]` of the command line: burns the image, printing progress and
// the result message. An empty address picks the drive as the program does. Returns the exit status:
// 0 after a successful burn (and, when asked for, a disc that matches the image), 2 when the image
// cannot be read, 4 when the burn did not succeed or the disc does not match the image.
int runBurnCommand(const std::string& imagePath, const std::string& driveAddress, std::ostream& out, std::ostream& err,
                   const BurnVerification& verification = {});

}  // namespace umbra
