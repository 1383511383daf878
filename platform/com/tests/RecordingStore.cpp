// TBRecordingStore.so: a small sync provider for the tests of the component
// model and of the desktop connection service. It registers the object type
// "Recording" the way a real provider registers its own, and appends a line
// for each call it receives (with the arguments that matter) to the file
// named by $TBM_RECORDING_STORE_LOG, so a test can read back what the
// service asked of it and in which order.
//
// On status 3 it does what a provider does at the start of a run: asks the
// service for the selected and the connected handheld, joins the service's
// remote-API connection and makes one call over it, reads the handheld's
// settings, tells its status and leaves a message for the person.
//
// $TBM_RECORDING_STORE_REFUSE names one step to fail ("CreateInstance",
// "Initialize" or "GetFolderInfo"), for the service's refusal paths.
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "CeUtil.h"
#include "Com.h"
#include "Rapi.h"
#include "Registry.h"
#include "ReplStore.h"
#include "Utf16.h"

namespace {

// {3E5B1C7A-9D24-4F60-8B13-5A7C2E90D461}
constexpr CLSID kRecordingClass = {
    0x3E5B1C7A, 0x9D24, 0x4F60, {0x8B, 0x13, 0x5A, 0x7C, 0x2E, 0x90, 0xD4, 0x61}};
constexpr char kProgramId[] = "TBTest.RecordingStore";
constexpr char kObjectType[] = "Recording";

std::atomic<long> liveObjects{0};
std::atomic<long> serverLocks{0};

void Record(const std::string& line) {
  const char* path = std::getenv("TBM_RECORDING_STORE_LOG");
  if (path == nullptr || *path == '\0') return;
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return;
  const std::string text = line + "\n";
  [[maybe_unused]] const ssize_t written = ::write(fd, text.data(), text.size());
  ::close(fd);
}

bool Refuses(const char* step) {
  const char* refused = std::getenv("TBM_RECORDING_STORE_REFUSE");
  return refused != nullptr && std::strcmp(refused, step) == 0;
}

void CopyText(char* target, std::size_t size, const std::string& text) {
  std::snprintf(target, size, "%s", text.c_str());
}

std::string Hex8(DWORD value) {
  char text[16];
  std::snprintf(text, sizeof text, "%08x", value);
  return text;
}

// The folder handle the store hands out: a marker a test can check.
struct RecordingFolder {
  std::uint32_t kind = 1;
  char name[kReplMaxPath] = "Recording";
};

// The module's live objects, for DllCanUnloadNow.
class LiveObjectCount {
 public:
  LiveObjectCount() { ++liveObjects; }
  ~LiveObjectCount() { --liveObjects; }
  ULONG Add() { return count_.Add(); }
  ULONG Drop() { return count_.Drop(); }

 private:
  tbm::com::ReferenceCount count_;
};

class RecordingHandler final
    : public tbm::com::SingleInterfaceObject<IReplObjHandler, IID_IReplObjHandler,
                                             LiveObjectCount> {
 public:
  HRESULT Setup(REPLSETUP*) override { return S_OK; }
  HRESULT Reset(REPLSETUP*) override { return S_OK; }
  HRESULT GetPacket(std::uint8_t** data, DWORD* bytes, DWORD) override {
    if (data != nullptr) *data = nullptr;
    if (bytes != nullptr) *bytes = 0;
    return RWRN_LAST_PACKET;
  }
  HRESULT SetPacket(std::uint8_t*, DWORD) override { return S_OK; }
  HRESULT DeleteObj(REPLSETUP*) override { return S_OK; }
};

class RecordingStore final
    : public tbm::com::SingleInterfaceObject<IReplStore, IID_IReplStore, LiveObjectCount> {
 public:
  ~RecordingStore() override {
    ReleaseNotify();
    Record("Released");
  }

  HRESULT Initialize(IReplNotify* notify, UINT flags) override {
    tbm::com::ComPtr<IReplMessages> messages;
    if (notify != nullptr) notify->QueryInterface(IID_IReplMessages, messages.ReceiveVoid());
    Record("Initialize " + std::to_string(flags) + (messages ? " messages" : " no-messages"));
    if (Refuses("Initialize")) return E_FAIL;
    if (notify != nullptr) notify->AddRef();
    ReleaseNotify();
    notify_ = notify;
    return S_OK;
  }

  HRESULT GetStoreInfo(STOREINFO* info) override {
    Record("GetStoreInfo");
    if (info == nullptr) return E_INVALIDARG;
    info->uFlags = SCF_SINGLE_THREAD;
    CopyText(info->szProgId, sizeof info->szProgId, kProgramId);
    CopyText(info->szStoreDesc, sizeof info->szStoreDesc, "Recording store");
    info->cbStoreId = 4;
    if (info->lpbStoreId == nullptr) return S_OK;
    if (info->cbMaxStoreId < 4) return E_OUTOFMEMORY;
    const std::uint8_t id[4] = {0x39, 0x30, 0, 0};
    std::memcpy(info->lpbStoreId, id, sizeof id);
    return S_OK;
  }

  HRESULT ReportStatus(HREPLFLD folder, HREPLITEM, UINT status, UINT parameter) override {
    const bool ourFolder =
        folder != nullptr && reinterpret_cast<RecordingFolder*>(folder)->kind == 1;
    Record("ReportStatus " + std::to_string(status) + " " + std::to_string(parameter) +
           (ourFolder ? " folder" : " no-folder"));
    if (status == RSC_END_SYNC) Run();
    if (status == RSC_RELEASE) ReleaseNotify();
    return S_OK;
  }

  int CompareStoreIDs(std::uint8_t* id1, UINT bytes1, std::uint8_t* id2, UINT bytes2) override {
    if (bytes1 != bytes2) return bytes1 < bytes2 ? -1 : 1;
    const int c = std::memcmp(id1, id2, bytes1);
    return c < 0 ? -1 : c > 0 ? 1 : 0;
  }
  int CompareItem(HREPLITEM, HREPLITEM) override { return 0; }
  BOOL IsItemChanged(HREPLFLD, HREPLITEM, HREPLITEM) override { return FALSE; }
  BOOL IsItemReplicated(HREPLFLD, HREPLITEM) override { return TRUE; }
  void UpdateItem(HREPLFLD, HREPLITEM, HREPLITEM) override {}

  HRESULT GetFolderInfo(const char* objectType, HREPLFLD* folder,
                        IUnknown** objectHandler) override {
    Record(std::string("GetFolderInfo ") + (objectType != nullptr ? objectType : "(none)"));
    if (Refuses("GetFolderInfo")) return E_FAIL;
    if (objectType == nullptr || std::strcmp(objectType, kObjectType) != 0 || folder == nullptr) {
      return E_INVALIDARG;
    }
    if (*folder == nullptr) *folder = reinterpret_cast<HREPLFLD>(new RecordingFolder());
    if (objectHandler != nullptr) *objectHandler = new RecordingHandler();
    return S_OK;
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
  UINT ObjectToBytes(HREPLOBJ, std::uint8_t*) override { return 0; }
  HREPLOBJ BytesToObject(std::uint8_t*, UINT) override { return nullptr; }
  void FreeObject(HREPLOBJ object) override {
    Record("FreeObject");
    delete reinterpret_cast<RecordingFolder*>(object);
  }
  BOOL CopyObject(HREPLOBJ, HREPLOBJ) override { return FALSE; }
  HRESULT IsValidObject(HREPLFLD, HREPLITEM, UINT) override { return S_OK; }
  HRESULT ActivateDialog(UINT dialog, HWND, HREPLFLD, IEnumReplItem*) override {
    Record("ActivateDialog " + std::to_string(dialog));
    return dialog == 0 ? S_OK : E_NOTIMPL;
  }
  HRESULT GetObjTypeUIData(HREPLFLD, OBJUIDATA* data) override {
    Record("GetObjTypeUIData");
    if (data == nullptr) return E_INVALIDARG;
    data->hIconLarge = data->hIconSmall = reinterpret_cast<HICON>(std::uintptr_t{101});
    CopyText(data->szName, sizeof data->szName, "Recording");
    CopyText(data->szTypeText, sizeof data->szTypeText, "Recording");
    CopyText(data->szPlTypeText, sizeof data->szPlTypeText, "Recordings");
    return S_OK;
  }
  HRESULT GetConflictInfo(CONFINFO*) override { return RERR_IGNORE; }
  HRESULT RemoveDuplicates(const char*, UINT) override { return S_OK; }

 private:
  void ReleaseNotify() {
    if (notify_ != nullptr) notify_->Release();
    notify_ = nullptr;
  }

  // What a provider does when a run begins, each step recorded.
  void Run() {
    ++runs_;
    if (notify_ == nullptr) {
      Record("no notify");
      return;
    }
    notify_->SetStatusText(("Recording store: run " + std::to_string(runs_)).c_str());
    DEVINFO selected;
    void* selectedData = &selected;
    if (SUCCEEDED(notify_->QueryDevice(QDC_SEL_DEVICE, &selectedData))) {
      Record("QueryDevice selected " + Hex8(selected.pid) + " " + selected.szName + " " +
             selected.szPath);
    } else {
      Record("QueryDevice selected none");
    }
    DEVINFO connected;
    void* connectedData = &connected;
    if (SUCCEEDED(notify_->QueryDevice(QDC_CON_DEVICE, &connectedData))) {
      Record("QueryDevice connected " + std::string(connected.szName));
    } else {
      Record("QueryDevice connected none");
    }
    const HRESULT init = CeRapiInit();
    if (init == CERAPI_E_ALREADYINITIALIZED) {
      WCHAR path[260] = {};
      const DWORD length = CeGetTempPath(260, path);
      Record("CeRapiInit shared; CeGetTempPath " +
             (length > 0 && length < 260 ? tbm::Utf16ToUtf8(std::u16string_view(path, length))
                                         : std::string("failed")));
    } else if (init == S_OK) {
      Record("CeRapiInit opened its own");
      CeRapiUninit();
    } else {
      Record("CeRapiInit failed");
    }
    HCESVC settings = nullptr;
    if (CeSvcOpen(CESVC_DEVICE_SELECTED, nullptr, FALSE, &settings) == ERROR_SUCCESS) {
      DWORD onDocking = 9, continuously = 9;
      const LONG first = CeSvcGetDword(settings, kUpdateOnDocking, &onDocking);
      const LONG second = CeSvcGetDword(settings, kContinuouslyUpdate, &continuously);
      CeSvcClose(settings);
      Record(
          "CeSvc Update on docking=" + (first == ERROR_SUCCESS ? std::to_string(onDocking) : "?") +
          " Continuously Update=" + (second == ERROR_SUCCESS ? std::to_string(continuously) : "?"));
    } else {
      Record("CeSvc none");
    }
    tbm::com::ComPtr<IReplMessages> messages;
    if (SUCCEEDED(notify_->QueryInterface(IID_IReplMessages, messages.ReceiveVoid()))) {
      messages->ShowMessage("Recording store", ("run " + std::to_string(runs_) + " done").c_str(),
                            nullptr, nullptr);
    }
  }

  IReplNotify* notify_ = nullptr;
  int runs_ = 0;
};

class RecordingFactory final : public IClassFactory {
 public:
  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (iid != IID_IUnknown && iid != IID_IClassFactory) return E_NOINTERFACE;
    *object = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  // The factory lives as long as the module.
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }

  HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    Record("CreateInstance");
    if (Refuses("CreateInstance")) return E_OUTOFMEMORY;
    RecordingStore* store = new RecordingStore();
    const HRESULT result = store->QueryInterface(iid, object);
    store->Release();
    return result;
  }
  HRESULT LockServer(BOOL lock) override {
    serverLocks += lock ? 1 : -1;
    return S_OK;
  }
};

RecordingFactory factory;

std::u16string ClassKey() {
  return u"CLSID\\" + tbm::Utf8ToUtf16(tbm::com::GuidToString(kRecordingClass));
}

std::u16string ObjectTypeKey() {
  return std::u16string(kReplObjectTypesKey) + u"\\" + tbm::Utf8ToUtf16(kObjectType);
}

}  // namespace

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID clsid,
                                                                            REFIID iid,
                                                                            void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (clsid != kRecordingClass) return CLASS_E_CLASSNOTAVAILABLE;
  return factory.QueryInterface(iid, object);
}

extern "C" __attribute__((visibility("default"))) HRESULT DllCanUnloadNow() {
  return liveObjects == 0 && serverLocks == 0 ? S_OK : S_FALSE;
}

extern "C" __attribute__((visibility("default"))) HRESULT DllRegisterServer() {
  Record("DllRegisterServer");
  const std::u16string module =
      tbm::Utf8ToUtf16(tbm::com::ModulePathOf(reinterpret_cast<const void*>(&DllRegisterServer)));
  const std::u16string programId = tbm::Utf8ToUtf16(kProgramId);
  const std::u16string classText = tbm::Utf8ToUtf16(tbm::com::GuidToString(kRecordingClass));
  const std::u16string type = ObjectTypeKey();
  struct Value {
    HKEY hive;
    std::u16string key;
    const char16_t* name;
    std::u16string data;
  };
  const Value values[] = {
      {HKEY_CLASSES_ROOT, ClassKey() + u"\\InprocServer32", nullptr, module},
      {HKEY_CLASSES_ROOT, ClassKey() + u"\\ProgId", nullptr, programId},
      {HKEY_CLASSES_ROOT, programId, nullptr, u"TBRecordingStore"},
      {HKEY_CLASSES_ROOT, programId, u"Display Name", u"Recording store"},
      {HKEY_CLASSES_ROOT, programId + u"\\CLSID", nullptr, classText},
      {HKEY_LOCAL_MACHINE, type, nullptr, u"Recording Object"},
      {HKEY_LOCAL_MACHINE, type, u"Display Name", u"Recording"},
      {HKEY_LOCAL_MACHINE, type, u"Plural Name", u"Recordings"},
      {HKEY_LOCAL_MACHINE, type, u"Store", programId},
      {HKEY_LOCAL_MACHINE, type, u"DefaultIcon", module + u", -101"},
  };
  for (const Value& value : values) {
    const LONG error = tbm::RegSetString(value.hive, value.key.c_str(), value.name, value.data);
    if (error != ERROR_SUCCESS) return HRESULT_FROM_WIN32(static_cast<DWORD>(error));
  }
  return S_OK;
}

extern "C" __attribute__((visibility("default"))) HRESULT DllUnregisterServer() {
  Record("DllUnregisterServer");
  const std::u16string programId = tbm::Utf8ToUtf16(kProgramId);
  const struct {
    HKEY hive;
    std::u16string key;
  } keys[] = {{HKEY_CLASSES_ROOT, ClassKey()},
              {HKEY_CLASSES_ROOT, programId},
              {HKEY_LOCAL_MACHINE, ObjectTypeKey()}};
  for (const auto& [hive, key] : keys) {
    const LONG error = RegDeleteKeyW(hive, key.c_str());
    if (error != ERROR_SUCCESS && error != static_cast<LONG>(ERROR_FILE_NOT_FOUND)) {
      return HRESULT_FROM_WIN32(static_cast<DWORD>(error));
    }
  }
  return S_OK;
}
