#include "FolderImageMaker.h"

#include <algorithm>
#include <fstream>
#include <ostream>
#include <system_error>

#include "JolietNames.h"
#include "Platform.h"
#include "TempImageName.h"

namespace fs = std::filesystem;

namespace cdimage {
namespace {

constexpr uint64_t kCdCapacityBytes = 360000ULL * 2048;  // an 80-minute CD
constexpr size_t kChunkBytes = 32 * 2048;
// ISO 9660 holds at most 8 levels of folders, the root being the first; IMAPI2FS enforces it and
// has no setting that lifts it, so deeper folders are refused here, by name.
constexpr size_t kMaxIso9660Levels = 8;

std::string describe(const fs::path& path, const std::string& reason) {
  return utf8FromPath(path) + ": " + reason;
}

bool canRead(const fs::path& path, std::string* error) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    *error = describe(path, "cannot read: the file cannot be opened");
    return false;
  }
  return true;
}

}  // namespace

std::string FolderImageMaker::unsupportedOption(const MakerOptions& options) {
  if (options.keepCase) return "-d is not available here: the system's image maker (IMAPI2FS) "
                               "always writes ISO 9660 names in upper case";
  return {};
}

bool FolderImageMaker::make(std::string* error) {
  if (const std::string refusal = unsupportedOption(m_options); !refusal.empty()) {
    *error = refusal;
    return false;
  }
  const fs::path source = pathFromUtf8(m_options.source);
  std::error_code ec;
  const fs::file_status status = fs::status(source, ec);
  if (ec || !fs::is_directory(status)) {
    *error = describe(source, ec ? ec.message() : "not a folder");
    return false;
  }
  const fs::path target = fs::absolute(pathFromUtf8(m_options.target));
  if (fs::is_directory(target, ec)) {
    *error = describe(target, "is a folder");
    return false;
  }
  m_guard.keepClearOf(target);
  if (!m_service.setLayout(m_options.label, m_options.longNames ? 2 : 1, error)) return false;
  if (!m_service.addFolder("/", m_options.time, error)) return false;
  if (!addFolder(fs::absolute(source), "", error)) return false;
  if (m_options.bootFile) {
    const fs::path boot = pathFromUtf8(*m_options.bootFile);
    if (!fs::is_regular_file(fs::status(boot, ec))) {
      *error = describe(boot, ec ? ec.message() : "the boot image is not a file");
      return false;
    }
    if (!m_guard.clash(fs::canonical(boot, ec), false, false).empty()) {
      *error = describe(m_guard.target(), "the target is the boot file");
      return false;
    }
    if (!canRead(boot, error) || !m_service.setBootImage(fs::absolute(boot), error)) return false;
  }
  const std::unique_ptr<ImageStream> stream = m_service.create(error);
  if (!stream) return false;
  if (!m_options.noSizeLimit && stream->size() > kCdCapacityBytes) {
    *error = "the image needs " + std::to_string(stream->size()) + " bytes, more than a CD holds (" +
             std::to_string(kCdCapacityBytes) + "); -m lifts the limit";
    return false;
  }
  return writeImage(*stream, target, error);
}

bool FolderImageMaker::addFolder(const fs::path& folder, const std::string& imagePath,
                                 std::string* error) {
  std::error_code ec;
  const fs::path canonical = fs::canonical(folder, ec);
  if (ec) {
    *error = describe(folder, ec.message());
    return false;
  }
  if (std::find(m_openFolders.begin(), m_openFolders.end(), canonical) != m_openFolders.end()) {
    *error = describe(folder, "symbolic link loop");
    return false;
  }
  if (std::string clash = m_guard.clash(canonical, true, m_openFolders.empty()); !clash.empty()) {
    *error = std::move(clash);
    return false;
  }
  m_openFolders.push_back(canonical);

  std::vector<fs::directory_entry> entries;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    entries.push_back(*it);
  }
  if (ec) {
    *error = describe(folder, "cannot list: " + ec.message());
    return false;
  }
  for (const fs::directory_entry& entry : entries) {
    if (stopRequested()) {
      *error = "stopped";
      return false;
    }
    const fs::path& path = entry.path();
    const std::string name = utf8FromPath(path.filename());
    if (const std::string problem = jolietNameProblem(name); !problem.empty()) {
      *error = describe(path, problem);
      return false;
    }
    const fs::file_status status = fs::status(path, ec);  // follows symbolic links
    if (ec) {
      *error = describe(path, "cannot read: " + ec.message());
      return false;
    }
    const std::string entryPath = imagePath + "/" + name;
    if (fs::is_directory(status)) {
      const size_t level = static_cast<size_t>(std::count(entryPath.begin(), entryPath.end(), '/')) + 1;
      if (level > kMaxIso9660Levels) {
        *error = describe(path, "the folder would be level " + std::to_string(level) +
                                    " of the image; ISO 9660 as the system's image maker (IMAPI2FS) "
                                    "writes it holds at most 8 levels");
        return false;
      }
      if (!m_service.addFolder(entryPath, m_options.time, error) ||
          !addFolder(path, entryPath, error)) {
        return false;
      }
    } else if (fs::is_regular_file(status)) {
      if (std::string clash = m_guard.clash(fs::canonical(path, ec), false, false); !clash.empty()) {
        *error = std::move(clash);
        return false;
      }
      if (!canRead(path, error) || !m_service.addFile(entryPath, path, m_options.time, error)) {
        return false;
      }
    } else {
      *error = describe(path, "neither a file nor a folder");
      return false;
    }
  }
  m_openFolders.pop_back();
  return true;
}

bool FolderImageMaker::writeImage(ImageStream& stream, const fs::path& target, std::string* error) {
  const fs::path temp = target.parent_path() / tempImageName(currentProcessId());
  std::error_code ec;
  if (fs::exists(temp, ec)) {
    *error = describe(target, "cannot write: " + utf8FromPath(temp.filename()) + " is in the way");
    return false;
  }
  bool written = false;
  {
    std::ofstream file(temp, std::ios::binary | std::ios::trunc);
    if (!file) {
      *error = describe(target, "cannot write: the file cannot be created");
      return false;
    }
    reportProgress(0);
    const uint64_t size = stream.size();
    std::vector<unsigned char> buffer(kChunkBytes);
    uint64_t done = 0;
    written = true;
    while (done < size) {
      if (stopRequested()) {
        *error = "stopped";
        written = false;
        break;
      }
      size_t got = 0;
      if (!stream.read(buffer.data(), static_cast<size_t>(std::min<uint64_t>(kChunkBytes, size - done)),
                       got, error)) {
        written = false;
        break;
      }
      if (got == 0) {
        *error = "the image ended after " + std::to_string(done) + " of " + std::to_string(size) +
                 " bytes";
        written = false;
        break;
      }
      if (!file.write(reinterpret_cast<const char*>(buffer.data()), static_cast<std::streamsize>(got))) {
        *error = describe(temp, "cannot write: the disk refused the data");
        written = false;
        break;
      }
      done += got;
      reportProgress(static_cast<int>(done * 100 / size));
    }
    file.close();
    if (written && file.fail()) {
      *error = describe(temp, "cannot write: the file could not be completed");
      written = false;
    }
  }
  if (written) {
    fs::rename(temp, target, ec);
    if (ec) {
      *error = describe(target, "cannot write: " + ec.message());
      written = false;
    }
  }
  if (!written) fs::remove(temp, ec);
  return written;
}

void FolderImageMaker::reportProgress(int percent) {
  if (percent == m_lastPercent) return;
  m_lastPercent = percent;
  m_progress << percent << '\n' << std::flush;
}

}  // namespace cdimage
