#include "DesktopStore.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <optional>

#include "CallGuard.h"
#include "CeUtil.h"
#include "DockedRun.h"
#include "ExchangeFolder.h"
#include "LogViewer.h"
#include "ModuleObjects.h"
#include "OptionsDialog.h"
#include "ProgramLog.h"
#include "ProviderTexts.h"
#include "Registration.h"
#include "ReplHandles.h"

namespace tbm::desksync {

using com::ComPtr;
namespace {

constexpr std::uint32_t kStoreId = 12345;
constexpr UINT kStoreIdBytes = 4;

// Whether the first status 3 since the module was loaded has come.
std::atomic<bool> firstStatusSeen{false};

void Log(LogLevel level, const std::string& text) { WriteLog("TBDeskSync", level, text); }

// Copies text into a fixed char buffer, cut to fit and terminated.
template <std::size_t N>
void CopyText(char (&buffer)[N], const char* text) {
  const std::size_t length = std::min(std::strlen(text), N - 1);
  std::memcpy(buffer, text, length);
  buffer[length] = '\0';
}

// Runs body; an exception becomes failure, logged.
template <typename Result, typename Body>
Result Guard(const char* method, Result failure, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    try {
      Log(LogLevel::kError, std::string(method) + " failed: " + CaughtException());
    } catch (...) {
    }
    return failure;
  }
}

// The handheld's settings allow a synchronisation on docking.
bool UpdateOnDocking() {
  HCESVC key = nullptr;
  if (const LONG rc = CeSvcOpen(CESVC_DEVICE_SELECTED, nullptr, FALSE, &key); rc != ERROR_SUCCESS) {
    Log(LogLevel::kInfo, std::string("the handheld's settings cannot be read (") +
                             DescribeError(static_cast<DWORD>(rc)) + ")");
    return false;
  }
  DWORD onDocking = 0;
  DWORD continuously = 0;
  const LONG first = CeSvcGetDword(key, kUpdateOnDocking, &onDocking);
  const LONG second = CeSvcGetDword(key, kContinuouslyUpdate, &continuously);
  CeSvcClose(key);
  return first == ERROR_SUCCESS && second == ERROR_SUCCESS && onDocking == 1;
}

class ObjectHandler final
    : public com::SingleInterfaceObject<IReplObjHandler, IID_IReplObjHandler, ObjectCount> {
 public:
  HRESULT Setup(REPLSETUP*) override { return S_OK; }
  HRESULT Reset(REPLSETUP*) override { return S_OK; }
  // The service gets no objects from this store.
  HRESULT GetPacket(std::uint8_t** data, DWORD* bytes, DWORD) override {
    if (data != nullptr) *data = nullptr;
    if (bytes != nullptr) *bytes = 0;
    return RWRN_LAST_PACKET;
  }
  HRESULT SetPacket(std::uint8_t*, DWORD) override { return S_OK; }
  HRESULT DeleteObj(REPLSETUP*) override { return S_OK; }
};

class DesktopStore final
    : public com::SingleInterfaceObject<IReplStore, IID_IReplStore, ObjectCount> {
 public:
  ~DesktopStore() { ReleaseNotify(); }

  HRESULT Initialize(IReplNotify* notify, UINT) override {
    return Guard("Initialize", E_FAIL, [&] {
      if (notify != nullptr) notify->AddRef();
      ReleaseNotify();
      notify_ = notify;
      const Status loaded = ProviderTexts::Load(ModuleFolder(), GetUserDefaultLangID(), &texts_);
      if (!loaded.ok()) {
        Log(LogLevel::kError, loaded.message());
        TellPerson(notify_, kNoLanguageLibraryTitle, NoLanguageLibraryText(loaded.message()), {},
                   nullptr);
        return E_FAIL;
      }
      Log(LogLevel::kInfo, "the store is ready, with the texts of " + texts_->path());
      return S_OK;
    });
  }

  HRESULT GetStoreInfo(STOREINFO* info) override {
    if (info == nullptr || info->cbStruct != sizeof(STOREINFO)) return E_INVALIDARG;
    info->uFlags = SCF_SINGLE_THREAD;
    CopyText(info->szProgId, kProgramId);
    CopyText(info->szStoreDesc, kStoreDescription);
    info->cbStoreId = kStoreIdBytes;
    if (info->cbMaxStoreId < kStoreIdBytes) return E_OUTOFMEMORY;
    if (info->lpbStoreId == nullptr) return E_POINTER;
    std::memcpy(info->lpbStoreId, &kStoreId, kStoreIdBytes);
    return S_OK;
  }

  HRESULT ReportStatus(HREPLFLD, HREPLITEM, UINT status, UINT) override {
    return Guard("ReportStatus", S_OK, [&] {
      if (status == RSC_END_SYNC) Synchronise();
      if (status == RSC_RELEASE) ReleaseNotify();
      return S_OK;
    });
  }

  int CompareStoreIDs(std::uint8_t* id1, UINT bytes1, std::uint8_t* id2, UINT bytes2) override {
    if (bytes1 != bytes2) return bytes1 < bytes2 ? -1 : 1;
    if (bytes1 == 0) return 0;
    if (id1 == nullptr || id2 == nullptr) return id1 == id2 ? 0 : (id1 == nullptr ? -1 : 1);
    const int order = std::memcmp(id1, id2, bytes1);
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
  }

  int CompareItem(HREPLITEM item1, HREPLITEM item2) override {
    if (item1 == nullptr || item2 == nullptr) return item1 == item2 ? 0 : (item1 ? 1 : -1);
    const int order = std::strcmp(item1->name.data(), item2->name.data());
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
  }

  BOOL IsItemChanged(HREPLFLD, HREPLITEM item, HREPLITEM itemDst) override {
    if (item == nullptr || itemDst == nullptr) return FALSE;
    return item->first != itemDst->first || item->second != itemDst->second;
  }

  BOOL IsItemReplicated(HREPLFLD, HREPLITEM) override { return TRUE; }

  void UpdateItem(HREPLFLD, HREPLITEM itemDst, HREPLITEM itemSrc) override {
    if (itemDst == nullptr || itemSrc == nullptr) return;
    itemDst->first = itemSrc->first;
    itemDst->second = itemSrc->second;
  }

  HRESULT GetFolderInfo(const char* objectType, HREPLFLD* folder,
                        IUnknown** objectHandler) override {
    return Guard("GetFolderInfo", E_OUTOFMEMORY, [&]() -> HRESULT {
      if (objectType == nullptr || std::strcmp(objectType, kObjectType) != 0) return E_INVALIDARG;
      if (folder == nullptr || objectHandler == nullptr) return E_POINTER;
      if (*folder == nullptr) *folder = MakeHandle(kFolderHandle, kObjectType);
      *objectHandler = std::make_unique<ObjectHandler>().release();
      return S_OK;
    });
  }

  HRESULT IsFolderChanged(HREPLFLD, BOOL* changed) override {
    if (changed != nullptr) *changed = TRUE;
    return S_OK;
  }

  HRESULT FindFirstItem(HREPLFLD, HREPLITEM* item, BOOL* exist) override {
    if (item != nullptr) *item = nullptr;
    if (exist != nullptr) *exist = FALSE;
    return S_OK;
  }
  HRESULT FindNextItem(HREPLFLD folder, HREPLITEM* item, BOOL* exist) override {
    return FindFirstItem(folder, item, exist);
  }
  HRESULT FindItemClose(HREPLFLD) override { return S_OK; }

  UINT ObjectToBytes(HREPLOBJ object, std::uint8_t* bytes) override {
    return static_cast<UINT>(HandleToBytes(object, bytes));
  }
  HREPLOBJ BytesToObject(std::uint8_t* bytes, UINT size) override {
    return Guard("BytesToObject", HREPLOBJ{nullptr}, [&] { return HandleFromBytes(bytes, size); });
  }
  void FreeObject(HREPLOBJ object) override { std::unique_ptr<REPLOBJECT> owned(object); }
  BOOL CopyObject(HREPLOBJ source, HREPLOBJ destination) override {
    if (source == nullptr || destination == nullptr || source->kind != destination->kind) {
      return FALSE;
    }
    *destination = *source;
    return TRUE;
  }

  HRESULT IsValidObject(HREPLFLD folder, HREPLITEM item, UINT) override {
    if (folder != nullptr && !IsHandleOf(folder, kFolderHandle)) return E_HANDLE;
    if (item != nullptr && !IsHandleOf(item, kItemHandle)) return E_HANDLE;
    return S_OK;
  }

  HRESULT ActivateDialog(UINT dialog, HWND, HREPLFLD, IEnumReplItem*) override {
    if (dialog != 0) return E_NOTIMPL;
    return Guard("ActivateDialog", E_FAIL, [&] { return ShowOptions(); });
  }

  HRESULT GetObjTypeUIData(HREPLFLD, OBJUIDATA* data) override {
    if (data == nullptr || data->cbStruct != sizeof(OBJUIDATA)) return E_INVALIDARG;
    const auto icon = reinterpret_cast<HICON>(static_cast<std::uintptr_t>(kIconResource));
    data->hIconLarge = icon;  // 32 x 32
    data->hIconSmall = icon;  // 16 x 16
    CopyText(data->szName, kObjectType);
    CopyText(data->szTypeText, kObjectType);
    CopyText(data->szPlTypeText, kObjectType);
    return S_OK;
  }

  HRESULT GetConflictInfo(CONFINFO*) override { return RERR_IGNORE; }
  HRESULT RemoveDuplicates(const char*, UINT) override { return S_OK; }

 private:
  void ReleaseNotify() {
    if (notify_ != nullptr) std::exchange(notify_, nullptr)->Release();
  }

  void Synchronise() {
    if (notify_ == nullptr || !texts_) {
      Log(LogLevel::kError, notify_ == nullptr
                                ? "a synchronisation was asked for after the service let the "
                                  "store go; nothing was done"
                                : "a synchronisation was asked for, but the store has no texts; "
                                  "nothing was done");
      return;
    }
    if (!firstStatusSeen.exchange(true) && !UpdateOnDocking()) {
      Log(LogLevel::kInfo,
          "the handheld docked, and its setting \"Update on docking\" is off: nothing was "
          "synchronised");
      return;
    }
    RunDockedSynchronisation(notify_, *texts_);
  }

  HRESULT ShowOptions() {
    if (!texts_) return E_FAIL;
    std::optional<LogViewer> viewer;
    DEVINFO device;
    DEVINFO* address = &device;
    if (notify_ != nullptr &&
        SUCCEEDED(notify_->QueryDevice(QDC_SEL_DEVICE, reinterpret_cast<void**>(&address)))) {
      device.szName[sizeof device.szName - 1] = '\0';
      std::string folder;
      if (MakeDeviceFolder(*texts_, device.szName, &folder).ok()) {
        viewer = MakeLogViewer(*texts_, LogFileIn(*texts_, folder));
      }
    }
    ComPtr<IReplMessages> messages;
    if (notify_ != nullptr) notify_->QueryInterface(IID_IReplMessages, messages.ReceiveVoid());
    return ShowOptionsDialog(*texts_, std::move(viewer), messages.get());
  }

  IReplNotify* notify_ = nullptr;
  std::unique_ptr<ProviderTexts> texts_;
};

}  // namespace

IReplStore* MakeDesktopStore() { return std::make_unique<DesktopStore>().release(); }

}  // namespace tbm::desksync
