#include "ImageWriter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <vector>

#include "Platform.h"
#include "TempImageName.h"

namespace fs = std::filesystem;

namespace cdimage {
namespace {

constexpr off_t kCdCapacityBytes = 360000LL * 2048;  // an 80-minute CD
constexpr size_t kChunkBytes = 32 * 2048;

std::string describe(const fs::path& path, const std::string& reason) {
  return path.string() + ": " + reason;
}

// "YYYYMMDDhhmmsscc" in UTC, which libisofs records unchanged with a zero zone offset.
std::string volumeTimeText(std::time_t time) {
  std::tm fields{};
  if (!toUtcCalendar(time, &fields)) return {};
  char text[80];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d00", fields.tm_year + 1900,
                fields.tm_mon + 1, fields.tm_mday, fields.tm_hour, fields.tm_min, fields.tm_sec);
  return text;
}

class BurnSourceHolder {
 public:
  explicit BurnSourceHolder(burn_source* source) : m_source(source) {}
  ~BurnSourceHolder() {
    if (!m_source) return;
    if (!m_finished) m_source->cancel(m_source);
    m_source->free_data(m_source);
    std::free(m_source);
  }
  BurnSourceHolder(const BurnSourceHolder&) = delete;
  BurnSourceHolder& operator=(const BurnSourceHolder&) = delete;
  void markFinished() { m_finished = true; }

 private:
  burn_source* m_source;
  bool m_finished = false;
};

}  // namespace

std::string takeLibraryMessage() {
  int code = 0, imageId = 0;
  char text[ISO_MSGS_MESSAGE_LEN] = {};
  char severity[80] = {};
  std::string first;
  while (iso_obtain_msgs(const_cast<char*>("SORRY"), &code, &imageId, text, severity) == 1) {
    if (first.empty()) first = text;
  }
  while (!first.empty() && (first.back() == '\n' || first.back() == ' ')) first.pop_back();
  return first;
}

bool ImageWriter::applyOptions(IsoWriteOpts* opts, std::string* error) const {
  iso_write_opts_set_iso_level(opts, m_options.longNames ? 2 : 1);
  // Rock Ridge keeps every name exactly as given beside the ISO 9660 form; readers that do not know
  // it ignore it, and it lets a folder be told apart from one whose name differs only in case.
  iso_write_opts_set_rockridge(opts, 1);
  iso_write_opts_set_joliet(opts, 1);
  iso_write_opts_set_joliet_long_names(opts, 1);
  iso_write_opts_set_joliet_longer_paths(opts, 1);
  iso_write_opts_set_joliet_utf16(opts, 1);
  iso_write_opts_set_no_force_dots(opts, 2);  // a Joliet name gets no dot it did not have
  // Deep folders stay where they are instead of being moved or left out.
  iso_write_opts_set_allow_deep_paths(opts, 1);
  iso_write_opts_set_allow_longer_paths(opts, 1);
  iso_write_opts_set_allow_lowercase(opts, m_options.keepCase ? 1 : 0);
  iso_write_opts_set_relaxed_vol_atts(opts, m_options.keepCase ? 1 : 0);
  // Every directory record, in both trees, carries the requested time.
  iso_write_opts_set_dir_rec_mtime(opts, 7);
  iso_write_opts_set_replace_timestamps(opts, 2);
  iso_write_opts_set_default_timestamp(opts, m_options.time);
  std::string volumeTime = volumeTimeText(m_options.time);
  if (volumeTime.empty()) {
    *error = "the time stamp cannot be converted to a calendar date";
    return false;
  }
  iso_write_opts_set_pvd_times(opts, m_options.time, m_options.time, 0, 0, volumeTime.data());
  return true;
}

bool ImageWriter::write(IsoImage* image, std::string* error) {
  const fs::path target = fs::absolute(fs::path(m_options.target));
  std::error_code ec;
  if (fs::is_directory(target, ec)) {
    *error = describe(target, "is a folder");
    return false;
  }

  IsoWriteOpts* opts = nullptr;
  int result = iso_write_opts_new(&opts, 0);
  if (result < 0) {
    *error = iso_error_to_msg(result);
    return false;
  }
  burn_source* source = nullptr;
  if (applyOptions(opts, error)) {
    result = iso_image_create_burn_source(image, opts, &source);
    if (result < 0) {
      const std::string detail = takeLibraryMessage();
      *error = detail.empty() ? iso_error_to_msg(result) : detail;
    }
  }
  iso_write_opts_free(opts);
  if (!source) return false;
  BurnSourceHolder holder(source);

  const off_t size = source->get_size(source);
  if (!m_options.noSizeLimit && size > kCdCapacityBytes) {
    *error = "the image needs " + std::to_string(size) + " bytes, more than a CD holds (" +
             std::to_string(kCdCapacityBytes) + "); -m lifts the limit";
    return false;
  }

  const fs::path temp = target.parent_path() / tempImageName(currentProcessId());
  std::FILE* file = std::fopen(temp.string().c_str(), "wbx");
  if (!file) {
    *error = describe(target, std::string("cannot write: ") + std::strerror(errno));
    return false;
  }
  reportProgress(0);
  bool written = copyToFile(source, file, temp, error);
  if (written) holder.markFinished();
  if (std::fclose(file) != 0 && written) {
    *error = describe(temp, std::string("cannot write: ") + std::strerror(errno));
    written = false;
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

void ImageWriter::reportProgress(int percent) {
  if (percent == m_lastPercent) return;
  m_lastPercent = percent;
  std::printf("%d\n", percent);
  std::fflush(stdout);
}

bool ImageWriter::copyToFile(burn_source* source, std::FILE* file, const fs::path& temp,
                             std::string* error) {
  const off_t size = source->get_size(source);
  std::vector<unsigned char> buffer(kChunkBytes);
  off_t done = 0;
  while (done < size) {
    if (stopRequested()) {
      *error = "stopped";
      return false;
    }
    const off_t left = size - done;
    const int want = static_cast<int>(left < static_cast<off_t>(kChunkBytes) ? left : kChunkBytes);
    const int got = source->read_xt(source, buffer.data(), want);
    if (got <= 0) {
      const std::string detail = takeLibraryMessage();
      *error = detail.empty() ? "the image could not be produced" : detail;
      return false;
    }
    if (std::fwrite(buffer.data(), 1, static_cast<size_t>(got), file) != static_cast<size_t>(got)) {
      *error = describe(temp, std::string("cannot write: ") + std::strerror(errno));
      return false;
    }
    done += got;
    reportProgress(static_cast<int>(done * 100 / size));
  }
  // A file that failed to read while the image was produced is reported, not written as zeros.
  const std::string detail = takeLibraryMessage();
  if (!detail.empty()) {
    *error = detail;
    return false;
  }
  return true;
}

}  // namespace cdimage
