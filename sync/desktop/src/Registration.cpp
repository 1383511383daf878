#include "Registration.h"

#include <initializer_list>
#include <utility>

#include "ProgramLog.h"
#include "Registry.h"
#include "ReplStore.h"
#include "Utf16.h"

namespace tbm::desksync {
namespace {

struct Value {
  std::u16string key;
  const char16_t* name;  // null: the default value
  std::u16string data;
};

std::u16string ClassKey() { return u"CLSID\\" + Utf8ToUtf16(com::GuidToString(kProviderClass)); }

std::u16string ObjectTypeKey() {
  return std::u16string(kReplObjectTypesKey) + u"\\" + Utf8ToUtf16(kObjectType);
}

HRESULT SetAll(HKEY hive, std::initializer_list<Value> values) {
  for (const Value& value : values) {
    if (const LONG rc = RegSetString(hive, value.key.c_str(), value.name, value.data);
        rc != ERROR_SUCCESS) {
      WriteLog("TBDeskSync", LogLevel::kError,
               "registering the provider: " + Utf16ToUtf8(value.key) +
                   " cannot be written: " + DescribeError(static_cast<DWORD>(rc)));
      return HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
    }
  }
  return S_OK;
}

// Deletes key with everything below it; a key that is not there is fine.
LONG Delete(HKEY hive, const std::u16string& key) {
  const LONG rc = RegDeleteKeyW(hive, key.c_str());
  return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

}  // namespace

HRESULT RegisterProvider(const std::string& modulePath) {
  const std::u16string path = Utf8ToUtf16(modulePath);
  const std::u16string programId = Utf8ToUtf16(kProgramId);
  const std::u16string classText = Utf8ToUtf16(com::GuidToString(kProviderClass));
  const std::u16string objectType = ObjectTypeKey();
  const std::u16string icon = path + u", -" + Utf8ToUtf16(std::to_string(kIconResource));
  if (const HRESULT hr =
          SetAll(HKEY_CLASSES_ROOT, {{ClassKey() + u"\\InprocServer32", nullptr, path},
                                     {ClassKey() + u"\\ProgId", nullptr, programId},
                                     {programId, nullptr, u"TBDeskSync"},
                                     {programId, u"Display Name", Utf8ToUtf16(kStoreDescription)},
                                     {programId + u"\\CLSID", nullptr, classText}});
      FAILED(hr)) {
    return hr;
  }
  return SetAll(HKEY_LOCAL_MACHINE, {{objectType, nullptr, u"Tabulon Mobile Object"},
                                     {objectType, u"Display Name", u"Tabulon Mobile"},
                                     {objectType, u"Plural Name", u"Tabulon Mobile"},
                                     {objectType, u"Store", programId},
                                     {objectType, u"DefaultIcon", icon}});
}

HRESULT UnregisterProvider() {
  const std::u16string programId = Utf8ToUtf16(kProgramId);
  for (const auto& [hive, key] :
       {std::pair{HKEY_CLASSES_ROOT, ClassKey()},
        std::pair{HKEY_CLASSES_ROOT, programId + u"\\CLSID"},
        std::pair{HKEY_CLASSES_ROOT, programId}, std::pair{HKEY_LOCAL_MACHINE, ObjectTypeKey()}}) {
    if (const LONG rc = Delete(hive, key); rc != ERROR_SUCCESS) {
      WriteLog("TBDeskSync", LogLevel::kError,
               "unregistering the provider: " + Utf16ToUtf8(key) +
                   " cannot be deleted: " + DescribeError(static_cast<DWORD>(rc)));
      return HRESULT_FROM_WIN32(static_cast<DWORD>(rc));
    }
  }
  return S_OK;
}

}  // namespace tbm::desksync
