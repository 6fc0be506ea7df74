#include "LibisofsSourceStream.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "Platform.h"

namespace cdimage {

namespace {

// libisofs names the interface member of its stream "class", which C++ cannot spell; this copy of
// struct iso_stream keeps its layout, as libisofs.h advises.
struct StreamLayout {
  IsoStreamIface* iface;
  int refcount;
  void* data;
};

// Streams of our own, apart from every file system libisofs knows.
constexpr unsigned int kSourceFileSystemId = 0x43444d47;

class SourceFile {
 public:
  SourceFile(std::filesystem::path path, const FileState& state, std::shared_ptr<SourceProblems> problems)
      : m_path(std::move(path)), m_atWalk(state), m_problems(std::move(problems)) {}
  ~SourceFile() {
    if (m_file) std::fclose(m_file);
  }
  SourceFile(const SourceFile&) = delete;
  SourceFile& operator=(const SourceFile&) = delete;

  int open() {
    if (m_open) return ISO_FILE_ALREADY_OPENED;
    m_open = true;
    m_read = 0;
    FileState now;
    if (const std::error_code ec = fileStateOf(m_path, &now)) {
      report(ec == std::errc::no_such_file_or_directory ? describeRemoval(Moment::BeforeRead)
                                                        : "cannot be read: " + ec.message());
      return ISO_SUCCESS;  // read as empty; the problem stops the image
    }
    if (const std::string change = describeChange(m_atWalk, now, Moment::BeforeRead); !change.empty()) {
      report(change);
      return ISO_SUCCESS;
    }
    m_file = openToRead(m_path);
    if (!m_file) report(std::string("cannot be read: ") + std::strerror(errno));
    return ISO_SUCCESS;
  }

  int close() {
    if (!m_open) return ISO_FILE_NOT_OPENED;
    m_open = false;
    if (!m_file) return ISO_SUCCESS;
    std::fclose(m_file);
    m_file = nullptr;
    FileState now;
    if (const std::error_code ec = fileStateOf(m_path, &now)) {
      report(ec == std::errc::no_such_file_or_directory ? describeRemoval(Moment::WhileRead)
                                                        : "cannot be read: " + ec.message());
    } else if (const std::string change = describeChange(m_atWalk, now, Moment::WhileRead); !change.empty()) {
      report(change);
    } else if (m_read != m_atWalk.size) {
      report(describeShortRead(m_read, m_atWalk.size));
    }
    return ISO_SUCCESS;
  }

  // Never more than the size the file had: bytes it grew by are not the file that was added.
  int read(void* buffer, size_t count) {
    if (!m_open) return ISO_FILE_NOT_OPENED;
    if (!m_file) return 0;
    const uint64_t left = m_atWalk.size - m_read;
    const size_t want = left < count ? static_cast<size_t>(left) : count;
    if (want == 0) return 0;
    const size_t got = std::fread(buffer, 1, want, m_file);
    if (got < want && std::ferror(m_file)) {
      report(std::string("cannot be read: ") + std::strerror(errno));
      std::fclose(m_file);
      m_file = nullptr;  // the rest is zeros; the problem stops the image
      return 0;
    }
    m_read += got;
    return static_cast<int>(got);
  }

  off_t size() const { return static_cast<off_t>(m_atWalk.size); }
  const FileState& state() const { return m_atWalk; }

 private:
  // One problem a file: the first one seen says what happened.
  void report(const std::string& what) {
    if (m_reported) return;
    m_reported = true;
    m_problems->add(m_path, what);
  }

  std::filesystem::path m_path;
  FileState m_atWalk;
  std::shared_ptr<SourceProblems> m_problems;
  std::FILE* m_file = nullptr;
  uint64_t m_read = 0;
  bool m_open = false;
  bool m_reported = false;
};

SourceFile& fileOf(IsoStream* stream) {
  return *static_cast<SourceFile*>(reinterpret_cast<StreamLayout*>(stream)->data);
}

int streamOpen(IsoStream* stream) { return fileOf(stream).open(); }
int streamClose(IsoStream* stream) { return fileOf(stream).close(); }
off_t streamSize(IsoStream* stream) { return fileOf(stream).size(); }
int streamRead(IsoStream* stream, void* buffer, size_t count) { return fileOf(stream).read(buffer, count); }
int streamIsRepeatable(IsoStream*) { return 1; }
// The file's own identity: two names of one file (hard links, links to it) are written once.
void streamId(IsoStream* stream, unsigned int* fsId, dev_t* devId, ino_t* inoId) {
  *fsId = kSourceFileSystemId;
  *devId = static_cast<dev_t>(fileOf(stream).state().volume);
  *inoId = static_cast<ino_t>(fileOf(stream).state().index);
}
void streamFree(IsoStream* stream) { delete &fileOf(stream); }
int streamUpdateSize(IsoStream*) { return ISO_SUCCESS; }
IsoStream* streamInput(IsoStream*, int) { return nullptr; }

// Version 2: the methods up to get_input_stream; libisofs compares streams by their ids.
IsoStreamIface g_sourceStreamClass = {.version = 2,
                                      .type = {'u', 's', 'e', 'r'},
                                      .open = streamOpen,
                                      .close = streamClose,
                                      .get_size = streamSize,
                                      .read = streamRead,
                                      .is_repeatable = streamIsRepeatable,
                                      .get_id = streamId,
                                      .free = streamFree,
                                      .update_size = streamUpdateSize,
                                      .get_input_stream = streamInput,
                                      .cmp_ino = nullptr,
                                      .clone_stream = nullptr};

}  // namespace

IsoStream* newSourceStream(const std::filesystem::path& file, const FileState& state,
                           std::shared_ptr<SourceProblems> problems) {
  // libisofs frees the stream itself with free() once the last reference goes.
  auto* layout = static_cast<StreamLayout*>(std::malloc(sizeof(StreamLayout)));
  if (!layout) return nullptr;
  auto* data = new (std::nothrow) SourceFile(file, state, std::move(problems));
  if (!data) {
    std::free(layout);
    return nullptr;
  }
  *layout = StreamLayout{&g_sourceStreamClass, 1, data};
  return reinterpret_cast<IsoStream*>(layout);
}

}  // namespace cdimage
