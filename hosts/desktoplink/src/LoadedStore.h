// One sync provider as the service holds it: its module, loaded through its
// registration, and the store it made, initialised with the service's
// notify object and asked for its store information, its folder for the
// object type and what to show of the type.
#pragma once

#include <memory>
#include <string>

#include "Com.h"
#include "Providers.h"
#include "ReplStore.h"
#include "Status.h"

namespace tbm::desktoplink {

class LoadedStore {
 public:
  // Loads provider's module through its registration, makes its store
  // (IID_IReplStore) and calls, in this order, Initialize(notify, 0),
  // GetStoreInfo, GetFolderInfo(object type) and GetObjTypeUIData. Any
  // step that fails leaves the provider out: the status says, in words,
  // which provider and why, and what was made is given back.
  static Status Load(const RegisteredProvider& provider, IReplNotify* notify,
                     std::unique_ptr<LoadedStore>* loaded);

  // Releases the store (Release below) when that has not been done.
  ~LoadedStore();
  LoadedStore(const LoadedStore&) = delete;
  LoadedStore& operator=(const LoadedStore&) = delete;

  const std::string& objectType() const { return provider_.objectType; }
  // The name the store gave its type, or the registered display name.
  const std::string& name() const { return name_; }
  const std::string& modulePath() const { return provider_.modulePath; }

  // ReportStatus(folder, no item, status, 0). The store's answer.
  HRESULT ReportStatus(UINT status);
  // ActivateDialog(dialog, no parent, folder, no items).
  HRESULT ActivateDialog(UINT dialog);

  // Lets the store go: ReportStatus(RSC_RELEASE), FreeObject(folder), the
  // object handler and the store released. The module is unloaded when it
  // says nothing of it is alive (DllCanUnloadNow); otherwise it stays
  // loaded until the process ends, since unloading code that is still
  // referenced would crash later.
  void Release();

 private:
  LoadedStore() = default;

  RegisteredProvider provider_;
  std::string name_;
  std::unique_ptr<com::InprocServer> server_;
  com::ComPtr<IReplStore> store_;
  com::ComPtr<IUnknown> handler_;
  HREPLFLD folder_ = nullptr;
  bool initialised_ = false;
};

}  // namespace tbm::desktoplink
