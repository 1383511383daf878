#include "LoadedStore.h"

#include <vector>

#include "DesktopLink.h"
#include "ProgramLog.h"

namespace tbm::desktoplink {
namespace {

// Modules whose objects outlived their release; kept loaded for good.
std::vector<std::unique_ptr<com::InprocServer>>& KeptModules() {
  static auto* kept = new std::vector<std::unique_ptr<com::InprocServer>>();
  return *kept;
}

Status Refused(const RegisteredProvider& provider, const std::string& call, HRESULT result) {
  return Status(StatusCode::kFailed,
                "the provider of \"" + provider.objectType + "\" (" + provider.modulePath +
                    ") refused " + call + ": " + HresultText(result),
                static_cast<std::uint32_t>(result));
}

}  // namespace

Status LoadedStore::Load(const RegisteredProvider& provider, IReplNotify* notify,
                         std::unique_ptr<LoadedStore>* loaded) {
  loaded->reset();
  if (!provider.problem.empty()) {
    return Status(StatusCode::kNotFound,
                  "the provider of \"" + provider.objectType +
                      "\" cannot be found from its registration: " + provider.problem);
  }
  std::unique_ptr<LoadedStore> store(new LoadedStore());
  store->provider_ = provider;
  store->name_ = provider.displayName;
  const std::optional<GUID> clsid = com::GuidFromString(provider.classId);
  if (!clsid) {
    return Status(StatusCode::kDamaged, "the provider of \"" + provider.objectType +
                                            "\" is registered with the class " + provider.classId +
                                            ", which is not a class identifier");
  }
  if (Status status = com::InprocServer::LoadClass(*clsid, &store->server_); !status.ok()) {
    return status.WithContext("the provider of \"" + provider.objectType + "\"");
  }
  HRESULT result =
      store->server_->CreateInstance(*clsid, IID_IReplStore, store->store_.ReceiveVoid());
  if (FAILED(result) || !store->store_) {
    return Refused(provider, "to make its store", FAILED(result) ? result : E_UNEXPECTED);
  }
  result = store->store_->Initialize(notify, 0);
  if (FAILED(result)) return Refused(provider, "Initialize", result);
  store->initialised_ = true;

  std::uint8_t storeId[256] = {};
  STOREINFO info;
  info.lpbStoreId = storeId;
  info.cbMaxStoreId = sizeof storeId;
  result = store->store_->GetStoreInfo(&info);
  if (FAILED(result)) return Refused(provider, "GetStoreInfo", result);
  info.szProgId[sizeof info.szProgId - 1] = '\0';
  if (provider.programId != info.szProgId) {
    WriteLog(kProgram, LogLevel::kWarning,
             "the store of \"" + provider.objectType + "\" calls itself \"" + info.szProgId +
                 "\" but is registered as \"" + provider.programId + "\"");
  }

  IUnknown* handler = nullptr;
  result = store->store_->GetFolderInfo(provider.objectType.c_str(), &store->folder_, &handler);
  store->handler_ = com::ComPtr<IUnknown>::Adopt(handler);
  if (FAILED(result))
    return Refused(provider, "GetFolderInfo(\"" + provider.objectType + "\")", result);

  OBJUIDATA ui;
  result = store->store_->GetObjTypeUIData(store->folder_, &ui);
  ui.szName[sizeof ui.szName - 1] = '\0';
  if (SUCCEEDED(result) && ui.szName[0] != '\0') {
    store->name_ = ui.szName;
  } else if (FAILED(result)) {
    WriteLog(kProgram, LogLevel::kWarning,
             "the store of \"" + provider.objectType +
                 "\" gave nothing to show of its type: " + HresultText(result));
  }
  *loaded = std::move(store);
  return Status();
}

LoadedStore::~LoadedStore() { Release(); }

HRESULT LoadedStore::ReportStatus(UINT status) {
  if (!store_) return E_UNEXPECTED;
  return store_->ReportStatus(folder_, nullptr, status, 0);
}

HRESULT LoadedStore::ActivateDialog(UINT dialog) {
  if (!store_) return E_UNEXPECTED;
  return store_->ActivateDialog(dialog, nullptr, folder_, nullptr);
}

void LoadedStore::Release() {
  if (store_) {
    if (initialised_) store_->ReportStatus(folder_, nullptr, RSC_RELEASE, 0);
    if (folder_ != nullptr) store_->FreeObject(folder_);
    folder_ = nullptr;
    handler_.Reset();
    store_.Reset();
  }
  if (server_) {
    if (server_->CanUnloadNow() == S_OK) {
      server_.reset();
    } else {
      WriteLog(kProgram, LogLevel::kWarning,
               "the provider " + server_->path() +
                   " still has objects alive after its store was released; it stays loaded");
      KeptModules().push_back(std::move(server_));
    }
  }
}

}  // namespace tbm::desktoplink
