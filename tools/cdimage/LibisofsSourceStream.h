#pragma once
// A source file as libisofs reads it while it produces the image: its bytes read by us, so that each
// file is checked on the way. The state taken when the file was added is compared when the file is
// opened and again when it is closed, and the bytes read must come to the size it had; what differs
// goes to the run's SourceProblems, and the file's place in the image is filled with zeros (an
// image with any problem is not written).
#include <filesystem>
#include <memory>

#include "IsoLibrary.h"
#include "SourceCheck.h"

namespace cdimage {

// A new stream with one reference, for iso_image_add_new_file; null when memory runs out.
IsoStream* newSourceStream(const std::filesystem::path& file, const FileState& state,
                           std::shared_ptr<SourceProblems> problems);

}  // namespace cdimage
