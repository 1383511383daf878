// The registry calls a desktop makes on the handheld (calls 30-49), served
// with the registry calls of platform/registry on the handheld's registry
// (the registry file of the device root). A predefined key's value names
// that hive of the handheld; any other key is a handle number of a key the
// desktop opened. Each reply carries the call's LONG result first, and a
// registry error is that result, not a failed call: the connection's last
// error is left as it was.
#include <algorithm>

#include "DeviceCalls.h"
#include "Registry.h"

namespace tbm::devicelink {
namespace {

using rapi::PayloadReader;
using rapi::PayloadWriter;
using rapi::RapiCall;

// The longest key path and value name taken, in UTF-16 units; the registry
// refuses what is longer than it keeps anyway.
constexpr std::uint32_t kMaxNameUnits = 32768;
// Room for the longest key name and value name with their terminators.
constexpr DWORD kKeyNameChars = 256;
constexpr DWORD kValueNameChars = 16384;

class OpenKey : public OpenObject {
 public:
  explicit OpenKey(HKEY key) : key_(key) {}
  ~OpenKey() override { RegCloseKey(key_); }
  HKEY key() const { return key_; }

 private:
  HKEY key_;
};

// The key a request names: a hive of the handheld opened for the call, or
// a key the desktop has open.
class NamedKey {
 public:
  NamedKey(const ConnectionState& state, std::uint32_t value) {
    if (value >= 0x80000000u && value <= 0x80000003u) {
      const auto predefined = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(value));
      if (RegConnectMachine(Machine::Handheld, predefined, &hive_) == ERROR_SUCCESS) key_ = hive_;
    } else if (const OpenKey* open = state.Find<OpenKey>(value)) {
      key_ = open->key();
    }
  }
  ~NamedKey() {
    if (hive_ != nullptr) RegCloseKey(hive_);
  }
  NamedKey(const NamedKey&) = delete;
  NamedKey& operator=(const NamedKey&) = delete;

  // Null when the value names no key: the call answers ERROR_INVALID_HANDLE.
  HKEY get() const { return key_; }

 private:
  HKEY hive_ = nullptr;
  HKEY key_ = nullptr;
};

PayloadWriter Result(LONG result) {
  PayloadWriter writer;
  writer.I32(S_OK).U32(static_cast<std::uint32_t>(result));
  return writer;
}

// A null pointer for an empty name: the registry takes both as the default
// value or the key itself.
const WCHAR* NameArgument(const std::u16string& name) {
  return name.empty() ? nullptr : name.c_str();
}

bool HasNul(const std::u16string& text) { return text.find(u'\0') != std::u16string::npos; }

std::vector<std::uint8_t> OpenOrCreate(PayloadReader& reader, std::uint16_t call,
                                       ConnectionState& state) {
  std::uint32_t keyValue = 0;
  std::u16string subKey;
  if (!reader.U32(&keyValue) || !reader.String(&subKey, kMaxNameUnits) || !reader.End()) {
    return Malformed(reader, call);
  }
  const NamedKey key(state, keyValue);
  HKEY opened = nullptr;
  DWORD disposition = 0;
  LONG result = ERROR_INVALID_HANDLE;
  if (HasNul(subKey)) {
    result = ERROR_INVALID_PARAMETER;
  } else if (key.get() != nullptr) {
    result =
        call == static_cast<std::uint16_t>(RapiCall::kRegOpenKeyEx)
            ? RegOpenKeyExW(key.get(), NameArgument(subKey), 0, KEY_ALL_ACCESS, &opened)
            : RegCreateKeyExW(key.get(), NameArgument(subKey), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &opened, &disposition);
  }
  const std::uint32_t handle =
      result == ERROR_SUCCESS ? state.Keep(std::make_unique<OpenKey>(opened)) : 0;
  PayloadWriter writer = Result(result);
  writer.U32(handle);
  if (call == static_cast<std::uint16_t>(RapiCall::kRegCreateKeyEx)) writer.U32(disposition);
  return writer.Take();
}

std::vector<std::uint8_t> CloseKey(PayloadReader& reader, std::uint16_t call,
                                   ConnectionState& state) {
  std::uint32_t keyValue = 0;
  if (!reader.U32(&keyValue) || !reader.End()) return Malformed(reader, call);
  LONG result = ERROR_SUCCESS;
  if (keyValue >= 0x80000000u && keyValue <= 0x80000003u) {
    result = ERROR_SUCCESS;  // a predefined key: nothing to close
  } else if (state.Find<OpenKey>(keyValue) == nullptr) {
    result = ERROR_INVALID_HANDLE;
  } else {
    state.open.erase(keyValue);
  }
  return Result(result).Take();
}

std::vector<std::uint8_t> QueryValue(PayloadReader& reader, std::uint16_t call,
                                     ConnectionState& state) {
  std::uint32_t keyValue = 0, wantData = 0, room = 0;
  std::u16string name;
  if (!reader.U32(&keyValue) || !reader.String(&name, kMaxNameUnits) || !reader.U32(&wantData) ||
      !reader.U32(&room) || !reader.End()) {
    return Malformed(reader, call);
  }
  const NamedKey key(state, keyValue);
  DWORD type = REG_NONE;
  DWORD size = std::min(room, rapi::kMaxRegistryValueBytes);
  // One byte more than the room, so that data is never null when wanted.
  std::vector<BYTE> data(size + 1);
  LONG result = ERROR_INVALID_HANDLE;
  if (HasNul(name)) {
    result = ERROR_INVALID_PARAMETER;
  } else if (key.get() != nullptr) {
    result = RegQueryValueExW(key.get(), NameArgument(name), nullptr, &type,
                              wantData != 0 ? data.data() : nullptr, &size);
  }
  // A value larger than one reply carries, asked for with room enough.
  if (result == ERROR_MORE_DATA && size <= room) result = ERROR_NOT_ENOUGH_MEMORY;
  const bool sent = result == ERROR_SUCCESS && wantData != 0;
  PayloadWriter writer = Result(result);
  writer.U32(type).U32(size).Bytes(std::span<const BYTE>(data).first(sent ? size : 0));
  return writer.Take();
}

std::vector<std::uint8_t> SetValue(PayloadReader& reader, std::uint16_t call,
                                   ConnectionState& state) {
  std::uint32_t keyValue = 0, type = 0;
  std::u16string name;
  std::span<const std::uint8_t> data;
  if (!reader.U32(&keyValue) || !reader.String(&name, kMaxNameUnits) || !reader.U32(&type) ||
      !reader.BytesView(&data, rapi::kMaxRegistryValueBytes) || !reader.End()) {
    return Malformed(reader, call);
  }
  const NamedKey key(state, keyValue);
  LONG result = ERROR_INVALID_HANDLE;
  if (HasNul(name)) {
    result = ERROR_INVALID_PARAMETER;
  } else if (key.get() != nullptr) {
    const BYTE empty = 0;
    result = RegSetValueExW(key.get(), NameArgument(name), 0, type,
                            data.empty() ? &empty : data.data(), static_cast<DWORD>(data.size()));
  }
  return Result(result).Take();
}

// CeRegDeleteKey and CeRegDeleteValue: a key and a name in, the result out.
std::vector<std::uint8_t> Delete(PayloadReader& reader, std::uint16_t call,
                                 ConnectionState& state) {
  std::uint32_t keyValue = 0;
  std::u16string name;
  if (!reader.U32(&keyValue) || !reader.String(&name, kMaxNameUnits) || !reader.End()) {
    return Malformed(reader, call);
  }
  const NamedKey key(state, keyValue);
  LONG result = ERROR_INVALID_HANDLE;
  if (HasNul(name)) {
    result = ERROR_INVALID_PARAMETER;
  } else if (key.get() != nullptr) {
    result = call == static_cast<std::uint16_t>(RapiCall::kRegDeleteKey)
                 ? RegDeleteKeyW(key.get(), NameArgument(name))
                 : RegDeleteValueW(key.get(), NameArgument(name));
  }
  return Result(result).Take();
}

std::vector<std::uint8_t> EnumKey(PayloadReader& reader, std::uint16_t call,
                                  ConnectionState& state) {
  std::uint32_t keyValue = 0, index = 0, room = 0;
  if (!reader.U32(&keyValue) || !reader.U32(&index) || !reader.U32(&room) || !reader.End()) {
    return Malformed(reader, call);
  }
  const NamedKey key(state, keyValue);
  std::u16string name(kKeyNameChars, u'\0');
  DWORD chars = std::min(room, kKeyNameChars);
  LONG result = ERROR_INVALID_HANDLE;
  if (key.get() != nullptr) {
    result =
        RegEnumKeyExW(key.get(), index, name.data(), &chars, nullptr, nullptr, nullptr, nullptr);
  }
  name.resize(result == ERROR_SUCCESS ? chars : 0);
  if (result != ERROR_SUCCESS && result != ERROR_MORE_DATA) chars = 0;
  return Result(result).String(name).U32(chars).Take();
}

std::vector<std::uint8_t> EnumValue(PayloadReader& reader, std::uint16_t call,
                                    ConnectionState& state) {
  std::uint32_t keyValue = 0, index = 0, nameRoom = 0, wantData = 0, dataRoom = 0;
  if (!reader.U32(&keyValue) || !reader.U32(&index) || !reader.U32(&nameRoom) ||
      !reader.U32(&wantData) || !reader.U32(&dataRoom) || !reader.End()) {
    return Malformed(reader, call);
  }
  const NamedKey key(state, keyValue);
  std::u16string name(kValueNameChars, u'\0');
  DWORD chars = std::min(nameRoom, kValueNameChars);
  DWORD type = REG_NONE;
  DWORD size = std::min(dataRoom, rapi::kMaxRegistryValueBytes);
  std::vector<BYTE> data(size + 1);
  LONG result = ERROR_INVALID_HANDLE;
  if (key.get() != nullptr) {
    result = RegEnumValueW(key.get(), index, name.data(), &chars, nullptr, &type,
                           wantData != 0 ? data.data() : nullptr, &size);
  }
  if (result == ERROR_MORE_DATA && chars <= nameRoom && (wantData == 0 || size <= dataRoom)) {
    result = ERROR_NOT_ENOUGH_MEMORY;  // larger than one reply carries
  }
  const bool sent = result == ERROR_SUCCESS;
  name.resize(sent ? chars : 0);
  if (!sent && result != ERROR_MORE_DATA) chars = size = 0;
  PayloadWriter writer = Result(result);
  writer.String(name).U32(chars).U32(type).U32(size).Bytes(
      std::span<const BYTE>(data).first(sent && wantData != 0 ? size : 0));
  return writer.Take();
}

}  // namespace

std::vector<std::uint8_t> ServeRegistryCall(const rapi::Frame& request, ConnectionState& state) {
  const std::uint16_t call = request.header.call;
  PayloadReader reader(request.payload);
  switch (static_cast<RapiCall>(call)) {
    case RapiCall::kRegOpenKeyEx:
    case RapiCall::kRegCreateKeyEx:
      return OpenOrCreate(reader, call, state);
    case RapiCall::kRegCloseKey:
      return CloseKey(reader, call, state);
    case RapiCall::kRegQueryValueEx:
      return QueryValue(reader, call, state);
    case RapiCall::kRegSetValueEx:
      return SetValue(reader, call, state);
    case RapiCall::kRegDeleteKey:
    case RapiCall::kRegDeleteValue:
      return Delete(reader, call, state);
    case RapiCall::kRegEnumKeyEx:
      return EnumKey(reader, call, state);
    case RapiCall::kRegEnumValue:
      return EnumValue(reader, call, state);
    default:
      break;
  }
  return UnknownCall(call);
}

}  // namespace tbm::devicelink
