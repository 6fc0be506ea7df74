#include "VolumeLabel.h"

namespace cdimage {
namespace {

constexpr size_t kMaxCharacters = 15;

bool allowed(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_';
}

}  // namespace

std::string imapiVolumeName(const std::string& label) {
  std::string name;
  for (size_t i = 0; i < label.size() && name.size() < kMaxCharacters; ++i) {
    const unsigned char c = static_cast<unsigned char>(label[i]);
    if ((c & 0xC0) == 0x80) continue;  // the rest of a character already replaced
    name += allowed(static_cast<char>(c)) ? static_cast<char>(c) : '_';
  }
  return name;
}

std::string imapiVolumeNameNote(const std::string& label) {
  const std::string name = imapiVolumeName(label);
  if (name == label) return {};
  return "the volume label \"" + label + "\" is written as \"" + name +
         "\" (at most 15 letters, digits, '.' and '_'; other characters become '_')";
}

}  // namespace cdimage
