// The component model the desktop connection service loads its sync
// providers through: GUIDs, HRESULTs, IUnknown and IClassFactory, the four
// exports of an in-process server, and the registration that tells the
// service which module serves a class.
//
// An interface is an abstract class whose virtual functions stand in their
// fixed slot order (QueryInterface, AddRef, Release first); a caller holds
// an object through a pointer to an interface and gives its reference back
// with Release. Objects are made only by their server, through the class
// factory DllGetClassObject hands out.
//
// Registration lives in the desktop registry (platform/registry):
//   HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32  default: the module's
//                                                     full host path
//   HKEY_CLASSES_ROOT\<program id>\CLSID            default: "{clsid}"
// A server writes these keys itself from DllRegisterServer and removes them
// from DllUnregisterServer.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "Status.h"
#include "WinTypes.h"

// A globally unique identifier, laid out as the platform lays it out.
struct GUID {
  std::uint32_t Data1 = 0;
  std::uint16_t Data2 = 0;
  std::uint16_t Data3 = 0;
  std::array<std::uint8_t, 8> Data4{};

  friend bool operator==(const GUID&, const GUID&) = default;
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const IID&;
using REFCLSID = const CLSID&;

// HRESULTs of the component model. (S_OK, S_FALSE, E_FAIL, E_OUTOFMEMORY
// and E_INVALIDARG are in WinTypes.h.)
constexpr HRESULT E_NOTIMPL = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);
constexpr HRESULT E_POINTER = static_cast<HRESULT>(0x80004003u);
constexpr HRESULT E_UNEXPECTED = static_cast<HRESULT>(0x8000FFFFu);
constexpr HRESULT E_HANDLE = static_cast<HRESULT>(0x80070006u);
constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110u);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111u);
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
constexpr HRESULT SELFREG_E_CLASS = static_cast<HRESULT>(0x80040201u);

// A Win32 error number as an HRESULT: 0x80070000 | error (0 stays S_OK).
constexpr HRESULT HRESULT_FROM_WIN32(DWORD error) {
  return error == 0 ? S_OK : static_cast<HRESULT>(0x80070000u | (error & 0xFFFFu));
}

class IUnknown {
 public:
  // *object gets the interface iid of this object with a reference taken,
  // or null and E_NOINTERFACE. E_POINTER for a null object.
  virtual HRESULT QueryInterface(REFIID iid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;  // objects go through Release, never delete
};
// {00000000-0000-0000-C000-000000000046}
inline constexpr IID IID_IUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

class IClassFactory : public IUnknown {
 public:
  // Makes an object of the factory's class and returns its interface iid.
  // outer is for aggregation, which a factory may refuse
  // (CLASS_E_NOAGGREGATION).
  virtual HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) = 0;
  // Keeps the server loaded (lock TRUE) or lets it go (FALSE).
  virtual HRESULT LockServer(BOOL lock) = 0;

 protected:
  ~IClassFactory() = default;
};
// {00000001-0000-0000-C000-000000000046}
inline constexpr IID IID_IClassFactory = {
    0x00000001, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// The exports of an in-process server module.
extern "C" {
using DllGetClassObjectFunction = HRESULT (*)(REFCLSID clsid, REFIID iid, void** object);
using DllCanUnloadNowFunction = HRESULT (*)();  // S_OK: nothing of it is alive
using DllRegisterServerFunction = HRESULT (*)();
using DllUnregisterServerFunction = HRESULT (*)();
}

namespace tbm::com {

// "{79BF3B86-EA0D-4826-AF70-76FC63AC514E}": braces, upper-case hex.
std::string GuidToString(const GUID& guid);
// Reads that form (hex digits of either case); nothing for anything else.
std::optional<GUID> GuidFromString(std::string_view text);

// Holds one reference to an interface and gives it back when it goes.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes over a reference the caller already holds.
  static ComPtr Adopt(T* pointer) {
    ComPtr p;
    p.pointer_ = pointer;
    return p;
  }
  ComPtr(const ComPtr& other) : pointer_(other.pointer_) {
    if (pointer_) pointer_->AddRef();
  }
  ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(pointer_, other.pointer_);
    return *this;
  }
  ~ComPtr() { Reset(); }

  void Reset() {
    if (T* p = std::exchange(pointer_, nullptr)) p->Release();
  }
  T* get() const { return pointer_; }
  T* operator->() const { return pointer_; }
  explicit operator bool() const { return pointer_ != nullptr; }
  // For calls that hand out a new reference: releases what is held.
  T** Receive() {
    Reset();
    return &pointer_;
  }
  void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }
  // Hands the reference to the caller.
  T* Detach() { return std::exchange(pointer_, nullptr); }

 private:
  T* pointer_ = nullptr;
};

// A reference count starting at 1, the count of a new object.
class ReferenceCount {
 public:
  ULONG Add() { return ++references_; }
  ULONG Drop() { return --references_; }

 private:
  std::atomic<ULONG> references_{1};
};

// The IUnknown of an object that offers one interface, Interface with the
// identifier kIid, besides IUnknown itself. Count keeps the references
// (ReferenceCount, or one that also counts a module's live objects); the
// object deletes itself at its last Release.
template <typename Interface, const IID& kIid, typename Count = ReferenceCount>
class SingleInterfaceObject : public Interface {
 public:
  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (iid != IID_IUnknown && iid != kIid) return E_NOINTERFACE;
    AddRef();
    *object = static_cast<Interface*>(this);
    return S_OK;
  }
  ULONG AddRef() override { return count_.Add(); }
  ULONG Release() override {
    const ULONG left = count_.Drop();
    if (left == 0) delete this;
    return left;
  }

 protected:
  SingleInterfaceObject() = default;
  virtual ~SingleInterfaceObject() = default;

 private:
  Count count_;
};

// An in-process server module loaded from a host path, kept loaded while
// this object lives. Objects made from it must be released before it goes.
class InprocServer {
 public:
  ~InprocServer();
  InprocServer(const InprocServer&) = delete;
  InprocServer& operator=(const InprocServer&) = delete;

  // Loads the module at path. kNotFound for no such file, kNoPermission
  // when it may not be read, kDamaged when it is not a loadable library or
  // lacks DllGetClassObject; the message names the file.
  static Status Load(const std::string& path, std::unique_ptr<InprocServer>* server);
  // Loads the module the desktop registry names for clsid
  // (InprocServer32). kNotFound, saying which class, when it is not
  // registered; otherwise as Load.
  static Status LoadClass(const CLSID& clsid, std::unique_ptr<InprocServer>* server);

  const std::string& path() const { return path_; }

  // DllGetClassObject for clsid, then CreateInstance(null, iid). Returns
  // the HRESULT of whichever failed.
  HRESULT CreateInstance(const CLSID& clsid, REFIID iid, void** object);
  // DllCanUnloadNow; S_OK when the module does not export it.
  HRESULT CanUnloadNow();
  // DllRegisterServer / DllUnregisterServer; E_NOTIMPL when not exported.
  HRESULT RegisterServer();
  HRESULT UnregisterServer();

 private:
  InprocServer() = default;
  std::string path_;
  void* module_ = nullptr;
};

// The class registered for a program identifier (the key
// HKEY_CLASSES_ROOT\<id>\CLSID in the desktop registry). kNotFound, naming the identifier, when
// there is none; kDamaged when its value is not a GUID.
Status ClassOfProgramId(const std::string& programId, CLSID* clsid);

// The full host path of the loaded module holding address (a function or
// object of that module); empty when it cannot be told.
std::string ModulePathOf(const void* address);

}  // namespace tbm::com
