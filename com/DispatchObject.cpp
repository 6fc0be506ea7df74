#include "DispatchObject.h"

#ifdef _WIN32
#include <cstdio>
#include <vector>

namespace com {

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

DispatchObject DispatchObject::create(const wchar_t* progId, HRESULT* result) {
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

HRESULT DispatchObject::putReference(const wchar_t* name, const Variant& value) const {
  return invoke(name, DISPATCH_PROPERTYPUTREF, {value}, nullptr);
}

HRESULT DispatchObject::call(const wchar_t* name, std::initializer_list<Variant> args, Variant* out) const {
  return invoke(name, DISPATCH_METHOD, args, out);
}

std::string describeResult(HRESULT result) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lx", static_cast<unsigned long>(result));
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(result), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = length && text ? std::wstring(text, length) : std::wstring();
  if (text) LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L' ' ||
                              message.back() == L'.'))
    message.pop_back();
  return message.empty() ? std::string(code) : std::string(code) + " (" + utf8FromWide(message) + ")";
}

std::wstring wideFromUtf8(const std::string& text) {
  if (text.empty()) return {};
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::string utf8FromWide(const std::wstring& text) {
  if (text.empty()) return {};
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length, nullptr,
                      nullptr);
  return narrow;
}

}  // namespace com
#endif
