#include "RegistryText.h"

#include <cstdio>
#include <optional>

#include "Registry.h"
#include "Utf16.h"

namespace tbm::registry {

namespace {

// Problems past this many are summed up in one last problem, so a file of
// garbage cannot flood whoever reads the messages.
constexpr std::size_t kMaxProblems = 100;

// Bytes of hex data per line before the writer continues on the next.
constexpr std::size_t kHexLineColumns = 78;

constexpr std::string_view kSpaces = " \t";

std::string_view TrimLeft(std::string_view text) {
  const std::size_t first = text.find_first_not_of(kSpaces);
  return first == std::string_view::npos ? std::string_view() : text.substr(first);
}

std::string_view TrimRight(std::string_view text) {
  const std::size_t last = text.find_last_not_of(kSpaces);
  return last == std::string_view::npos ? std::string_view() : text.substr(0, last + 1);
}

std::string_view Trim(std::string_view text) { return TrimRight(TrimLeft(text)); }

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// 1 to 8 hex digits, all of text, as a number.
std::optional<DWORD> ReadHexNumber(std::string_view text) {
  if (text.empty() || text.size() > 8) return std::nullopt;
  DWORD number = 0;
  for (const char c : text) {
    const int digit = HexDigit(c);
    if (digit < 0) return std::nullopt;
    number = number << 4 | static_cast<DWORD>(digit);
  }
  return number;
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    const char a = text[i] >= 'A' && text[i] <= 'Z' ? static_cast<char>(text[i] + 32) : text[i];
    if (a != prefix[i]) return false;  // prefix is lower case
  }
  return true;
}

bool IsSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }
bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Reads the quoted string at the start of text (text[0] is '"') into out
// and sets consumed to the length up to and including the closing quote.
// Returns an error sentence, empty on success.
std::string ReadQuoted(std::string_view text, std::u16string& out, std::size_t& consumed) {
  out.clear();
  std::string plain;  // UTF-8 not yet converted; escapes are ASCII, so no character is split
  auto flush = [&] {
    out += Utf8ToUtf16(plain);
    plain.clear();
  };
  std::size_t i = 1;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '"') {
      flush();
      consumed = i + 1;
      return {};
    }
    if (c != '\\') {
      plain += c;
      ++i;
      continue;
    }
    if (i + 1 >= text.size()) return "a string ends inside an escape";
    switch (text[i + 1]) {
      case '\\':
        plain += '\\';
        break;
      case '"':
        plain += '"';
        break;
      case 'n':
        plain += '\n';
        break;
      case 'r':
        plain += '\r';
        break;
      case 't':
        plain += '\t';
        break;
      case 'u': {
        const std::optional<DWORD> unit =
            i + 6 <= text.size() ? ReadHexNumber(text.substr(i + 2, 4)) : std::nullopt;
        if (!unit) return "a \\u escape needs four hex digits";
        if (*unit == 0) return "a string holds a NUL character";
        flush();
        out += static_cast<char16_t>(*unit);
        i += 6;
        continue;
      }
      default:
        return std::string("a string holds the unknown escape \\") + text[i + 1];
    }
    i += 2;
  }
  return "a string has no closing double quote";
}

void WriteQuoted(std::u16string_view text, std::string& out) {
  out += '"';
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    switch (unit) {
      case u'\\':
        out += "\\\\";
        continue;
      case u'"':
        out += "\\\"";
        continue;
      case u'\n':
        out += "\\n";
        continue;
      case u'\r':
        out += "\\r";
        continue;
      case u'\t':
        out += "\\t";
        continue;
      default:
        break;
    }
    if (IsHighSurrogate(unit) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      out += Utf16ToUtf8(text.substr(i, 2));
      ++i;
    } else if (unit < 0x20 || unit == 0x7F || IsSurrogate(unit)) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(unit));
      out += escaped;
    } else {
      out += Utf16ToUtf8(text.substr(i, 1));
    }
  }
  out += '"';
}

// Comma-separated bytes of two hex digits each; an empty list is no bytes.
std::string ReadHexBytes(std::string_view text, std::vector<BYTE>& bytes) {
  bytes.clear();
  text = Trim(text);
  if (text.empty()) return {};
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = text.find(',', start);
    const std::string_view token = Trim(text.substr(
        start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
    if (token.empty() && comma == std::string_view::npos && !bytes.empty()) break;  // "01,02,"
    const std::optional<DWORD> byte = token.size() <= 2 ? ReadHexNumber(token) : std::nullopt;
    if (!byte) return "the hex data is not bytes of two hex digits separated by commas";
    bytes.push_back(static_cast<BYTE>(*byte));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return {};
}

// The text of a string value whose bytes are a clean text (even length,
// one terminator at the end and no NUL before it); nullopt otherwise.
std::optional<std::u16string> CleanString(const std::vector<BYTE>& bytes) {
  if (bytes.size() < 2 || bytes.size() % 2 != 0) return std::nullopt;
  std::u16string text;
  const std::size_t units = bytes.size() / 2;
  for (std::size_t i = 0; i < units; ++i) {
    const auto unit = static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    if ((unit == 0) != (i + 1 == units)) return std::nullopt;
    if (unit != 0) text += unit;
  }
  return text;
}

// The reader proper: walks the lines once, keeping the key the values go
// to.
class Reader {
 public:
  Reader(std::string_view text, std::vector<Problem>& problems) : problems_(problems) {
    std::size_t start = 0;
    while (start <= text.size()) {
      std::size_t end = text.find('\n', start);
      if (end == std::string_view::npos) end = text.size();
      std::string_view line = text.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      lines_.push_back(line);
      start = end + 1;
    }
  }

  Tree Read() {
    for (next_ = 0; next_ < lines_.size();) {
      const std::size_t number = next_ + 1;
      const std::string_view content = Trim(lines_[next_++]);
      if (content.empty() || content[0] == ';' || content[0] == '#') continue;
      if (content.find('\0') != std::string_view::npos) {
        Report(number, "the line holds a NUL byte");
        continue;
      }
      const bool first = !seenContent_;
      seenContent_ = true;
      if (first &&
          (content == "REGEDIT4" || content.substr(0, 32) == "Windows Registry Editor Version ")) {
        continue;
      }
      if (content[0] == '[') {
        ReadSection(number, content);
      } else if (content[0] == '"' || content[0] == '@') {
        ReadValueLine(number, content);
      } else {
        Report(number, "the line is not a key, a value or a comment");
      }
    }
    if (dropped_ > 0) {
      problems_.push_back(
          {lines_.size(), std::to_string(dropped_) + " more lines could not be read either"});
    }
    return std::move(tree_);
  }

 private:
  void Report(std::size_t line, std::string message) {
    if (problems_.size() < kMaxProblems) {
      problems_.push_back({line, std::move(message)});
    } else {
      ++dropped_;
    }
  }

  void ReadSection(std::size_t number, std::string_view content) {
    current_ = nullptr;
    skipping_ = true;  // until the section proves readable, its values go with it
    if (content.size() < 2 || content.back() != ']') {
      Report(number, "the key line does not end with ']'; the key and its values are ignored");
      return;
    }
    const std::string_view inner = content.substr(1, content.size() - 2);
    if (!inner.empty() && inner[0] == '-') {
      Report(number, "a line deleting a key has no place in a registry file; it is ignored");
      return;
    }
    const std::u16string path = Utf8ToUtf16(inner);
    const std::size_t slash = path.find(u'\\');
    const std::u16string_view hiveName = std::u16string_view(path).substr(0, slash);
    std::optional<Hive> hive;
    static constexpr std::pair<std::u16string_view, Hive> kHiveNames[] = {
        {u"HKEY_CLASSES_ROOT", Hive::kClassesRoot},
        {u"HKCR", Hive::kClassesRoot},
        {u"HKEY_CURRENT_USER", Hive::kCurrentUser},
        {u"HKCU", Hive::kCurrentUser},
        {u"HKEY_LOCAL_MACHINE", Hive::kLocalMachine},
        {u"HKLM", Hive::kLocalMachine},
        {u"HKEY_USERS", Hive::kUsers},
        {u"HKU", Hive::kUsers}};
    for (const auto& [name, which] : kHiveNames) {
      if (EqualsIgnoreCase(hiveName, name)) hive = which;
    }
    if (!hive) {
      Report(number, "the key is not in a known hive; the key and its values are ignored");
      return;
    }
    KeyPath names;
    for (std::size_t start = slash; start != std::u16string::npos;) {
      const std::size_t end = path.find(u'\\', start + 1);
      names.emplace_back(
          path.substr(start + 1, end == std::u16string::npos ? end : end - start - 1));
      if (!IsValidKeyName(names.back()) || names.size() > kMaxKeyDepth) {
        Report(number,
               "the key path holds an empty, too long or unprintable name, or is too "
               "deep; the key and its values are ignored");
        return;
      }
      start = end;
    }
    Key* key = &tree_.hive(*hive);
    for (const std::u16string& name : names) key = &key->EnsureSubkey(name);
    current_ = key;
    skipping_ = false;
  }

  void ReadValueLine(std::size_t number, std::string_view content) {
    Value value;
    const std::string error = ReadValue(content, value);
    if (!error.empty()) {
      Report(number, error + "; the value is ignored");
    } else if (current_ != nullptr) {
      current_->SetValue(std::move(value));
    } else if (!skipping_) {
      Report(number, "a value comes before any key; it is ignored");
    }
  }

  // Reads one value line (and the lines it continues on) into value.
  // Returns an error sentence, empty on success.
  std::string ReadValue(std::string_view content, Value& value) {
    std::size_t position = 1;
    if (content[0] == '"') {
      if (std::string error = ReadQuoted(content, value.name, position); !error.empty()) {
        return error;
      }
      if (value.name.size() > kMaxValueNameUnits) return "the value's name is too long";
    }
    std::string_view rest = TrimLeft(content.substr(position));
    if (rest.empty() || rest[0] != '=') return "the value's name is not followed by '='";
    rest = TrimLeft(rest.substr(1));

    if (!rest.empty() && rest[0] == '"') {
      std::u16string text;
      std::size_t consumed = 0;
      if (std::string error = ReadQuoted(rest, text, consumed); !error.empty()) return error;
      if (!Trim(rest.substr(consumed)).empty()) return "there is text after the closing quote";
      value.type = REG_SZ;
      value.data = StringValueBytes(text);
      return {};
    }
    if (StartsWithIgnoringCase(rest, "dword:")) {
      const std::optional<DWORD> number = ReadHexNumber(Trim(rest.substr(6)));
      if (!number) return "a dword: value needs 1 to 8 hex digits";
      value.type = REG_DWORD;
      value.data = {static_cast<BYTE>(*number), static_cast<BYTE>(*number >> 8),
                    static_cast<BYTE>(*number >> 16), static_cast<BYTE>(*number >> 24)};
      return {};
    }
    if (StartsWithIgnoringCase(rest, "hex")) {
      rest.remove_prefix(3);
      DWORD type = REG_BINARY;
      if (!rest.empty() && rest[0] == '(') {
        const std::size_t close = rest.find(')');
        const std::optional<DWORD> number = close == std::string_view::npos
                                                ? std::nullopt
                                                : ReadHexNumber(rest.substr(1, close - 1));
        if (!number) return "a hex(N): value needs its type as 1 to 8 hex digits";
        type = *number;
        rest.remove_prefix(close + 1);
      }
      if (rest.empty() || rest[0] != ':') return "hex data must follow 'hex:' or 'hex(N):'";
      std::string data(TrimRight(rest.substr(1)));
      while (!data.empty() && data.back() == '\\') {
        data.pop_back();
        if (next_ >= lines_.size()) return "the hex data goes on past the end of the file";
        data += Trim(lines_[next_++]);
      }
      if (std::string error = ReadHexBytes(data, value.data); !error.empty()) return error;
      value.type = type;
      return {};
    }
    if (rest == "-") return "a line deleting a value has no place in a registry file";
    return "the value's data is neither a string nor dword: nor hex:";
  }

  std::vector<Problem>& problems_;
  std::vector<std::string_view> lines_;
  std::size_t next_ = 0;
  std::size_t dropped_ = 0;
  Tree tree_;
  Key* current_ = nullptr;
  bool skipping_ = false;
  bool seenContent_ = false;
};

void WriteHex(std::string line, const std::vector<BYTE>& bytes, std::string& out) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    char piece[4];
    std::snprintf(piece, sizeof piece, i + 1 < bytes.size() ? "%02x," : "%02x", bytes[i]);
    if (line.size() + 3 > kHexLineColumns) {
      out += line;
      out += "\\\n";
      line = "  ";
    }
    line += piece;
  }
  out += line;
  out += '\n';
}

void WriteValue(const Value& value, std::string& out) {
  std::string line;
  if (value.name.empty()) {
    line = "@";
  } else {
    WriteQuoted(value.name, line);
  }
  line += '=';
  if (value.type == REG_SZ) {
    if (const std::optional<std::u16string> text = CleanString(value.data)) {
      WriteQuoted(*text, line);
      out += line;
      out += '\n';
      return;
    }
  }
  if (value.type == REG_DWORD && value.data.size() == 4) {
    char number[16];
    std::snprintf(number, sizeof number, "dword:%08x",
                  static_cast<unsigned>(value.data[0] | value.data[1] << 8 | value.data[2] << 16 |
                                        static_cast<DWORD>(value.data[3]) << 24));
    out += line + number + "\n";
    return;
  }
  if (value.type == REG_BINARY) {
    line += "hex:";
  } else {
    char prefix[24];
    std::snprintf(prefix, sizeof prefix, "hex(%x):", static_cast<unsigned>(value.type));
    line += prefix;
  }
  WriteHex(std::move(line), value.data, out);
}

}  // namespace

Tree ParseRegistryText(std::string_view bytes, std::vector<Problem>& problems) {
  problems.clear();
  if (bytes.size() > kMaxRegistryFileBytes) {
    problems.push_back({1, "the file is larger than 64 MiB and is not read"});
    return Tree();
  }
  std::string converted;
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    std::u16string wide;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
      wide += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                    static_cast<unsigned char>(bytes[i + 1]) << 8);
    }
    converted = Utf16ToUtf8(wide);
    bytes = converted;
  } else if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    bytes.remove_prefix(3);
  }
  return Reader(bytes, problems).Read();
}

std::string FormatRegistryText(const Tree& tree, std::string_view heading) {
  std::string out;
  for (std::size_t start = 0; start < heading.size();) {
    std::size_t end = heading.find('\n', start);
    if (end == std::string_view::npos) end = heading.size();
    const std::string_view line = heading.substr(start, end - start);
    out += line.empty() ? ";\n" : "; " + std::string(line) + "\n";
    start = end + 1;
  }
  for (std::size_t h = 0; h < kHiveCount; ++h) {
    const Hive hive = static_cast<Hive>(h);
    // Depth first, parents before children, children in their order.
    std::vector<std::pair<const Key*, std::string>> pending{{&tree.hive(hive), HiveName(hive)}};
    while (!pending.empty()) {
      auto [key, path] = std::move(pending.back());
      pending.pop_back();
      out += "\n[" + path + "]\n";
      for (const Value& value : key->values()) WriteValue(value, out);
      const auto& subkeys = key->subkeys();
      for (auto it = subkeys.rbegin(); it != subkeys.rend(); ++it) {
        pending.emplace_back(it->get(), path + "\\" + Utf16ToUtf8((*it)->name()));
      }
    }
  }
  return out;
}

}  // namespace tbm::registry
