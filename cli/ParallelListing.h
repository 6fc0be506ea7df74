#pragma once
// Lists many folders of one image on several threads. The folders are cut into contiguous chunks;
// chunk 0 is listed on the calling thread (through the workspace's own file when it is the only
// chunk), every other chunk on a thread of its own, each through a reader with its own file handle. Callers keep
// per-chunk state, so the chunks' results can be put back together in order.
#include <functional>
#include <vector>

#include "engine/Workspace.h"

namespace umbra::cli {

using ChunkVisitor = std::function<void(size_t chunk, int folder, const FolderListing& listing)>;

// How many chunks listForEach will use for this many folders (1 for small images).
size_t chunkCount(size_t folders);
// What the listings must hold: every row in full, or only what counting states needs.
enum class Rows { Full, MarksOnly };

// Calls visit for every folder, in order within each chunk. Returns the first error met.
Error listForEach(const Workspace& ws, const std::vector<int>& folders, Rows rows, const ChunkVisitor& visit);

}  // namespace umbra::cli
