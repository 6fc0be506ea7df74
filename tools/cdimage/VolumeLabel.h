#pragma once
// The volume label as the system's image maker on Windows (IMAPI2FS) takes it: one VolumeName of
// at most 15 characters, each a letter, digit, '.' or '_' (what Joliet allows; the maker derives the
// ISO 9660 name, A-Z, 0-9 and '_', from it). Plain functions, so they are tested on every system.
#include <string>

namespace cdimage {

// Every other character (a space, an accented letter) becomes '_', then the label is cut to 15
// characters: "My Disc" -> "My_Disc". UTF-8 in, ASCII out.
std::string imapiVolumeName(const std::string& label);

// A one-line note for the user when the label had to change; empty when it is kept as given.
std::string imapiVolumeNameNote(const std::string& label);

}  // namespace cdimage
