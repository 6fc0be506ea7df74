#include "LibisofsFileSystemImage.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "LibisofsSourceStream.h"
#include "Platform.h"
#include "base/PathText.h"

namespace fs = std::filesystem;

namespace cdimage {
namespace {

constexpr const char* kBootImageName = "boot.img";
constexpr const char* kBootCatalogName = "boot.cat";

std::string describe(const std::string& what, int code) { return what + ": " + iso_error_to_msg(code); }

// The first queued libisofs message of severity SORRY or worse; empty if none.
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

// "YYYYMMDDhhmmsscc" in UTC, which libisofs records unchanged with a zero zone offset.
std::string volumeTimeText(std::time_t time) {
  std::tm fields{};
  if (!toUtcCalendar(time, &fields)) return {};
  char text[80];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d00", fields.tm_year + 1900,
                fields.tm_mon + 1, fields.tm_mday, fields.tm_hour, fields.tm_min, fields.tm_sec);
  return text;
}

// The firmware loads the whole boot file, counted in 512-byte sectors (the field holds 16 bits).
short loadSizeOf(const fs::path& file) {
  std::error_code ec;
  const uintmax_t bytes = fs::file_size(file, ec);
  const uintmax_t sectors = ec ? 0 : std::min<uintmax_t>((bytes + 511) / 512, 0xFFFF);
  return static_cast<short>(static_cast<uint16_t>(sectors));
}

void stamp(IsoNode* node, std::time_t time) {
  iso_node_set_mtime(node, time);
  iso_node_set_atime(node, time);
  iso_node_set_ctime(node, time);
}

// The image as libisofs produces it, chunk by chunk, while it reads the source files.
class LibisofsImageStream : public ImageStream {
 public:
  LibisofsImageStream(burn_source* source, std::shared_ptr<const SourceProblems> problems)
      : m_source(source), m_problems(std::move(problems)) {}
  ~LibisofsImageStream() override {
    if (!m_finished) m_source->cancel(m_source);
    m_source->free_data(m_source);
    std::free(m_source);
  }
  LibisofsImageStream(const LibisofsImageStream&) = delete;
  LibisofsImageStream& operator=(const LibisofsImageStream&) = delete;

  uint64_t size() const override { return static_cast<uint64_t>(m_source->get_size(m_source)); }

  bool read(unsigned char* buffer, size_t want, size_t& got, std::string* error) override {
    const int read = m_source->read_xt(m_source, buffer, static_cast<int>(want));
    if (read <= 0) {
      *error = failure("the image could not be produced");
      return false;
    }
    got = static_cast<size_t>(read);
    return true;
  }

  // Every byte has arrived, but libisofs may still be closing the last file it read, which is when
  // that file is checked: the end of the stream comes once its writer thread is done.
  bool finish(std::string* error) override {
    unsigned char probe[2048];
    const int more = m_source->read_xt(m_source, probe, sizeof probe);
    const std::string detail = failure(more > 0 ? "the image came out longer than libisofs announced" : "");
    if (more != 0 || !detail.empty()) {
      *error = detail.empty() ? "the image could not be produced" : detail;
      return false;
    }
    m_finished = true;
    return true;
  }

 private:
  // A file that changed explains a failure best; else libisofs' own message, else `fallback`.
  std::string failure(const std::string& fallback) const {
    if (!m_problems->empty()) return m_problems->message();
    const std::string detail = takeLibraryMessage();
    return detail.empty() ? fallback : detail;
  }

  burn_source* m_source;
  std::shared_ptr<const SourceProblems> m_problems;
  bool m_finished = false;
};

}  // namespace

std::unique_ptr<LibisofsFileSystemImage> LibisofsFileSystemImage::open(bool keepCase, std::time_t time,
                                                                       std::string* error) {
  const int result = iso_init();
  if (result < 0) {
    *error = std::string("cannot start libisofs: ") + iso_error_to_msg(result);
    return nullptr;
  }
  // Names on disk are UTF-8 whatever the locale says; Joliet needs them converted right.
  iso_set_local_charset(const_cast<char*>("UTF-8"), 0);
  // Messages are collected for the one-line report instead of being printed.
  iso_set_msgs_severities(const_cast<char*>("SORRY"), const_cast<char*>("NEVER"), const_cast<char*>("cdimage"));
  iso_set_abort_severity(const_cast<char*>("SORRY"));
  return std::unique_ptr<LibisofsFileSystemImage>(new LibisofsFileSystemImage(keepCase, time));
}

LibisofsFileSystemImage::~LibisofsFileSystemImage() {
  if (m_image) iso_image_unref(m_image);
  iso_finish();
}

bool LibisofsFileSystemImage::setLayout(const std::string& label, int isoLevel, std::string* error) {
  if (m_image) iso_image_unref(m_image);
  m_image = nullptr;
  const int created = iso_image_new(label.c_str(), &m_image);
  if (created < 0) {
    *error = iso_error_to_msg(created);
    return false;
  }
  iso_tree_set_follow_symlinks(m_image, 1);
  m_isoLevel = isoLevel;
  return true;
}

IsoDir* LibisofsFileSystemImage::parentOf(const std::string& imagePath, std::string* name,
                                          std::string* error) const {
  const size_t slash = imagePath.rfind('/');
  const std::string parentPath = slash == 0 ? "/" : imagePath.substr(0, slash);
  *name = imagePath.substr(slash + 1);
  IsoNode* node = nullptr;
  if (slash == std::string::npos || iso_tree_path_to_node(m_image, parentPath.c_str(), &node) != 1 ||
      iso_node_get_type(node) != LIBISO_DIR) {
    *error = imagePath + ": the folder to hold it is not in the image";
    return nullptr;
  }
  return reinterpret_cast<IsoDir*>(node);
}

bool LibisofsFileSystemImage::addFolder(const std::string& imagePath, std::time_t time, std::string* error) {
  if (imagePath == "/") {
    stamp(reinterpret_cast<IsoNode*>(iso_image_get_root(m_image)), time);
    return true;
  }
  std::string name;
  IsoDir* parent = parentOf(imagePath, &name, error);
  if (!parent) return false;
  IsoDir* dir = nullptr;
  const int result = iso_tree_add_new_dir(parent, name.c_str(), &dir);
  if (result < 0) {
    *error = describe(imagePath, result);
    return false;
  }
  stamp(reinterpret_cast<IsoNode*>(dir), time);
  return true;
}

IsoNode* LibisofsFileSystemImage::addSourceFile(IsoDir* parent, const std::string& name, const fs::path& source,
                                                std::string* error) {
  // The file as it is now is what the image is to hold; its stream compares it when it is read.
  FileState state;
  if (const std::error_code ec = fileStateOf(source, &state)) {
    *error = umbra::utf8FromPath(source) + ": cannot read: " + ec.message();
    return nullptr;
  }
  IsoStream* stream = newSourceStream(fs::absolute(source), state, m_problems);
  if (!stream) {
    *error = describe(umbra::utf8FromPath(source), ISO_OUT_OF_MEM);
    return nullptr;
  }
  IsoFile* file = nullptr;
  // The new file takes the stream's one reference; a refused one leaves it to us.
  const int result = iso_image_add_new_file(m_image, parent, name.c_str(), stream, &file);
  if (result < 0) {
    iso_stream_unref(stream);
    *error = describe(umbra::utf8FromPath(source), result);
    return nullptr;
  }
  IsoNode* node = reinterpret_cast<IsoNode*>(file);
  iso_node_set_permissions(node, static_cast<mode_t>(state.mode));
  iso_node_set_uid(node, static_cast<uid_t>(state.owner));
  iso_node_set_gid(node, static_cast<gid_t>(state.group));
  return node;
}

bool LibisofsFileSystemImage::addFile(const std::string& imagePath, const fs::path& source, std::time_t time,
                                      std::string* error) {
  std::string name;
  IsoDir* parent = parentOf(imagePath, &name, error);
  if (!parent) return false;
  IsoNode* node = addSourceFile(parent, name, source, error);
  if (!node) return false;
  stamp(node, time);
  return true;
}

std::string LibisofsFileSystemImage::unusedRootName(const std::string& wanted) const {
  IsoDir* root = iso_image_get_root(m_image);
  std::string name = wanted;
  for (int n = 1; iso_dir_get_node(root, name.c_str(), nullptr) == 1; ++n) {
    name = std::to_string(n) + "_" + wanted;
  }
  return name;
}

bool LibisofsFileSystemImage::setBootImage(const fs::path& file, std::string* error) {
  IsoDir* root = iso_image_get_root(m_image);
  const std::string imageName = unusedRootName(kBootImageName);
  // Read and checked as every other file.
  IsoNode* node = addSourceFile(root, imageName, file, error);
  if (!node) return false;
  stamp(node, m_time);
  // Written into the image for the firmware, but listed in neither folder tree.
  iso_node_set_hidden(node, LIBISO_HIDE_ON_RR | LIBISO_HIDE_ON_JOLIET | LIBISO_HIDE_ON_1999 | LIBISO_HIDE_BUT_WRITE);
  const std::string imagePath = "/" + imageName;
  std::string catalogPath = "/";  // appended, not "/" + temporary, which GCC 12 -O3 misreads (-Wrestrict)
  catalogPath += unusedRootName(kBootCatalogName);
  ElToritoBootImage* boot = nullptr;
  const int result = iso_image_set_boot_image(m_image, imagePath.c_str(), ELTORITO_NO_EMUL, catalogPath.c_str(), &boot);
  if (result >= 0) el_torito_set_load_size(boot, loadSizeOf(file));
  if (result < 0) {
    *error = describe(umbra::utf8FromPath(file), result);
    return false;
  }
  iso_image_set_boot_catalog_hidden(m_image, LIBISO_HIDE_ON_RR | LIBISO_HIDE_ON_JOLIET | LIBISO_HIDE_ON_1999);
  return true;
}

bool LibisofsFileSystemImage::applyOptions(IsoWriteOpts* opts, std::string* error) const {
  iso_write_opts_set_iso_level(opts, m_isoLevel);
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
  iso_write_opts_set_allow_lowercase(opts, m_keepCase ? 1 : 0);
  iso_write_opts_set_relaxed_vol_atts(opts, m_keepCase ? 1 : 0);
  // Every directory record, in both trees, carries the requested time.
  iso_write_opts_set_dir_rec_mtime(opts, 7);
  iso_write_opts_set_replace_timestamps(opts, 2);
  iso_write_opts_set_default_timestamp(opts, m_time);
  std::string volumeTime = volumeTimeText(m_time);
  if (volumeTime.empty()) {
    *error = "the time stamp cannot be converted to a calendar date";
    return false;
  }
  iso_write_opts_set_pvd_times(opts, m_time, m_time, 0, 0, volumeTime.data());
  return true;
}

std::unique_ptr<ImageStream> LibisofsFileSystemImage::create(std::string* error) {
  IsoWriteOpts* opts = nullptr;
  int result = iso_write_opts_new(&opts, 0);
  if (result < 0) {
    *error = iso_error_to_msg(result);
    return nullptr;
  }
  burn_source* source = nullptr;
  if (applyOptions(opts, error)) {
    result = iso_image_create_burn_source(m_image, opts, &source);
    if (result < 0) {
      const std::string detail = takeLibraryMessage();
      *error = detail.empty() ? iso_error_to_msg(result) : detail;
    }
  }
  iso_write_opts_free(opts);
  if (!source) return nullptr;
  return std::make_unique<LibisofsImageStream>(source, m_problems);
}

}  // namespace cdimage
