#pragma once
// Every kind of tree an image may hold, in the order the model pairs them: the ISO 9660 tree first
// (it gives the folder nodes), then the trees paired with it. A new kind of tree is a folder with
// its reader, and one line in this list.
#include <memory>
#include <span>

#include "engine/Error.h"
#include "engine/model/TreeReader.h"

namespace umbra {

class CIsoImage;

// Makes the reader of one kind of tree of an open image; out stays null when the image has no such
// tree. An error says why the tree's folders could not all be read (the reader may hold part of them).
using TreeFinder = Error (*)(const CIsoImage& image, std::unique_ptr<TreeReader>& out);

std::span<const TreeFinder> treeFinders();

}  // namespace umbra
