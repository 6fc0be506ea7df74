#pragma once
// Late-bound COM: an automation object reached by its ProgID and driven through IDispatch by member
// names, so services whose headers the compiler lacks (IMAPI2, IMAPI2FS) need no declarations.
#ifdef _WIN32
#include <windows.h>
#include <oaidl.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>


namespace com {

// CoInitializeEx for the calling thread for the lifetime of the object.
class Apartment {
 public:
  Apartment();
  ~Apartment();
  Apartment(const Apartment&) = delete;
  Apartment& operator=(const Apartment&) = delete;
  HRESULT result() const { return m_result; }

 private:
  HRESULT m_result;
};

// An owned VARIANT.
class Variant {
 public:
  Variant() { VariantInit(&m_value); }
  explicit Variant(long value);
  explicit Variant(bool value);
  explicit Variant(double value, VARTYPE type);  // VT_R8 or VT_DATE
  explicit Variant(const std::wstring& text);
  explicit Variant(IUnknown* object);              // adds a reference
  Variant(const Variant& other);
  Variant& operator=(const Variant& other);
  ~Variant() { VariantClear(&m_value); }

  VARIANT* get() { return &m_value; }
  const VARIANT& value() const { return m_value; }
  long toLong() const;
  std::wstring toText() const;
  std::vector<std::wstring> toTextList() const;  // a SAFEARRAY of strings or of VARIANTs
  bool toBool() const { return toLong() != 0; }
  IDispatch* toDispatch() const;  // borrowed; null unless the value is an object
  IUnknown* toUnknown() const;    // borrowed

 private:
  VARIANT m_value;
};

class DispatchObject {
 public:
  DispatchObject() = default;
  explicit DispatchObject(IDispatch* object);  // adds a reference
  DispatchObject(const DispatchObject& other);
  DispatchObject& operator=(const DispatchObject& other);
  ~DispatchObject();

  // CoCreateInstance by ProgID; on failure the object is empty and result says why.
  static DispatchObject create(const wchar_t* progId, HRESULT* result);
  // True when create can make objects of this ProgID.
  static bool available(const wchar_t* progId);
  // Tests put their own objects in place of the system's: the factory answers every create (and
  // available) with an object it made, or a failure code. Empty restores the system's classes.
  using Factory = std::function<HRESULT(const wchar_t* progId, IDispatch** object)>;
  static void setFactory(Factory factory);

  explicit operator bool() const { return m_object != nullptr; }
  IDispatch* get() const { return m_object; }

  HRESULT getProperty(const wchar_t* name, Variant* out, std::initializer_list<Variant> args = {}) const;
  // DISPATCH_PROPERTYPUT, for objects too: the IMAPI type libraries declare every property we set,
  // object-valued ones included, as propput, and a type-library Invoke matches the kind exactly.
  HRESULT putProperty(const wchar_t* name, const Variant& value) const;
  HRESULT call(const wchar_t* name, std::initializer_list<Variant> args, Variant* out = nullptr) const;

 private:
  HRESULT invoke(const wchar_t* name, WORD flags, std::initializer_list<Variant> args, Variant* out) const;

  IDispatch* m_object = nullptr;
};

// "0x80040154 (Class not registered)": our own words for the IMAPI codes we can name, else the
// system's text where it has one, and the description the object gave with the failure when the
// last failed call on this thread ended with this code (IMAPI explains itself that way).
std::string describeResult(HRESULT result);

}  // namespace com
#endif
