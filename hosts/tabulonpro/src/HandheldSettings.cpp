#include "HandheldSettings.h"

namespace tbm::tabulonpro {

namespace {

constexpr std::size_t kKeySlotBytes = 16;
constexpr std::size_t kHandheldHeaderBytes = 12;
constexpr std::size_t kFieldSettingsHeaderBytes = 6;
constexpr std::size_t kSettingKeyAt = 68;
constexpr std::size_t kSettingListAt = 84;

void PutBig(std::string* bytes, std::size_t at, std::uint32_t value, int width) {
  for (int i = 0; i < width; ++i) {
    (*bytes)[at + static_cast<std::size_t>(i)] =
        static_cast<char>((value >> (8 * (width - 1 - i))) & 0xFF);
  }
}

std::uint32_t GetBig(std::string_view bytes, std::size_t at, int width) {
  std::uint32_t value = 0;
  for (int i = 0; i < width; ++i) {
    value = (value << 8) | static_cast<std::uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
  }
  return value;
}

Status PutCounted(std::string* bytes, std::size_t at, std::string_view text, std::size_t most,
                  std::string_view what) {
  if (text.size() > most) {
    return Status(StatusCode::kInvalidArgument, std::string(what) + " '" + std::string(text) +
                                                    "' has " + std::to_string(text.size()) +
                                                    " bytes; its slot holds at most " +
                                                    std::to_string(most));
  }
  (*bytes)[at] = static_cast<char>(text.size());
  bytes->replace(at + 1, text.size(), text);
  return {};
}

Status GetCounted(std::string_view bytes, std::size_t at, std::size_t most, std::string_view what,
                  std::string* text) {
  const std::size_t length = static_cast<std::uint8_t>(bytes[at]);
  if (length > most) {
    return Status(StatusCode::kBadCountedString,
                  std::string(what) + " at byte " + std::to_string(at) + " says " +
                      std::to_string(length) + " bytes; its slot holds at most " +
                      std::to_string(most));
  }
  *text = std::string(bytes.substr(at + 1, length));
  return {};
}

}  // namespace

Status EncodeHandheldSettings(const HandheldSettings& settings, std::string* bytes) {
  if (settings.fieldKeys.size() > kMaxHandheldFields) {
    return Status(StatusCode::kInvalidArgument,
                  std::to_string(settings.fieldKeys.size()) +
                      " fields are chosen for the handheld; it takes at most " +
                      std::to_string(kMaxHandheldFields));
  }
  std::string out(kHandheldSettingsBytes, '\0');
  PutBig(&out, 0, static_cast<std::uint16_t>(settings.version), 2);
  PutBig(&out, 2, static_cast<std::uint32_t>(settings.selection), 4);
  PutBig(&out, 6, static_cast<std::uint32_t>(settings.conflictRule), 4);
  PutBig(&out, 10, static_cast<std::uint16_t>(settings.fieldKeys.size()), 2);
  for (std::size_t i = 0; i < settings.fieldKeys.size(); ++i) {
    if (Status s = PutCounted(&out, kHandheldHeaderBytes + i * kKeySlotBytes, settings.fieldKeys[i],
                              kMaxKeyBytes, "the field key");
        !s.ok()) {
      return s;
    }
  }
  *bytes = std::move(out);
  return {};
}

Status DecodeHandheldSettings(std::string_view bytes, HandheldSettings* settings) {
  if (bytes.size() != kHandheldSettingsBytes && bytes.size() != kOldHandheldSettingsBytes) {
    return Status(StatusCode::kBadLength, "the handheld settings \"QZP1\" have " +
                                              std::to_string(bytes.size()) +
                                              " bytes; they have 812 (or 492 in the older form)");
  }
  const std::size_t slots = (bytes.size() - kHandheldHeaderBytes) / kKeySlotBytes;
  HandheldSettings read;
  read.version = static_cast<std::int16_t>(GetBig(bytes, 0, 2));
  read.selection = static_cast<std::int32_t>(GetBig(bytes, 2, 4));
  read.conflictRule = static_cast<std::int32_t>(GetBig(bytes, 6, 4));
  const auto count = static_cast<std::int16_t>(GetBig(bytes, 10, 2));
  if (count < 0 || static_cast<std::size_t>(count) > slots) {
    return Status(StatusCode::kBadCount, "the handheld settings \"QZP1\" name " +
                                             std::to_string(count) + " fields; they hold 0 to " +
                                             std::to_string(slots));
  }
  for (std::size_t i = 0; i < static_cast<std::size_t>(count); ++i) {
    std::string key;
    if (Status s = GetCounted(bytes, kHandheldHeaderBytes + i * kKeySlotBytes, kMaxKeyBytes,
                              "a field key of \"QZP1\"", &key);
        !s.ok()) {
      return s;
    }
    read.fieldKeys.push_back(std::move(key));
  }
  *settings = std::move(read);
  return {};
}

Status EncodeFieldSettings(const std::vector<FieldSetting>& settings, std::string* bytes) {
  std::string out(kFieldSettingsHeaderBytes + settings.size() * kFieldSettingBytes, '\0');
  PutBig(&out, 0, 1, 2);
  PutBig(&out, 2, static_cast<std::uint32_t>(settings.size()), 4);
  for (std::size_t i = 0; i < settings.size(); ++i) {
    const std::size_t at = kFieldSettingsHeaderBytes + i * kFieldSettingBytes;
    const FieldSetting& setting = settings[i];
    PutBig(&out, at, setting.flags, 2);
    PutBig(&out, at + 2, setting.style, 2);
    if (Status s = PutCounted(&out, at + kSettingKeyAt, setting.key, kMaxKeyBytes, "the field key");
        !s.ok()) {
      return s;
    }
    if (Status s = PutCounted(&out, at + kSettingListAt, setting.valueList, kMaxValueListNameBytes,
                              "the value list's name");
        !s.ok()) {
      return s;
    }
  }
  *bytes = std::move(out);
  return {};
}

Status DecodeFieldSettings(std::string_view bytes, std::vector<FieldSetting>* settings) {
  if (bytes.size() < kFieldSettingsHeaderBytes) {
    return Status(StatusCode::kBadLength, "the field settings \"QZP2\" have " +
                                              std::to_string(bytes.size()) +
                                              " bytes, fewer than their 6-byte header");
  }
  const std::uint32_t count = GetBig(bytes, 2, 4);
  const std::size_t room = (bytes.size() - kFieldSettingsHeaderBytes) / kFieldSettingBytes;
  if (count > room) {
    return Status(StatusCode::kBadCount,
                  "the field settings \"QZP2\" say " + std::to_string(count) + " settings; their " +
                      std::to_string(bytes.size()) + " bytes hold " + std::to_string(room));
  }
  std::vector<FieldSetting> read;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = kFieldSettingsHeaderBytes + i * kFieldSettingBytes;
    FieldSetting setting;
    setting.flags = static_cast<std::uint16_t>(GetBig(bytes, at, 2));
    setting.style = static_cast<std::uint16_t>(GetBig(bytes, at + 2, 2));
    if (Status s = GetCounted(bytes, at + kSettingKeyAt, kMaxKeyBytes, "a field key of \"QZP2\"",
                              &setting.key);
        !s.ok()) {
      return s;
    }
    if (Status s = GetCounted(bytes, at + kSettingListAt, kMaxValueListNameBytes,
                              "a value list's name in \"QZP2\"", &setting.valueList);
        !s.ok()) {
      return s;
    }
    read.push_back(std::move(setting));
  }
  *settings = std::move(read);
  return {};
}

}  // namespace tbm::tabulonpro
