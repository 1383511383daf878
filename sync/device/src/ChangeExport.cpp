#include "ChangeExport.h"

#include <vector>

#include "ExchangeFile.h"
#include "MDbBlocks.h"

namespace tbm::sync {

namespace {

constexpr std::size_t kNameChars = 256;  // field names are cut to 63 bytes anyway

// Reads the field descriptors of the open schema table.
Status DescribeFields(MDbEnv* env, AnsiCodePage& codePage, std::vector<FieldDescriptor>* fields) {
  std::uint16_t count = 0;
  if (MDbSchemaTblGetCount(env, &env->ref, &env->schema, &count) != MDbErrNone) {
    return {StatusCode::kCorrupt, "the database's fields cannot be counted"};
  }
  for (std::uint16_t f = 0; f < count; ++f) {
    std::uint8_t info[MDbFieldInfoBytes] = {};
    char16_t name[kNameChars] = {};
    if (MDbSchemaTblRead(env, &env->ref, &env->schema, static_cast<std::int16_t>(f), info, name,
                         sizeof name) != MDbErrNone) {
      return {StatusCode::kCorrupt,
              "field " + std::to_string(f + 1) + " of the database cannot be read"};
    }
    const MDbFieldInfo stored = MDbDecodeFieldInfo(info);
    FieldDescriptor field;
    field.type = stored.type;
    const std::size_t keyLength = std::min<std::size_t>(stored.key[0], kMaxFieldKeyBytes);
    field.key.assign(reinterpret_cast<const char*>(stored.key.data() + 1), keyLength);
    if (Status s = codePage.ToAnsi(name, &field.name); !s.ok()) {
      return s.WithContext("the name of field " + std::to_string(f + 1));
    }
    fields->push_back(std::move(field));
  }
  return {};
}

// Reads one changed record: its header and texts.
Status ReadChangedRecord(MDbEnv* env, const ChangeEntry& change, std::size_t fields,
                         AnsiCodePage& codePage, RecordHeader* header,
                         std::vector<std::string>* texts) {
  MDbDataRec rec;
  MDbDataRecInitialize(&rec);
  const bool deleted = (change.state & MDbRecDeleted) != 0;
  std::uint32_t oid = change.oid;
  const std::int32_t opened = deleted
                                  ? MDbDeleteTblOpenRec(env, &env->ref, &env->data, &rec, -1, &oid)
                                  : MDbDataTblOpenRec(env, &env->ref, &env->data, &rec, &oid);
  if (opened != MDbErrNone) return {StatusCode::kCorrupt, "the record cannot be opened"};
  Status status;
  header->changeCode = ChangeCodeOf(change.state);
  header->noValues = false;
  if (MDbDataRecGetRecInfo(env, &env->ref, &env->data, &rec, header->identity.data()) !=
      MDbErrNone) {
    status = {StatusCode::kCorrupt, "the record's identity cannot be read"};
  }
  texts->assign(fields, std::string());
  for (std::size_t f = 0; status.ok() && f < fields; ++f) {
    const char16_t* text = nullptr;
    if (MDbDataRecGetFieldPtr(env, &env->ref, &env->data, &env->schema, &rec,
                              static_cast<std::int16_t>(f), &text) != MDbErrNone) {
      status = {StatusCode::kCorrupt, "field " + std::to_string(f + 1) + " cannot be read"};
    } else {
      status =
          codePage.ToExchangeText(text, &(*texts)[f]).WithContext("field " + std::to_string(f + 1));
    }
  }
  MDbDataTblCloseRec(env, &env->ref, &env->data, &rec);
  return status;
}

}  // namespace

std::int16_t ChangeCodeOf(std::uint8_t state) {
  if (!(state & MDbRecModified)) return kChangeUnchanged;
  if (state & MDbRecAdded) return kChangeNew;
  if (state & MDbRecDeleted) return kChangeDeleted;
  return kChangeModified;
}

Status ExportChanges(DatabaseStore& store, const std::string& databaseName, AnsiCodePage& codePage,
                     ByteSink& sink) {
  MDbEnv* env = store.env();
  if (MDbSchemaTblOpen(env, &env->ref, &env->schema) != MDbErrNone) {
    return {StatusCode::kCorrupt, "the database's fields cannot be read"};
  }
  ExchangeLayout layout;
  Status status = DescribeFields(env, codePage, &layout.fields);
  if (status.ok() && store.changes().size() > static_cast<std::size_t>(INT32_MAX)) {
    status = {StatusCode::kBadCount, "too many changed records"};
  }
  bool dataOpen = false;
  if (status.ok()) {
    layout.header.name = databaseName;
    layout.header.fieldCount = static_cast<std::int32_t>(layout.fields.size());
    layout.header.recordCount = static_cast<std::int32_t>(store.changes().size());
    ExchangeWriter writer(sink, codePage);
    status = writer.WriteLayout(layout);
    if (status.ok()) {
      dataOpen = MDbDataTblOpen(env, &env->ref, &env->data, nullptr) == MDbErrNone &&
                 StartCreationSeqCache(env, &env->ref, &env->data) == MDbErrNone;
      if (!dataOpen) status = {StatusCode::kCorrupt, "the database's records cannot be read"};
    }
    RecordHeader header;
    std::vector<std::string> texts;
    std::size_t number = 0;
    for (const ChangeEntry& change : store.changes()) {
      if (!status.ok()) break;
      ++number;
      status = ReadChangedRecord(env, change, layout.fields.size(), codePage, &header, &texts)
                   .WithContext("changed record " + std::to_string(number));
      if (status.ok()) status = writer.WriteRecord(header, texts);
    }
    if (status.ok()) status = writer.Finish();
  }
  if (MDbDataTblIsOpened(env, &env->ref, &env->data)) {
    if (dataOpen) EndCreationSeqCache(env, &env->ref, &env->data);
    MDbDataTblClose(env, &env->ref, &env->data);
  }
  MDbSchemaTblClose(env, &env->ref, &env->schema);
  return status;
}

}  // namespace tbm::sync
