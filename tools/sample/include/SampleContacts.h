// Realistic contact records drawn from a seed, and the CSV text they are
// written as. The same seed gives the same records, byte for byte, on every
// machine and with every standard library: the values come from a generator
// of our own over fixed tables, never from std:: random distributions.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tbm::sample {

inline constexpr std::uint64_t kDefaultSeed = 2024;
inline constexpr int kDefaultRecordCount = 300;
inline constexpr int kFewestRecords = 1;
inline constexpr int kMostRecords = 5000;

// Ranges the values keep to.
inline constexpr int kFirstBirthYear = 1940;
inline constexpr int kLastBirthYear = 2005;
inline constexpr int kMostOrders = 500;

// The header row of the file (without its line end): each field's name and
// type, in the order of Contact::Fields().
inline constexpr std::string_view kContactHeader =
    "Name:text,Company:text,City:text,Phone:text,Born:date,Orders:number,Call at:time,"
    "Category:text,Active:text,Notes:text";

inline constexpr std::size_t kContactFieldCount = 10;

// One record, every value as the text it is written as (UTF-8). Empty text
// is an empty value.
struct Contact {
  std::string name;      // "First Last", or a whole name in another script
  std::string company;   // may hold commas and double quotes
  std::string city;      // one of a couple of dozen, so each recurs
  std::string phone;     // international form, "+33 4 72 10 45 88"
  std::string born;      // month/day/year without leading zeros, "3/14/1987"
  std::string orders;    // 0 to kMostOrders, or empty
  std::string callAt;    // 12-hour clock on the quarter hour, "2:15 PM", or empty
  std::string category;  // "Customer", "Supplier", "Partner" or "Press"
  std::string active;    // "Yes" or empty
  std::string notes;     // mostly empty; one sentence, or two lines split by "\n"

  // The ten values in the order of the header row.
  std::array<const std::string*, kContactFieldCount> Fields() const {
    return {&name, &company, &city, &phone, &born, &orders, &callAt, &category, &active, &notes};
  }
};

// Which letters the names may hold.
enum class NameLetters {
  kAny,      // names in many scripts: Latin with its accents, Japanese, Greek, ...
  kWestern,  // only letters that windows-1252 and Mac OS Roman both have, the
             // texts a synchronisation with Tabulon Pro carries
};

// The record at position index of the set drawn from seed. It depends on
// seed, index and letters alone, so any record can be made without those
// before it.
Contact SampleContact(std::uint64_t seed, std::uint32_t index,
                      NameLetters letters = NameLetters::kAny);

// The whole file: the header row, then records 0 to count - 1, each row
// ending in "\n"; UTF-8 without a byte order mark. REQUIRES: count >= 0.
std::string SampleContactsCsv(std::uint64_t seed, int count,
                              NameLetters letters = NameLetters::kAny);

// Appends the contact as one CSV row ending in "\n".
void WriteCsvRow(std::string& out, const Contact& contact);

}  // namespace tbm::sample
