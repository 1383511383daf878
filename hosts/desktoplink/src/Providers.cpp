#include "Providers.h"

#include <cstdio>
#include <filesystem>

#include "Registry.h"
#include "ReplStore.h"
#include "Utf16.h"

namespace tbm::desktoplink {
namespace {

std::string Hex(HRESULT result) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(result));
  return text;
}

std::string Text(const std::optional<std::u16string>& value) {
  return value ? Utf16ToUtf8(*value) : std::string();
}

// Fills in what the program identifier and the class say.
void FollowRegistration(RegisteredProvider* provider) {
  if (provider->programId.empty()) {
    provider->problem = "its key has no \"Store\" value naming the provider's class";
    return;
  }
  CLSID clsid;
  if (Status status = com::ClassOfProgramId(provider->programId, &clsid); !status.ok()) {
    provider->problem = status.message();
    return;
  }
  provider->classId = com::GuidToString(clsid);
  const std::u16string key = u"CLSID\\" + Utf8ToUtf16(provider->classId) + u"\\InprocServer32";
  provider->modulePath = Text(RegGetString(HKEY_CLASSES_ROOT, key.c_str(), nullptr));
  if (provider->modulePath.empty()) {
    provider->problem = "the class " + provider->classId + " names no module";
  }
}

}  // namespace

Status ListRegisteredProviders(std::vector<RegisteredProvider>* providers) {
  providers->clear();
  HKEY types = nullptr;
  LONG error = RegOpenKeyExW(HKEY_LOCAL_MACHINE, kReplObjectTypesKey, 0, KEY_READ, &types);
  if (error == static_cast<LONG>(ERROR_FILE_NOT_FOUND)) return Status();
  if (error != ERROR_SUCCESS) {
    return Status(StatusCode::kIoFailed, std::string("the registered providers cannot be read: ") +
                                             DescribeError(static_cast<DWORD>(error)));
  }
  for (DWORD index = 0;; ++index) {
    WCHAR name[256];
    DWORD chars = 256;
    error = RegEnumKeyExW(types, index, name, &chars, nullptr, nullptr, nullptr, nullptr);
    if (error != ERROR_SUCCESS) break;
    RegisteredProvider provider;
    const std::u16string type(name, chars);
    provider.objectType = Utf16ToUtf8(type);
    provider.displayName = Text(RegGetString(types, type.c_str(), u"Display Name"));
    if (provider.displayName.empty()) provider.displayName = provider.objectType;
    provider.programId = Text(RegGetString(types, type.c_str(), u"Store"));
    FollowRegistration(&provider);
    providers->push_back(std::move(provider));
  }
  RegCloseKey(types);
  if (error != static_cast<LONG>(ERROR_NO_MORE_ITEMS)) {
    return Status(StatusCode::kIoFailed,
                  std::string("the registered providers cannot be listed: ") +
                      DescribeError(static_cast<DWORD>(error)));
  }
  return Status();
}

Status RegisterModule(const std::string& given, bool unregister, std::string* said) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(given, error);
  const std::string path = error ? given : absolute.lexically_normal().string();
  std::unique_ptr<com::InprocServer> server;
  if (Status status = com::InprocServer::Load(path, &server); !status.ok()) return status;
  const char* call = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  const HRESULT result = unregister ? server->UnregisterServer() : server->RegisterServer();
  if (result == E_NOTIMPL) {
    return Status(StatusCode::kInvalidArgument, "the module " + path + " cannot " +
                                                    (unregister ? "unregister" : "register") +
                                                    " itself: it does not export " + call);
  }
  if (FAILED(result)) {
    return Status(StatusCode::kFailed,
                  "the module " + path + " could not " + (unregister ? "unregister" : "register") +
                      " itself: " + HresultText(result),
                  static_cast<std::uint32_t>(result));
  }
  *said = unregister ? "The provider " + path + " is unregistered from this desktop."
                     : "The provider " + path + " is registered on this desktop.";
  return Status();
}

std::string HresultText(HRESULT result) {
  std::string words;
  switch (result) {
    case S_OK:
      words = "it succeeded";
      break;
    case S_FALSE:
      words = "it succeeded with nothing to do";
      break;
    case E_FAIL:
      words = "the module reported a failure without saying more";
      break;
    case E_OUTOFMEMORY:
      words = "the module ran out of memory or space";
      break;
    case E_INVALIDARG:
      words = "the module did not accept what it was given";
      break;
    case E_NOTIMPL:
      words = "the module does not offer it";
      break;
    case E_NOINTERFACE:
      words = "the module's object does not offer the interface asked for";
      break;
    case E_POINTER:
      words = "the module was given no place for its answer";
      break;
    case E_UNEXPECTED:
      words = "the module failed unexpectedly";
      break;
    case CLASS_E_NOAGGREGATION:
      words = "the module's class cannot be aggregated";
      break;
    case CLASS_E_CLASSNOTAVAILABLE:
      words = "the module does not serve the class it is registered for";
      break;
    case REGDB_E_CLASSNOTREG:
      words = "the class is not registered";
      break;
    case SELFREG_E_CLASS:
      words = "the module could not register its class";
      break;
    case RERR_CANCEL:
      words = "the person cancelled";
      break;
    default:
      if ((static_cast<std::uint32_t>(result) & 0xFFFF0000u) == 0x80070000u) {
        words = DescribeError(static_cast<std::uint32_t>(result) & 0xFFFFu);
      } else {
        words = FAILED(result) ? "the module failed with an error this service does not know"
                               : "the module succeeded with a warning";
      }
  }
  return words + " (" + Hex(result) + ")";
}

}  // namespace tbm::desktoplink
