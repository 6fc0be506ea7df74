#include "ImapiFileSystemImage.h"

#ifdef _WIN32
#include <objidl.h>
#include <shlwapi.h>

#include "Platform.h"
#include "VolumeLabel.h"
#include "base/WideText.h"

namespace cdimage {
namespace {

using com::describeResult;
using com::DispatchObject;
using com::Variant;

constexpr long kFileSystemIso9660 = 1;
constexpr long kFileSystemJoliet = 2;
constexpr long kEmulationNone = 0;
constexpr long kPlatformX86 = 0;

std::string failed(const char* what, HRESULT result) {
  return std::string(what) + " failed: " + describeResult(result);
}

// "/a/b" -> "a\b", as IMAPI2FS names items below a folder.
std::wstring itemPathOf(const std::string& imagePath) {
  std::wstring path = umbra::wideFromUtf8(imagePath);
  while (!path.empty() && path.front() == L'/') path.erase(path.begin());
  for (wchar_t& c : path)
    if (c == L'/') c = L'\\';
  return path;
}

// The time as an automation DATE in UTC: IMAPI2FS takes its item times in UTC (IFsiItem's
// put_LastModifiedTime and the other two), and the reader shows them in its own zone.
bool dateOf(std::time_t time, double* date) {
  const long long ticks = (static_cast<long long>(time) + 11644473600LL) * 10000000LL;
  const FILETIME utc{static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(ticks >> 32)};
  SYSTEMTIME fields;
  return FileTimeToSystemTime(&utc, &fields) && SystemTimeToVariantTime(&fields, date);
}

class StreamHolder {
 public:
  explicit StreamHolder(IStream* stream = nullptr) : m_stream(stream) {}
  ~StreamHolder() {
    if (m_stream) m_stream->Release();
  }
  StreamHolder(const StreamHolder&) = delete;
  StreamHolder& operator=(const StreamHolder&) = delete;
  IStream* get() const { return m_stream; }
  IStream** out() { return &m_stream; }

 private:
  IStream* m_stream;
};

HRESULT openFileStream(const std::filesystem::path& file, StreamHolder& stream) {
  return SHCreateStreamOnFileEx(file.wstring().c_str(), STGM_READ | STGM_SHARE_DENY_WRITE, FILE_ATTRIBUTE_NORMAL,
                                FALSE, nullptr, stream.out());
}

using SourceFiles = std::vector<std::pair<std::filesystem::path, FileState>>;

// Every file IMAPI2FS has read, compared with what it was when it was added.
std::string changedFiles(const SourceFiles& files) {
  SourceProblems problems;
  for (const auto& [path, before] : files) {
    FileState now;
    if (const std::error_code ec = fileStateOf(path, &now)) {
      problems.add(path, ec == std::errc::no_such_file_or_directory ? describeRemoval(Moment::WhileRead)
                                                                    : "cannot be read: " + ec.message());
    } else if (const std::string change = describeChange(before, now, Moment::WhileRead); !change.empty()) {
      problems.add(path, change);
    }
  }
  return problems.empty() ? std::string() : problems.message();
}

class ImapiImageStream : public ImageStream {
 public:
  ImapiImageStream(IStream* stream, uint64_t size, SourceFiles files)
      : m_stream(stream), m_size(size), m_files(std::move(files)) {
    m_stream->AddRef();
  }
  ~ImapiImageStream() override { m_stream->Release(); }
  ImapiImageStream(const ImapiImageStream&) = delete;
  ImapiImageStream& operator=(const ImapiImageStream&) = delete;

  uint64_t size() const override { return m_size; }
  bool read(unsigned char* buffer, size_t want, size_t& got, std::string* error) override {
    ULONG read = 0;
    const HRESULT result = m_stream->Read(buffer, static_cast<ULONG>(want), &read);
    if (FAILED(result)) {
      *error = failed("reading the image from IMAPI2FS", result);
      return false;
    }
    got = read;
    return true;
  }
  bool finish(std::string* error) override {
    *error = changedFiles(m_files);
    return error->empty();
  }

 private:
  IStream* m_stream;
  uint64_t m_size;
  SourceFiles m_files;
};

}  // namespace

std::unique_ptr<ImapiFileSystemImage> ImapiFileSystemImage::open(std::string* error) {
  HRESULT result = S_OK;
  DispatchObject image = DispatchObject::create(L"IMAPI2FS.MsftFileSystemImage", &result);
  if (!image) {
    *error = "the system's image maker (IMAPI2FS) is not available: " + describeResult(result);
    return nullptr;
  }
  std::unique_ptr<ImapiFileSystemImage> service(new ImapiFileSystemImage(image));
  Variant root;
  result = image.getProperty(L"Root", &root);
  if (FAILED(result) || !root.toDispatch()) {
    *error = failed("IMAPI2FS Root", FAILED(result) ? result : E_NOINTERFACE);
    return nullptr;
  }
  service->m_root = DispatchObject(root.toDispatch());
  return service;
}

bool ImapiFileSystemImage::setLayout(const std::string& label, int isoLevel, std::string* error) {
  HRESULT result = m_image.putProperty(L"FileSystemsToCreate", Variant(kFileSystemIso9660 | kFileSystemJoliet));
  if (SUCCEEDED(result)) result = m_image.putProperty(L"ISO9660InterchangeLevel", Variant(static_cast<long>(isoLevel)));
  // The size limit is checked on the finished image, with the same message as everywhere.
  if (SUCCEEDED(result)) result = m_image.putProperty(L"FreeMediaBlocks", Variant(0L));
  if (FAILED(result)) {
    *error = failed("setting up IMAPI2FS", result);
    return false;
  }
  // One name for every tree, in the characters and length IMAPI2FS documents for it.
  const std::wstring name = umbra::wideFromUtf8(imapiVolumeName(label));
  if (!name.empty()) {
    result = m_image.putProperty(L"VolumeName", Variant(name));
    if (FAILED(result)) {
      *error = "-l" + label + ": IMAPI2FS refuses the label: " + describeResult(result);
      return false;
    }
  }
  return true;
}

bool ImapiFileSystemImage::stamp(const std::wstring& itemPath, std::time_t time, std::string* error) {
  double date = 0;
  if (!dateOf(time, &date)) {
    *error = "the time stamp cannot be converted to a calendar date";
    return false;
  }
  DispatchObject item = m_root;
  if (!itemPath.empty()) {
    Variant found;
    const HRESULT result = m_root.getProperty(L"Item", &found, {Variant(itemPath)});
    if (FAILED(result) || !found.toDispatch()) {
      *error = umbra::utf8FromWide(itemPath) + ": " + failed("IMAPI2FS Item", FAILED(result) ? result : E_NOINTERFACE);
      return false;
    }
    item = DispatchObject(found.toDispatch());
  }
  for (const wchar_t* property : {L"CreationTime", L"LastAccessedTime", L"LastModifiedTime"}) {
    const HRESULT result = item.putProperty(property, Variant(date, VT_DATE));
    if (FAILED(result)) {
      *error = umbra::utf8FromWide(itemPath) + ": " + failed("setting the time", result);
      return false;
    }
  }
  return true;
}

bool ImapiFileSystemImage::addFolder(const std::string& imagePath, std::time_t time, std::string* error) {
  const std::wstring path = itemPathOf(imagePath);
  if (!path.empty()) {
    const HRESULT result = m_root.call(L"AddDirectory", {Variant(path)});
    if (FAILED(result)) {
      *error = imagePath + ": " + failed("IMAPI2FS AddDirectory", result);
      return false;
    }
  }
  return stamp(path, time, error);
}

bool ImapiFileSystemImage::addFile(const std::string& imagePath, const std::filesystem::path& source,
                                   std::time_t time, std::string* error) {
  StreamHolder stream;
  HRESULT result = openFileStream(source, stream);
  if (SUCCEEDED(result) && !recordState(source, error)) return false;
  if (SUCCEEDED(result)) result = m_root.call(L"AddFile", {Variant(itemPathOf(imagePath)), Variant(stream.get())});
  if (FAILED(result)) {
    *error = umbra::utf8FromWide(source.wstring()) + ": " + failed("IMAPI2FS AddFile", result);
    return false;
  }
  return stamp(itemPathOf(imagePath), time, error);
}

// Taken with the file open for IMAPI2FS, which reads it later; the image stream compares it.
bool ImapiFileSystemImage::recordState(const std::filesystem::path& source, std::string* error) {
  FileState state;
  if (const std::error_code ec = fileStateOf(source, &state)) {
    *error = umbra::utf8FromWide(source.wstring()) + ": cannot read: " + ec.message();
    return false;
  }
  m_files.emplace_back(source, state);
  return true;
}

bool ImapiFileSystemImage::setBootImage(const std::filesystem::path& file, std::string* error) {
  HRESULT result = S_OK;
  m_bootOptions = DispatchObject::create(L"IMAPI2FS.BootOptions", &result);
  StreamHolder stream;
  if (SUCCEEDED(result)) result = openFileStream(file, stream);
  if (SUCCEEDED(result) && !recordState(file, error)) return false;
  if (SUCCEEDED(result)) result = m_bootOptions.call(L"AssignBootImage", {Variant(stream.get())});
  if (SUCCEEDED(result)) result = m_bootOptions.putProperty(L"Emulation", Variant(kEmulationNone));
  if (SUCCEEDED(result)) result = m_bootOptions.putProperty(L"PlatformId", Variant(kPlatformX86));
  if (SUCCEEDED(result)) result = m_image.putProperty(L"BootImageOptions", Variant(m_bootOptions.get()));
  if (FAILED(result)) {
    *error = umbra::utf8FromWide(file.wstring()) + ": " + failed("IMAPI2FS boot image", result);
    return false;
  }
  return true;
}

std::unique_ptr<ImageStream> ImapiFileSystemImage::create(std::string* error) {
  Variant made;
  HRESULT result = m_image.call(L"CreateResultImage", {}, &made);
  if (FAILED(result) || !made.toDispatch()) {
    *error = failed("IMAPI2FS CreateResultImage", FAILED(result) ? result : E_NOINTERFACE);
    return nullptr;
  }
  const DispatchObject image(made.toDispatch());
  Variant streamValue, blocks, blockSize;
  result = image.getProperty(L"ImageStream", &streamValue);
  if (SUCCEEDED(result)) result = image.getProperty(L"TotalBlocks", &blocks);
  if (SUCCEEDED(result)) result = image.getProperty(L"BlockSize", &blockSize);
  IStream* stream = nullptr;
  if (SUCCEEDED(result) && streamValue.toUnknown())
    result = streamValue.toUnknown()->QueryInterface(IID_IStream, reinterpret_cast<void**>(&stream));
  if (FAILED(result) || !stream) {
    *error = failed("IMAPI2FS ImageStream", FAILED(result) ? result : E_NOINTERFACE);
    return nullptr;
  }
  const uint64_t size = static_cast<uint64_t>(blocks.toLong()) * static_cast<uint64_t>(blockSize.toLong());
  auto wrapped = std::make_unique<ImapiImageStream>(stream, size, m_files);
  stream->Release();
  return wrapped;
}

}  // namespace cdimage
#endif
