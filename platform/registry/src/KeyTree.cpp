#include "KeyTree.h"

#include <algorithm>

#include "Utf16.h"

namespace tbm::registry {

const char* HiveName(Hive hive) {
  switch (hive) {
    case Hive::kClassesRoot:
      return "HKEY_CLASSES_ROOT";
    case Hive::kCurrentUser:
      return "HKEY_CURRENT_USER";
    case Hive::kLocalMachine:
      return "HKEY_LOCAL_MACHINE";
    case Hive::kUsers:
      return "HKEY_USERS";
  }
  return "HKEY_UNKNOWN";
}

bool IsValidKeyName(std::u16string_view name) {
  if (name.empty() || name.size() > kMaxKeyNameUnits) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char16_t unit = name[i];
    if (unit == u'\\' || unit < 0x20 || unit == 0x7F) return false;
    // Surrogates only in pairs, so the name is exact in the file's UTF-8.
    if (unit >= 0xDC00 && unit <= 0xDFFF) return false;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (i + 1 >= name.size() || name[i + 1] < 0xDC00 || name[i + 1] > 0xDFFF) return false;
      ++i;
    }
  }
  return true;
}

std::vector<BYTE> StringValueBytes(std::u16string_view text) {
  std::vector<BYTE> bytes((text.size() + 1) * sizeof(char16_t));
  for (std::size_t i = 0; i < text.size(); ++i) {
    bytes[2 * i] = static_cast<BYTE>(text[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<BYTE>(text[i] >> 8);
  }
  return bytes;
}

const Value* Key::FindValue(std::u16string_view name) const {
  for (const Value& value : values_) {
    if (EqualsIgnoreCase(value.name, name)) return &value;
  }
  return nullptr;
}

void Key::SetValue(Value value) {
  for (Value& existing : values_) {
    if (EqualsIgnoreCase(existing.name, value.name)) {
      // The name keeps the case it was first given, as on the platform.
      existing.type = value.type;
      existing.data = std::move(value.data);
      return;
    }
  }
  values_.push_back(std::move(value));
}

bool Key::RemoveValue(std::u16string_view name) {
  const auto found = std::find_if(values_.begin(), values_.end(), [&](const Value& value) {
    return EqualsIgnoreCase(value.name, name);
  });
  if (found == values_.end()) return false;
  values_.erase(found);
  return true;
}

namespace {

// The first subkey not ordered before name.
auto LowerBound(const std::vector<std::unique_ptr<Key>>& subkeys, std::u16string_view name) {
  return std::lower_bound(subkeys.begin(), subkeys.end(), name,
                          [](const std::unique_ptr<Key>& key, std::u16string_view wanted) {
                            return CompareIgnoreCase(key->name(), wanted) < 0;
                          });
}

}  // namespace

Key* Key::FindSubkey(std::u16string_view name) const {
  const auto found = LowerBound(subkeys_, name);
  if (found == subkeys_.end() || CompareIgnoreCase((*found)->name(), name) != 0) return nullptr;
  return found->get();
}

Key& Key::EnsureSubkey(std::u16string_view name) {
  const auto found = LowerBound(subkeys_, name);
  if (found != subkeys_.end() && CompareIgnoreCase((*found)->name(), name) == 0) return **found;
  return **subkeys_.insert(found, std::make_unique<Key>(std::u16string(name)));
}

bool Key::RemoveSubkey(std::u16string_view name) {
  const auto found = LowerBound(subkeys_, name);
  if (found == subkeys_.end() || CompareIgnoreCase((*found)->name(), name) != 0) return false;
  subkeys_.erase(found);  // with everything below it
  return true;
}

Tree::Tree() {
  for (std::size_t i = 0; i < kHiveCount; ++i) {
    const char* name = HiveName(static_cast<Hive>(i));
    hives_[i] =
        std::make_unique<Key>(std::u16string(name, name + std::char_traits<char>::length(name)));
  }
}

Key* Tree::Find(Hive hive, const KeyPath& path) const {
  Key* key = hives_[static_cast<std::size_t>(hive)].get();
  for (const std::u16string& name : path) {
    key = key->FindSubkey(name);
    if (key == nullptr) return nullptr;
  }
  return key;
}

}  // namespace tbm::registry
