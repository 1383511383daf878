// How the engine reads a number field's text, and the values whose reading
// would surprise a person. The engine keeps a number field's value as the
// text typed and, to sort it or find it as a number, reads it by one fixed
// rule: the digits before the first "." make the number, every other
// character is skipped, and a "-" before the first digit makes it
// negative. A value without digits, or beyond a 32-bit number, is no
// number: it sorts first with the empty values and no number finds it.
// So "1e5" sorts and finds as 15, "1.5" as 1 and "0x10" as 10. The rule
// stays, as the handheld program and Tabulon Pro rely on it; tbmdb tells
// the user which values it reads otherwise than they look.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace tbm::tbmdb {

// The number the engine reads from text, or nullopt for no number. Must
// agree with the engine's own reading of number fields.
std::optional<long long> NumberByTheRule(std::u16string_view text);

// How text sorts and finds ("15", or "no number") when a person would read
// it otherwise: a plain whole number (a sign, digits with or without
// thousands commas, a fraction of zeros) and an empty value read as they
// look; nullopt then.
std::optional<std::string> SurprisingReading(std::u16string_view text);

// The surprising values met per field, for one warning line each.
class NumberSurprises {
 public:
  // Notes value of the field (named fieldName) when its reading surprises;
  // where says where the value was met ("line 4"), may be empty.
  void Note(std::size_t field, const std::string& fieldName, std::u16string_view value,
            const std::string& where);
  // One line per field with surprising values: their count and the first
  // as an example, each ending in "\n"; empty when there were none.
  std::string Warnings() const;

 private:
  struct Field {
    std::string name;
    std::size_t count = 0;
    std::string example;
    std::string reading;
    std::string where;
  };
  std::map<std::size_t, Field> fields_;
};

// Writes each line of warnings on standard error after "tbmdb: ".
void PrintWarnings(const std::string& warnings);

}  // namespace tbm::tbmdb
