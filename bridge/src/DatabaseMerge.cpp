#include "DatabaseMerge.h"

#include <filesystem>
#include <optional>
#include <vector>

#include "BridgeLog.h"
#include "ExchangeFile.h"
#include "MergeRules.h"
#include "SetAsideFile.h"
#include "StoredSettings.h"

namespace tbm::bridge {
namespace {

// The host field each handheld field goes into.
using FieldTargets = std::vector<std::int32_t>;

void LogFailure(const Status& status) { LogBridge(LogLevel::kError, "merge: " + status.message()); }

// Whether every handheld field names, by its key, a host field of the
// same type or a text field. *targets receives the host fields when it
// does.
Status CheckLayout(const SyncContext& context, TBDatabase db,
                   const std::vector<sync::FieldDescriptor>& fields, bool* fits,
                   FieldTargets* targets) {
  FieldTargets found;
  for (const sync::FieldDescriptor& descriptor : fields) {
    std::optional<std::int32_t> field;
    if (Status status = context.host.FieldByKey(db, descriptor.key, &field); !status.ok()) {
      return status;
    }
    if (!field) {
      *fits = false;
      return Status();
    }
    const std::int32_t type = context.host.services().fieldType(db, *field);
    if (type < 0) return context.host.Failure("reading a field's type", type);
    const std::int16_t filtered = static_cast<std::int16_t>(type >= 1 && type <= 4 ? type : 0);
    if (filtered != descriptor.type && type != TB_FIELD_TEXT) {
      *fits = false;
      return Status();
    }
    found.push_back(*field);
  }
  *fits = true;
  *targets = std::move(found);
  return Status();
}

// Reads the current record's texts of the target fields.
Status ReadTexts(const SyncContext& context, TBDatabase db, const FieldTargets& targets,
                 std::vector<std::string>* texts) {
  std::vector<std::string> read(targets.size());
  for (std::size_t i = 0; i < targets.size(); ++i) {
    if (Status status = context.host.FieldText(db, targets[i], &read[i]); !status.ok()) {
      return status;
    }
  }
  *texts = std::move(read);
  return Status();
}

// Writes texts into the current record in one edit. When a write fails,
// the fields written so far get back what they held (previous), so the
// record is left as it was; a record made for this merge (previous null)
// is deleted again.
Status WriteTexts(const SyncContext& context, TBDatabase db, const FieldTargets& targets,
                  const std::vector<std::string>& texts, const std::vector<std::string>* previous) {
  const HostCalls& host = context.host;
  const TBHostServices& services = host.services();
  auto discardNew = [&] {
    if (previous == nullptr) services.deleteRecord(db);
  };
  if (Status status = host.Check("beginning an edit", services.beginEdit(db)); !status.ok()) {
    discardNew();
    return status;
  }
  Status failure;
  std::size_t written = 0;
  for (; written < targets.size(); ++written) {
    const std::string& text = texts[written];
    failure = host.Check("writing field " + std::to_string(written + 1),
                         services.writeFieldText(db, targets[written], text.data(),
                                                 static_cast<std::int32_t>(text.size())));
    if (!failure.ok()) break;
  }
  if (!failure.ok() && previous != nullptr) {
    for (std::size_t i = 0; i < written; ++i) {
      const std::string& text = (*previous)[i];
      services.writeFieldText(db, targets[i], text.data(), static_cast<std::int32_t>(text.size()));
    }
  }
  if (Status status = host.Check("committing an edit", services.commitEdit(db));
      !status.ok() && failure.ok()) {
    failure = status;
  }
  if (!failure.ok()) discardNew();
  return failure;
}

// Merges one handheld record. *flags gains what the record met.
Status MergeRecord(const SyncContext& context, TBDatabase db, const FieldTargets& targets,
                   std::int32_t conflictRule, const sync::ExchangeRecord& record,
                   std::uint16_t* flags) {
  const HostCalls& host = context.host;
  const TBHostServices& services = host.services();
  const sync::RecordHeader& header = record.header;
  const bool writes =
      header.changeCode == sync::kChangeNew || header.changeCode == sync::kChangeModified;
  if (writes && header.noValues) {
    return Status(StatusCode::kCorrupt, "the handheld sent a new or changed record without texts");
  }
  std::vector<std::string> texts;
  for (const std::string& value : record.values) texts.push_back(context.form.ToHost(value));

  MergeSituation situation;
  situation.changeCode = header.changeCode;
  situation.conflictRule = conflictRule;
  if (header.changeCode == sync::kChangeDeleted || header.changeCode == sync::kChangeModified) {
    TBRecordIdentity identity{};
    std::copy(header.identity.begin(), header.identity.begin() + sizeof identity.bytes,
              identity.bytes);
    const std::int32_t found = services.findRecord(db, &identity);
    if (found < 0 && found != TB_ERR_NOT_FOUND) {
      return host.Failure("finding the host record", found);
    }
    situation.hostRecordFound = found >= 0;
    if (situation.hostRecordFound) {
      const std::int32_t count = services.modificationCount(db);
      if (count < 0) return host.Failure("reading the modification count", count);
      situation.modificationCountEqual = count == (header.identity[8] | header.identity[9] << 8);
    }
  }
  std::vector<std::string> hostTexts;
  if (MergeNeedsTextComparison(situation)) {
    if (Status status = ReadTexts(context, db, targets, &hostTexts); !status.ok()) return status;
    situation.textsEqual = hostTexts == texts;
  }

  const MergeDecision decision = DecideMerge(situation);
  *flags |= decision.flags;
  switch (decision.action) {
    case MergeAction::kNothing:
      return Status();
    case MergeAction::kCreate:
      if (Status status = host.Check("creating a record", services.createRecord(db));
          !status.ok()) {
        return status;
      }
      return WriteTexts(context, db, targets, texts, nullptr);
    case MergeAction::kDelete:
      return host.Check("deleting a record", services.deleteRecord(db));
    case MergeAction::kWriteInto:
      if (hostTexts.empty() && !targets.empty()) {
        if (Status status = ReadTexts(context, db, targets, &hostTexts); !status.ok()) {
          return status;
        }
      }
      return WriteTexts(context, db, targets, texts, &hostTexts);
    case MergeAction::kDuplicateAndWrite:
      if (Status status = host.Check("duplicating a record", services.duplicateRecord(db));
          !status.ok()) {
        return status;
      }
      return WriteTexts(context, db, targets, texts, nullptr);
  }
  return Status();
}

// Appends the file's records that carry texts to the set-aside file. False
// when any could not be read or written.
bool SetAsideRecords(const SyncContext& context, sync::ExchangeReader& reader,
                     const std::string& handheldName, const std::string& folder) {
  std::string fileName;
  if (Status status = SetAsideFileName(handheldName, context.codePage, &fileName); !status.ok()) {
    LogFailure(status);
    return false;
  }
  const std::string path = (std::filesystem::path(folder) / fileName).string();
  SetAsideFile file;
  bool opened = false;
  for (std::int32_t n = 1; reader.recordsLeft() > 0; ++n) {
    sync::ExchangeRecord record;
    if (Status status = reader.ReadRecord(&record); !status.ok()) {
      LogFailure(status);
      return false;
    }
    if (record.header.noValues) continue;
    if (!opened) {
      if (Status status = file.Open(path); !status.ok()) {
        LogFailure(status);
        return false;
      }
      opened = true;
    }
    if (Status status = file.Append(record.values); !status.ok()) {
      LogFailure(status.WithContext("record " + std::to_string(n)));
      return false;
    }
  }
  if (Status status = file.Close(); !status.ok()) {
    LogFailure(status);
    return false;
  }
  if (opened)
    LogBridge(LogLevel::kWarning, "merge: the handheld's records were set aside in " + path);
  return true;
}

}  // namespace

MergeOutcome MergeDatabase(const SyncContext& context, TBDatabase db, const std::string& folder) {
  MergeOutcome outcome;
  auto failed = [&](const Status& status) {
    LogFailure(status);
    outcome.status = kMergeStatusFailed;
    return outcome;
  };
  if ((context.host.SyncFlags(db) & kFlagSynchronises) == 0) {
    return failed(Status(StatusCode::kInvalidArgument,
                         "the database does not take part in synchronisation (its TBCP flags "
                         "lack bit 9)"));
  }
  SyncSettings settings;
  FieldSettings fieldSettings;
  if (Status status = LoadSettings(context.host, db, &settings, &fieldSettings); !status.ok()) {
    return failed(status);
  }
  if (const std::int32_t count = context.host.services().chooseSelection(db, TB_SELECTION_ALL);
      count < 0) {
    return failed(context.host.Failure("choosing all records for the merge", count));
  }

  const std::string path = (std::filesystem::path(folder) / kHandheldChangesFile).string();
  sync::HostFileSource source(path);
  if (!source.ok()) {
    return failed(
        Status(StatusCode::kNotFound, "the handheld's changes: " + source.FailureReason()));
  }
  sync::ExchangeReader reader(source);
  sync::ExchangeLayout layout;
  if (Status status = reader.ReadLayout(&layout); !status.ok()) {
    return failed(status.WithContext(path));
  }
  if (layout.valueListCount > 0) {
    std::vector<std::string> lists;
    if (Status status = reader.ReadValueLists(&lists); !status.ok()) {
      return failed(status.WithContext(path));
    }
  }
  bool fits = false;
  FieldTargets targets;
  if (Status status = CheckLayout(context, db, layout.fields, &fits, &targets); !status.ok()) {
    return failed(status);
  }

  if (!fits) {
    if (layout.header.recordCount > 0) {
      outcome.flags |= kFlagSetAside;
      if (!SetAsideRecords(context, reader, layout.header.name, folder)) {
        outcome.status = kMergeStatusRecordFailed;
      }
    }
    return outcome;
  }
  for (std::int32_t n = 1; reader.recordsLeft() > 0; ++n) {
    sync::ExchangeRecord record;
    if (Status status = reader.ReadRecord(&record); !status.ok()) {
      // The records after a break cannot be read: none of them is merged.
      LogFailure(status.WithContext(path));
      outcome.status = kMergeStatusRecordFailed;
      break;
    }
    if (Status status =
            MergeRecord(context, db, targets, settings.conflictRule, record, &outcome.flags);
        !status.ok()) {
      LogFailure(status.WithContext("record " + std::to_string(n)));
      outcome.status = kMergeStatusRecordFailed;
    }
  }
  return outcome;
}

}  // namespace tbm::bridge
