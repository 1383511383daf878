#include "SampleDatabase.h"

#include <cstdint>
#include <cstdlib>
#include <vector>

#include "BenchData.h"
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
  std::vector<std::uint8_t> infos(kFields * MDbFieldInfoBytes, 0);
  std::vector<std::u16string> names;
  std::vector<const char16_t*> ptrs;
  for (int f = 0; f < kFields; ++f) {
    infos[static_cast<std::size_t>(f) * MDbFieldInfoBytes] = f == kNumber ? MDbFieldNumber
                                                             : f == kDate ? MDbFieldDate
                                                                          : MDbFieldText;
    names.push_back(u"Field " + tbm::Utf8ToUtf16(std::to_string(f)));
  }
  for (const auto& n : names) ptrs.push_back(n.c_str());
  std::vector<std::uint8_t> options(kFields * MDbOptionEntryBytes, 0);
  std::uint8_t attrs[MDbAttrBytes] = {};
  attrs[24] = u'/';
  attrs[30] = u':';
  if (MDbSchemaTblCreateEx(&env, &env.ref, infos.data(), ptrs.data(), kFields) != MDbErrNone ||
      MDbFieldOpTblCreateEx(&env, &env.ref, options.data(), kFields) != MDbErrNone ||
      MDbAttrTblCreateEx(&env, &env.ref, attrs, u"Sample") != MDbErrNone ||
      MDbDataTblCreate(&env, &env.ref, nullptr) != MDbErrNone ||
      MDbDataTblOpen(&env, &env.ref, &env.data, nullptr) != MDbErrNone) {
    std::abort();
  }
  AddRecords(&env, records, SampleValue);
  MDbDataTblClose(&env, &env.ref, &env.data);
  MDbWriteChecksome(&env, &env.ref, 1);
  MDbClose(&env, &env.ref);
  MDbShutdown(&env);
}

}  // namespace tbm::bench
