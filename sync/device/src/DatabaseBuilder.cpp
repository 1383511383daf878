// Building a database's content through the engine's table layer.
#include "DatabaseBuilder.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "LittleEndian.h"
#include "MDbBlocks.h"

namespace tbm::sync {

namespace {

// The marker byte and starting words of a new attribute block.
constexpr std::size_t kAttrMarker = 4;
constexpr std::array<std::uint32_t, 4> kStartWords = {0, 0, 3584, 0x00030001};

constexpr std::size_t kKeyBytes = 16;

// Keys are equal when their length bytes and that many bytes agree; a
// length byte beyond the slot counts as the whole slot.
bool SameKey(const MDbCountedBytes<kKeyBytes>& a, const MDbCountedBytes<kKeyBytes>& b) {
  if (a[0] != b[0]) return false;
  const std::size_t length = std::min<std::size_t>(a[0], kKeyBytes - 1);
  return std::memcmp(a.data() + 1, b.data() + 1, length) == 0;
}

struct ExistingField {
  MDbCountedBytes<kKeyBytes> key{};
  std::uint8_t listSettings[MDbOptionExBytes];
};

// The keys and extended option blocks of the fields the database holds;
// reading stops at the first field that cannot be read.
std::vector<ExistingField> ReadExistingFields(MDbEnv* env) {
  std::vector<ExistingField> fields;
  MDbSchemaTbl schema{};
  MDbFieldOpTbl options{};
  if (MDbSchemaTblOpen(env, &env->ref, &schema) != MDbErrNone) return fields;
  if (MDbFieldOpTblOpen(env, &env->ref, &options, 0) == MDbErrNone) {
    std::uint16_t count = 0;
    MDbSchemaTblGetCount(env, &env->ref, &schema, &count);
    for (std::uint16_t f = 0; f < count; ++f) {
      std::uint8_t info[MDbFieldInfoBytes];
      ExistingField field{};
      if (MDbSchemaTblReadFldInfo(env, &env->ref, &schema, static_cast<std::int16_t>(f), info) !=
              MDbErrNone ||
          MDbFieldOpTblReadOptionEx(env, &env->ref, &options, static_cast<std::int16_t>(f),
                                    field.listSettings) != MDbErrNone) {
        break;
      }
      field.key = MDbDecodeFieldInfo(info).key;
      fields.push_back(field);
    }
    MDbFieldOpTblClose(env, &env->ref, &options);
  }
  MDbSchemaTblClose(env, &env->ref, &schema);
  return fields;
}

}  // namespace

std::array<std::uint8_t, 16> FieldKey(std::string_view bytes) {
  std::array<std::uint8_t, 16> key{};
  const std::size_t length = std::min<std::size_t>(bytes.size(), kKeyBytes - 1);
  key[0] = static_cast<std::uint8_t>(length);
  std::memcpy(key.data() + 1, bytes.data(), length);
  return key;
}

std::array<std::uint8_t, MDbDateFormatBytes> MakeDateFormat(char16_t separator, std::uint8_t order,
                                                            bool twoDigitMonth, bool twoDigitDay,
                                                            bool preferTyped) {
  std::array<std::uint8_t, MDbDateFormatBytes> block{};
  MDbEncodeDateFormat({separator, order, twoDigitMonth, twoDigitDay, preferTyped}, block.data());
  return block;
}

std::array<std::uint8_t, MDbTimeFormatBytes> MakeTimeFormat(char16_t separator,
                                                            std::u16string_view morning,
                                                            std::u16string_view afternoon,
                                                            std::u16string_view twentyFour,
                                                            bool leadingZero, bool twelveHour) {
  std::array<std::uint8_t, MDbTimeFormatBytes> block{};
  MDbEncodeTimeFormat({separator, std::u16string(morning), std::u16string(afternoon),
                       std::u16string(twentyFour), leadingZero, twelveHour},
                      block.data());
  return block;
}

std::array<std::uint8_t, MDbAttrBytes> NewAttributeBlock(const DatabaseFormats& formats) {
  MDbAttributes attrs;
  attrs.lead[kAttrMarker] = 1;
  attrs.words = kStartWords;
  attrs.dateFormat = formats.date;
  attrs.timeFormat = formats.time;
  std::array<std::uint8_t, MDbAttrBytes> block{};
  MDbEncodeAttributes(attrs, block.data());
  return block;
}

// Runs one step as a single change: what it writes becomes durable
// together, so a step cut short by a killed process leaves what the step
// replaces as it was.
template <typename Step>
std::int32_t AsOneChange(MDbEnv* env, Step step) {
  std::int32_t rc = MDbBeginWriteBatch(env);
  if (rc != MDbErrNone) return rc;
  rc = step();
  const std::int32_t ended = MDbEndWriteBatch(env, 1);
  return rc != MDbErrNone ? rc : ended;
}

std::int32_t MarkConsistent(MDbEnv* env, bool consistent) {
  return MDbWriteChecksome(env, &env->ref, consistent ? 1 : 0);
}

std::int32_t ReplaceSchema(MDbEnv* env, std::span<const FieldSpec> fields, bool keepListSettings,
                           bool* unchanged) {
  if (fields.size() > 0x7FFF) return MDbErrFailed;
  const auto count = static_cast<std::int16_t>(fields.size());
  const std::vector<ExistingField> existing =
      keepListSettings ? ReadExistingFields(env) : std::vector<ExistingField>{};

  std::vector<std::uint8_t> infos(fields.size() * MDbFieldInfoBytes, 0);
  std::vector<std::uint8_t> options(fields.size() * MDbOptionEntryBytes, 0);
  std::vector<const char16_t*> names(fields.size());
  bool same = existing.size() == fields.size();
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const FieldSpec& field = fields[i];
    MDbFieldInfo info;
    info.type = field.type >= MDbFieldText && field.type <= MDbFieldTime ? field.type : 0;
    info.key = field.key;
    MDbEncodeFieldInfo(info, infos.data() + i * MDbFieldInfoBytes);
    names[i] = field.name.c_str();

    std::uint8_t* option = options.data() + i * MDbOptionEntryBytes;
    MDbEncodeFieldOption(
        {field.optionWord1, field.optionWord2, static_cast<std::uint16_t>(field.valueList)},
        option);
    std::uint8_t* listSettings = option + MDbOptionBytes;
    MDbFieldOpTblGetDefOptionEx(listSettings, static_cast<std::uint8_t>(i), count);
    for (const ExistingField& old : existing) {
      if (SameKey(old.key, info.key)) {
        std::memcpy(listSettings, old.listSettings, MDbOptionExBytes);
        break;
      }
    }
    if (same && !SameKey(existing[i].key, info.key)) same = false;
  }
  if (unchanged) *unchanged = same;

  return AsOneChange(env, [&] {
    std::int32_t rc = MDbSchemaTblDelete(env, &env->ref);
    if (rc == MDbErrNone) rc = MDbFieldOpTblDelete(env, &env->ref);
    if (rc == MDbErrNone)
      rc = MDbSchemaTblCreateEx(env, &env->ref, infos.data(), names.data(), count);
    if (rc == MDbErrNone) rc = MDbFieldOpTblCreateEx(env, &env->ref, options.data(), count);
    return rc;
  });
}

std::int32_t ReplaceAttributes(MDbEnv* env, const std::array<std::uint8_t, MDbAttrBytes>& block,
                               std::u16string_view name) {
  const std::u16string terminated(name);
  return AsOneChange(env, [&] {
    std::int32_t rc = MDbAttrTblDelete(env, &env->ref);
    if (rc == MDbErrNone) rc = MDbAttrTblCreateEx(env, &env->ref, block.data(), terminated.c_str());
    return rc;
  });
}

std::int32_t ReplaceValueLists(MDbEnv* env, std::span<const std::u16string> lists) {
  if (lists.size() > 0x7FFF) return MDbErrFailed;
  std::vector<const char16_t*> texts;
  for (const std::u16string& list : lists) texts.push_back(list.c_str());
  return AsOneChange(env, [&] {
    std::int32_t rc = MDbValListTblDelete(env, &env->ref);
    if (rc == MDbErrNone) {
      rc = MDbValListTblCreateEx(env, &env->ref, texts.data(),
                                 static_cast<std::int16_t>(texts.size()));
    }
    return rc;
  });
}

std::int32_t EmptyRecords(MDbEnv* env) {
  std::int32_t rc = AsOneChange(env, [&] {
    MDbDataTblDelete(env, &env->ref, nullptr);  // nothing to delete is fine
    return MDbDataTblCreate(env, &env->ref, nullptr);
  });
  MDbDataTbl data{};
  if (rc == MDbErrNone) rc = MDbDataTblOpen(env, &env->ref, &data, nullptr);
  if (rc == MDbErrNone) rc = MDbDataTblClose(env, &env->ref, &data);
  return rc;
}

std::int32_t RecordLoader::Start() {
  if (started_) return MDbErrFailed;
  // The records go in as one change, made durable by Finish.
  std::int32_t rc = MDbBeginWriteBatch(env_);
  if (rc != MDbErrNone) return rc;
  batched_ = true;
  rc = MDbSchemaTblOpen(env_, &env_->ref, &env_->schema);
  if (rc != MDbErrNone) {
    Finish();
    return rc;
  }
  if (MDbDataTblOpen(env_, &env_->ref, &env_->data, nullptr) != MDbErrNone) {
    // A new database has no data tables yet.
    rc = MDbDataTblCreate(env_, &env_->ref, nullptr);
    if (rc == MDbErrNone) rc = MDbDataTblOpen(env_, &env_->ref, &env_->data, nullptr);
  }
  if (rc == MDbErrNone) rc = StartCreationSeqCache(env_, &env_->ref, &env_->data);
  std::uint16_t count = 0;
  if (rc == MDbErrNone) rc = MDbSchemaTblGetCount(env_, &env_->ref, &env_->schema, &count);
  maxSizes_.assign(count, 0);
  MDbGetFieldMaxSize(MDbFieldText, count, &textMaxSize_);
  for (std::uint16_t f = 0; rc == MDbErrNone && f < count; ++f) {
    std::uint8_t type = 0;
    rc = MDbSchemaTblReadFldType(env_, &env_->ref, &env_->schema, static_cast<std::int16_t>(f),
                                 &type);
    if (rc == MDbErrNone) MDbGetFieldMaxSize(type, count, &maxSizes_[f]);
  }
  started_ = true;
  if (rc != MDbErrNone) Finish();
  return rc;
}

std::uint32_t RecordLoader::MaxChars(int field) const {
  if (field < 0 || static_cast<std::size_t>(field) >= maxSizes_.size()) return 0;
  const std::uint32_t size = maxSizes_[static_cast<std::size_t>(field)];
  return size == 0 ? 0 : size - 1;
}

std::uint32_t RecordLoader::CopyMaxChars() const {
  return textMaxSize_ == 0 ? 0 : textMaxSize_ - 1;
}

int RecordLoader::FirstTooLong(std::span<const char16_t* const> values) const {
  for (std::size_t f = 0; f < values.size() && f < maxSizes_.size(); ++f) {
    if (maxSizes_[f] == 0 || values[f] == nullptr) continue;
    if (std::char_traits<char16_t>::length(values[f]) > CopyMaxChars()) {
      return static_cast<int>(f);
    }
  }
  return -1;
}

std::int32_t RecordLoader::Add(const std::uint8_t identity[MDbIdentityBytes],
                               std::span<const char16_t* const> values) {
  if (!started_ || values.size() > 0x7FFF) return MDbErrFailed;
  const std::int32_t rc =
      MDbDataTblAddRec(env_, &env_->ref, &env_->data, identity, values.data(),
                       static_cast<std::int16_t>(values.size()), 1, nullptr, nullptr);
  if (rc == MDbErrNone) ++added_;
  return rc;
}

std::int32_t RecordLoader::Finish() {
  std::int32_t rc = MDbErrNone;
  if (batched_ && !started_) {
    batched_ = false;
    return MDbEndWriteBatch(env_, 1);
  }
  if (!started_) return MDbErrNone;
  started_ = false;
  if (MDbDataTblIsOpened(env_, &env_->ref, &env_->data)) {
    rc = EndCreationSeqCache(env_, &env_->ref, &env_->data);
    const std::int32_t closed = MDbDataTblClose(env_, &env_->ref, &env_->data);
    if (rc == MDbErrNone) rc = closed;
  }
  if (MDbSchemaTblIsOpened(env_, &env_->ref, &env_->schema)) {
    MDbSchemaTblClose(env_, &env_->ref, &env_->schema);
  }
  if (batched_) {
    batched_ = false;
    const std::int32_t ended = MDbEndWriteBatch(env_, 1);
    if (rc == MDbErrNone) rc = ended;
  }
  return rc;
}

}  // namespace tbm::sync
