// The desktop's registry calls on the handheld: each one request over the
// shared connection (RapiConnection.h), answered with the LONG result of
// the handheld's registry call and the results after it.
#include <algorithm>
#include <cstring>
#include <optional>

#include "HostErrors.h"
#include "Rapi.h"
#include "RapiConnection.h"
#include "Utf16.h"

namespace tbm::rapi {
namespace {

constexpr std::size_t kMaxNameUnits = 32767;

// The number a key travels as: a predefined key's own value, or the handle
// number the handheld gave; 0 (never given) for anything else.
std::uint32_t KeyNumber(HKEY key) {
  const auto value = reinterpret_cast<std::uintptr_t>(key);
  return value > 0xFFFFFFFFu ? 0 : static_cast<std::uint32_t>(value);
}

bool IsPredefined(HKEY key) {
  const std::uint32_t number = KeyNumber(key);
  return number >= 0x80000000u && number <= 0x80000003u;
}

std::u16string NameArgument(const WCHAR* name) {
  if (name == nullptr) return {};
  std::size_t units = 0;
  while (units <= kMaxNameUnits && name[units] != u'\0') ++units;
  return std::u16string(name, units);
}

// The LONG of a call that got no registry result: the Win32 error inside
// the failure's HRESULT.
LONG FailureResult(const Status& status) {
  const HRESULT failure =
      CeRapiGetError() != S_OK ? CeRapiGetError() : static_cast<HRESULT>(status.platformError());
  const auto bits = static_cast<std::uint32_t>(failure);
  return (bits & 0xFFFF0000u) == 0x80070000u ? static_cast<LONG>(bits & 0xFFFFu)
                                             : static_cast<LONG>(ERROR_INTERNAL_ERROR);
}

// Makes one call; *result gets its LONG result and reader the results after
// it. False, with *result set to the failure, when it got none.
class RegistryReply {
 public:
  RegistryReply(RapiCall call, std::span<const std::uint8_t> payload) : call_(call) {
    const Status status = Call(call, payload, &results_);
    if (!status.ok()) {
      result_ = FailureResult(status);
      return;
    }
    reader_.emplace(results_);
    std::uint32_t result = 0;
    if (reader_->U32(&result)) {
      result_ = static_cast<LONG>(result);
      ok_ = true;
    }
  }
  LONG result() const { return result_; }
  bool ok() const { return ok_; }
  PayloadReader& reader() { return *reader_; }

  // Checks that the results were well formed (End()); a reply that was not
  // is recorded for CeRapiGetError and its result is ERROR_INVALID_DATA.
  bool Finish() {
    if (ok_ && reader_->End()) return true;
    if (reader_) {
      Record(reader_->status().WithContext("the reply to " +
                                           CallName(static_cast<std::uint16_t>(call_))));
      result_ = static_cast<LONG>(ERROR_INVALID_DATA);
    }
    ok_ = false;
    return false;
  }

 private:
  RapiCall call_;
  std::vector<std::uint8_t> results_;
  std::optional<PayloadReader> reader_;
  LONG result_ = static_cast<LONG>(ERROR_INTERNAL_ERROR);
  bool ok_ = false;
};

// A reply whose results contradict themselves.
LONG BadReply(const char* words) {
  Record(Status(StatusCode::kCorrupt, words));
  return static_cast<LONG>(ERROR_INVALID_DATA);
}

LONG Invalid() {
  Record(Status());
  return static_cast<LONG>(ERROR_INVALID_PARAMETER);
}

LONG OpenOrCreate(RapiCall call, HKEY key, const WCHAR* subKey, HKEY* result, DWORD* disposition) {
  if (result == nullptr) return Invalid();
  RegistryReply reply(call,
                      PayloadWriter().U32(KeyNumber(key)).String(NameArgument(subKey)).Take());
  std::uint32_t handle = 0, how = 0;
  if (reply.ok()) {
    reply.reader().U32(&handle);
    if (call == RapiCall::kRegCreateKeyEx) reply.reader().U32(&how);
  }
  if (!reply.Finish()) return reply.result();
  if (reply.result() != ERROR_SUCCESS) return reply.result();
  *result = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(handle));
  if (disposition != nullptr) *disposition = how;
  return ERROR_SUCCESS;
}

LONG ClosePredefined() {
  Record(Status());
  return ERROR_SUCCESS;
}

// A call whose only result is its LONG.
LONG ResultOnly(RapiCall call, std::span<const std::uint8_t> payload) {
  RegistryReply reply(call, payload);
  reply.Finish();
  return reply.result();
}

}  // namespace
}  // namespace tbm::rapi

using namespace tbm::rapi;
using tbm::GuardedStatus;

extern "C" LONG CeRegOpenKeyEx(HKEY key, const WCHAR* subKey, DWORD /*options*/, REGSAM /*access*/,
                               HKEY* result) {
  return GuardedStatus(
      [&] { return OpenOrCreate(RapiCall::kRegOpenKeyEx, key, subKey, result, nullptr); });
}

extern "C" LONG CeRegCreateKeyEx(HKEY key, const WCHAR* subKey, DWORD /*reserved*/,
                                 WCHAR* /*className*/, DWORD /*options*/, REGSAM /*access*/,
                                 void* /*security*/, HKEY* result, DWORD* disposition) {
  return GuardedStatus(
      [&] { return OpenOrCreate(RapiCall::kRegCreateKeyEx, key, subKey, result, disposition); });
}

extern "C" LONG CeRegCloseKey(HKEY key) {
  return GuardedStatus([&]() -> LONG {
    if (IsPredefined(key)) return ClosePredefined();
    return ResultOnly(RapiCall::kRegCloseKey, PayloadWriter().U32(KeyNumber(key)).Take());
  });
}

extern "C" LONG CeRegQueryValueEx(HKEY key, const WCHAR* valueName, DWORD* reserved, DWORD* type,
                                  BYTE* data, DWORD* dataBytes) {
  return GuardedStatus([&]() -> LONG {
    if (reserved != nullptr || (data != nullptr && dataBytes == nullptr)) return Invalid();
    const DWORD room = data != nullptr ? *dataBytes : 0;
    RegistryReply reply(RapiCall::kRegQueryValueEx, PayloadWriter()
                                                        .U32(KeyNumber(key))
                                                        .String(NameArgument(valueName))
                                                        .U32(data != nullptr ? 1 : 0)
                                                        .U32(room)
                                                        .Take());
    std::uint32_t valueType = 0, size = 0;
    std::span<const std::uint8_t> bytes;
    if (reply.ok()) {
      reply.reader().U32(&valueType);
      reply.reader().U32(&size);
      reply.reader().BytesView(&bytes, room);
    }
    if (!reply.Finish()) return reply.result();
    const LONG result = reply.result();
    if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA) return result;
    if (result == ERROR_SUCCESS && data != nullptr && bytes.size() != size) {
      return BadReply("the handheld's value does not have the size it says");
    }
    if (type != nullptr) *type = valueType;
    if (result == ERROR_SUCCESS && data != nullptr && size > 0) {
      std::memcpy(data, bytes.data(), size);
    }
    if (dataBytes != nullptr) *dataBytes = size;
    return result;
  });
}

extern "C" LONG CeRegSetValueEx(HKEY key, const WCHAR* valueName, DWORD /*reserved*/, DWORD type,
                                const BYTE* data, DWORD dataBytes) {
  return GuardedStatus([&]() -> LONG {
    if ((data == nullptr && dataBytes != 0) || dataBytes > kMaxRegistryValueBytes) {
      return Invalid();
    }
    return ResultOnly(RapiCall::kRegSetValueEx,
                      PayloadWriter()
                          .U32(KeyNumber(key))
                          .String(NameArgument(valueName))
                          .U32(type)
                          .Bytes(std::span<const BYTE>(data, data == nullptr ? 0 : dataBytes))
                          .Take());
  });
}

extern "C" LONG CeRegDeleteKey(HKEY key, const WCHAR* subKey) {
  return GuardedStatus([&] {
    return ResultOnly(RapiCall::kRegDeleteKey,
                      PayloadWriter().U32(KeyNumber(key)).String(NameArgument(subKey)).Take());
  });
}

extern "C" LONG CeRegDeleteValue(HKEY key, const WCHAR* valueName) {
  return GuardedStatus([&] {
    return ResultOnly(RapiCall::kRegDeleteValue,
                      PayloadWriter().U32(KeyNumber(key)).String(NameArgument(valueName)).Take());
  });
}

extern "C" LONG CeRegEnumKeyEx(HKEY key, DWORD index, WCHAR* name, DWORD* nameChars,
                               DWORD* reserved, WCHAR* className, DWORD* classChars,
                               FILETIME* lastWriteTime) {
  return GuardedStatus([&]() -> LONG {
    if (name == nullptr || nameChars == nullptr || reserved != nullptr) return Invalid();
    RegistryReply reply(RapiCall::kRegEnumKeyEx,
                        PayloadWriter().U32(KeyNumber(key)).U32(index).U32(*nameChars).Take());
    std::u16string found;
    std::uint32_t chars = 0;
    if (reply.ok()) {
      reply.reader().String(&found, *nameChars);
      reply.reader().U32(&chars);
    }
    if (!reply.Finish()) return reply.result();
    const LONG result = reply.result();
    if (result == ERROR_MORE_DATA) *nameChars = chars;
    if (result != ERROR_SUCCESS) return result;
    if (found.size() + 1 > *nameChars) {
      return BadReply("the handheld sent a key name larger than the room");
    }
    std::copy(found.begin(), found.end(), name);
    name[found.size()] = u'\0';
    *nameChars = static_cast<DWORD>(found.size());
    // Keys have no class and no time kept, as on the handheld itself.
    if (className != nullptr && classChars != nullptr && *classChars > 0) className[0] = u'\0';
    if (classChars != nullptr) *classChars = 0;
    if (lastWriteTime != nullptr) *lastWriteTime = FILETIME{0, 0};
    return ERROR_SUCCESS;
  });
}

extern "C" LONG CeRegEnumValue(HKEY key, DWORD index, WCHAR* valueName, DWORD* valueNameChars,
                               DWORD* reserved, DWORD* type, BYTE* data, DWORD* dataBytes) {
  return GuardedStatus([&]() -> LONG {
    if (valueName == nullptr || valueNameChars == nullptr || reserved != nullptr ||
        (data != nullptr && dataBytes == nullptr)) {
      return Invalid();
    }
    const DWORD room = data != nullptr ? *dataBytes : 0;
    RegistryReply reply(RapiCall::kRegEnumValue, PayloadWriter()
                                                     .U32(KeyNumber(key))
                                                     .U32(index)
                                                     .U32(*valueNameChars)
                                                     .U32(data != nullptr ? 1 : 0)
                                                     .U32(room)
                                                     .Take());
    std::u16string found;
    std::uint32_t chars = 0, valueType = 0, size = 0;
    std::span<const std::uint8_t> bytes;
    if (reply.ok()) {
      reply.reader().String(&found, *valueNameChars);
      reply.reader().U32(&chars);
      reply.reader().U32(&valueType);
      reply.reader().U32(&size);
      reply.reader().BytesView(&bytes, room);
    }
    if (!reply.Finish()) return reply.result();
    const LONG result = reply.result();
    if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA) return result;
    if (result == ERROR_SUCCESS &&
        (found.size() + 1 > *valueNameChars || (data != nullptr && bytes.size() != size))) {
      return BadReply("the handheld sent a value larger than the room");
    }
    if (type != nullptr) *type = valueType;
    if (dataBytes != nullptr) *dataBytes = size;
    if (result == ERROR_MORE_DATA) {
      *valueNameChars = chars;
      return result;
    }
    std::copy(found.begin(), found.end(), valueName);
    valueName[found.size()] = u'\0';
    *valueNameChars = static_cast<DWORD>(found.size());
    if (data != nullptr && size > 0) std::memcpy(data, bytes.data(), size);
    return ERROR_SUCCESS;
  });
}
