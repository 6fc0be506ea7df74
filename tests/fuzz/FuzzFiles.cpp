#include "FuzzFiles.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <system_error>
#include <vector>

#include "base/PathText.h"
#include "base/ProcessId.h"

namespace umbra::fuzz {

namespace {
// A sparse input may name any sector; a file longer than this is not made.
constexpr uint32_t kMaxSparseSectors = 8192;

void removePrivateFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(privateFolder(), ignored);
}

std::FILE* openForWriting(const std::filesystem::path& path) {
#ifdef _WIN32
  return _wfopen(path.c_str(), L"wb");
#else
  return std::fopen(path.c_str(), "wb");
#endif
}
}  // namespace

const std::filesystem::path& privateFolder() {
  static const std::filesystem::path folder = [] {
    std::error_code ec;
    std::filesystem::path base = std::filesystem::temp_directory_path(ec);
    if (ec) base = ".";
    const std::filesystem::path path = base / ("umbra-fuzz-" + std::to_string(currentProcessId()));
    std::filesystem::remove_all(path, ec);  // a folder left by an earlier process with this id
    std::filesystem::create_directories(path, ec);
    return path;
  }();
  static const bool cleanup = (std::atexit(removePrivateFolder), true);
  (void)cleanup;
  return folder;
}

std::string writeInput(const std::string& name, const uint8_t* data, size_t size, size_t zeroSectors) {
  const std::filesystem::path path = privateFolder() / name;
  std::FILE* file = openForWriting(path);
  if (!file) return {};
  static const std::vector<uint8_t> zeros(kSectorSize);
  bool ok = true;
  for (size_t i = 0; i < zeroSectors && ok; ++i) ok = std::fwrite(zeros.data(), 1, zeros.size(), file) == zeros.size();
  if (ok && size) ok = std::fwrite(data, 1, size, file) == size;
  ok = std::fclose(file) == 0 && ok;
  return ok ? utf8FromPath(path) : std::string();
}

std::string writeSparseInput(const std::string& name, const uint8_t* data, size_t size, uint32_t minSectors) {
  constexpr size_t kRecord = 4 + kSectorSize;
  const std::filesystem::path path = privateFolder() / name;
  std::FILE* file = openForWriting(path);
  if (!file) return {};
  bool ok = true;
  uint64_t end = uint64_t{minSectors} * kSectorSize;
  for (size_t at = 0; ok && at + 4 <= size; at += kRecord) {
    const uint32_t sector = data[at] | data[at + 1] << 8 | data[at + 2] << 16 | uint32_t{data[at + 3]} << 24;
    if (sector >= kMaxSparseSectors) continue;
    const size_t bytes = std::min(kSectorSize, size - at - 4);
    // Sectors not written read as zeros: the gaps are holes of the file.
    ok = std::fseek(file, static_cast<long>(sector * kSectorSize), SEEK_SET) == 0 &&
         std::fwrite(data + at + 4, 1, bytes, file) == bytes;
    end = std::max<uint64_t>(end, (uint64_t{sector} + 1) * kSectorSize);
  }
  static const uint8_t zero = 0;
  // The last byte of the file, so that it ends where the highest sector does.
  if (ok && end > 0) {
    std::fseek(file, 0, SEEK_END);
    if (static_cast<uint64_t>(std::ftell(file)) < end)
      ok = std::fseek(file, static_cast<long>(end - 1), SEEK_SET) == 0 && std::fwrite(&zero, 1, 1, file) == 1;
  }
  ok = std::fclose(file) == 0 && ok;
  return ok ? utf8FromPath(path) : std::string();
}

}  // namespace umbra::fuzz
