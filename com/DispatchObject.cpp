#include "DispatchObject.h"

#include "base/WideText.h"

#ifdef _WIN32
#include <cstdio>
#include <vector>

namespace com {

using umbra::utf8FromWide;

Apartment::Apartment() : m_result(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}

Apartment::~Apartment() {
  // S_FALSE (already initialised) also has to be balanced; RPC_E_CHANGED_MODE must not.
  if (SUCCEEDED(m_result)) CoUninitialize();
}

Variant::Variant(long value) : Variant() {
  m_value.vt = VT_I4;
  m_value.lVal = value;
}

Variant::Variant(bool value) : Variant() {
  m_value.vt = VT_BOOL;
  m_value.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

Variant::Variant(double value, VARTYPE type) : Variant() {
  m_value.vt = type;
  if (type == VT_DATE) m_value.date = value;
  else m_value.dblVal = value;
}

Variant::Variant(const std::wstring& text) : Variant() {
  m_value.vt = VT_BSTR;
  m_value.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

Variant::Variant(IUnknown* object) : Variant() {
  IDispatch* dispatch = nullptr;
  if (object && SUCCEEDED(object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)))) {
    m_value.vt = VT_DISPATCH;
    m_value.pdispVal = dispatch;
  } else if (object) {
    object->AddRef();
    m_value.vt = VT_UNKNOWN;
    m_value.punkVal = object;
  }
}

Variant::Variant(const Variant& other) : Variant() { VariantCopy(&m_value, const_cast<VARIANT*>(&other.m_value)); }

Variant& Variant::operator=(const Variant& other) {
  if (this != &other) {
    VariantClear(&m_value);
    VariantCopy(&m_value, const_cast<VARIANT*>(&other.m_value));
  }
  return *this;
}

long Variant::toLong() const {
  VARIANT converted;
  VariantInit(&converted);
  long value = 0;
  if (SUCCEEDED(VariantChangeType(&converted, const_cast<VARIANT*>(&m_value), 0, VT_I4))) value = converted.lVal;
  VariantClear(&converted);
  return value;
}

std::wstring Variant::toText() const {
  VARIANT converted;
  VariantInit(&converted);
  std::wstring text;
  if (SUCCEEDED(VariantChangeType(&converted, const_cast<VARIANT*>(&m_value), 0, VT_BSTR)) && converted.bstrVal)
    text.assign(converted.bstrVal, SysStringLen(converted.bstrVal));
  VariantClear(&converted);
  return text;
}

std::vector<std::wstring> Variant::toTextList() const {
  std::vector<std::wstring> list;
  if (!(m_value.vt & VT_ARRAY) || !m_value.parray) return list;
  SAFEARRAY* array = m_value.parray;
  LONG lower = 0, upper = -1;
  if (FAILED(SafeArrayGetLBound(array, 1, &lower)) || FAILED(SafeArrayGetUBound(array, 1, &upper))) return list;
  for (LONG i = lower; i <= upper; ++i) {
    if ((m_value.vt & VT_TYPEMASK) == VT_BSTR) {
      BSTR text = nullptr;
      if (SUCCEEDED(SafeArrayGetElement(array, &i, &text)) && text) {
        list.emplace_back(text, SysStringLen(text));
        SysFreeString(text);
      }
    } else if ((m_value.vt & VT_TYPEMASK) == VT_VARIANT) {
      Variant element;
      if (SUCCEEDED(SafeArrayGetElement(array, &i, element.get()))) list.push_back(element.toText());
    }
  }
  return list;
}

IDispatch* Variant::toDispatch() const { return m_value.vt == VT_DISPATCH ? m_value.pdispVal : nullptr; }

IUnknown* Variant::toUnknown() const {
  if (m_value.vt == VT_UNKNOWN) return m_value.punkVal;
  if (m_value.vt == VT_DISPATCH) return m_value.pdispVal;
  return nullptr;
}

DispatchObject::DispatchObject(IDispatch* object) : m_object(object) {
  if (m_object) m_object->AddRef();
}

DispatchObject::DispatchObject(const DispatchObject& other) : DispatchObject(other.m_object) {}

DispatchObject& DispatchObject::operator=(const DispatchObject& other) {
  if (other.m_object) other.m_object->AddRef();
  if (m_object) m_object->Release();
  m_object = other.m_object;
  return *this;
}

DispatchObject::~DispatchObject() {
  if (m_object) m_object->Release();
}

namespace {

DispatchObject::Factory& factory() {
  static DispatchObject::Factory instance;
  return instance;
}

// The description of the last failed call on this thread, kept for describeResult.
struct LastFailure {
  HRESULT code = S_OK;
  std::wstring description;
};
thread_local LastFailure lastFailure;

}  // namespace

void DispatchObject::setFactory(Factory made) { factory() = std::move(made); }

bool DispatchObject::available(const wchar_t* progId) {
  if (factory()) {
    IDispatch* object = nullptr;
    const HRESULT result = factory()(progId, &object);
    if (object) object->Release();
    return SUCCEEDED(result);
  }
  CLSID clsid;
  return SUCCEEDED(CLSIDFromProgID(progId, &clsid));
}

DispatchObject DispatchObject::create(const wchar_t* progId, HRESULT* result) {
  if (factory()) {
    IDispatch* object = nullptr;
    *result = factory()(progId, &object);
    if (FAILED(*result) || !object) return {};
    DispatchObject made(object);
    object->Release();
    return made;
  }
  CLSID clsid;
  *result = CLSIDFromProgID(progId, &clsid);
  if (FAILED(*result)) return {};
  IDispatch* object = nullptr;
  *result = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IDispatch, reinterpret_cast<void**>(&object));
  if (FAILED(*result)) return {};
  DispatchObject created(object);
  object->Release();
  return created;
}

HRESULT DispatchObject::invoke(const wchar_t* name, WORD flags, std::initializer_list<Variant> args,
                               Variant* out) const {
  if (!m_object) return E_POINTER;
  lastFailure = LastFailure();  // a description belongs to the call that gave it
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  DISPID member = 0;
  HRESULT result = m_object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &member);
  if (FAILED(result)) return result;
  // IDispatch takes the arguments last to first.
  std::vector<VARIANT> reversed;
  for (auto it = args.end(); it != args.begin();) reversed.push_back((--it)->value());
  DISPID named = DISPID_PROPERTYPUT;
  DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) {
    params.rgdispidNamedArgs = &named;
    params.cNamedArgs = 1;
  }
  Variant ignored;
  EXCEPINFO exception{};
  result = m_object->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                            out ? out->get() : ignored.get(), &exception, nullptr);
  if (result == DISP_E_EXCEPTION) {
    if (exception.pfnDeferredFillIn) exception.pfnDeferredFillIn(&exception);
    if (FAILED(exception.scode)) result = exception.scode;
    lastFailure.code = result;
    if (exception.bstrDescription)
      lastFailure.description.assign(exception.bstrDescription, SysStringLen(exception.bstrDescription));
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
  }
  return result;
}

HRESULT DispatchObject::getProperty(const wchar_t* name, Variant* out, std::initializer_list<Variant> args) const {
  return invoke(name, DISPATCH_PROPERTYGET | DISPATCH_METHOD, args, out);
}

HRESULT DispatchObject::putProperty(const wchar_t* name, const Variant& value) const {
  return invoke(name, DISPATCH_PROPERTYPUT, {value}, nullptr);
}

HRESULT DispatchObject::call(const wchar_t* name, std::initializer_list<Variant> args, Variant* out) const {
  return invoke(name, DISPATCH_METHOD, args, out);
}

namespace {

// IMAPI's codes (facility 0xAA) have no system text; these are the ones a user can act on, saying
// what Microsoft documents for each and no more.
const char* imapiWords(HRESULT result) {
  switch (static_cast<unsigned long>(result)) {
    case 0xC0AA0002: return "the burn was cancelled";
    case 0xC0AA0003: return "no recorder was given to the writer";
    case 0xC0AA0202: return "there is no disc in the drive";
    case 0xC0AA0203: return "the disc is not compatible or of an unknown physical format";
    case 0xC0AA0204: return "the disc is upside down";
    case 0xC0AA0205: return "the drive is still getting the disc ready";
    case 0xC0AA0207: return "the drive is busy";
    case 0xC0AA0209: return "the disc is write-protected";
    case 0xC0AA0210: return "another program holds the drive";
    case 0xC0AA0300: return "the drive ran short of data while writing";
    case 0xC0AA0400: return "another write to this drive is under way";
    case 0xC0AA0402: return "this works only with a supported disc";
    case 0xC0AA0403: return "the image's data is not supported for writing";
    case 0xC0AA0404: return "the image is larger than the free space on the disc";
    case 0xC0AA0405: return "the disc is not blank";
    case 0xC0AA0406: return "this kind of disc is not supported";
    case 0xC0AA0407: return "this recorder is not supported";
    case 0x80AA0904: return "the disc cannot be erased";
    // put_VolumeName documents B101 (IMAPI_E_INVALID_PARAM, which other members return too) for
    // a name it refuses, the table of return values B104 (IMAPI_E_INVALID_VOLUME_NAME).
    case 0xC0AAB101: return "a value given is not valid";
    case 0xC0AAB104: return "the volume label is not valid";
    case 0xC0AAB120:
    case 0xC0AAB121: return "the image is too large";
    case 0xC0AAB131: return "ISO 9660 allows at most 8 levels of folders";
    case 0xC0AAB148: return "the boot image cannot be used";
    default: return nullptr;
  }
}

std::wstring systemText(HRESULT result) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(result), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = length && text ? std::wstring(text, length) : std::wstring();
  if (text) LocalFree(text);
  return message;
}

std::wstring trimmed(std::wstring text) {
  while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ' || text.back() == L'.'))
    text.pop_back();
  size_t first = 0;
  while (first < text.size() && (text[first] == L' ' || text[first] == L'\r' || text[first] == L'\n')) ++first;
  return text.substr(first);
}

}  // namespace

std::string describeResult(HRESULT result) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lx", static_cast<unsigned long>(result));
  std::vector<std::string> parts;
  if (const char* words = imapiWords(result)) parts.emplace_back(words);
  else if (const std::wstring text = trimmed(systemText(result)); !text.empty()) parts.push_back(utf8FromWide(text));
  if (lastFailure.code == result)
    if (const std::wstring given = trimmed(lastFailure.description); !given.empty()) {
      const std::string description = utf8FromWide(given);
      if (parts.empty() || parts.front() != description) parts.push_back(description);
    }
  std::string text(code);
  for (size_t i = 0; i < parts.size(); ++i) text += (i == 0 ? " (" : ": ") + parts[i];
  return parts.empty() ? text : text + ")";
}

}  // namespace com
#endif
