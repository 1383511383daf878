// Writing CSV fields and rows: quotes only where a reader needs them, so a
// plain file stays plain and a field with a separator still reads back whole.
#include <string>
#include <string_view>

#include "SampleContacts.h"

namespace tbm::sample {

void WriteCsvField(std::string& out, std::string_view field) {
  if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
    out += field;
    return;
  }
  out += '"';
  for (const char c : field) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

void WriteCsvRow(std::string& out, const Contact& contact) {
  bool first = true;
  for (const std::string* field : contact.Fields()) {
    if (!first) out += ',';
    first = false;
    WriteCsvField(out, *field);
  }
  out += '\n';
}

}  // namespace tbm::sample
