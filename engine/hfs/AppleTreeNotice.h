#pragma once
// Hybrid images can carry an HFS or HFS+ tree for Macs beside the ISO 9660 tree. Nothing here
// writes that tree, so its folders stay visible; the views tell the user once.
#include <string>

#include "engine/io/ImageFile.h"

namespace umbra {

// A one-line notice when the image has an Apple partition map or an HFS/HFS+ volume header,
// else "".
std::string appleTreeNotice(const ImageFile& file);

}  // namespace umbra
