// A machine's registry in memory: four hives, each a tree of keys holding
// named values. Names of keys and values are compared without regard to
// case and keep the case they were made with.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "WinTypes.h"

namespace tbm::registry {

enum class Hive { kClassesRoot, kCurrentUser, kLocalMachine, kUsers };
constexpr std::size_t kHiveCount = 4;

// "HKEY_CLASSES_ROOT" and so on.
const char* HiveName(Hive hive);

// Limits of names, in UTF-16 units, and of the depth of a key below its
// hive.
constexpr std::size_t kMaxKeyNameUnits = 255;
constexpr std::size_t kMaxValueNameUnits = 16383;
constexpr std::size_t kMaxKeyDepth = 512;

// A key name is 1 to kMaxKeyNameUnits units without a backslash, without
// control characters (the registry file keeps one key per line) and
// without unpaired surrogates (the file is UTF-8).
bool IsValidKeyName(std::u16string_view name);

// The bytes of a REG_SZ value holding text: its UTF-16 units, little-endian,
// and one terminator.
std::vector<BYTE> StringValueBytes(std::u16string_view text);

struct Value {
  std::u16string name;  // empty for the key's default value
  DWORD type = 0;       // REG_SZ, REG_DWORD, REG_BINARY or any other number
  std::vector<BYTE> data;
};

class Key {
 public:
  explicit Key(std::u16string name) : name_(std::move(name)) {}

  const std::u16string& name() const { return name_; }

  // Values in the order they were first set.
  const std::vector<Value>& values() const { return values_; }
  const Value* FindValue(std::u16string_view name) const;
  // Replaces a value of that name in place, or adds it at the end.
  void SetValue(Value value);
  bool RemoveValue(std::u16string_view name);

  // Subkeys in case-blind order of their names.
  const std::vector<std::unique_ptr<Key>>& subkeys() const { return subkeys_; }
  Key* FindSubkey(std::u16string_view name) const;
  // The subkey of that name, made when missing.
  Key& EnsureSubkey(std::u16string_view name);
  // Removes a subkey with everything below it.
  bool RemoveSubkey(std::u16string_view name);

 private:
  std::u16string name_;
  std::vector<Value> values_;
  std::vector<std::unique_ptr<Key>> subkeys_;
};

// A key path below a hive, one name per level.
using KeyPath = std::vector<std::u16string>;

class Tree {
 public:
  Tree();

  Key& hive(Hive hive) { return *hives_[static_cast<std::size_t>(hive)]; }
  const Key& hive(Hive hive) const { return *hives_[static_cast<std::size_t>(hive)]; }

  // The key at path below hive, or null when some level is missing.
  Key* Find(Hive hive, const KeyPath& path) const;

 private:
  std::array<std::unique_ptr<Key>, kHiveCount> hives_;
};

}  // namespace tbm::registry
