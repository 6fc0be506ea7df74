#include "StagingCopy.h"

#include "StagedCopies.h"
#include "base/PathText.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>
#include <vector>

namespace umbra {

namespace fs = std::filesystem;

namespace {

constexpr size_t kChunkSize = 1 << 20;
constexpr int kPercentDone = 100;

int percentOf(std::uintmax_t done, std::uintmax_t total) {
  return total > 0 ? static_cast<int>(done * kPercentDone / total) : kPercentDone;
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::string systemReason() { return std::strerror(errno); }

// The same file under another name (a link), which removing or replacing would destroy.
bool isSameFile(const fs::path& a, const fs::path& b) {
  std::error_code error;
  return fs::exists(a, error) && fs::equivalent(a, b, error);
}

}  // namespace

bool copyIntoStaging(const fs::path& image, const fs::path& stagedCopy, const std::function<void(int)>& percent,
                     const std::function<bool()>& cancelRequested, std::string& reason) {
  std::error_code error;
  const fs::file_status status = fs::status(image, error);
  if (!fs::is_regular_file(status)) {
    reason = "Cannot open " + utf8FromPath(image) + ": " +
             (fs::exists(status) ? std::string("not a file") : error.message());
    return false;
  }
  File source(openFile(image, "rb"));
  if (!source) {
    reason = "Cannot open " + utf8FromPath(image) + ": " + systemReason();
    return false;
  }
  const fs::path partial = partialCopyPath(stagedCopy);
  // Staging the image onto itself would end with the image deleted after the burn.
  if (isSameFile(stagedCopy, image) || isSameFile(partial, image)) {
    reason = utf8FromPath(image) + " already lies in the staging folder";
    return false;
  }
  const fs::path folder = stagedCopy.parent_path();
  fs::create_directories(folder, error);
  if (error || !fs::is_directory(folder, error)) {
    reason = "Cannot create the staging folder " + utf8FromPath(folder);
    return false;
  }
  // Leftovers under these names can only be this process's own: the names carry its id.
  fs::remove(partial, error);
  File copy(openFile(partial, "wbx"));
  if (!copy) {
    reason = "Cannot write into " + utf8FromPath(folder) + ": " + systemReason();
    return false;
  }
  auto fail = [&](std::string why) {
    copy.reset();
    std::error_code ignored;
    fs::remove(partial, ignored);
    reason = std::move(why);
    return false;
  };

  const std::uintmax_t total = fs::file_size(image, error);
  std::uintmax_t done = 0;
  int shown = 0;
  if (percent) percent(0);
  std::vector<char> buffer(kChunkSize);
  for (;;) {
    const size_t got = std::fread(buffer.data(), 1, buffer.size(), source.get());
    if (got == 0 && std::ferror(source.get()))
      return fail("Cannot read " + utf8FromPath(image) + ": " + systemReason());
    if (got == 0) break;
    if (cancelRequested && cancelRequested()) return fail("The copy into the staging folder was cancelled");
    if (std::fwrite(buffer.data(), 1, got, copy.get()) != got)
      return fail("Cannot write " + utf8FromPath(partial) + ": " + systemReason());
    done += got;
    if (percent && percentOf(done, total) > shown) {
      shown = percentOf(done, total);
      percent(shown);
    }
  }
  if (std::fclose(copy.release()) != 0) return fail("Cannot write " + utf8FromPath(partial) + ": " + systemReason());

  // rename() replaces a same-named entry itself (even a link), never the file a link points to.
  fs::rename(partial, stagedCopy, error);
  if (error) return fail("Cannot place the copy at " + utf8FromPath(stagedCopy) + ": " + error.message());
  if (percent && shown < kPercentDone) percent(kPercentDone);
  return true;
}

}  // namespace umbra
