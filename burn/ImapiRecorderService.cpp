#include "ImapiRecorderService.h"

#ifdef _WIN32
#include "base/WideText.h"
#include "com/DispatchObject.h"

#include <objidl.h>
#include <ocidl.h>
#include <shlwapi.h>

#include <algorithm>
#include <atomic>
#include <system_error>

// IBurnVerification (imapi2.h), the data writer's choice of how it checks the disc after writing: a
// plain IUnknown interface, reached by QueryInterface on the writer, not through IDispatch. Declared
// outside any unnamed namespace: there the compiler would take it that no object here implements it
// and turn its calls into pure virtual ones.
struct ImapiBurnVerification : IUnknown {
  virtual HRESULT STDMETHODCALLTYPE put_BurnVerificationLevel(int level) = 0;  // IMAPI_BURN_VERIFICATION_LEVEL
  virtual HRESULT STDMETHODCALLTYPE get_BurnVerificationLevel(int* level) = 0;
};

namespace umbra {

namespace {

using com::DispatchObject;
using com::Variant;

constexpr long kSectorBytes = 2048;
// DDiscFormat2DataEvents, the events of a data write, and its one member, Update (imapi2.h).
constexpr IID kDataEventsId = {0x2735413C, 0x7F64, 0x5B0F, {0x8F, 0x00, 0x5D, 0x77, 0xAF, 0xBE, 0x26, 0x1E}};
constexpr DISPID kUpdateId = 0x200;
constexpr long kActionWritingData = 4;                                   // IMAPI_FORMAT2_DATA_WRITE_ACTION_WRITING_DATA
constexpr HRESULT kRequestCancelled = static_cast<HRESULT>(0xC0AA0002);  // E_IMAPI_REQUEST_CANCELLED
// Write's result when the disc was written but did not pass the check asked for.
constexpr HRESULT kVerificationFailed = static_cast<HRESULT>(0xC0AA0007);  // E_IMAPI_BURN_VERIFICATION_FAILED

// IBurnVerification's id (imapi2.h); the interface itself is declared above the namespace.
constexpr IID kBurnVerificationId = {0xD2FFD834, 0x958B, 0x426D, {0x84, 0x70, 0x2A, 0x13, 0x87, 0x9C, 0x6A, 0x91}};

std::string failed(const char* what, HRESULT result) {
  return std::string(what) + " failed: " + com::describeResult(result);
}

std::string utf8(const std::filesystem::path& path) { return umbra::utf8FromWide(path.wstring()); }

std::string trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The recorder with this id, initialised; empty with a reason otherwise.
DispatchObject openRecorder(const std::string& id, std::string& reason) {
  HRESULT result = S_OK;
  DispatchObject recorder = DispatchObject::create(L"IMAPI2.MsftDiscRecorder2", &result);
  if (recorder) result = recorder.call(L"InitializeDiscRecorder", {Variant(umbra::wideFromUtf8(id))});
  if (FAILED(result)) {
    reason = failed("IMAPI2 recorder", result);
    return {};
  }
  return recorder;
}

// A disc format object (IMAPI2's data writer or eraser) bound to the recorder, with our name as
// its client; empty with a reason (naming `what`) otherwise.
DispatchObject openFormat(const wchar_t* progId, const char* what, const DispatchObject& recorder,
                          std::string& reason) {
  HRESULT result = S_OK;
  DispatchObject format = DispatchObject::create(progId, &result);
  if (format) result = format.putProperty(L"Recorder", Variant(recorder.get()));
  if (SUCCEEDED(result)) result = format.putProperty(L"ClientName", Variant(std::wstring(L"Umbradisc")));
  if (FAILED(result)) {
    reason = failed(what, result);
    return {};
  }
  return format;
}

constexpr const wchar_t* kWriter = L"IMAPI2.MsftDiscFormat2Data";
constexpr const wchar_t* kEraser = L"IMAPI2.MsftDiscFormat2Erase";

// IMAPI_MEDIA_PHYSICAL_TYPE values of media that can be erased and written again.
bool isRewritableType(long type) {
  constexpr long kCdRw = 3, kDvdRam = 5, kDvdPlusRw = 7, kDvdDashRw = 10, kDvdPlusRwDualLayer = 13, kHdDvdRam = 16,
                 kBdRe = 19;
  for (const long rewritable : {kCdRw, kDvdRam, kDvdPlusRw, kDvdDashRw, kDvdPlusRwDualLayer, kHdDvdRam, kBdRe})
    if (type == rewritable) return true;
  return false;
}

// The recorder with this id and a data writer bound to it; false with a reason otherwise.
bool openRecorderAndWriter(const std::string& id, DispatchObject& recorder, DispatchObject& writer,
                           std::string& reason) {
  recorder = openRecorder(id, reason);
  if (recorder) writer = openFormat(kWriter, "IMAPI2 data writer", recorder, reason);
  return recorder && writer;
}

// The sink of a data writer's DDiscFormat2DataEvents. IMAPI2 fires Update while Write runs; the
// handler turns the update's sector counts into percent and, when a stop is asked, calls
// CancelWrite on the writer that sent the event, the one place IMAPI2 documents it for.
class WriteEvents : public IDispatch {
 public:
  WriteEvents(std::function<void(int)> percent, std::function<bool()> cancelRequested)
      : m_percent(std::move(percent)), m_cancelRequested(std::move(cancelRequested)) {}
  WriteEvents(const WriteEvents&) = delete;
  WriteEvents& operator=(const WriteEvents&) = delete;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (iid != IID_IUnknown && iid != IID_IDispatch && iid != kDataEventsId) return E_NOINTERFACE;
    *out = this;
    AddRef();
    return S_OK;
  }
  // Lives on the stack of writeImage, which outlasts every connection.
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_references; }
  STDMETHODIMP_(ULONG) Release() override { return --m_references; }
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    if (count == 1 && names[0] && std::wstring(names[0]) == L"Update") {
      ids[0] = kUpdateId;
      return S_OK;
    }
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
  }
  STDMETHODIMP Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
    if (member != kUpdateId) return DISP_E_MEMBERNOTFOUND;
    if (!params || params->cArgs != 2) return DISP_E_BADPARAMCOUNT;
    // Arguments arrive last to first: progress, then the writer.
    const VARIANT& writer = params->rgvarg[1];
    const VARIANT& progress = params->rgvarg[0];
    if (writer.vt != VT_DISPATCH || progress.vt != VT_DISPATCH) return DISP_E_TYPEMISMATCH;
    return Update(writer.pdispVal, progress.pdispVal);
  }

  // DDiscFormat2DataEvents' own slot after IDispatch's, for a caller that uses the vtable.
  virtual HRESULT STDMETHODCALLTYPE Update(IDispatch* writer, IDispatch* progress) {
    const DispatchObject args(progress);
    Variant action, start, count, last;
    if (SUCCEEDED(args.getProperty(L"CurrentAction", &action)) && action.toLong() == kActionWritingData &&
        SUCCEEDED(args.getProperty(L"StartLba", &start)) && SUCCEEDED(args.getProperty(L"SectorCount", &count)) &&
        SUCCEEDED(args.getProperty(L"LastWrittenLba", &last)) && count.toLong() > 0) {
      const long long written = static_cast<long long>(last.toLong()) - start.toLong();
      const int percent = static_cast<int>(std::clamp(written * 100 / count.toLong(), 0LL, 100LL));
      if (percent > m_lastPercent && m_percent) {
        m_lastPercent = percent;
        m_percent(percent);
      }
    }
    if (!m_cancelAsked && m_cancelRequested && m_cancelRequested()) {
      m_cancelAsked = true;
      DispatchObject(writer).call(L"CancelWrite", {});
    }
    return S_OK;
  }

 private:
  std::function<void(int)> m_percent;
  std::function<bool()> m_cancelRequested;
  std::atomic<ULONG> m_references{1};
  int m_lastPercent = 0;
  bool m_cancelAsked = false;
};

// Sets the level at which the writer checks the disc after writing. Microsoft does not document
// the level a writer starts with, so it is set for every write, None included.
HRESULT setVerificationLevel(const DispatchObject& writer, VerifyLevel level) {
  ImapiBurnVerification* verification = nullptr;
  HRESULT result = writer.get()->QueryInterface(kBurnVerificationId, reinterpret_cast<void**>(&verification));
  if (FAILED(result)) return result;
  result = verification->put_BurnVerificationLevel(static_cast<int>(level));
  verification->Release();
  return result;
}

// Connects a sink to a writer's events for as long as it lives.
class EventConnection {
 public:
  EventConnection(const DispatchObject& writer, IUnknown* sink) {
    IConnectionPointContainer* container = nullptr;
    m_result = writer.get()->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
    if (SUCCEEDED(m_result)) {
      m_result = container->FindConnectionPoint(kDataEventsId, &m_point);
      container->Release();
    }
    if (SUCCEEDED(m_result)) m_result = m_point->Advise(sink, &m_cookie);
  }
  ~EventConnection() {
    if (m_point) {
      if (SUCCEEDED(m_result)) m_point->Unadvise(m_cookie);
      m_point->Release();
    }
  }
  EventConnection(const EventConnection&) = delete;
  EventConnection& operator=(const EventConnection&) = delete;
  HRESULT result() const { return m_result; }

 private:
  IConnectionPoint* m_point = nullptr;
  DWORD m_cookie = 0;
  HRESULT m_result = S_OK;
};

}  // namespace

std::unique_ptr<DiscRecorderService> createSystemRecorderService() { return std::make_unique<ImapiRecorderService>(); }

bool ImapiRecorderService::isInstalled() { return DispatchObject::available(L"IMAPI2.MsftDiscMaster2"); }

bool ImapiRecorderService::listRecorders(std::vector<std::string>& ids, std::string& reason) {
  const com::Apartment apartment;
  HRESULT result = S_OK;
  const DispatchObject master = DispatchObject::create(L"IMAPI2.MsftDiscMaster2", &result);
  if (!master) {
    reason = "the system's recording service (IMAPI2) is not available: " + com::describeResult(result);
    return false;
  }
  Variant supported, count;
  result = master.getProperty(L"IsSupportedEnvironment", &supported);
  if (SUCCEEDED(result) && !supported.toBool()) {
    reason = "the system's recording service (IMAPI2) finds no usable recorder here";
    return false;
  }
  if (SUCCEEDED(result)) result = master.getProperty(L"Count", &count);
  for (long i = 0; SUCCEEDED(result) && i < count.toLong(); ++i) {
    Variant id;
    result = master.getProperty(L"Item", &id, {Variant(i)});
    if (SUCCEEDED(result)) ids.push_back(umbra::utf8FromWide(id.toText()));
  }
  if (FAILED(result)) {
    reason = failed("listing the recorders", result);
    return false;
  }
  return true;
}

std::vector<std::string> ImapiRecorderService::recorderNames(const std::string& id) {
  const com::Apartment apartment;
  std::string ignored;
  const DispatchObject recorder = openRecorder(id, ignored);
  std::vector<std::string> names;
  if (!recorder) return names;
  Variant paths, product;
  if (SUCCEEDED(recorder.getProperty(L"VolumePathNames", &paths)))
    for (const std::wstring& path : paths.toTextList()) names.push_back(umbra::utf8FromWide(path));
  if (SUCCEEDED(recorder.getProperty(L"ProductId", &product)))
    names.push_back(trimmed(umbra::utf8FromWide(product.toText())));
  return names;
}

bool ImapiRecorderService::hasWritableMedium(const std::string& id, std::string& reason) {
  const com::Apartment apartment;
  DispatchObject recorder, writer;
  if (!openRecorderAndWriter(id, recorder, writer, reason)) return false;
  Variant supported, blank;
  HRESULT result = writer.call(L"IsCurrentMediaSupported", {Variant(recorder.get())}, &supported);
  if (SUCCEEDED(result) && !supported.toBool()) {
    reason = "the medium in the drive cannot be written (or there is none)";
    return false;
  }
  if (SUCCEEDED(result)) result = writer.getProperty(L"MediaHeuristicallyBlank", &blank);
  if (FAILED(result)) {
    reason = failed("checking the medium", result);
    return false;
  }
  if (!blank.toBool()) {
    reason = "the medium in the drive is not blank";
    return false;
  }
  return true;
}

bool ImapiRecorderService::canEraseMedium(const std::string& id, std::string& reason) {
  const com::Apartment apartment;
  const DispatchObject recorder = openRecorder(id, reason);
  const DispatchObject eraser = recorder ? openFormat(kEraser, "IMAPI2 eraser", recorder, reason) : DispatchObject();
  if (!eraser) return false;
  Variant supported, type;
  HRESULT result = eraser.call(L"IsCurrentMediaSupported", {Variant(recorder.get())}, &supported);
  if (SUCCEEDED(result)) result = eraser.getProperty(L"CurrentPhysicalMediaType", &type);
  if (FAILED(result)) {
    reason = failed("checking the medium", result);
    return false;
  }
  if (!supported.toBool() || !isRewritableType(type.toLong())) {
    reason = "the medium in the drive cannot be erased (it is not rewritable)";
    return false;
  }
  return true;
}

bool ImapiRecorderService::eraseMedium(const std::string& id, const std::function<void(int)>& percent,
                                       std::string& reason) {
  const com::Apartment apartment;
  const DispatchObject recorder = openRecorder(id, reason);
  const DispatchObject eraser = recorder ? openFormat(kEraser, "IMAPI2 eraser", recorder, reason) : DispatchObject();
  if (!eraser) return false;
  // Quick: only what makes the medium read as blank, not every sector (IMAPI2's default is full).
  HRESULT result = eraser.putProperty(L"FullErase", Variant(false));
  if (FAILED(result)) {
    reason = failed("choosing a quick erase", result);
    return false;
  }
  if (percent) percent(0);
  result = eraser.call(L"EraseMedia", {});
  if (FAILED(result)) {
    reason = failed("erasing the disc", result);
    return false;
  }
  if (percent) percent(100);
  return true;
}

bool ImapiRecorderService::writeImage(const std::string& id, const std::filesystem::path& imagePath, WriteCheck& check,
                                      const std::function<void(int)>& percent,
                                      const std::function<bool()>& cancelRequested, std::string& reason) {
  const com::Apartment apartment;
  DispatchObject recorder, writer;
  if (!openRecorderAndWriter(id, recorder, writer, reason)) return false;
  std::error_code sizeError;
  const std::uintmax_t imageSize = std::filesystem::file_size(imagePath, sizeError);
  if (sizeError) {
    reason = utf8(imagePath) + ": " + sizeError.message();
    return false;
  }
  // IMAPI2 writes whole sectors only and would refuse the stream with a bare code.
  if (imageSize == 0 || imageSize % kSectorBytes != 0) {
    reason = utf8(imagePath) + ": the image's size (" + std::to_string(imageSize) +
             " bytes) is not a whole number of 2,048-byte sectors, so it is no disc image";
    return false;
  }
  Variant freeSectors;
  if (SUCCEEDED(writer.getProperty(L"FreeSectorsOnMedia", &freeSectors)) &&
      imageSize > static_cast<std::uintmax_t>(freeSectors.toLong()) * kSectorBytes) {
    reason = utf8(imagePath) + ": the image is larger than the free space on the medium";
    return false;
  }
  // Closed, so the disc takes no further sessions, as a burnt image is meant to be final.
  HRESULT result = writer.putProperty(L"ForceMediaToBeClosed", Variant(true));
  if (FAILED(result)) {
    reason = failed("closing the medium after the write", result);
    return false;
  }
  check.failed = false;
  result = setVerificationLevel(writer, check.level);
  // A writer without the interface checks nothing, which is what None asks for.
  if (FAILED(result) && !(check.level == VerifyLevel::None && result == E_NOINTERFACE)) {
    reason = failed("choosing how the disc is verified after the write", result);
    return false;
  }
  IStream* stream = nullptr;
  result = SHCreateStreamOnFileEx(imagePath.wstring().c_str(), STGM_READ | STGM_SHARE_DENY_WRITE, FILE_ATTRIBUTE_NORMAL,
                                  FALSE, nullptr, &stream);
  if (FAILED(result)) {
    reason = utf8(imagePath) + ": " + failed("opening the image", result);
    return false;
  }
  if (percent) percent(0);
  WriteEvents events(percent, cancelRequested);
  {
    const EventConnection connection(writer, &events);
    if (FAILED(connection.result())) {
      stream->Release();
      reason = failed("following the write's progress", connection.result());
      return false;
    }
    // Blocks until the disc is written, fails or IMAPI2 gives in to CancelWrite.
    const Variant streamValue(static_cast<IUnknown*>(stream));
    result = writer.call(L"Write", {streamValue});
  }
  stream->Release();
  // Write's result decides: a cancel that came too late leaves a finished disc.
  if (result == kRequestCancelled) {
    reason =
        "cancelled: the disc is now in an unknown state (part of the image may be on it; a "
        "rewritable disc can be erased and used again)";
    return false;
  }
  // Written, but the check asked for found the disc wanting: the burn stands, its check failed.
  if (result == kVerificationFailed && check.level != VerifyLevel::None) {
    check.failed = true;
    result = S_OK;
  }
  if (FAILED(result)) {
    reason = failed("writing the disc", result);
    return false;
  }
  if (percent) percent(100);
  return true;
}

}  // namespace umbra
#endif
