// Writing and reading the text of a window directory entry.
#include "WindowEntry.h"

#include <charconv>
#include <cstdio>
#include <utility>

namespace tbm::wnd {

namespace {

constexpr std::string_view kFirstLine = "tabulon-window 1";

// The keys, in the order they are written; each must appear exactly once.
enum Key { kHwnd, kPid, kStarted, kThread, kStyle, kExStyle, kCreated, kProgram, kClass, kTitle };
constexpr std::string_view kKeyNames[] = {"hwnd",    "pid",     "started", "thread", "style",
                                          "exstyle", "created", "program", "class",  "title"};
constexpr int kKeyCount = static_cast<int>(std::size(kKeyNames));

bool MustEscape(unsigned char c) { return c < 0x20 || c == 0x7F || c == '%'; }

std::string Escape(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const unsigned char c : text) {
    if (MustEscape(c)) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The text of an escaped value, or nullopt for a cut or bad escape, a raw
// character that should have been escaped, or a result over maxBytes.
std::optional<std::string> Unescape(std::string_view text, std::size_t maxBytes) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '%') {
      if (i + 2 >= text.size()) return std::nullopt;
      const int high = HexDigit(text[i + 1]);
      const int low = HexDigit(text[i + 2]);
      if (high < 0 || low < 0) return std::nullopt;
      out += static_cast<char>(high * 16 + low);
      i += 2;
    } else if (MustEscape(c)) {
      return std::nullopt;
    } else {
      out += static_cast<char>(c);
    }
    if (out.size() > maxBytes) return std::nullopt;
  }
  return out;
}

// A whole-text number in base 10 or 16 that fits Number, or nullopt.
template <typename Number>
std::optional<Number> ParseNumber(std::string_view text, int base) {
  if (text.empty() || text.size() > 20) return std::nullopt;
  Number value{};
  const char* end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, value, base);
  if (error != std::errc{} || stop != end) return std::nullopt;
  return value;
}

std::string Hex8(std::uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08x", value);
  return text;
}

}  // namespace

std::string FormatWindowEntry(const WindowEntry& entry) {
  std::string text(kFirstLine);
  text += '\n';
  const auto line = [&text](Key key, const std::string& value) {
    text += kKeyNames[key];
    text += ' ';
    text += value;
    text += '\n';
  };
  line(kHwnd, Hex8(entry.hwnd));
  line(kPid, std::to_string(entry.pid));
  line(kStarted, std::to_string(entry.started));
  line(kThread, std::to_string(entry.thread));
  line(kStyle, Hex8(entry.style));
  line(kExStyle, Hex8(entry.exStyle));
  line(kCreated, std::to_string(entry.created));
  line(kProgram, Escape(entry.program));
  line(kClass, Escape(entry.className));
  line(kTitle, Escape(entry.title));
  return text;
}

std::optional<WindowEntry> ParseWindowEntry(std::string_view text) {
  if (text.size() > kMaxEntryBytes) return std::nullopt;
  // Every line, the last included, ends with a line feed.
  if (text.empty() || text.back() != '\n') return std::nullopt;

  std::string_view values[kKeyCount];
  bool seen[kKeyCount] = {};
  bool firstLine = true;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    const std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (firstLine) {
      if (line != kFirstLine) return std::nullopt;
      firstLine = false;
      continue;
    }
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos) return std::nullopt;
    const std::string_view key = line.substr(0, space);
    for (int k = 0; k < kKeyCount; ++k) {
      if (key != kKeyNames[k]) continue;
      if (seen[k]) return std::nullopt;
      seen[k] = true;
      values[k] = line.substr(space + 1);
    }
  }
  for (const bool present : seen) {
    if (!present) return std::nullopt;
  }

  WindowEntry entry;
  const auto hwnd = ParseNumber<std::uint32_t>(values[kHwnd], 16);
  const auto pid = ParseNumber<std::uint32_t>(values[kPid], 10);
  const auto started = ParseNumber<std::uint64_t>(values[kStarted], 10);
  const auto thread = ParseNumber<std::uint32_t>(values[kThread], 10);
  const auto style = ParseNumber<std::uint32_t>(values[kStyle], 16);
  const auto exStyle = ParseNumber<std::uint32_t>(values[kExStyle], 16);
  const auto created = ParseNumber<std::uint64_t>(values[kCreated], 10);
  auto program = Unescape(values[kProgram], kMaxProgramBytes);
  auto className = Unescape(values[kClass], kMaxClassNameBytes);
  auto title = Unescape(values[kTitle], kMaxTitleBytes);
  if (!hwnd || *hwnd == 0 || !pid || *pid == 0 || !started || !thread || !style || !exStyle ||
      !created || !program || !className || !title) {
    return std::nullopt;
  }
  entry.hwnd = *hwnd;
  entry.pid = *pid;
  entry.started = *started;
  entry.thread = *thread;
  entry.style = *style;
  entry.exStyle = *exStyle;
  entry.created = *created;
  entry.program = std::move(*program);
  entry.className = std::move(*className);
  entry.title = std::move(*title);
  return entry;
}

}  // namespace tbm::wnd
