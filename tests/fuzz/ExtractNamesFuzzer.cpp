// libFuzzer target for extract's names: the image (from sector 16 on) is copied into a destination
// twice, the second time replacing what the first wrote, as `umbradisc-cli extract` does. Names and
// link targets come from the image as they stand (Rock Ridge, Joliet and UDF names of any bytes), so
// the fuzzer tries separators, "..", device names, control characters and links leading out.
//
// Checked after each copy, with the file system's own answers rather than extract's rules: nothing
// was made or changed beside the destination, every name made inside it is one a file may have,
// and every link made there leads to a place inside it.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "FuzzFiles.h"
#include "base/PathText.h"
#include "cli/Commands.h"

namespace fs = std::filesystem;

namespace {

const char kBait[] = "left alone";

void writeBait(const fs::path& file) {
  fs::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << kBait;
}

bool baitUntouched(const fs::path& file) {
  std::error_code ec;
  if (fs::symlink_status(file, ec).type() != fs::file_type::regular) return false;
  std::ifstream in(file, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return text == kBait;
}

bool isUsableName(const std::string& name) {
  if (name.empty() || name == "." || name == ".." || name.size() > 255) return false;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '/' || c == '\\' || byte < 0x20 || byte == 0x7F) return false;
  }
  return true;
}

bool inside(const fs::path& path, const fs::path& top) {
  const auto [pathEnd, topEnd] = std::mismatch(path.begin(), path.end(), top.begin(), top.end());
  return topEnd == top.end();
}

void checkCopy(const fs::path& sandbox, const fs::path& dest, const fs::path& bait) {
  std::error_code ec;
  // Only the destination and the bait's folder stand in the sandbox.
  for (const fs::directory_entry& entry : fs::directory_iterator(sandbox, ec))
    if (entry.path() != dest && entry.path() != bait.parent_path()) __builtin_trap();
  for (const fs::directory_entry& entry : fs::directory_iterator(bait.parent_path(), ec))
    if (entry.path() != bait) __builtin_trap();
  if (!baitUntouched(bait)) __builtin_trap();

  const fs::path top = fs::canonical(dest, ec);
  if (ec) return;  // nothing was made
  for (auto it = fs::recursive_directory_iterator(dest, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (!isUsableName(umbra::utf8FromPath(it->path().filename()))) __builtin_trap();
    if (!it->is_symlink(ec)) continue;
    // Followed as far as it goes (a link to a link included), the link stays inside.
    const fs::path resolved = fs::weakly_canonical(it->path(), ec);
    if (ec) {
      ec.clear();  // a loop of links, which leads nowhere
      continue;
    }
    if (!inside(resolved, top)) __builtin_trap();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string image = umbra::fuzz::writeInput("image.iso", data, size, 16);
  if (image.empty()) return 0;
  const fs::path sandbox = umbra::fuzz::privateFolder() / "sandbox";
  const fs::path dest = sandbox / "dest";
  const fs::path bait = sandbox / "outside" / "bait.txt";
  std::error_code ec;
  fs::remove_all(sandbox, ec);
  writeBait(bait);
  for (const bool force : {false, true}) {
    (void)umbra::cli::extractCommand(image, "/", umbra::utf8FromPath(dest), force);
    checkCopy(sandbox, dest, bait);
  }
  fs::remove_all(sandbox, ec);
  return 0;
}
