// A fresh handheld and desktop for each registry test: their own machine
// roots in a temporary folder, the process on the handheld, the messages
// about damaged files collected, and short helpers for values.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "Machine.h"
#include "Registry.h"
#include "TestSupport.h"

namespace tbm::testing {

class FreshRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(scratch_.ok());
    SelectMachine(Machine::Handheld);
    SetRegistryMessageHandler([this](const std::string& message) {
      std::lock_guard guard(messagesLock_);
      messages_.push_back(message);
    });
  }

  void TearDown() override { SetRegistryMessageHandler(nullptr); }

  std::vector<std::string> Messages() {
    std::lock_guard guard(messagesLock_);
    return messages_;
  }

  std::string DeviceFile() const { return RegistryFilePath(Machine::Handheld); }
  std::string DeviceText() const { return ReadWholeFile(DeviceFile()); }

  // Creates root\path and returns its handle (null on failure).
  static HKEY Create(HKEY root, const char16_t* path) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    if (RegCreateKeyExW(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        &key, &disposition) != ERROR_SUCCESS) {
      return nullptr;
    }
    return key;
  }

  static HKEY Open(HKEY root, const char16_t* path) {
    HKEY key = nullptr;
    return RegOpenKeyExW(root, path, 0, KEY_READ, &key) == ERROR_SUCCESS ? key : nullptr;
  }

  static LONG SetString(HKEY key, const char16_t* name, std::u16string_view text) {
    const std::u16string terminated(text);
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(terminated.c_str()),
                          static_cast<DWORD>((terminated.size() + 1) * sizeof(char16_t)));
  }

  static LONG SetDword(HKEY key, const char16_t* name, DWORD number) {
    return RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                          sizeof number);
  }

  static LONG SetBinary(HKEY key, const char16_t* name, const std::vector<BYTE>& bytes) {
    return RegSetValueExW(key, name, 0, REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size()));
  }

  // The value's type and bytes, or nullopt when it cannot be read.
  static std::optional<std::pair<DWORD, std::vector<BYTE>>> Query(HKEY key, const char16_t* name) {
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) {
      return std::nullopt;
    }
    std::vector<BYTE> bytes(size);
    if (RegQueryValueExW(key, name, nullptr, &type, bytes.data(), &size) != ERROR_SUCCESS) {
      return std::nullopt;
    }
    bytes.resize(size);
    return std::make_pair(type, bytes);
  }

  static std::optional<std::u16string> QueryString(HKEY key, const char16_t* name) {
    const auto value = Query(key, name);
    if (!value || value->first != REG_SZ || value->second.size() < 2) return std::nullopt;
    std::u16string text(value->second.size() / 2 - 1, u'\0');
    std::memcpy(text.data(), value->second.data(), text.size() * 2);
    return text;
  }

  static std::optional<DWORD> QueryDword(HKEY key, const char16_t* name) {
    const auto value = Query(key, name);
    if (!value || value->first != REG_DWORD || value->second.size() != 4) return std::nullopt;
    DWORD number;
    std::memcpy(&number, value->second.data(), 4);
    return number;
  }

  // The names of key's subkeys or values, in the order they enumerate.
  static std::vector<std::u16string> SubkeyNames(HKEY key) {
    return Names([key](DWORD index, WCHAR* name, DWORD* chars) {
      return RegEnumKeyExW(key, index, name, chars, nullptr, nullptr, nullptr, nullptr);
    });
  }
  static std::vector<std::u16string> ValueNames(HKEY key) {
    return Names([key](DWORD index, WCHAR* name, DWORD* chars) {
      return RegEnumValueW(key, index, name, chars, nullptr, nullptr, nullptr, nullptr);
    });
  }
  static std::vector<std::u16string> Names(
      const std::function<LONG(DWORD index, WCHAR* name, DWORD* chars)>& enumerate) {
    std::vector<std::u16string> names;
    WCHAR name[256];
    DWORD chars = 256;
    for (DWORD index = 0; enumerate(index, name, &chars) == ERROR_SUCCESS; ++index, chars = 256) {
      names.emplace_back(name, chars);
    }
    return names;
  }

  ScratchFolder scratch_{"tbm-registry-test"};
  ScopedEnvironment machine_{"TBM_MACHINE", nullptr};
  ScopedEnvironment deviceRoot_{"TBM_DEVICE_ROOT", (scratch_.path() / "device").c_str()};
  ScopedEnvironment desktopRoot_{"TBM_DESKTOP_ROOT", (scratch_.path() / "desktop").c_str()};
  std::mutex messagesLock_;
  std::vector<std::string> messages_;
};

}  // namespace tbm::testing
