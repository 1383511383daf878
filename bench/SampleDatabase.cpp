#include "SampleDatabase.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "BenchData.h"
#include "DatabaseBuilder.h"
#include "MDb.h"
#include "Utf16.h"

namespace tbm::bench {

int DateDay(int r) { return 1 + (r * 7) % 28; }
int DateMonth(int r) { return 1 + (r * 5) % 12; }
int DateYear(int r) { return 1940 + (r * 13) % 80; }

std::u16string SampleValue(int r, int f) {
  if (f == kNumber) return tbm::Utf8ToUtf16(std::to_string((r * 37) % 1000));
  if (f == kDate) {
    return tbm::Utf8ToUtf16(std::to_string(DateMonth(r)) + "/" + std::to_string(DateDay(r)) + "/" +
                            std::to_string(DateYear(r)));
  }
  return FieldText(r, f);
}

void AddRecords(MDbEnv* env, int records, std::u16string (*value)(int r, int f)) {
  StartCreationSeqCache(env, &env->ref, &env->data);
  std::vector<std::u16string> values(kFields);
  std::vector<const char16_t*> ptrs(kFields);
  const std::uint8_t identity[10] = {};
  for (int r = 0; r < records; ++r) {
    for (int f = 0; f < kFields; ++f) {
      values[static_cast<std::size_t>(f)] = value(r, f);
      ptrs[static_cast<std::size_t>(f)] = values[static_cast<std::size_t>(f)].c_str();
    }
    if (MDbDataTblAddRec(env, &env->ref, &env->data, identity, ptrs.data(), kFields, 1, nullptr,
                         nullptr) != MDbErrNone) {
      std::abort();
    }
  }
  EndCreationSeqCache(env, &env->ref, &env->data);
}

void BuildSampleDatabase(const std::string& path, int records) {
  Remove(path);
  MDbEnv env;
  MDbEnvInitialize(&env);
  MDbInit(&env, 0);
  const auto wide = tbm::Utf8ToUtf16(path);
  if (MDbCreate(&env, wide.c_str(), &env.ref) != MDbErrNone) std::abort();
  std::vector<tbm::sync::FieldSpec> fields(kFields);
  for (int f = 0; f < kFields; ++f) {
    tbm::sync::FieldSpec& field = fields[static_cast<std::size_t>(f)];
    field.type = f == kNumber ? MDbFieldNumber : f == kDate ? MDbFieldDate : MDbFieldText;
    field.name = u"Field " + tbm::Utf8ToUtf16(std::to_string(f));
    field.key = tbm::sync::FieldKey("F" + std::to_string(f));
  }
  tbm::sync::DatabaseFormats formats;
  formats.date = tbm::sync::MakeDateFormat(u'/', 0, false, false, false);
  formats.time = tbm::sync::MakeTimeFormat(u':', u"AM", u"PM", u"", false, true);
  if (tbm::sync::MarkConsistent(&env, false) != MDbErrNone ||
      tbm::sync::ReplaceSchema(&env, fields, false, nullptr) != MDbErrNone ||
      tbm::sync::ReplaceAttributes(&env, tbm::sync::NewAttributeBlock(formats), u"Sample") !=
          MDbErrNone) {
    std::abort();
  }
  tbm::sync::RecordLoader loader(&env);
  if (loader.Start() != MDbErrNone) std::abort();
  std::vector<std::u16string> values(kFields);
  std::vector<const char16_t*> pointers(kFields);
  const std::uint8_t identity[MDbIdentityBytes] = {};
  for (int r = 0; r < records; ++r) {
    for (std::size_t f = 0; f < values.size(); ++f) {
      values[f] = SampleValue(r, static_cast<int>(f));
      pointers[f] = values[f].c_str();
    }
    if (loader.Add(identity, pointers) != MDbErrNone) std::abort();
  }
  if (loader.Finish() != MDbErrNone || tbm::sync::MarkConsistent(&env, true) != MDbErrNone) {
    std::abort();
  }
  MDbClose(&env, &env.ref);
  MDbShutdown(&env);
}

}  // namespace tbm::bench
