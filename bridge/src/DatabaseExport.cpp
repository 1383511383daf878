#include "DatabaseExport.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>

#include "ExchangeFile.h"
#include "ExportRules.h"
#include "StoredSettings.h"

namespace tbm::bridge {
namespace {

// The fields of the copy and where their texts come from.
struct ExportPlan {
  sync::ExchangeLayout layout;
  std::vector<std::int32_t> hostFields;     // per descriptor
  std::vector<std::string> valueListNames;  // host form, in order of first use
};

std::string NameOf(const char* slot, std::size_t slotBytes) {
  return std::string(slot, strnlen(slot, slotBytes));
}

// The descriptors of the chosen fields and the value lists they use.
Status PlanFields(const SyncContext& context, TBDatabase db, const SyncSettings& settings,
                  const FieldSettings& fieldSettings, ExportPlan* plan) {
  const TBHostServices& host = context.host.services();
  for (const std::string& key : settings.fieldKeys) {
    std::optional<std::int32_t> field;
    if (Status status = context.host.FieldByKey(db, key, &field); !status.ok()) return status;
    if (!field) {
      return Status(StatusCode::kNotFound,
                    "a chosen field's key names no field any more; the database changed while "
                    "it was exported");
    }
    sync::FieldDescriptor descriptor;
    const std::int32_t type = host.fieldType(db, *field);
    if (type < 0) return context.host.Failure("reading a field's type", type);
    descriptor.type = static_cast<std::int16_t>(type >= 1 && type <= 4 ? type : 0);
    std::string name;
    if (Status status = context.host.FieldName(db, *field, &name); !status.ok()) return status;
    descriptor.name = context.form.ToExchange(name);
    descriptor.key = key;
    if (const FieldSetting* setting = fieldSettings.Find(key)) {
      descriptor.optionWord1 = static_cast<std::int16_t>(setting->optionFlags);
      descriptor.optionWord2 = static_cast<std::int16_t>(setting->displayStyle);
      if (!setting->valueListName.empty()) {
        std::size_t index = 0;
        while (index < plan->valueListNames.size() &&
               plan->valueListNames[index] != setting->valueListName) {
          ++index;
        }
        if (index == plan->valueListNames.size()) {
          plan->valueListNames.push_back(setting->valueListName);
        }
        descriptor.valueListIndex = static_cast<std::int16_t>(index);
      }
    }
    plan->layout.fields.push_back(std::move(descriptor));
    plan->hostFields.push_back(*field);
  }
  plan->layout.valueListCount = static_cast<std::int16_t>(plan->valueListNames.size());
  return Status();
}

// The header: name, counts, and the database's date and time formats.
Status FillHeader(const SyncContext& context, TBDatabase db, std::int32_t recordCount,
                  ExportPlan* plan) {
  sync::ExchangeHeader& header = plan->layout.header;
  std::string name;
  if (Status status = context.host.DatabaseName(db, &name); !status.ok()) return status;
  header.name = context.form.ToExchange(name);
  header.fieldCount = static_cast<std::int32_t>(plan->layout.fields.size());
  header.recordCount = std::min(recordCount, kExportRecordLimit);
  header.fullRecordCount = recordCount;

  TBDateTimeFormat format{};
  if (Status status = context.host.Check("reading the database's date and time formats",
                                         context.host.services().dateTimeFormat(db, &format));
      !status.ok()) {
    return status;
  }
  const HostTextForm& form = context.form;
  header.dateSeparator = form.ToExchange(format.dateSeparator);
  header.dateOrder = format.dateOrder;
  header.twoDigitMonth = format.twoDigitMonth != 0;
  header.twoDigitDay = format.twoDigitDay != 0;
  header.preferTypedSeparator = format.preferTypedSeparator != 0;
  header.timeSeparator = form.ToExchange(format.timeSeparator);
  header.morningSuffix = form.ToExchange(NameOf(format.morningSuffix, sizeof format.morningSuffix));
  header.afternoonSuffix =
      form.ToExchange(NameOf(format.afternoonSuffix, sizeof format.afternoonSuffix));
  header.twentyFourSuffix =
      form.ToExchange(NameOf(format.twentyFourSuffix, sizeof format.twentyFourSuffix));
  header.leadingZero = format.leadingZero != 0;
  header.twelveHourClock = format.twelveHourClock != 0;
  return Status();
}

// The value lists' texts in exchange form; those past the budget empty. A
// list the database no longer has travels empty.
Status ReadValueLists(const SyncContext& context, TBDatabase db, const ExportPlan& plan,
                      std::vector<std::string>* texts) {
  std::vector<std::string> lists;
  std::vector<std::size_t> lengths;
  for (const std::string& name : plan.valueListNames) {
    std::string text;
    bool found = false;
    if (Status status = context.host.ValueListText(db, name, &text, &found); !status.ok()) {
      return status;
    }
    lists.push_back(context.form.ToExchange(text));
    lengths.push_back(lists.back().size());
  }
  for (std::size_t i = FirstValueListLeftEmpty(lengths); i < lists.size(); ++i) lists[i].clear();
  *texts = std::move(lists);
  return Status();
}

// Record n (from 1) of the chosen selection: its header and texts, or a
// header without texts when a text is longer than the limit.
Status ReadRecord(const SyncContext& context, TBDatabase db, std::int32_t n, const ExportPlan& plan,
                  sync::RecordHeader* header, std::vector<std::string>* values) {
  const TBHostServices& host = context.host.services();
  const std::string where = "record " + std::to_string(n);
  if (Status status = context.host.Check("going to " + where, host.goToRecord(db, n));
      !status.ok()) {
    return status;
  }
  TBRecordIdentity identity{};
  if (Status status = context.host.Check("reading the identity of " + where,
                                         host.recordIdentity(db, &identity));
      !status.ok()) {
    return status;
  }
  // The identity travels as a counted string of at most 7 bytes and comes
  // back in that form; one that does not fit would come back as another
  // record's identity, or none.
  const std::size_t length = identity.bytes[0];
  bool travels = length <= sync::kMaxIdentityStringBytes;
  for (std::size_t i = length + 1; travels && i < sizeof identity.bytes; ++i) {
    travels = identity.bytes[i] == 0;
  }
  if (!travels) {
    return Status(StatusCode::kFailed, where +
                                           ": the host's record identity is not a counted "
                                           "string of at most 7 bytes, so it cannot travel to "
                                           "the handheld and back");
  }
  const std::int32_t count = host.modificationCount(db);
  if (count < 0) return context.host.Failure("reading the modification count of " + where, count);
  if (count > 0xFFFF) {
    return Status(StatusCode::kFailed,
                  where + ": the modification count " + std::to_string(count) + " is above 65535");
  }

  sync::RecordHeader read;
  std::copy(std::begin(identity.bytes), std::end(identity.bytes), read.identity.begin());
  read.identity[8] = static_cast<std::uint8_t>(count & 0xFF);
  read.identity[9] = static_cast<std::uint8_t>(count >> 8);
  read.changeCode = sync::kChangeNew;

  const std::size_t limit = TextLimitFor(plan.hostFields.size());
  std::vector<std::string> texts;
  for (const std::int32_t field : plan.hostFields) {
    std::string text;
    if (Status status = context.host.FieldText(db, field, &text); !status.ok()) {
      return status.WithContext(where);
    }
    if (text.size() > limit) {
      read.changeCode = sync::kChangeUnchanged;
      read.noValues = true;
      texts.clear();
      break;
    }
    texts.push_back(context.form.ToExchange(text));
  }
  *header = read;
  *values = std::move(texts);
  return Status();
}

// Writes the whole file through writer.
Status WriteCopy(const SyncContext& context, TBDatabase db, const ExportPlan& plan,
                 sync::ExchangeWriter& writer) {
  if (Status status = writer.WriteLayout(plan.layout); !status.ok()) return status;
  if (plan.layout.valueListCount > 0) {
    std::vector<std::string> lists;
    if (Status status = ReadValueLists(context, db, plan, &lists); !status.ok()) return status;
    if (Status status = writer.WriteValueLists(lists); !status.ok()) return status;
  }
  for (std::int32_t n = 1; n <= plan.layout.header.recordCount; ++n) {
    sync::RecordHeader header;
    std::vector<std::string> values;
    if (Status status = ReadRecord(context, db, n, plan, &header, &values); !status.ok()) {
      return status;
    }
    if (Status status = writer.WriteRecord(header, values); !status.ok()) return status;
  }
  return writer.Finish();
}

}  // namespace

Status ExportDatabase(const SyncContext& context, TBDatabase db, const std::string& folder) {
  const std::string path = (std::filesystem::path(folder) / kDesktopCopyFile).string();
  const std::string partial = path + ".partial";
  // A copy from before must not be taken for this one if this one fails.
  if (std::remove(path.c_str()) != 0 && errno != ENOENT) {
    return Status(StatusCode::kIoFailed,
                  "cannot remove the old " + path + ": " + std::strerror(errno));
  }

  if ((context.host.SyncFlags(db) & kFlagSynchronises) == 0) {
    return Status(StatusCode::kInvalidArgument,
                  "the database does not take part in synchronisation (its TBCP flags lack bit "
                  "9)");
  }
  SyncSettings settings;
  FieldSettings fieldSettings;
  if (Status status = LoadSettings(context.host, db, &settings, &fieldSettings); !status.ok()) {
    return status;
  }
  const TBHostServices& host = context.host.services();
  std::int32_t count = host.chooseSelection(db, settings.recordSelection == sync::kSelectAllRecords
                                                    ? TB_SELECTION_ALL
                                                    : TB_SELECTION_CURRENT);
  if (count == 0 && settings.recordSelection != sync::kSelectAllRecords) {
    count = host.chooseSelection(db, TB_SELECTION_ALL);
  }
  if (count < 0) return context.host.Failure("choosing the records to export", count);

  ExportPlan plan;
  if (Status status = PlanFields(context, db, settings, fieldSettings, &plan); !status.ok()) {
    return status;
  }
  if (Status status = FillHeader(context, db, count, &plan); !status.ok()) return status;

  sync::HostFileSink sink(partial);
  if (!sink.ok()) {
    return Status(StatusCode::kIoFailed, "the copy for the handheld: " + sink.FailureReason());
  }
  sync::ExchangeWriter writer(sink, context.codePage);
  Status status = WriteCopy(context, db, plan, writer);
  if (!sink.Close() && status.ok()) {
    status = Status(StatusCode::kWriteFailed,
                    "the copy for the handheld could not be written: " + sink.FailureReason());
  }
  if (status.ok() && std::rename(partial.c_str(), path.c_str()) != 0) {
    status = Status(StatusCode::kIoFailed,
                    "cannot rename " + partial + " to " + path + ": " + std::strerror(errno));
  }
  if (!status.ok()) std::remove(partial.c_str());
  return status;
}

}  // namespace tbm::bridge
