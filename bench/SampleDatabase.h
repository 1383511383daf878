// A sample handheld database for measurements: records of kFields fields,
// field 0 a name, field 1 a number, field 2 a date (month/day/year), the rest
// text, built as synchronisation builds one.
#pragma once

#include <string>

struct MDbEnv;

namespace tbm::bench {

constexpr short kName = 0;
constexpr short kNumber = 1;
constexpr short kDate = 2;

int DateDay(int r);
int DateMonth(int r);
int DateYear(int r);
// The text of field f of record r.
std::u16string SampleValue(int r, int f);

// Adds `records` records to the open data table of env as synchronisation
// loads them (under the creation-sequence cache), field f of record r being
// value(r, f); aborts on any failure.
void AddRecords(MDbEnv* env, int records, std::u16string (*value)(int r, int f));

// Writes the database file at path (replacing one there) with `records`
// records; aborts on any failure.
void BuildSampleDatabase(const std::string& path, int records);

}  // namespace tbm::bench
