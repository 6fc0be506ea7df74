#pragma once
// Why an open of an image file was refused, in words that are the same on every system: each
// platform's ImageFile maps its own error codes onto these, and one table holds the sentences.
#include <string>

#include "engine/Error.h"
#include "engine/io/ImageFile.h"

namespace umbra {

enum class OpenRefusal {
  Missing,
  NoReadPermission,
  NoWritePermission,
  ReadOnlyVolume,
  InUse,  // another program holds the file, or holds it open for writing
  Folder,
  Device,  // a disc or block device opened to be written
  NotRegular,
  CannotOpen,  // any other refusal: the system's own words follow
  CannotSize,
  CannotLock,
};

// The error for a refusal; systemText ends the sentence of the refusals that take the system's words.
Error openRefusal(OpenRefusal refusal, const std::string& path, const std::string& systemText = {});

inline OpenRefusal noPermission(ImageFile::Mode mode) {
  return mode == ImageFile::Mode::ReadWrite ? OpenRefusal::NoWritePermission : OpenRefusal::NoReadPermission;
}

}  // namespace umbra
