#include "StagedCopies.h"

#include <chrono>
#include <system_error>

#include "base/PathText.h"
#include "base/ProcessId.h"

namespace umbra {

namespace fs = std::filesystem;

namespace {

constexpr char kPrefix[] = "umbradisc-burn-";
constexpr char kPartialSuffix[] = ".part";
constexpr auto kStaleAge = std::chrono::hours(24);

// "umbradisc-burn-", digits, "-", at least one more character.
bool isOurName(const std::string& name) {
  const std::string prefix = kPrefix;
  if (name.compare(0, prefix.size(), prefix) != 0) return false;
  size_t pos = prefix.size();
  const size_t digitsStart = pos;
  while (pos < name.size() && name[pos] >= '0' && name[pos] <= '9') ++pos;
  return pos > digitsStart && pos + 1 < name.size() && name[pos] == '-';
}

}  // namespace

fs::path stagedCopyPath(const fs::path& folder, const fs::path& imageFileName) {
  fs::path name = kPrefix + std::to_string(currentProcessId()) + "-";
  name += imageFileName;
  return folder / name;
}

fs::path partialCopyPath(const fs::path& stagedCopy) {
  fs::path partial = stagedCopy;
  partial += kPartialSuffix;
  return partial;
}

int removeStaleStagedCopies(const fs::path& folder) {
  std::error_code error;
  const auto oldest = fs::file_time_type::clock::now() - kStaleAge;
  int removed = 0;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    std::error_code entryError;
    // symlink_status: a link of our name is looked at itself, never followed.
    if (!fs::is_regular_file(it->symlink_status(entryError)) || !isOurName(utf8FromPath(it->path().filename())))
      continue;
    const auto written = fs::last_write_time(it->path(), entryError);
    if (!entryError && written < oldest && fs::remove(it->path(), entryError)) ++removed;
  }
  return removed;
}

}  // namespace umbra
