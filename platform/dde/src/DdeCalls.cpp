// The DDE management calls: checks of what the program passes, then the
// instance that does the work. No exception crosses these calls.
#include <algorithm>
#include <cstring>
#include <vector>

#include "Ddeml.h"
#include "Handles.h"
#include "Instance.h"
#include "Registry.h"

namespace tbm::dde {
namespace {

// The instances a thread made end with the thread: peers are told, no
// callback runs.
struct ThreadInstances {
  std::vector<DWORD> ids;
  ~ThreadInstances() {
    for (const DWORD id : ids) {
      if (const auto instance = FindInstance(id)) instance->End();
      RemoveInstance(id);
    }
  }
};
thread_local ThreadInstances threadInstances;

// Runs body; an exception (only allocation failure is expected) becomes the
// failure value and the instance's last error.
template <typename Result, typename Body>
Result Guarded(DWORD instance, Result failure, Body&& body) noexcept {
  UINT code = DMLERR_SYS_ERROR;
  try {
    return body();
  } catch (const std::bad_alloc&) {
    code = DMLERR_MEMORY_ERROR;
  } catch (...) {
  }
  if (const auto found = FindInstance(instance)) found->Fail(code, 0);
  return failure;
}

// The instance when it is live and the calling thread made it: only that
// thread works on its sockets. An instance of another thread keeps
// DMLERR_DLL_USAGE as its last error.
std::shared_ptr<Instance> OwnInstance(DWORD id) {
  const auto instance = FindInstance(id);
  if (!instance) return nullptr;
  if (!instance->OnOwnThread()) {
    LogWarning("DDE: an instance was used from a thread other than the one that made it");
    return instance->Fail(DMLERR_DLL_USAGE, nullptr);
  }
  return instance;
}

// A conversation with its instance, when the calling thread owns both.
struct OwnConversation {
  std::shared_ptr<Instance> instance;
  std::shared_ptr<Conversation> conversation;
  explicit operator bool() const { return instance && conversation; }
};
OwnConversation FindOwnConversation(HCONV handle) {
  const FoundConversation found = FindConversation(handle);
  if (!found.conversation) return {};
  return {OwnInstance(found.instance), found.conversation};
}

HDDEDATA const kSuccess = reinterpret_cast<HDDEDATA>(std::uintptr_t{1});

}  // namespace
}  // namespace tbm::dde

namespace tbm {

using namespace dde;

extern "C" UINT DdeInitializeA(DWORD* instance, PFNCALLBACK callback, DWORD flags, DWORD) {
  return dde::Guarded(0, UINT{DMLERR_MEMORY_ERROR}, [&]() -> UINT {
    if (instance == nullptr || callback == nullptr) return DMLERR_INVALIDPARAMETER;
    if (*instance != 0) {
      // Again for a live instance of this thread: new filters.
      const auto found = FindInstance(*instance);
      if (!found || !found->OnOwnThread()) return DMLERR_INVALIDPARAMETER;
      if (((flags ^ (found->clientOnly() ? APPCMD_CLIENTONLY : 0)) & APPCMD_CLIENTONLY) != 0) {
        return DMLERR_DLL_USAGE;
      }
      found->SetFlags(flags);
      return DMLERR_NO_ERROR;
    }
    auto made = std::make_shared<Instance>(NewInstanceId(), callback, flags);
    if (const UINT error = made->Start(); error != DMLERR_NO_ERROR) {
      LogWarning("DDE: an instance could not be made: out of descriptors or memory");
      made->End();
      return error;
    }
    AddInstance(made);
    threadInstances.ids.push_back(made->id());
    *instance = made->id();
    return DMLERR_NO_ERROR;
  });
}

extern "C" BOOL DdeUninitialize(DWORD instance) {
  return dde::Guarded(instance, FALSE, [&]() -> BOOL {
    const auto found = OwnInstance(instance);
    if (!found) return FALSE;
    found->End();
    RemoveInstance(instance);
    std::erase(threadInstances.ids, instance);
    return TRUE;
  });
}

extern "C" UINT DdeGetLastError(DWORD instance) {
  const auto found = FindInstance(instance);
  return found ? found->TakeError() : DMLERR_DLL_NOT_INITIALIZED;
}

extern "C" HSZ DdeCreateStringHandleA(DWORD instance, const char* text, int codePage) {
  return dde::Guarded(instance, HSZ{nullptr}, [&]() -> HSZ {
    const auto found = FindInstance(instance);
    if (!found) return nullptr;
    if (text == nullptr || (codePage != CP_WINANSI && codePage != 0)) {
      return found->Fail(DMLERR_INVALIDPARAMETER, HSZ{nullptr});
    }
    const HSZ handle = AcquireString(instance, text);
    return handle != nullptr ? handle : found->Fail(DMLERR_INVALIDPARAMETER, HSZ{nullptr});
  });
}

extern "C" BOOL DdeFreeStringHandle(DWORD instance, HSZ handle) {
  return dde::Guarded(instance, FALSE, [&]() -> BOOL {
    const auto found = FindInstance(instance);
    if (!found) return FALSE;
    return ReleaseString(instance, handle) ? TRUE : found->Fail(DMLERR_INVALIDPARAMETER, FALSE);
  });
}

extern "C" DWORD DdeQueryStringA(DWORD instance, HSZ handle, char* text, DWORD size, int) {
  return dde::Guarded(instance, DWORD{0}, [&]() -> DWORD {
    const auto found = FindInstance(instance);
    if (!found) return 0;
    const auto value = StringText(handle);
    if (!value) return found->Fail(DMLERR_INVALIDPARAMETER, DWORD{0});
    if (text == nullptr) return static_cast<DWORD>(value->size());
    if (size == 0) return 0;
    const std::size_t copied = std::min<std::size_t>(value->size(), size - 1);
    std::memcpy(text, value->data(), copied);
    text[copied] = '\0';
    return static_cast<DWORD>(copied);
  });
}

extern "C" int DdeCmpStringHandles(HSZ first, HSZ second) {
  return dde::Guarded(0, 0, [&] { return CompareStrings(first, second); });
}

extern "C" HDDEDATA DdeNameService(DWORD instance, HSZ service, HSZ, UINT command) {
  return dde::Guarded(instance, HDDEDATA{nullptr}, [&]() -> HDDEDATA {
    const auto found = OwnInstance(instance);
    if (!found) return nullptr;
    UINT error = DMLERR_INVALIDPARAMETER;
    if ((command & DNS_REGISTER) != 0 && (command & DNS_UNREGISTER) == 0) {
      error = found->Register(service);
    } else if ((command & DNS_UNREGISTER) != 0 && (command & DNS_REGISTER) == 0) {
      error = found->Unregister(service);
    }
    return error == DMLERR_NO_ERROR ? kSuccess : found->Fail(error, HDDEDATA{nullptr});
  });
}

extern "C" HCONV DdeConnect(DWORD instance, HSZ service, HSZ topic, void*) {
  return dde::Guarded(instance, HCONV{nullptr}, [&]() -> HCONV {
    const auto found = OwnInstance(instance);
    if (!found) return nullptr;
    const auto conversation = found->Connect(service, topic);
    return conversation ? conversation->handle : nullptr;
  });
}

extern "C" BOOL DdeDisconnect(HCONV conversation) {
  const FoundConversation owner = FindConversation(conversation);
  return dde::Guarded(owner.instance, FALSE, [&]() -> BOOL {
    const OwnConversation found = FindOwnConversation(conversation);
    if (!found) return FALSE;
    found.instance->Disconnect(found.conversation);
    return TRUE;
  });
}

extern "C" HDDEDATA DdeClientTransaction(const BYTE* data, DWORD size, HCONV conversation, HSZ item,
                                         UINT format, UINT type, DWORD timeout, DWORD* result) {
  const FoundConversation owner = FindConversation(conversation);
  return dde::Guarded(owner.instance, HDDEDATA{nullptr}, [&]() -> HDDEDATA {
    if (result != nullptr) *result = 0;
    const OwnConversation found = FindOwnConversation(conversation);
    if (!found) return nullptr;
    // A size of all ones passes a data handle instead of bytes; the
    // transaction takes it.
    std::shared_ptr<DataBlock> handed;
    std::span<const std::uint8_t> block;
    if (size == 0xFFFFFFFFu) {
      handed = TakeData(reinterpret_cast<HDDEDATA>(const_cast<BYTE*>(data)));
      if (!handed) return found.instance->Fail(DMLERR_INVALIDPARAMETER, HDDEDATA{nullptr});
      block = handed->bytes;
    } else if (size > 0) {
      if (data == nullptr) return found.instance->Fail(DMLERR_INVALIDPARAMETER, HDDEDATA{nullptr});
      block = {data, size};
    }
    return found.instance->Transact(found.conversation, block, item, format, type, timeout, result);
  });
}

extern "C" BOOL DdeAbandonTransaction(DWORD instance, HCONV conversation, DWORD transaction) {
  return dde::Guarded(instance, FALSE, [&]() -> BOOL {
    const auto found = OwnInstance(instance);
    if (!found) return FALSE;
    Conversation* target = nullptr;
    if (conversation != nullptr) {
      const FoundConversation of = FindConversation(conversation);
      if (!of.conversation || of.instance != instance) {
        return found->Fail(DMLERR_INVALIDPARAMETER, FALSE);
      }
      target = of.conversation.get();
    }
    return found->Abandon(target, transaction) ? TRUE : FALSE;
  });
}

extern "C" HDDEDATA DdeCreateDataHandle(DWORD instance, const BYTE* source, DWORD size,
                                        DWORD offset, HSZ, UINT format, UINT) {
  return dde::Guarded(instance, HDDEDATA{nullptr}, [&]() -> HDDEDATA {
    if (!FindInstance(instance)) return nullptr;
    std::vector<std::uint8_t> bytes(size);
    if (source != nullptr && size > 0) std::memcpy(bytes.data(), source + offset, size);
    return AddData(instance, std::move(bytes), format);
  });
}

extern "C" DWORD DdeGetData(HDDEDATA data, BYTE* target, DWORD size, DWORD offset) {
  return dde::Guarded(0, DWORD{0}, [&]() -> DWORD {
    const auto block = FindData(data);
    if (!block) return 0;
    const std::size_t total = block->bytes.size();
    if (target == nullptr) return static_cast<DWORD>(total);
    if (offset > total) {
      if (const auto owner = FindInstance(block->owner)) owner->Fail(DMLERR_INVALIDPARAMETER, 0);
      return 0;
    }
    const std::size_t copied = std::min<std::size_t>(size, total - offset);
    if (copied > 0) std::memcpy(target, block->bytes.data() + offset, copied);
    return static_cast<DWORD>(copied);
  });
}

extern "C" BYTE* DdeAccessData(HDDEDATA data, DWORD* size) {
  return dde::Guarded(0, static_cast<BYTE*>(nullptr), [&]() -> BYTE* {
    const auto block = FindData(data);
    if (!block) return nullptr;
    if (size != nullptr) *size = static_cast<DWORD>(block->bytes.size());
    if (block->bytes.empty()) block->bytes.reserve(1);  // a pointer even for no bytes
    return block->bytes.data();
  });
}

extern "C" BOOL DdeUnaccessData(HDDEDATA data) { return FindData(data) ? TRUE : FALSE; }

extern "C" BOOL DdeFreeDataHandle(HDDEDATA data) {
  return dde::Guarded(0, FALSE, [&] { return TakeData(data) ? TRUE : FALSE; });
}

void SetDdeConnectTimeLimit(DWORD milliseconds) { dde::SetConnectTimeLimit(milliseconds); }

}  // namespace tbm
