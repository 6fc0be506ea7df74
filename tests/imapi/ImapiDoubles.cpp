#include "ImapiDoubles.h"

#include <ocidl.h>
#include <olectl.h>
#include <oleauto.h>
#include <shlwapi.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>

#include "base/WideText.h"
#include "com/DispatchObject.h"
#include "ImapiDoublesIdl.h"

namespace imapi_double {
namespace {

// IMAPI's own codes (imapi2error.h, imapi2fserror.h).
constexpr HRESULT kRequestCancelled = static_cast<HRESULT>(0xC0AA0002);
constexpr HRESULT kVerificationFailed = static_cast<HRESULT>(0xC0AA0007);
constexpr HRESULT kRecorderRequired = static_cast<HRESULT>(0xC0AA0003);
constexpr HRESULT kWriteInProgress = static_cast<HRESULT>(0xC0AA0400);
constexpr HRESULT kWriteNotInProgress = static_cast<HRESULT>(0xC0AA0401);
constexpr HRESULT kStreamNotSupported = static_cast<HRESULT>(0xC0AA0403);
constexpr HRESULT kStreamTooLarge = static_cast<HRESULT>(0xC0AA0404);
constexpr HRESULT kMediaNotBlank = static_cast<HRESULT>(0xC0AA0405);
constexpr HRESULT kMediaIncompatible = static_cast<HRESULT>(0xC0AA0203);  // E_IMAPI_RECORDER_MEDIA_INCOMPATIBLE
constexpr HRESULT kClientNameInvalid = static_cast<HRESULT>(0xC0AA0408);
constexpr HRESULT kInvalidParam = static_cast<HRESULT>(0xC0AAB101);
constexpr HRESULT kDuplicateName = static_cast<HRESULT>(0xC0AAB112);
constexpr HRESULT kItemNotFound = static_cast<HRESULT>(0xC0AAB118);
constexpr HRESULT kIso9660Levels = static_cast<HRESULT>(0xC0AAB131);
constexpr HRESULT kBootImageData = static_cast<HRESULT>(0xC0AAB148);
constexpr long kSector = 2048;

ITypeLib* g_library = nullptr;
thread_local bool g_inUpdate = false;

// Fails as IMAPI does: the code, and its text through the thread's error object, which a type-
// library Invoke hands to the caller in EXCEPINFO.
HRESULT fail(HRESULT code, const wchar_t* text) {
  ICreateErrorInfo* create = nullptr;
  if (SUCCEEDED(CreateErrorInfo(&create))) {
    create->SetDescription(const_cast<LPOLESTR>(text));
    IErrorInfo* info = nullptr;
    if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
      SetErrorInfo(0, info);
      info->Release();
    }
    create->Release();
  }
  return code;
}

BSTR text(const std::wstring& value) { return SysAllocStringLen(value.data(), static_cast<UINT>(value.size())); }
std::wstring fromBstr(BSTR value) { return value ? std::wstring(value, SysStringLen(value)) : std::wstring(); }

uint64_t streamSize(IStream* stream) {
  STATSTG stat{};
  if (FAILED(stream->Stat(&stat, STATFLAG_NONAME))) return 0;
  return stat.cbSize.QuadPart;
}

Drive* findDrive(const std::wstring& id) {
  for (Drive& drive : world().drives)
    if (drive.id == id) return &drive;
  return nullptr;
}

// IUnknown and IDispatch of a double: every call goes through the interface's type information.
template <class Interface>
class Dispatched : public Interface {
 public:
  explicit Dispatched(REFIID iid) : m_iid(iid) {
    if (g_library) g_library->GetTypeInfoOfGuid(iid, &m_info);
  }
  virtual ~Dispatched() {
    if (m_info) m_info->Release();
  }
  Dispatched(const Dispatched&) = delete;
  Dispatched& operator=(const Dispatched&) = delete;

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == m_iid) *out = static_cast<Interface*>(this);
    else *out = other(iid);
    if (!*out) return E_NOINTERFACE;
    static_cast<IUnknown*>(static_cast<Interface*>(this))->AddRef();
    return S_OK;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return ++m_references; }
  STDMETHODIMP_(ULONG) Release() override {
    const ULONG left = --m_references;
    if (left == 0) delete this;
    return left;
  }
  STDMETHODIMP GetTypeInfoCount(UINT* count) override {
    *count = 1;
    return S_OK;
  }
  STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (index != 0) return DISP_E_BADINDEX;
    m_info->AddRef();
    *info = m_info;
    return S_OK;
  }
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
    return DispGetIDsOfNames(m_info, names, count, ids);
  }
  STDMETHODIMP Invoke(DISPID member, REFIID iid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* argumentError) override {
    if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
    SetErrorInfo(0, nullptr);
    return DispInvoke(static_cast<Interface*>(this), m_info, member, flags, params, result, exception,
                      argumentError);
  }
  IDispatch* dispatch() { return static_cast<Interface*>(this); }

 protected:
  virtual void* other(REFIID) { return nullptr; }

 private:
  IID m_iid;
  ITypeInfo* m_info = nullptr;
  std::atomic<ULONG> m_references{1};
};

// ---- IMAPI2 ----

class DiscMaster : public Dispatched<IDiscMaster2> {
 public:
  DiscMaster() : Dispatched(IID_IDiscMaster2) {}
  STDMETHODIMP get_Item(LONG index, BSTR* value) override {
    if (index < 0 || index >= static_cast<LONG>(world().drives.size()))
      return fail(E_INVALIDARG, L"The parameter is incorrect.");
    *value = text(world().drives[static_cast<size_t>(index)].id);
    return S_OK;
  }
  STDMETHODIMP get_Count(LONG* value) override {
    *value = static_cast<LONG>(world().drives.size());
    return S_OK;
  }
  STDMETHODIMP get_IsSupportedEnvironment(VARIANT_BOOL* value) override {
    *value = world().drives.empty() ? VARIANT_FALSE : VARIANT_TRUE;
    return S_OK;
  }
};

class DiscRecorder : public Dispatched<IDiscRecorder2> {
 public:
  DiscRecorder() : Dispatched(IID_IDiscRecorder2) {}
  STDMETHODIMP InitializeDiscRecorder(BSTR id) override {
    if (!findDrive(fromBstr(id))) return fail(E_INVALIDARG, L"The parameter is incorrect.");
    m_id = fromBstr(id);
    return S_OK;
  }
  STDMETHODIMP get_ActiveDiscRecorder(BSTR* value) override {
    if (m_id.empty()) return fail(kRecorderRequired, L"The request requires a current disc recorder to be selected.");
    *value = text(m_id);
    return S_OK;
  }
  STDMETHODIMP get_ProductId(BSTR* value) override {
    const Drive* drive = findDrive(m_id);
    if (!drive) return fail(kRecorderRequired, L"The request requires a current disc recorder to be selected.");
    *value = text(drive->product + L"    ");  // drives pad their inquiry strings
    return S_OK;
  }
  STDMETHODIMP get_VolumePathNames(SAFEARRAY** value) override {
    const Drive* drive = findDrive(m_id);
    if (!drive) return fail(kRecorderRequired, L"The request requires a current disc recorder to be selected.");
    *value = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(drive->paths.size()));
    for (LONG i = 0; i < static_cast<LONG>(drive->paths.size()); ++i) {
      VARIANT path;
      path.vt = VT_BSTR;
      path.bstrVal = text(drive->paths[static_cast<size_t>(i)]);
      SafeArrayPutElement(*value, &i, &path);
      VariantClear(&path);
    }
    return S_OK;
  }

 private:
  std::wstring m_id;
};

// The drive of a recorder object handed over by the caller, through its interface as IMAPI would.
Drive* driveOf(IDispatch* recorder) {
  IDiscRecorder2* typed = nullptr;
  if (!recorder || FAILED(recorder->QueryInterface(IID_IDiscRecorder2, reinterpret_cast<void**>(&typed))))
    return nullptr;
  BSTR id = nullptr;
  Drive* drive = SUCCEEDED(typed->get_ActiveDiscRecorder(&id)) ? findDrive(fromBstr(id)) : nullptr;
  SysFreeString(id);
  typed->Release();
  return drive;
}

class DataEventArgs : public Dispatched<IDiscFormat2DataEventArgs> {
 public:
  DataEventArgs(IMAPI_FORMAT2_DATA_WRITE_ACTION action, LONG start, LONG count, LONG last)
      : Dispatched(IID_IDiscFormat2DataEventArgs), m_action(action), m_start(start), m_count(count), m_last(last) {}
  STDMETHODIMP get_StartLba(LONG* value) override { return set(value, m_start); }
  STDMETHODIMP get_SectorCount(LONG* value) override { return set(value, m_count); }
  STDMETHODIMP get_LastWrittenLba(LONG* value) override { return set(value, m_last); }
  STDMETHODIMP get_ElapsedTime(LONG* value) override { return set(value, 1); }
  STDMETHODIMP get_RemainingTime(LONG* value) override { return set(value, 1); }
  STDMETHODIMP get_CurrentAction(IMAPI_FORMAT2_DATA_WRITE_ACTION* value) override {
    *value = m_action;
    return S_OK;
  }

 protected:
  void* other(REFIID iid) override {
    return iid == IID_IWriteEngine2EventArgs ? static_cast<IDiscFormat2DataEventArgs*>(this) : nullptr;
  }

 private:
  static HRESULT set(LONG* out, LONG value) {
    *out = value;
    return S_OK;
  }
  IMAPI_FORMAT2_DATA_WRITE_ACTION m_action;
  LONG m_start, m_count, m_last;
};

// MsftDiscFormat2Data: the writer, its connection point for DDiscFormat2DataEvents, its burn
// verification level (IBurnVerification), and Write, which fires Update through each sink's IDispatch
// while it writes and while it checks the disc after the write, as IMAPI2 does.
class DataWriter : public Dispatched<IDiscFormat2Data>,
                   public IConnectionPointContainer,
                   public IConnectionPoint,
                   public IBurnVerification {
 public:
  DataWriter() : Dispatched(IID_IDiscFormat2Data) {}
  ~DataWriter() override {
    if (m_recorder) m_recorder->Release();
    for (auto& [cookie, sink] : m_sinks) sink->Release();
  }

  STDMETHODIMP QueryInterface(REFIID iid, void** out) override { return Dispatched::QueryInterface(iid, out); }
  STDMETHODIMP_(ULONG) AddRef() override { return Dispatched::AddRef(); }
  STDMETHODIMP_(ULONG) Release() override { return Dispatched::Release(); }

  // IDiscFormat2
  STDMETHODIMP IsRecorderSupported(IDispatch* recorder, VARIANT_BOOL* value) override {
    *value = driveOf(recorder) ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  STDMETHODIMP IsCurrentMediaSupported(IDispatch* recorder, VARIANT_BOOL* value) override {
    const Drive* drive = driveOf(recorder);
    if (!drive) return fail(E_INVALIDARG, L"The parameter is incorrect.");
    *value = drive->mediumSupported ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  STDMETHODIMP get_MediaPhysicallyBlank(VARIANT_BOOL* value) override { return blank(value); }
  STDMETHODIMP get_MediaHeuristicallyBlank(VARIANT_BOOL* value) override { return blank(value); }

  // IDiscFormat2Data
  STDMETHODIMP put_Recorder(IDispatch* value) override {
    if (!driveOf(value)) return fail(E_INVALIDARG, L"The parameter is incorrect.");
    value->AddRef();
    if (m_recorder) m_recorder->Release();
    m_recorder = value;
    return S_OK;
  }
  STDMETHODIMP get_Recorder(IDispatch** value) override {
    if (!m_recorder) return fail(kRecorderRequired, L"The request requires a current disc recorder to be selected.");
    m_recorder->AddRef();
    *value = m_recorder;
    return S_OK;
  }
  STDMETHODIMP get_FreeSectorsOnMedia(LONG* value) override {
    const Drive* drive = driveOf(m_recorder);
    if (!drive) return fail(kRecorderRequired, L"The request requires a current disc recorder to be selected.");
    *value = drive->freeSectors;
    return S_OK;
  }
  STDMETHODIMP put_ForceMediaToBeClosed(VARIANT_BOOL value) override {
    m_closeMedium = value != VARIANT_FALSE;
    return S_OK;
  }
  STDMETHODIMP get_ForceMediaToBeClosed(VARIANT_BOOL* value) override {
    *value = m_closeMedium ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  STDMETHODIMP put_ClientName(BSTR value) override {
    if (fromBstr(value).empty()) return fail(kClientNameInvalid, L"The client name is not valid.");
    m_clientName = fromBstr(value);
    return S_OK;
  }
  STDMETHODIMP get_ClientName(BSTR* value) override {
    *value = text(m_clientName);
    return S_OK;
  }
  STDMETHODIMP Write(IUnknown* data) override;
  STDMETHODIMP CancelWrite() override {
    ++world().cancelCalls;
    if (!m_writing) return fail(kWriteNotInProgress, L"There is no write operation currently in progress.");
    if (g_inUpdate) ++world().cancelsFromHandler;
    m_cancel = true;
    return S_OK;
  }

  // IConnectionPointContainer
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
  STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** point) override {
    *point = nullptr;
    if (iid != IID_DDiscFormat2DataEvents) return CONNECT_E_NOCONNECTION;
    *point = this;
    AddRef();
    return S_OK;
  }
  // IConnectionPoint
  STDMETHODIMP GetConnectionInterface(IID* iid) override {
    *iid = IID_DDiscFormat2DataEvents;
    return S_OK;
  }
  STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) override {
    *container = this;
    AddRef();
    return S_OK;
  }
  STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override {
    // As a type-library connection point does: the sink must be of the event interface.
    IUnknown* events = nullptr;
    if (!sink || FAILED(sink->QueryInterface(IID_DDiscFormat2DataEvents, reinterpret_cast<void**>(&events))))
      return CONNECT_E_CANNOTCONNECT;
    *cookie = ++m_lastCookie;
    m_sinks[*cookie] = events;
    return S_OK;
  }
  STDMETHODIMP Unadvise(DWORD cookie) override {
    const auto found = m_sinks.find(cookie);
    if (found == m_sinks.end()) return CONNECT_E_NOCONNECTION;
    found->second->Release();
    m_sinks.erase(found);
    return S_OK;
  }
  STDMETHODIMP EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

  // IBurnVerification
  STDMETHODIMP put_BurnVerificationLevel(IMAPI_BURN_VERIFICATION_LEVEL value) override {
    if (value < IMAPI_BURN_VERIFICATION_NONE || value > IMAPI_BURN_VERIFICATION_FULL)
      return fail(E_INVALIDARG, L"The parameter is incorrect.");
    if (m_writing) return fail(kWriteInProgress, L"There is currently a write operation in progress.");
    m_verification = value;
    return S_OK;
  }
  STDMETHODIMP get_BurnVerificationLevel(IMAPI_BURN_VERIFICATION_LEVEL* value) override {
    *value = m_verification;
    return S_OK;
  }

 protected:
  void* other(REFIID iid) override {
    if (iid == IID_IBurnVerification) return static_cast<IBurnVerification*>(this);
    if (iid == IID_IDiscFormat2) return static_cast<IDiscFormat2Data*>(this);
    if (iid == IID_IConnectionPointContainer) return static_cast<IConnectionPointContainer*>(this);
    if (iid == IID_IConnectionPoint) return static_cast<IConnectionPoint*>(this);
    return nullptr;
  }

 private:
  HRESULT blank(VARIANT_BOOL* value) {
    const Drive* drive = driveOf(m_recorder);
    if (!drive) return fail(kRecorderRequired, L"The request requires a current disc recorder to be selected.");
    *value = drive->blank ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  void fire(IMAPI_FORMAT2_DATA_WRITE_ACTION action, LONG count, LONG last) {
    DataEventArgs* args = new DataEventArgs(action, 0, count, last);
    for (auto& [cookie, sink] : m_sinks) {
      IDispatch* events = nullptr;
      if (FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&events)))) continue;
      VARIANTARG arguments[2];  // last to first: progress, then the writer
      arguments[0].vt = VT_DISPATCH;
      arguments[0].pdispVal = args->dispatch();
      arguments[1].vt = VT_DISPATCH;
      arguments[1].pdispVal = dispatch();
      DISPPARAMS params{arguments, nullptr, 2, 0};
      g_inUpdate = true;
      events->Invoke(512, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
      g_inUpdate = false;
      ++world().updates;
      events->Release();
    }
    args->Release();
  }

  IDispatch* m_recorder = nullptr;
  bool m_closeMedium = false;
  std::wstring m_clientName;
  bool m_writing = false;
  bool m_cancel = false;
  IMAPI_BURN_VERIFICATION_LEVEL m_verification = IMAPI_BURN_VERIFICATION_QUICK;
  DWORD m_lastCookie = 0;
  std::map<DWORD, IUnknown*> m_sinks;
};

STDMETHODIMP DataWriter::Write(IUnknown* data) {
  if (m_writing) return fail(kWriteInProgress, L"There is currently a write operation in progress.");
  Drive* drive = driveOf(m_recorder);
  if (!drive) return fail(kRecorderRequired, L"The request requires a current disc recorder to be selected.");
  if (m_clientName.empty()) return fail(kClientNameInvalid, L"The client name is not valid.");
  if (!drive->blank) return fail(kMediaNotBlank, L"The media is not blank.");
  IStream* stream = nullptr;
  if (!data || FAILED(data->QueryInterface(IID_IStream, reinterpret_cast<void**>(&stream))))
    return fail(E_INVALIDARG, L"The parameter is incorrect.");
  const uint64_t size = streamSize(stream);
  if (size == 0 || size % kSector != 0) {
    stream->Release();
    return fail(kStreamNotSupported, L"The provided stream to write is not supported.");
  }
  const LONG sectors = static_cast<LONG>(size / kSector);
  if (sectors > drive->freeSectors) {
    stream->Release();
    return fail(kStreamTooLarge, L"The provided stream to write is too large for the currently inserted media.");
  }
  World& w = world();
  w.written.clear();
  w.writtenBy = drive->id;
  w.forceMediaToBeClosed = m_closeMedium;
  w.clientName = m_clientName;
  w.verificationLevel = m_verification;
  m_writing = true;
  m_cancel = false;
  HRESULT result = S_OK;
  fire(IMAPI_FORMAT2_DATA_WRITE_ACTION_VALIDATING_MEDIA, sectors, 0);
  std::vector<uint8_t> chunk;
  for (LONG done = 0; done < sectors;) {
    const LONG now = std::min(w.sectorsPerUpdate, sectors - done);
    chunk.resize(static_cast<size_t>(now) * kSector);
    ULONG got = 0;
    if (FAILED(stream->Read(chunk.data(), static_cast<ULONG>(chunk.size()), &got)) || got != chunk.size()) {
      result = fail(E_FAIL, L"The stream could not be read.");
      break;
    }
    w.written.insert(w.written.end(), chunk.begin(), chunk.end());
    done += now;
    fire(IMAPI_FORMAT2_DATA_WRITE_ACTION_WRITING_DATA, sectors, done);
    if (FAILED(w.writeFailure)) {
      result = fail(w.writeFailure, L"The drive reported an error while writing.");
      break;
    }
    if (m_cancel && !w.finishDespiteCancel) {
      result = fail(kRequestCancelled, L"The request was canceled.");
      break;
    }
  }
  if (SUCCEEDED(result)) {
    fire(IMAPI_FORMAT2_DATA_WRITE_ACTION_FINALIZATION, sectors, sectors);
    if (m_closeMedium) drive->blank = false;
    if (m_verification != IMAPI_BURN_VERIFICATION_NONE) {
      const int before = w.updates;
      fire(IMAPI_FORMAT2_DATA_WRITE_ACTION_VERIFYING, sectors, sectors);
      w.verifyingUpdates += w.updates - before;
      if (w.verificationFails) result = fail(kVerificationFailed, L"The disc did not pass the burn verification.");
    }
    if (SUCCEEDED(result)) fire(IMAPI_FORMAT2_DATA_WRITE_ACTION_COMPLETED, sectors, sectors);
  }
  stream->Release();
  m_writing = false;
  w.writeResult = result;
  return result;
}

// ---- IMAPI2FS ----

std::string utf8(const std::wstring& value) { return umbra::utf8FromWide(value); }

std::string dateText(DATE date) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.6f", date);
  return buffer;
}

// What an item of the image knows: its path and its three times.
template <class Interface>
class Item : public Dispatched<Interface> {
 public:
  Item(REFIID iid, std::wstring path) : Dispatched<Interface>(iid), m_path(std::move(path)) {}
  STDMETHODIMP get_Name(BSTR* value) override {
    *value = text(m_path.substr(m_path.find_last_of(L'\\') + 1));
    return S_OK;
  }
  STDMETHODIMP get_FullPath(BSTR* value) override {
    *value = text(m_path);
    return S_OK;
  }
  STDMETHODIMP get_CreationTime(DATE* value) override { return get(value, m_created); }
  STDMETHODIMP put_CreationTime(DATE value) override { return put(m_created, value); }
  STDMETHODIMP get_LastAccessedTime(DATE* value) override { return get(value, m_accessed); }
  STDMETHODIMP put_LastAccessedTime(DATE value) override { return put(m_accessed, value); }
  STDMETHODIMP get_LastModifiedTime(DATE* value) override { return get(value, m_modified); }
  STDMETHODIMP put_LastModifiedTime(DATE value) override { return put(m_modified, value); }

  const std::wstring& path() const { return m_path; }
  std::string times() const { return dateText(m_created) + " " + dateText(m_accessed) + " " + dateText(m_modified); }

 protected:
  void* other(REFIID iid) override { return iid == IID_IFsiItem ? static_cast<Interface*>(this) : nullptr; }

 private:
  static HRESULT get(DATE* out, DATE value) {
    *out = value;
    return S_OK;
  }
  static HRESULT put(DATE& field, DATE value) {
    if (value <= 0) return fail(static_cast<HRESULT>(0xC0AAB105), L"The date is not valid.");
    field = value;
    return S_OK;
  }
  std::wstring m_path;
  DATE m_created = 0, m_accessed = 0, m_modified = 0;
};

class FileItem : public Item<IFsiFileItem> {
 public:
  FileItem(std::wstring path, uint64_t size) : Item(IID_IFsiFileItem, std::move(path)), m_size(size) {}
  STDMETHODIMP get_DataSize32BitLow(LONG* value) override {
    *value = static_cast<LONG>(m_size & 0xFFFFFFFF);
    return S_OK;
  }
  uint64_t size() const { return m_size; }

 private:
  uint64_t m_size;
};

class FolderItem : public Item<IFsiDirectoryItem> {
 public:
  FolderItem(std::wstring path, int level, const bool* iso9660)
      : Item(IID_IFsiDirectoryItem, std::move(path)), m_level(level), m_iso9660(iso9660) {}
  ~FolderItem() override {
    for (auto& [name, child] : m_folders) child->Release();
    for (auto& [name, child] : m_files) child->Release();
  }
  STDMETHODIMP get_Item(BSTR path, IDispatch** item) override {
    *item = find(fromBstr(path));
    if (!*item) return fail(kItemNotFound, L"The item could not be found in the file system image.");
    (*item)->AddRef();
    return S_OK;
  }
  STDMETHODIMP get_Count(LONG* count) override {
    *count = static_cast<LONG>(m_folders.size() + m_files.size());
    return S_OK;
  }
  STDMETHODIMP AddDirectory(BSTR path) override {
    std::wstring rest;
    FolderItem* parent = parentOf(fromBstr(path), rest);
    if (!parent) return fail(kItemNotFound, L"The directory to add to was not found in the file system image.");
    if (parent->has(rest)) return fail(kDuplicateName, L"The name is already in use in this directory.");
    if (*m_iso9660 && parent->m_level + 1 > 8)
      return fail(kIso9660Levels, L"ISO9660 is limited to 8 levels of directories.");
    FolderItem* folder = new FolderItem(parent->childPath(rest), parent->m_level + 1, m_iso9660);
    parent->m_folders[rest] = folder;
    world().imageCalls.push_back("dir " + utf8(folder->path()));
    return S_OK;
  }
  STDMETHODIMP AddFile(BSTR path, IUnknown* data) override {
    IStream* stream = nullptr;
    if (!data || FAILED(data->QueryInterface(IID_IStream, reinterpret_cast<void**>(&stream))))
      return fail(E_INVALIDARG, L"The parameter is incorrect.");
    const uint64_t size = streamSize(stream);
    stream->Release();
    std::wstring rest;
    FolderItem* parent = parentOf(fromBstr(path), rest);
    if (!parent) return fail(kItemNotFound, L"The directory to add to was not found in the file system image.");
    if (parent->has(rest)) return fail(kDuplicateName, L"The name is already in use in this directory.");
    FileItem* file = new FileItem(parent->childPath(rest), size);
    parent->m_files[rest] = file;
    world().imageCalls.push_back("file " + utf8(file->path()) + " " + std::to_string(size));
    return S_OK;
  }

  // Every item below, depth first: "dir PATH TIMES" and "file PATH SIZE TIMES".
  void describe(std::vector<std::string>& lines) const {
    for (const auto& [name, file] : m_files)
      lines.push_back("file " + utf8(file->path()) + " " + std::to_string(file->size()) + " " + file->times());
    for (const auto& [name, folder] : m_folders) {
      lines.push_back("dir " + utf8(folder->path()) + " " + folder->times());
      folder->describe(lines);
    }
  }

 private:
  std::wstring childPath(const std::wstring& name) const { return path() == L"\\" ? L"\\" + name : path() + L"\\" + name; }
  bool has(const std::wstring& name) const { return m_folders.count(name) || m_files.count(name); }
  // The folder that holds `path` (relative to this one, '\'-separated); rest is its last name.
  FolderItem* parentOf(std::wstring path, std::wstring& rest) {
    while (!path.empty() && path.front() == L'\\') path.erase(path.begin());
    const size_t cut = path.find_last_of(L'\\');
    rest = cut == std::wstring::npos ? path : path.substr(cut + 1);
    if (rest.empty()) return nullptr;
    if (cut == std::wstring::npos) return this;
    IDispatch* found = find(path.substr(0, cut));
    const auto folder = foldersByDispatch().find(found);
    return folder == foldersByDispatch().end() ? nullptr : folder->second;
  }
  IDispatch* find(std::wstring path) {
    while (!path.empty() && path.front() == L'\\') path.erase(path.begin());
    if (path.empty()) return dispatch();
    const size_t cut = path.find(L'\\');
    const std::wstring first = path.substr(0, cut);
    if (cut == std::wstring::npos) {
      if (const auto folder = m_folders.find(first); folder != m_folders.end()) return folder->second->dispatch();
      if (const auto file = m_files.find(first); file != m_files.end()) return file->second->dispatch();
      return nullptr;
    }
    const auto folder = m_folders.find(first);
    return folder == m_folders.end() ? nullptr : folder->second->find(path.substr(cut + 1));
  }
  // Folders by their IDispatch, for the walk from a found item back to its object.
  std::map<IDispatch*, FolderItem*> foldersByDispatch() {
    std::map<IDispatch*, FolderItem*> all{{dispatch(), this}};
    for (auto& [name, folder] : m_folders) all.merge(folder->foldersByDispatch());
    return all;
  }

  int m_level;  // the root is level 1
  const bool* m_iso9660;
  std::map<std::wstring, FolderItem*> m_folders;
  std::map<std::wstring, FileItem*> m_files;
};

class BootOptions : public Dispatched<IBootOptions> {
 public:
  BootOptions() : Dispatched(IID_IBootOptions) {}
  ~BootOptions() override {
    if (m_image) m_image->Release();
  }
  STDMETHODIMP get_BootImage(IUnknown** value) override {
    *value = m_image;
    if (m_image) m_image->AddRef();
    return S_OK;
  }
  STDMETHODIMP get_PlatformId(PlatformId* value) override {
    *value = m_platform;
    return S_OK;
  }
  STDMETHODIMP put_PlatformId(PlatformId value) override {
    m_platform = value;
    return S_OK;
  }
  STDMETHODIMP get_Emulation(EmulationType* value) override {
    *value = m_emulation;
    return S_OK;
  }
  STDMETHODIMP put_Emulation(EmulationType value) override {
    m_emulation = value;
    return S_OK;
  }
  STDMETHODIMP AssignBootImage(IUnknown* value) override {
    IStream* stream = nullptr;
    if (!value || FAILED(value->QueryInterface(IID_IStream, reinterpret_cast<void**>(&stream))))
      return fail(E_INVALIDARG, L"The parameter is incorrect.");
    if (m_image) m_image->Release();
    m_image = stream;
    return S_OK;
  }
  std::string describe() const {
    return "boot " + std::to_string(m_image ? streamSize(m_image) : 0) + " emulation " +
           std::to_string(static_cast<int>(m_emulation)) + " platform " + std::to_string(static_cast<int>(m_platform));
  }

 private:
  IStream* m_image = nullptr;
  PlatformId m_platform = PlatformX86;
  EmulationType m_emulation = EmulationNone;
};

class ImageResult : public Dispatched<IFileSystemImageResult> {
 public:
  explicit ImageResult(std::string bytes) : Dispatched(IID_IFileSystemImageResult), m_bytes(std::move(bytes)) {}
  STDMETHODIMP get_ImageStream(IUnknown** value) override {
    *value = SHCreateMemStream(reinterpret_cast<const BYTE*>(m_bytes.data()), static_cast<UINT>(m_bytes.size()));
    return *value ? S_OK : E_OUTOFMEMORY;
  }
  STDMETHODIMP get_TotalBlocks(LONG* value) override {
    *value = static_cast<LONG>(m_bytes.size() / kSector);
    return S_OK;
  }
  STDMETHODIMP get_BlockSize(LONG* value) override {
    *value = kSector;
    return S_OK;
  }

 private:
  std::string m_bytes;
};

// MsftFileSystemImage. Its result "image" is a text: one line per setting and item, padded with
// zero bytes to whole sectors, so a test reads back exactly what reached the service.
class FileSystemImage : public Dispatched<IFileSystemImage> {
 public:
  FileSystemImage() : Dispatched(IID_IFileSystemImage), m_root(new FolderItem(L"\\", 1, &m_iso9660)) {}
  ~FileSystemImage() override {
    m_root->Release();
    if (m_boot) m_boot->Release();
  }
  STDMETHODIMP get_Root(IDispatch** value) override {
    *value = m_root->dispatch();
    m_root->AddRef();
    return S_OK;
  }
  STDMETHODIMP get_FreeMediaBlocks(LONG* value) override {
    *value = m_freeBlocks;
    return S_OK;
  }
  STDMETHODIMP put_FreeMediaBlocks(LONG value) override {
    m_freeBlocks = value;
    return S_OK;
  }
  STDMETHODIMP get_VolumeName(BSTR* value) override {
    *value = text(m_volumeName);
    return S_OK;
  }
  STDMETHODIMP put_VolumeName(BSTR value) override {
    // The documented rule: at most 15 characters; letters, digits, '.' and '_' (Joliet and UDF),
    // of which ISO 9660 takes upper-case letters, digits and '_'.
    const std::wstring name = fromBstr(value);
    bool valid = name.size() <= 15;
    for (const wchar_t c : name)
      valid = valid && ((c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') ||
                        c == L'_' || c == L'.');
    // The code put_VolumeName's own page documents (imapi2fserror.h names B104 for the same case).
    if (!valid) return fail(kInvalidParam, L"The value specified for parameter 'newVal' is not valid.");
    m_volumeName = name;
    return S_OK;
  }
  STDMETHODIMP get_BootImageOptions(IDispatch** value) override {
    if (!m_boot) return fail(static_cast<HRESULT>(0xC0AAB10B), L"The boot options have not been set.");
    *value = m_boot->dispatch();
    m_boot->AddRef();
    return S_OK;
  }
  STDMETHODIMP put_BootImageOptions(IDispatch* value) override {
    IBootOptions* options = nullptr;
    if (!value || FAILED(value->QueryInterface(IID_IBootOptions, reinterpret_cast<void**>(&options))))
      return fail(E_INVALIDARG, L"The parameter is incorrect.");
    IUnknown* image = nullptr;
    options->get_BootImage(&image);
    options->Release();
    if (!image) return fail(kBootImageData, L"The boot object could not be added to the image.");
    image->Release();
    if (m_boot) m_boot->Release();
    m_boot = static_cast<BootOptions*>(options);  // only our own objects reach here
    m_boot->AddRef();
    return S_OK;
  }
  STDMETHODIMP get_FileSystemsToCreate(FsiFileSystems* value) override {
    *value = m_fileSystems;
    return S_OK;
  }
  STDMETHODIMP put_FileSystemsToCreate(FsiFileSystems value) override {
    m_fileSystems = value;
    m_iso9660 = (value & FsiFileSystemISO9660) != 0;
    return S_OK;
  }
  STDMETHODIMP CreateResultImage(IDispatch** result) override {
    std::vector<std::string> lines{"label " + utf8(m_volumeName), "filesystems " + std::to_string(m_fileSystems),
                                   "level " + std::to_string(m_level), "free " + std::to_string(m_freeBlocks)};
    if (m_boot) lines.push_back(m_boot->describe());
    lines.push_back("root " + m_root->times());
    m_root->describe(lines);
    std::string bytes;
    for (const std::string& line : lines) bytes += line + "\n";
    bytes.resize((bytes.size() + kSector - 1) / kSector * kSector, '\0');
    *result = (new ImageResult(bytes))->dispatch();
    return S_OK;
  }
  STDMETHODIMP put_ISO9660InterchangeLevel(LONG value) override {
    if (value < 1 || value > 3) return fail(kInvalidParam, L"The value specified for parameter 'newVal' is not valid.");
    m_level = value;
    return S_OK;
  }
  STDMETHODIMP get_ISO9660InterchangeLevel(LONG* value) override {
    *value = m_level;
    return S_OK;
  }

 private:
  bool m_iso9660 = true;
  FolderItem* m_root;
  BootOptions* m_boot = nullptr;
  std::wstring m_volumeName;
  FsiFileSystems m_fileSystems = static_cast<FsiFileSystems>(FsiFileSystemISO9660 | FsiFileSystemJoliet);
  LONG m_level = 2;
  LONG m_freeBlocks = 332800;
};

// MsftDiscFormat2Erase: takes a recorder, the quick or full choice and the client's name, and
// blanks the drive's medium in EraseMedia when it is a rewritable one.
class Eraser : public Dispatched<IDiscFormat2Erase> {
 public:
  Eraser() : Dispatched(IID_IDiscFormat2Erase) {}
  ~Eraser() override {
    if (m_recorder) m_recorder->Release();
  }

  // IDiscFormat2
  STDMETHODIMP IsRecorderSupported(IDispatch* recorder, VARIANT_BOOL* value) override {
    log("IsRecorderSupported");
    *value = driveOf(recorder) ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  STDMETHODIMP IsCurrentMediaSupported(IDispatch* recorder, VARIANT_BOOL* value) override {
    log("IsCurrentMediaSupported");
    const Drive* drive = driveOf(recorder);
    if (!drive) return fail(E_INVALIDARG, L"The parameter is incorrect.");
    *value = drive->mediumSupported && rewritable(drive->mediaType) ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  STDMETHODIMP get_MediaPhysicallyBlank(VARIANT_BOOL* value) override { return blank(value); }
  STDMETHODIMP get_MediaHeuristicallyBlank(VARIANT_BOOL* value) override { return blank(value); }

  // IDiscFormat2Erase
  STDMETHODIMP put_Recorder(IDispatch* value) override {
    log("Recorder=");
    if (!driveOf(value)) return fail(E_INVALIDARG, L"The parameter is incorrect.");
    value->AddRef();
    if (m_recorder) m_recorder->Release();
    m_recorder = value;
    return S_OK;
  }
  STDMETHODIMP get_Recorder(IDispatch** value) override {
    if (!m_recorder) return fail(kRecorderRequired, L"The request requires a current disc recorder to be selected.");
    m_recorder->AddRef();
    *value = m_recorder;
    return S_OK;
  }
  STDMETHODIMP put_FullErase(VARIANT_BOOL value) override {
    m_full = value != VARIANT_FALSE;
    log(m_full ? "FullErase=true" : "FullErase=false");
    return S_OK;
  }
  STDMETHODIMP get_FullErase(VARIANT_BOOL* value) override {
    *value = m_full ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }
  STDMETHODIMP get_CurrentPhysicalMediaType(IMAPI_MEDIA_PHYSICAL_TYPE* value) override {
    log("CurrentPhysicalMediaType");
    const Drive* drive = driveOf(m_recorder);
    if (!drive) return fail(kRecorderRequired, L"The request requires a current disc recorder to be selected.");
    *value = static_cast<IMAPI_MEDIA_PHYSICAL_TYPE>(drive->mediaType);
    return S_OK;
  }
  STDMETHODIMP put_ClientName(BSTR value) override {
    log("ClientName=" + umbra::utf8FromWide(fromBstr(value)));
    if (fromBstr(value).empty()) return fail(kClientNameInvalid, L"The client name is not valid.");
    m_clientName = fromBstr(value);
    return S_OK;
  }
  STDMETHODIMP get_ClientName(BSTR* value) override {
    *value = text(m_clientName);
    return S_OK;
  }
  STDMETHODIMP EraseMedia() override {
    log("EraseMedia");
    Drive* drive = driveOf(m_recorder);
    if (!drive) return fail(kRecorderRequired, L"The request requires a current disc recorder to be selected.");
    if (m_clientName.empty()) return fail(kClientNameInvalid, L"The client name is not valid.");
    if (!rewritable(drive->mediaType)) return fail(kMediaIncompatible, L"The media is not compatible or of unknown physical format.");
    if (world().eraseFailure != S_OK) return fail(world().eraseFailure, L"The drive reported an error while erasing.");
    drive->blank = true;
    return S_OK;
  }

 protected:
  void* other(REFIID iid) override {
    if (iid == IID_IDiscFormat2) return static_cast<IDiscFormat2Erase*>(this);
    return nullptr;
  }

 private:
  static bool rewritable(long type) {
    return type == IMAPI_MEDIA_TYPE_CDRW || type == IMAPI_MEDIA_TYPE_DVDRAM || type == IMAPI_MEDIA_TYPE_DVDPLUSRW ||
           type == IMAPI_MEDIA_TYPE_DVDDASHRW || type == IMAPI_MEDIA_TYPE_DVDPLUSRW_DUALLAYER ||
           type == IMAPI_MEDIA_TYPE_HDDVDRAM || type == IMAPI_MEDIA_TYPE_BDRE;
  }
  static void log(const std::string& line) { world().eraseCalls.push_back(line); }
  HRESULT blank(VARIANT_BOOL* value) {
    const Drive* drive = driveOf(m_recorder);
    if (!drive) return fail(kRecorderRequired, L"The request requires a current disc recorder to be selected.");
    *value = drive->blank ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  }

  IDispatch* m_recorder = nullptr;
  bool m_full = true;  // IMAPI's default is a full erase
  std::wstring m_clientName;
};

HRESULT make(const wchar_t* progId, IDispatch** object) {
  *object = nullptr;
  const std::wstring id(progId);
  if (id == L"IMAPI2.MsftDiscMaster2") *object = (new DiscMaster)->dispatch();
  else if (id == L"IMAPI2.MsftDiscRecorder2") *object = (new DiscRecorder)->dispatch();
  else if (id == L"IMAPI2.MsftDiscFormat2Data") *object = (new DataWriter)->dispatch();
  else if (id == L"IMAPI2.MsftDiscFormat2Erase") *object = (new Eraser)->dispatch();
  else if (id == L"IMAPI2FS.MsftFileSystemImage") *object = (new FileSystemImage)->dispatch();
  else if (id == L"IMAPI2FS.BootOptions") *object = (new BootOptions)->dispatch();
  else return CO_E_CLASSSTRING;
  return S_OK;
}

}  // namespace

World& world() {
  static World instance;
  return instance;
}

bool install() {
  if (!g_library) {
    wchar_t module[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, module, MAX_PATH);
    if (length == 0 || length == MAX_PATH || FAILED(LoadTypeLibEx(module, REGKIND_NONE, &g_library))) return false;
  }
  world().typeLibraryLoaded = true;
  com::DispatchObject::setFactory(make);
  return true;
}

void uninstall() { com::DispatchObject::setFactory(nullptr); }

void reset() {
  const bool loaded = world().typeLibraryLoaded;
  world() = World();
  world().typeLibraryLoaded = loaded;
}

}  // namespace imapi_double
