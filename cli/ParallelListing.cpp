#include "ParallelListing.h"

#include <algorithm>
#include <thread>

namespace umbra::cli {

namespace {
constexpr size_t kFoldersPerThread = 2000;  // below this a thread costs more than it saves
constexpr size_t kMaxThreads = 8;
}  // namespace

size_t chunkCount(size_t folders) {
  const size_t cores = std::max<size_t>(1, std::thread::hardware_concurrency());
  return std::clamp<size_t>(folders / kFoldersPerThread, 1, std::min(cores, kMaxThreads));
}

Error listForEach(const Workspace& ws, const std::vector<int>& folders, Rows rows, const ChunkVisitor& visit) {
  const size_t chunks = chunkCount(folders.size());
  const size_t perChunk = (folders.size() + chunks - 1) / chunks;
  auto bounds = [&](size_t chunk) {
    const size_t first = std::min(folders.size(), chunk * perChunk);
    return std::pair{first, std::min(folders.size(), first + perChunk)};
  };
  std::vector<Error> errors(chunks);
  std::vector<std::thread> threads;
  for (size_t chunk = 1; chunk < chunks; ++chunk) {
    threads.emplace_back([&, chunk] {
      std::unique_ptr<FolderReader> reader = ws.openReader(errors[chunk]);
      if (!reader) return;
      reader->marksOnly(rows == Rows::MarksOnly);
      FolderListing listing;
      for (auto [i, end] = bounds(chunk); i < end; ++i) {
        if ((errors[chunk] = reader->list(folders[i], listing))) return;
        visit(chunk, folders[i], listing);
      }
    });
  }
  // The first chunk is listed here. A small image is listed through the workspace's own file,
  // whose cache still holds what pairing read; a large one through a file of its own, whose small
  // cache suits a walk in order (the workspace's would grow to its full size on the way).
  if (std::unique_ptr<FolderReader> reader = chunks == 1 ? ws.openSharedReader() : ws.openReader(errors[0])) {
    reader->marksOnly(rows == Rows::MarksOnly);
    FolderListing listing;
    for (auto [i, end] = bounds(0); i < end; ++i) {
      if ((errors[0] = reader->list(folders[i], listing))) break;
      visit(0, folders[i], listing);
    }
  }
  for (std::thread& t : threads) t.join();
  for (Error e : errors)
    if (e) {
      if (e.path.empty()) e.path = ws.path();
      return e;
    }
  return {};
}

}  // namespace umbra::cli
