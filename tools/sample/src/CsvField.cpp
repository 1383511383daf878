// Writing a contact as a CSV row, quoted the way every tool writes CSV.
#include <string>
#include <string_view>

#include "CsvFile.h"
#include "SampleContacts.h"

namespace tbm::sample {

void WriteCsvRow(std::string& out, const Contact& contact) {
  bool first = true;
  for (const std::string* field : contact.Fields()) {
    if (!first) out += ',';
    first = false;
    tools::AppendCsvValue(&out, *field);
  }
  out += '\n';
}

}  // namespace tbm::sample
