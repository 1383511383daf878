// The registry calls over the machine's registry file.
//
// A handle remembers its file, hive and key path, not a key in memory: the
// tree is read again whenever another process saves, so every call finds
// its key afresh, and a key deleted meanwhile is reported as such.
#include <cstring>
#include <functional>
#include <optional>

#include "HandleTable.h"
#include "HostErrors.h"
#include "KeyTree.h"
#include "Registry.h"
#include "RegistryFile.h"
#include "Utf16.h"

namespace tbm::registry {

namespace {

enum class RegistryHandleKind { kKey };

// What a key handle stands for.
struct OpenKey {
  static constexpr RegistryHandleKind kKind = RegistryHandleKind::kKey;
  std::shared_ptr<RegistryFile> file;
  Hive hive = Hive::kLocalMachine;
  KeyPath path;
};

HandleTable& KeyHandles() {
  static HandleTable table('R', 'G');
  return table;
}

std::optional<Hive> PredefinedHive(HKEY key) {
  const auto value = reinterpret_cast<std::uintptr_t>(key);
  if (value < 0x80000000u || value > 0x80000003u) return std::nullopt;
  static constexpr Hive kHives[] = {Hive::kClassesRoot, Hive::kCurrentUser, Hive::kLocalMachine,
                                    Hive::kUsers};
  return kHives[value - 0x80000000u];
}

// The key a handle stands for; ERROR_INVALID_HANDLE when it stands for none.
LONG Resolve(HKEY key, OpenKey& resolved) {
  if (const std::optional<Hive> hive = PredefinedHive(key)) {
    resolved.file = RegistryFile::ForPath(RegistryFilePath(CurrentMachine()));
    resolved.hive = *hive;
    resolved.path.clear();
    return ERROR_SUCCESS;
  }
  const auto open = KeyHandles().Lookup<OpenKey>(reinterpret_cast<HANDLE>(key));
  if (!open) return ERROR_INVALID_HANDLE;
  resolved = *open;
  return ERROR_SUCCESS;
}

// Appends the levels of a sub-key argument to path. A trailing backslash
// is allowed; a leading one or an empty level is not.
LONG AppendSubKey(const WCHAR* subKey, KeyPath& path) {
  const std::u16string_view text = Utf16View(subKey);
  if (text.empty()) return ERROR_SUCCESS;
  if (text[0] == u'\\') return ERROR_BAD_PATHNAME;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(u'\\', start);
    if (end == std::u16string_view::npos) end = text.size();
    const std::u16string_view name = text.substr(start, end - start);
    if (name.empty()) return ERROR_BAD_PATHNAME;
    if (!IsValidKeyName(name)) return ERROR_INVALID_PARAMETER;
    path.emplace_back(name);
    if (path.size() > kMaxKeyDepth) return ERROR_INVALID_PARAMETER;
    start = end + 1;
  }
  return ERROR_SUCCESS;
}

HKEY AddHandle(OpenKey key) {
  return reinterpret_cast<HKEY>(KeyHandles().Add(std::make_shared<OpenKey>(std::move(key))));
}

// Runs look on the key handle key stands for, as last saved. Errors: those
// of Resolve, of reading the file, and ERROR_KEY_DELETED.
LONG ReadKey(HKEY key, const std::function<LONG(const Key&)>& look) {
  OpenKey target;
  if (const LONG error = Resolve(key, target); error != ERROR_SUCCESS) return error;
  return target.file->Read([&](const Tree& tree) -> LONG {
    const Key* found = tree.Find(target.hive, target.path);
    return found != nullptr ? look(*found) : ERROR_KEY_DELETED;
  });
}

// Runs change on the key handle key stands for and saves the result when
// change says it changed something. Errors as ReadKey, and of saving.
LONG ChangeKey(HKEY key, const std::function<LONG(Key&, bool& changed)>& change) {
  OpenKey target;
  if (const LONG error = Resolve(key, target); error != ERROR_SUCCESS) return error;
  return target.file->Change([&](Tree& tree, bool& changed) -> LONG {
    Key* found = tree.Find(target.hive, target.path);
    return found != nullptr ? change(*found, changed) : ERROR_KEY_DELETED;
  });
}

std::u16string_view ValueName(const WCHAR* name) {
  return Utf16View(name);  // null and empty both name the default value
}

LONG OpenKeyCall(HKEY key, const WCHAR* subKey, HKEY* result) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  OpenKey target;
  if (const LONG error = Resolve(key, target); error != ERROR_SUCCESS) return error;
  const std::size_t openDepth = target.path.size();
  if (const LONG error = AppendSubKey(subKey, target.path); error != ERROR_SUCCESS) return error;
  const LONG found = target.file->Read([&](const Tree& tree) -> LONG {
    Key* key =
        tree.Find(target.hive, KeyPath(target.path.begin(), target.path.begin() + openDepth));
    if (key == nullptr) return ERROR_KEY_DELETED;
    return tree.Find(target.hive, target.path) != nullptr ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  });
  if (found != ERROR_SUCCESS) return found;
  *result = AddHandle(std::move(target));
  return ERROR_SUCCESS;
}

LONG CreateKeyCall(HKEY key, const WCHAR* subKey, HKEY* result, DWORD* disposition) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  OpenKey target;
  if (const LONG error = Resolve(key, target); error != ERROR_SUCCESS) return error;
  const KeyPath base = target.path;
  if (const LONG error = AppendSubKey(subKey, target.path); error != ERROR_SUCCESS) return error;

  // Most creates find the key there already; they write nothing.
  bool created = false;
  LONG status = target.file->Read([&](const Tree& tree) -> LONG {
    if (tree.Find(target.hive, base) == nullptr) return ERROR_KEY_DELETED;
    return tree.Find(target.hive, target.path) != nullptr ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
  });
  if (status == ERROR_FILE_NOT_FOUND) {
    status = target.file->Change([&](Tree& tree, bool& changed) -> LONG {
      Key* key = tree.Find(target.hive, base);
      if (key == nullptr) return ERROR_KEY_DELETED;
      for (std::size_t level = base.size(); level < target.path.size(); ++level) {
        Key* next = key->FindSubkey(target.path[level]);
        if (next == nullptr) {
          next = &key->EnsureSubkey(target.path[level]);
          changed = created = true;
        }
        key = next;
      }
      return ERROR_SUCCESS;
    });
  }
  if (status != ERROR_SUCCESS) return status;
  if (disposition != nullptr)
    *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  *result = AddHandle(std::move(target));
  return ERROR_SUCCESS;
}

LONG QueryValueCall(HKEY key, const WCHAR* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                    DWORD* dataBytes) {
  if (reserved != nullptr || (data != nullptr && dataBytes == nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  return ReadKey(key, [&](const Key& found) -> LONG {
    const Value* value = found.FindValue(ValueName(valueName));
    if (value == nullptr) return ERROR_FILE_NOT_FOUND;
    const auto size = static_cast<DWORD>(value->data.size());
    if (type != nullptr) *type = value->type;
    if (data != nullptr && *dataBytes < size) {
      *dataBytes = size;
      return ERROR_MORE_DATA;
    }
    if (data != nullptr && size > 0) std::memcpy(data, value->data.data(), size);
    if (dataBytes != nullptr) *dataBytes = size;
    return ERROR_SUCCESS;
  });
}

// The value a set call stores: string data cut at its first NUL and given
// one terminator, a DWORD of exactly 4 bytes, anything else as it is.
LONG MakeValue(const WCHAR* valueName, DWORD type, const BYTE* data, DWORD dataBytes,
               Value& value) {
  if (data == nullptr && dataBytes != 0) return ERROR_INVALID_PARAMETER;
  value.name = std::u16string(ValueName(valueName));
  if (value.name.size() > kMaxValueNameUnits) return ERROR_INVALID_PARAMETER;
  value.type = type;
  if (type == REG_SZ) {
    std::u16string text;
    for (DWORD i = 0; i + 1 < dataBytes; i += 2) {
      const auto unit = static_cast<char16_t>(data[i] | data[i + 1] << 8);
      if (unit == 0) break;
      text += unit;
    }
    value.data = StringValueBytes(text);
    return ERROR_SUCCESS;
  }
  if (type == REG_DWORD && dataBytes != 4) return ERROR_INVALID_PARAMETER;
  value.data.assign(data, data + dataBytes);
  return ERROR_SUCCESS;
}

LONG SetValueCall(HKEY key, const WCHAR* valueName, DWORD type, const BYTE* data, DWORD dataBytes) {
  Value value;
  if (const LONG error = MakeValue(valueName, type, data, dataBytes, value);
      error != ERROR_SUCCESS) {
    return error;
  }
  return ChangeKey(key, [&](Key& found, bool& changed) -> LONG {
    const Value* existing = found.FindValue(value.name);
    if (existing != nullptr && existing->type == value.type && existing->data == value.data) {
      return ERROR_SUCCESS;  // nothing to save
    }
    found.SetValue(std::move(value));
    changed = true;
    return ERROR_SUCCESS;
  });
}

LONG DeleteValueCall(HKEY key, const WCHAR* valueName) {
  return ChangeKey(key, [&](Key& found, bool& changed) -> LONG {
    if (!found.RemoveValue(ValueName(valueName))) return ERROR_FILE_NOT_FOUND;
    changed = true;
    return ERROR_SUCCESS;
  });
}

LONG DeleteKeyCall(HKEY key, const WCHAR* subKey) {
  OpenKey target;
  if (const LONG error = Resolve(key, target); error != ERROR_SUCCESS) return error;
  const KeyPath base = target.path;
  if (const LONG error = AppendSubKey(subKey, target.path); error != ERROR_SUCCESS) return error;
  if (target.path.empty()) return ERROR_ACCESS_DENIED;  // a hive stays
  return target.file->Change([&](Tree& tree, bool& changed) -> LONG {
    if (tree.Find(target.hive, base) == nullptr) return ERROR_KEY_DELETED;
    Key* parent = tree.Find(target.hive, KeyPath(target.path.begin(), target.path.end() - 1));
    if (parent == nullptr || !parent->RemoveSubkey(target.path.back())) {
      return ERROR_FILE_NOT_FOUND;
    }
    changed = true;
    return ERROR_SUCCESS;
  });
}

// Stores name with its terminator when it fits in chars characters;
// otherwise sets chars to the size needed and says ERROR_MORE_DATA.
LONG StoreName(std::u16string_view name, WCHAR* buffer, DWORD* chars) {
  if (name.size() + 1 > *chars) {
    *chars = static_cast<DWORD>(name.size() + 1);
    return ERROR_MORE_DATA;
  }
  name.copy(buffer, name.size());
  buffer[name.size()] = 0;
  *chars = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

LONG EnumKeyCall(HKEY key, DWORD index, WCHAR* name, DWORD* nameChars, DWORD* reserved,
                 WCHAR* className, DWORD* classChars, FILETIME* lastWriteTime) {
  if (name == nullptr || nameChars == nullptr || reserved != nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  return ReadKey(key, [&](const Key& found) -> LONG {
    if (index >= found.subkeys().size()) return ERROR_NO_MORE_ITEMS;
    if (const LONG stored = StoreName(found.subkeys()[index]->name(), name, nameChars);
        stored != ERROR_SUCCESS) {
      return stored;
    }
    if (className != nullptr && classChars != nullptr && *classChars > 0) className[0] = 0;
    if (classChars != nullptr) *classChars = 0;
    if (lastWriteTime != nullptr) *lastWriteTime = FILETIME{0, 0};
    return ERROR_SUCCESS;
  });
}

LONG EnumValueCall(HKEY key, DWORD index, WCHAR* valueName, DWORD* valueNameChars, DWORD* reserved,
                   DWORD* type, BYTE* data, DWORD* dataBytes) {
  if (valueName == nullptr || valueNameChars == nullptr || reserved != nullptr ||
      (data != nullptr && dataBytes == nullptr)) {
    return ERROR_INVALID_PARAMETER;
  }
  return ReadKey(key, [&](const Key& found) -> LONG {
    if (index >= found.values().size()) return ERROR_NO_MORE_ITEMS;
    const Value& value = found.values()[index];
    const auto size = static_cast<DWORD>(value.data.size());
    const bool nameFits = value.name.size() + 1 <= *valueNameChars;
    const bool dataFits = data == nullptr || size <= *dataBytes;
    if (type != nullptr) *type = value.type;
    if (!nameFits || !dataFits) {
      *valueNameChars = static_cast<DWORD>(value.name.size() + 1);
      if (dataBytes != nullptr) *dataBytes = size;
      return ERROR_MORE_DATA;
    }
    StoreName(value.name, valueName, valueNameChars);
    if (data != nullptr && size > 0) std::memcpy(data, value.data.data(), size);
    if (dataBytes != nullptr) *dataBytes = size;
    return ERROR_SUCCESS;
  });
}

}  // namespace

}  // namespace tbm::registry

namespace tbm {

std::string RegistryFilePath(Machine machine) { return MachineRoot(machine) + "/registry.reg"; }

LONG RegConnectMachine(Machine machine, HKEY predefinedKey, HKEY* result) {
  return GuardedStatus([&]() -> LONG {
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    const std::optional<registry::Hive> hive = registry::PredefinedHive(predefinedKey);
    if (!hive) return ERROR_INVALID_HANDLE;
    registry::OpenKey key;
    key.file = registry::RegistryFile::ForPath(RegistryFilePath(machine));
    key.hive = *hive;
    *result = registry::AddHandle(std::move(key));
    return ERROR_SUCCESS;
  });
}

}  // namespace tbm

extern "C" LONG RegCreateKeyExW(HKEY key, const WCHAR* subKey, DWORD /*reserved*/,
                                WCHAR* /*className*/, DWORD /*options*/, REGSAM /*access*/,
                                void* /*security*/, HKEY* result, DWORD* disposition) {
  return tbm::GuardedStatus(
      [&] { return tbm::registry::CreateKeyCall(key, subKey, result, disposition); });
}

extern "C" LONG RegOpenKeyExW(HKEY key, const WCHAR* subKey, DWORD /*options*/, REGSAM /*access*/,
                              HKEY* result) {
  return tbm::GuardedStatus([&] { return tbm::registry::OpenKeyCall(key, subKey, result); });
}

extern "C" LONG RegCloseKey(HKEY key) {
  return tbm::GuardedStatus([&]() -> LONG {
    if (tbm::registry::PredefinedHive(key)) return ERROR_SUCCESS;
    return tbm::registry::KeyHandles().Remove<tbm::registry::OpenKey>(reinterpret_cast<HANDLE>(key))
               ? ERROR_SUCCESS
               : ERROR_INVALID_HANDLE;
  });
}

extern "C" LONG RegQueryValueExW(HKEY key, const WCHAR* valueName, DWORD* reserved, DWORD* type,
                                 BYTE* data, DWORD* dataBytes) {
  return tbm::GuardedStatus([&] {
    return tbm::registry::QueryValueCall(key, valueName, reserved, type, data, dataBytes);
  });
}

extern "C" LONG RegSetValueExW(HKEY key, const WCHAR* valueName, DWORD /*reserved*/, DWORD type,
                               const BYTE* data, DWORD dataBytes) {
  return tbm::GuardedStatus(
      [&] { return tbm::registry::SetValueCall(key, valueName, type, data, dataBytes); });
}

extern "C" LONG RegDeleteValueW(HKEY key, const WCHAR* valueName) {
  return tbm::GuardedStatus([&] { return tbm::registry::DeleteValueCall(key, valueName); });
}

extern "C" LONG RegDeleteKeyW(HKEY key, const WCHAR* subKey) {
  return tbm::GuardedStatus([&] { return tbm::registry::DeleteKeyCall(key, subKey); });
}

extern "C" LONG RegEnumKeyExW(HKEY key, DWORD index, WCHAR* name, DWORD* nameChars, DWORD* reserved,
                              WCHAR* className, DWORD* classChars, FILETIME* lastWriteTime) {
  return tbm::GuardedStatus([&] {
    return tbm::registry::EnumKeyCall(key, index, name, nameChars, reserved, className, classChars,
                                      lastWriteTime);
  });
}

extern "C" LONG RegEnumValueW(HKEY key, DWORD index, WCHAR* valueName, DWORD* valueNameChars,
                              DWORD* reserved, DWORD* type, BYTE* data, DWORD* dataBytes) {
  return tbm::GuardedStatus([&] {
    return tbm::registry::EnumValueCall(key, index, valueName, valueNameChars, reserved, type, data,
                                        dataBytes);
  });
}
