// What a desktop connection service offers a store, as the tests offer it:
// the selected handheld for QueryDevice, and the messages the store asks to
// show, kept for the test to look at (and their buttons to press).
#pragma once

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "Com.h"
#include "ReplStore.h"

namespace tbm::desksync::testing {

struct ShownMessage {
  std::string caption;
  std::string text;
  std::string actionText;
  tbm::com::ComPtr<IReplMessageAction> action;
};

class RecordingNotify final : public IReplNotify, public IReplMessages {
 public:
  // The handheld QueryDevice reports; nothing makes QueryDevice fail.
  std::function<bool(DEVINFO*)> device;
  std::vector<ShownMessage> messages;

  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (iid == IID_IUnknown || iid == IID_IReplNotify) {
      *object = static_cast<IReplNotify*>(this);
    } else if (iid == IID_IReplMessages) {
      *object = static_cast<IReplMessages*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++references_; }
  // The test owns the object; the count only shows that the store gives
  // back what it took.
  ULONG Release() override { return --references_; }
  ULONG references() const { return references_; }

  HRESULT SetStatusText(const char*) override { return S_OK; }
  HWND GetWindow(UINT) override { return nullptr; }
  HRESULT OnItemNotify(UINT, const char*, const char*, HREPLITEM, ULONG) override { return S_OK; }
  HRESULT QueryDevice(UINT code, void** data) override {
    if ((code != QDC_SEL_DEVICE && code != QDC_CON_DEVICE) || data == nullptr || *data == nullptr) {
      return E_INVALIDARG;
    }
    auto* info = static_cast<DEVINFO*>(*data);
    *info = DEVINFO{};
    return device && device(info) ? S_OK : E_FAIL;
  }

  HRESULT ShowMessage(const char* caption, const char* text, const char* actionText,
                      IReplMessageAction* action) override {
    ShownMessage shown{caption ? caption : "", text ? text : "", actionText ? actionText : "",
                       nullptr};
    if (action != nullptr) {
      action->AddRef();
      shown.action = tbm::com::ComPtr<IReplMessageAction>::Adopt(action);
    }
    messages.push_back(std::move(shown));
    return S_OK;
  }

  // A handheld of this name and partner identifier (its first 32 bits).
  static std::function<bool(DEVINFO*)> Handheld(const std::string& name, DWORD pid) {
    return [name, pid](DEVINFO* info) {
      info->pid = pid;
      std::strncpy(info->szName, name.c_str(), sizeof info->szName - 1);
      return true;
    };
  }

 private:
  ULONG references_ = 1;
};

}  // namespace tbm::desksync::testing
