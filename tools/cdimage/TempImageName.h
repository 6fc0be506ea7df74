#pragma once
// Where cdimage writes an image before it is complete: a hidden file beside the target, named after
// the maker's process id. The runner uses the same name to clear the file after a hard stop.
#include <string>

namespace cdimage {

inline std::string tempImageName(long long processId) {
  return ".cdimage-" + std::to_string(processId) + ".part";
}

}  // namespace cdimage
