#include "FolderImageMaker.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ostream>
#include <system_error>

#include "ImageHiding.h"
#include "JolietNames.h"
#include "Platform.h"
#include "TempImageName.h"

namespace fs = std::filesystem;

namespace cdimage {
namespace {

constexpr uint64_t kCdCapacityBytes = 360000ULL * 2048;  // an 80-minute CD
constexpr size_t kChunkBytes = 32 * 2048;

std::string describe(const fs::path& path, const std::string& reason) {
  return umbra::utf8FromPath(path) + ": " + reason;
}

std::string systemReason() { return std::strerror(errno); }

// Opens and closes the file, so an unreadable file stops the run here rather than failing, or
// being written as zeros, while the image is produced.
bool canRead(const fs::path& path, std::string* error) {
  std::FILE* file = openToRead(path);
  if (!file) {
    *error = describe(path, "cannot read: " + systemReason());
    return false;
  }
  std::fclose(file);
  return true;
}

}  // namespace

std::string FolderImageMaker::unsupportedOption(const MakerOptions& options, const ImageLimits& limits) {
  if (options.keepCase && !limits.keepsCase)
    return "-d is not available here: " + limits.maker + " always writes ISO 9660 names in upper case";
  return {};
}

bool FolderImageMaker::make(std::string* error) {
  m_limits = m_service.limits();
  if (const std::string refusal = unsupportedOption(m_options, m_limits); !refusal.empty()) {
    *error = refusal;
    return false;
  }
  const fs::path source = umbra::pathFromUtf8(m_options.source);
  std::error_code ec;
  const fs::file_status status = fs::status(source, ec);
  if (ec || !fs::is_directory(status)) {
    *error = describe(source, ec ? ec.message() : "not a folder");
    return false;
  }
  for (const std::string& path : m_options.hide) {
    if (std::string problem = hidePathProblem(source, path); !problem.empty()) {
      *error = std::move(problem);
      return false;
    }
  }
  const fs::path target = fs::absolute(umbra::pathFromUtf8(m_options.target));
  m_guard.keepClearOf(target);
  if (!m_service.setLayout(m_options.label, m_options.longNames ? 2 : 1, error)) return false;
  if (!m_service.addFolder("/", m_options.time, error)) return false;
  // The maker reads the files by absolute path.
  if (!addFolder(fs::absolute(source), "", error)) return false;
  if (m_options.bootFile && !addBootImage(umbra::pathFromUtf8(*m_options.bootFile), error)) return false;
  // A target folder inside the source is named as such by the walk, before this.
  if (fs::is_directory(target, ec)) {
    *error = describe(target, "is a folder");
    return false;
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
    const std::string name = umbra::utf8FromPath(path.filename());
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
      if (m_limits.maxFolderLevels != 0 && level > m_limits.maxFolderLevels) {
        *error = describe(path, "the folder would be level " + std::to_string(level) +
                                    " of the image; ISO 9660 as " + m_limits.maker + " writes it holds at most " +
                                    std::to_string(m_limits.maxFolderLevels) + " levels");
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

bool FolderImageMaker::addBootImage(const fs::path& boot, std::string* error) {
  std::error_code ec;
  if (!fs::is_regular_file(fs::status(boot, ec))) {
    *error = describe(boot, ec ? ec.message() : "the boot image is not a file");
    return false;
  }
  if (!m_guard.clash(fs::canonical(boot, ec), false, false).empty()) {
    *error = describe(m_guard.target(), "the target is the boot file");
    return false;
  }
  return canRead(boot, error) && m_service.setBootImage(boot, error);
}

bool FolderImageMaker::writeImage(ImageStream& stream, const fs::path& target, std::string* error) {
  const fs::path temp = target.parent_path() / tempImageName(currentProcessId());
  std::FILE* file = createNewFile(temp);
  if (!file) {
    *error = describe(target, "cannot write: " + systemReason());
    return false;
  }
  reportProgress(0);
  bool written = copyToFile(stream, file, temp, error);
  if (std::fclose(file) != 0 && written) {
    *error = describe(temp, "cannot write: " + systemReason());
    written = false;
  }
  // Hidden in the temporary image, so the target never holds the entries in view.
  if (written && !m_options.hide.empty()) {
    if (stopRequested()) {
      *error = "stopped";
      written = false;
    } else {
      written = hideInImage(temp, m_options.hide, error, &m_hidFiles);
    }
  }
  std::error_code ec;
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

bool FolderImageMaker::copyToFile(ImageStream& stream, std::FILE* file, const fs::path& temp,
                                  std::string* error) {
  const uint64_t size = stream.size();
  std::vector<unsigned char> buffer(kChunkBytes);
  uint64_t done = 0;
  while (done < size) {
    if (stopRequested()) {
      *error = "stopped";
      return false;
    }
    size_t got = 0;
    if (!stream.read(buffer.data(), static_cast<size_t>(std::min<uint64_t>(kChunkBytes, size - done)), got,
                     error)) {
      return false;
    }
    if (got == 0) {
      *error = "the image ended after " + std::to_string(done) + " of " + std::to_string(size) + " bytes";
      return false;
    }
    if (std::fwrite(buffer.data(), 1, got, file) != got) {
      *error = describe(temp, "cannot write: " + systemReason());
      return false;
    }
    done += got;
    reportProgress(static_cast<int>(done * 100 / size));
  }
  return stream.finish(error);
}

void FolderImageMaker::reportProgress(int percent) {
  if (percent == m_lastPercent) return;
  m_lastPercent = percent;
  m_progress << percent << '\n' << std::flush;
}

}  // namespace cdimage
