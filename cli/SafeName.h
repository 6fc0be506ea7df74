#pragma once
// Names from an image made safe to create inside a destination folder.
#include <string>

namespace umbra::cli {

// The name to create for an entry the image names `name`: characters no file name may hold (a
// separator, NUL, control characters; on Windows also <>:"|?* and trailing dots and spaces) become
// "_", and a Windows device name (CON, NUL, COM1, ...) gets a leading "_". Empty when the name is
// refused outright: "", ".", "..", or longer than 255 bytes. windowsRules: the Windows rules apply.
std::string safeName(const std::string& name, bool windowsRules);
// The name as a message shows it: bytes outside printable ASCII and UTF-8 letters as \xNN.
std::string printableName(const std::string& name);
// Whether a link target stays inside the destination: relative, its ".." all in front and never
// climbing above the top. depth: how many folders the link stands below the top.
bool linkStaysInside(const std::string& target, int depth);

}  // namespace umbra::cli
