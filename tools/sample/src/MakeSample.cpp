// tbm_make_sample: writes a CSV file of realistic contact records, the same
// bytes for the same arguments on every machine.
//
//   tbm_make_sample [--records N] [--seed S] [--western] [--output FILE]
//
// Exit status 0 on success, 1 when the output cannot be written, 2 when the
// arguments are wrong. Every error is one line on standard error.
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "ReplaceFile.h"
#include "SampleContacts.h"

namespace {

using namespace tbm::sample;

constexpr int kStatusWriteFailed = 1;
constexpr int kStatusBadArguments = 2;

constexpr std::string_view kUsage =
    "usage: tbm_make_sample [--records N] [--seed S] [--western] [--output FILE]\n";

std::string Help() {
  return std::string(kUsage) +
         "Writes a CSV file of sample contact records (UTF-8), to standard output or to FILE.\n"
         "  --records N    how many records, " +
         std::to_string(kFewestRecords) + " to " + std::to_string(kMostRecords) + " (" +
         std::to_string(kDefaultRecordCount) +
         " when not given)\n"
         "  --seed S       a whole number choosing the records (" +
         std::to_string(kDefaultSeed) +
         " when not given);\n"
         "                 the same seed and count always give the same file\n"
         "  --western      only names whose letters windows-1252 and Mac OS Roman both\n"
         "                 have, so that every contact can be synchronised with Tabulon Pro\n"
         "  --output FILE  write to FILE, replacing it whole, instead of standard output\n";
}

struct Options {
  std::optional<int> records;
  std::optional<std::uint64_t> seed;
  std::optional<std::string> output;
  bool western = false;
  bool help = false;
};

// text as it can be shown inside one line of an error: control characters
// spelt out, so a stray line end in an argument cannot split the message.
std::string Quoted(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '\n') {
      quoted += "\\n";
    } else if (c == '\r') {
      quoted += "\\r";
    } else if (c == '\t') {
      quoted += "\\t";
    } else if (byte < 0x20 || byte == 0x7F) {
      constexpr char kHex[] = "0123456789ABCDEF";
      quoted += "\\x";
      quoted += kHex[byte >> 4];
      quoted += kHex[byte & 0xF];
    } else {
      quoted += c;
    }
  }
  quoted += '"';
  return quoted;
}

template <typename Number>
std::optional<Number> ParseWholeNumber(std::string_view text) {
  Number value{};
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  return value;
}

// Reads the command line into options. Returns an empty string, or the one
// line (without its end) saying what is wrong.
std::string ParseArguments(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view option = argv[i];
    if (option == "--help" || option == "-h") {
      options.help = true;
      continue;
    }
    if (option == "--western") {
      options.western = true;
      continue;
    }
    if (option != "--records" && option != "--seed" && option != "--output") {
      const std::string_view what =
          option.starts_with("-") ? "unknown option " : "unexpected argument ";
      return std::string(what) + Quoted(option) +
             "; the options are --records N, --seed S, --western and --output FILE";
    }
    if (i + 1 == argc) {
      const std::string_view wanted = option == "--output" ? "a file name" : "a whole number";
      return "option " + std::string(option) + " needs " + std::string(wanted) + " after it";
    }
    const std::string_view value = argv[++i];
    if (option == "--records") {
      if (options.records) return "option --records is given more than once";
      const std::optional<long long> records = ParseWholeNumber<long long>(value);
      if (!records || *records < kFewestRecords || *records > kMostRecords) {
        return "the number of records must be a whole number from " +
               std::to_string(kFewestRecords) + " to " + std::to_string(kMostRecords) + ", not " +
               Quoted(value);
      }
      options.records = static_cast<int>(*records);
    } else if (option == "--seed") {
      if (options.seed) return "option --seed is given more than once";
      options.seed = ParseWholeNumber<std::uint64_t>(value);
      if (!options.seed) {
        return "the seed must be a whole number from 0 to 18446744073709551615, not " +
               Quoted(value);
      }
    } else {
      if (options.output) return "option --output is given more than once";
      if (value.empty()) return "the output file name is empty";
      options.output = std::string(value);
    }
  }
  return {};
}

void PrintErrorLine(std::string_view message) {
  std::string line = "tbm_make_sample: ";
  line += message;
  line += '\n';
  WriteAll(STDERR_FILENO, line);
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (const std::string wrong = ParseArguments(argc, argv, options); !wrong.empty()) {
    PrintErrorLine(wrong);
    return kStatusBadArguments;
  }
  if (options.help) {
    return WriteAll(STDOUT_FILENO, Help()) ? 0 : kStatusWriteFailed;
  }

  const std::string csv = SampleContactsCsv(
      options.seed.value_or(kDefaultSeed), options.records.value_or(kDefaultRecordCount),
      options.western ? NameLetters::kWestern : NameLetters::kAny);
  if (options.output) {
    if (const std::string failure = ReplaceFileContents(*options.output, csv); !failure.empty()) {
      PrintErrorLine(failure);
      return kStatusWriteFailed;
    }
    return 0;
  }
  if (!WriteAll(STDOUT_FILENO, csv)) {
    PrintErrorLine(std::string("cannot write to standard output: ") + std::strerror(errno));
    return kStatusWriteFailed;
  }
  return 0;
}
