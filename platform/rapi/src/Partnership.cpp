#include "Partnership.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>

#include "Registry.h"
#include "Utf16.h"

namespace tbm::rapi {
namespace {

constexpr const char16_t* kPartnersKey = u"Software\\Tabulon\\Mobile\\Partners";
constexpr const char16_t* kDesktopKey = u"Software\\Tabulon\\Pro\\Handheld";

Status RegistryError(const std::string& what, LONG error) {
  const StatusCode code = error == ERROR_ACCESS_DENIED    ? StatusCode::kNoPermission
                          : error == ERROR_DISK_FULL      ? StatusCode::kNoSpace
                          : error == ERROR_FILE_NOT_FOUND ? StatusCode::kNotFound
                                                          : StatusCode::kIoFailed;
  return Status(code, what + ": " + DescribeError(static_cast<DWORD>(error)),
                static_cast<std::uint32_t>(error));
}

// A registry key closed when it goes.
class Key {
 public:
  Key() = default;
  ~Key() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY* out() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

// Opens (or, with create, makes) path below hive of machine.
Status OpenKey(Machine machine, HKEY hive, const std::u16string& path, bool create, Key* key) {
  Key root;
  LONG error = tbm::RegConnectMachine(machine, hive, root.out());
  if (error == ERROR_SUCCESS) {
    error = create ? RegCreateKeyExW(root.get(), path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                     nullptr, key->out(), nullptr)
                   : RegOpenKeyExW(root.get(), path.c_str(), 0, KEY_ALL_ACCESS, key->out());
  }
  if (error != ERROR_SUCCESS) {
    return RegistryError("the registry key " + Utf16ToUtf8(path) + " cannot be opened", error);
  }
  return Status();
}

Status ReadValue(HKEY key, const char16_t* name, DWORD wantedType,
                 std::vector<std::uint8_t>* data) {
  DWORD type = 0;
  DWORD bytes = 0;
  LONG error = RegQueryValueExW(key, name, nullptr, &type, nullptr, &bytes);
  if (error == ERROR_SUCCESS) {
    data->resize(bytes);
    error = RegQueryValueExW(key, name, nullptr, &type, data->data(), &bytes);
  }
  if (error != ERROR_SUCCESS) {
    return RegistryError("the registry value " + Utf16ToUtf8(name) + " cannot be read", error);
  }
  if (type != wantedType) {
    return Status(StatusCode::kDamaged,
                  "the registry value " + Utf16ToUtf8(name) + " has the wrong type");
  }
  data->resize(bytes);
  return Status();
}

Status ReadText(HKEY key, const char16_t* name, std::u16string* text) {
  std::vector<std::uint8_t> data;
  if (Status status = ReadValue(key, name, REG_SZ, &data); !status.ok()) return status;
  text->clear();
  for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
    const char16_t unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    if (unit == u'\0') break;
    text->push_back(unit);
  }
  return Status();
}

Status ReadKey(HKEY key, std::vector<std::uint8_t>* partnershipKey) {
  if (Status status = ReadValue(key, u"Key", REG_BINARY, partnershipKey); !status.ok()) {
    return status;
  }
  if (partnershipKey->size() != kPskBytes) {
    return Status(StatusCode::kDamaged, "the partnership key in the registry is " +
                                            std::to_string(partnershipKey->size()) +
                                            " bytes long instead of " + std::to_string(kPskBytes) +
                                            "; pair again");
  }
  return Status();
}

Status WriteValue(HKEY key, const char16_t* name, DWORD type, const void* data, std::size_t bytes) {
  const LONG error =
      RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(bytes));
  if (error != ERROR_SUCCESS) {
    return RegistryError("the registry value " + Utf16ToUtf8(name) + " cannot be saved", error);
  }
  return Status();
}

Status WriteText(HKEY key, const char16_t* name, const std::u16string& text) {
  return WriteValue(key, name, REG_SZ, text.c_str(), (text.size() + 1) * sizeof(char16_t));
}

bool IsPartnerId(const std::string& id) {
  return !id.empty() && id.size() <= 64 && std::all_of(id.begin(), id.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-';
  });
}

}  // namespace

Status RandomBytes(std::span<std::uint8_t> bytes) {
  if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1) {
    return Status(StatusCode::kFailed, "the system's random source gave no random bytes");
  }
  return Status();
}

Status MakePairingCode(std::string* code) {
  // Drawn from the largest multiple of 10^8 below 2^32, so every code is
  // equally likely.
  constexpr std::uint32_t kCodes = 100000000u;
  constexpr std::uint32_t kLimit = (0xFFFFFFFFu / kCodes) * kCodes;
  for (;;) {
    std::uint8_t raw[4];
    if (Status status = RandomBytes(raw); !status.ok()) return status;
    const std::uint32_t value =
        raw[0] | (raw[1] << 8) | (raw[2] << 16) | (static_cast<std::uint32_t>(raw[3]) << 24);
    if (value >= kLimit) continue;
    std::string digits = std::to_string(value % kCodes);
    *code = std::string(kPairingCodeDigits - digits.size(), '0') + digits;
    return Status();
  }
}

Status DerivePairingKey(const std::string& code, std::span<const std::uint8_t> salt,
                        std::vector<std::uint8_t>* key) {
  if (code.size() != kPairingCodeDigits ||
      !std::all_of(code.begin(), code.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return Status(StatusCode::kInvalidArgument,
                  "the pairing code must be the " + std::to_string(kPairingCodeDigits) +
                      " digits the handheld shows; '" + code + "' is not");
  }
  std::vector<std::uint8_t> derived(kPskBytes);
  if (PKCS5_PBKDF2_HMAC(code.data(), static_cast<int>(code.size()), salt.data(),
                        static_cast<int>(salt.size()), kPairingIterations, EVP_sha256(),
                        static_cast<int>(derived.size()), derived.data()) != 1) {
    return Status(StatusCode::kFailed, "the pairing key could not be derived");
  }
  *key = std::move(derived);
  return Status();
}

Status MakePartnerId(std::string* partnerId) {
  std::uint8_t raw[8];
  if (Status status = RandomBytes(raw); !status.ok()) return status;
  static constexpr char kHex[] = "0123456789abcdef";
  std::string id;
  for (const std::uint8_t byte : raw) {
    id.push_back(kHex[byte >> 4]);
    id.push_back(kHex[byte & 15]);
  }
  *partnerId = id;
  return Status();
}

Status SaveDevicePartner(const DevicePartner& partner) {
  if (!IsPartnerId(partner.partnerId) || partner.key.size() != kPskBytes) {
    return Status(StatusCode::kInvalidArgument, "a partnership needs an identifier and a key");
  }
  Key key;
  const std::u16string path = std::u16string(kPartnersKey) + u"\\" + Utf8ToUtf16(partner.partnerId);
  if (Status status = OpenKey(Machine::Handheld, HKEY_LOCAL_MACHINE, path, true, &key);
      !status.ok()) {
    return status;
  }
  if (Status status = WriteValue(key.get(), u"Key", REG_BINARY, partner.key.data(), kPskBytes);
      !status.ok()) {
    return status;
  }
  return WriteText(key.get(), u"Desktop", partner.desktopName);
}

Status LoadDevicePartner(const std::string& partnerId, DevicePartner* partner) {
  if (!IsPartnerId(partnerId)) {
    return Status(StatusCode::kNotFound, "'" + partnerId + "' is not a partner identifier");
  }
  Key key;
  const std::u16string path = std::u16string(kPartnersKey) + u"\\" + Utf8ToUtf16(partnerId);
  if (Status status = OpenKey(Machine::Handheld, HKEY_LOCAL_MACHINE, path, false, &key);
      !status.ok()) {
    if (status.code() == StatusCode::kNotFound) {
      return Status(StatusCode::kNotFound, "the handheld has no partnership '" + partnerId + "'");
    }
    return status;
  }
  DevicePartner loaded;
  loaded.partnerId = partnerId;
  if (Status status = ReadKey(key.get(), &loaded.key); !status.ok()) {
    return status.WithContext("partnership " + partnerId);
  }
  if (Status status = ReadText(key.get(), u"Desktop", &loaded.desktopName); !status.ok()) {
    return status.WithContext("partnership " + partnerId);
  }
  *partner = std::move(loaded);
  return Status();
}

Status ListDevicePartners(std::vector<DevicePartner>* partners) {
  partners->clear();
  Key key;
  if (Status status = OpenKey(Machine::Handheld, HKEY_LOCAL_MACHINE, kPartnersKey, false, &key);
      !status.ok()) {
    return status.code() == StatusCode::kNotFound ? Status() : status;
  }
  for (DWORD index = 0;; ++index) {
    WCHAR name[256];
    DWORD chars = 256;
    const LONG error =
        RegEnumKeyExW(key.get(), index, name, &chars, nullptr, nullptr, nullptr, nullptr);
    if (error == ERROR_NO_MORE_ITEMS) break;
    if (error != ERROR_SUCCESS) return RegistryError("the partnerships cannot be listed", error);
    DevicePartner partner;
    if (Status status = LoadDevicePartner(Utf16ToUtf8(std::u16string_view(name, chars)), &partner);
        !status.ok()) {
      return status;
    }
    partners->push_back(std::move(partner));
  }
  return Status();
}

Status ForgetDevicePartner(const std::string& partnerId) {
  Key key;
  if (Status status = OpenKey(Machine::Handheld, HKEY_LOCAL_MACHINE, kPartnersKey, false, &key);
      !status.ok() && status.code() != StatusCode::kNotFound) {
    return status;
  }
  const LONG error = key.get() == nullptr || !IsPartnerId(partnerId)
                         ? ERROR_FILE_NOT_FOUND
                         : RegDeleteKeyW(key.get(), Utf8ToUtf16(partnerId).c_str());
  if (error == ERROR_FILE_NOT_FOUND) {
    return Status(StatusCode::kNotFound, "the handheld has no partnership '" + partnerId +
                                             "' (tbm-devicelink partnerships lists them)");
  }
  if (error != ERROR_SUCCESS) return RegistryError("the partnership cannot be removed", error);
  return Status();
}

Status SaveDesktopPartnership(const DesktopPartnership& partnership) {
  Key key;
  if (Status status = OpenKey(Machine::Desktop, HKEY_CURRENT_USER, kDesktopKey, true, &key);
      !status.ok()) {
    return status;
  }
  if (Status status =
          WriteValue(key.get(), u"Key", REG_BINARY, partnership.key.data(), partnership.key.size());
      !status.ok()) {
    return status;
  }
  if (Status status = WriteText(key.get(), u"Partner", Utf8ToUtf16(partnership.partnerId));
      !status.ok()) {
    return status;
  }
  return WriteText(key.get(), u"Address", Utf8ToUtf16(partnership.address.ToString()));
}

Status LoadDesktopPartnership(DesktopPartnership* partnership) {
  Key key;
  if (Status status = OpenKey(Machine::Desktop, HKEY_CURRENT_USER, kDesktopKey, false, &key);
      !status.ok()) {
    if (status.code() == StatusCode::kNotFound) {
      return Status(StatusCode::kNotFound,
                    "this desktop is not paired with a handheld; run 'tbm-devicelink pair' on "
                    "the handheld and 'tbm-rapi pair HOST:PORT CODE' here");
    }
    return status;
  }
  DesktopPartnership loaded;
  std::u16string partner, address;
  Status status = ReadKey(key.get(), &loaded.key);
  if (status.ok()) status = ReadText(key.get(), u"Partner", &partner);
  if (status.ok()) status = ReadText(key.get(), u"Address", &address);
  if (status.ok()) status = ParseEndpoint(Utf16ToUtf8(address), &loaded.address);
  if (!status.ok()) return status.WithContext("the desktop's partnership");
  loaded.partnerId = Utf16ToUtf8(partner);
  *partnership = std::move(loaded);
  return Status();
}

}  // namespace tbm::rapi
