#pragma once

#include "DiscRecorderService.h"

#include <string>

namespace umbra {

// Picks the recorder for a burn: the one named by address (its id, a drive letter such as "E:" or
// its device name, compared without regard to case), or with an empty address the first recorder
// holding a writable medium. Returns its id, or an empty string with the reason.
std::string chooseRecorder(DiscRecorderService& service, const std::string& address, std::string& reason);

}  // namespace umbra
