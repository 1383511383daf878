// A translation checked against English, and the C++ source written for a
// language library.
#include <algorithm>
#include <cstdio>

#include "LanguageSource.h"
#include "MessageFormat.h"
#include "Utf16.h"

namespace tbm::res::compiler {
namespace {

// Whether two menus carry the same items of the same kinds and commands in
// the same places (their texts may differ).
bool SameShape(const std::vector<MenuItem>& a, const std::vector<MenuItem>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].kind != b[i].kind || a[i].command != b[i].command ||
        !SameShape(a[i].children, b[i].children))
      return false;
  }
  return true;
}

bool SameToolBar(const ToolBar& a, const ToolBar& b) {
  return std::equal(a.buttons.begin(), a.buttons.end(), b.buttons.begin(), b.buttons.end(),
                    [](const ToolBarButton& x, const ToolBarButton& y) {
                      return x.separator == y.separator && x.command == y.command &&
                             x.picture == y.picture;
                    });
}

// Whether two dialogs hold the same controls (kinds and ids) in the same
// rows (their texts may differ).
bool SameDialog(const DialogLayout& a, const DialogLayout& b) {
  return std::equal(a.rows.begin(), a.rows.end(), b.rows.begin(), b.rows.end(),
                    [](const DialogRow& x, const DialogRow& y) {
                      return std::equal(x.controls.begin(), x.controls.end(), y.controls.begin(),
                                        y.controls.end(),
                                        [](const DialogControl& c, const DialogControl& d) {
                                          return c.kind == d.kind && c.id == d.id;
                                        });
                    });
}

std::string Describe(const std::u16string& kinds) {
  if (kinds.empty()) return "no placeholders";
  std::string text;
  for (std::size_t i = 0; i < kinds.size(); ++i) {
    if (kinds[i] == u'-') continue;
    if (!text.empty()) text += ' ';
    text += '%' + std::to_string(i + 1) + static_cast<char>(kinds[i]);
  }
  return text;
}

// The bytes as pieces of a C string literal, one piece per line of text.
std::string Literal(const std::string& bytes) {
  std::string out = "    \"";
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F && c != '?') {
      out += static_cast<char>(c);
    } else {
      // Always three octal digits, so a digit after it is not taken in.
      char escape[5];
      std::snprintf(escape, sizeof escape, "\\%03o", c);
      out += escape;
    }
    if (c == '\n' && i + 1 < bytes.size()) out += "\"\n    \"";
  }
  out += "\\0\"\n";
  return out;
}

}  // namespace

void CompareWithReference(const LanguageSource& language, const LanguageSource& reference,
                          Diagnostics* diagnostics) {
  if (language.version && reference.version && *language.version != *reference.version)
    diagnostics->Add(language.versionAt, "VERSION differs from the reference's");
  const Location nowhere{"(source)", 0};
  for (const auto& [kind, ofKind] : reference.resources) {
    const auto mine = language.resources.find(kind);
    for (const auto& [number, resource] : ofKind) {
      const CompiledResource* translated = nullptr;
      if (mine != language.resources.end()) {
        const auto found = mine->second.find(number);
        if (found != mine->second.end()) translated = &found->second;
      }
      const std::string name = std::string(KindWord(kind)) + " " + std::to_string(number);
      if (translated == nullptr) {
        diagnostics->Add(language.versionAt.line != 0 ? language.versionAt : nowhere,
                         name + " is missing (the reference has it at " + resource.at.file + ":" +
                             std::to_string(resource.at.line) + ")");
        continue;
      }
      if (kind == ResourceKind::kString) {
        std::u16string english, own;
        MessagePlaceholders(Utf8ToUtf16(resource.bytes), &english);
        MessagePlaceholders(Utf8ToUtf16(translated->bytes), &own);
        if (english != own)
          diagnostics->Add(translated->at, name + " uses " + Describe(own) +
                                               " where the reference uses " + Describe(english));
      } else if (kind == ResourceKind::kMenu) {
        const auto a = language.menus.find(number);
        const auto b = reference.menus.find(number);
        if (a != language.menus.end() && b != reference.menus.end() &&
            !SameShape(a->second.items, b->second.items))
          diagnostics->Add(translated->at,
                           name + " does not carry the reference's commands in the same places");
      } else if (kind == ResourceKind::kDialog) {
        const auto a = language.dialogs.find(number);
        const auto b = reference.dialogs.find(number);
        if (a != language.dialogs.end() && b != reference.dialogs.end() &&
            !SameDialog(a->second, b->second))
          diagnostics->Add(translated->at,
                           name + " does not hold the reference's controls in the same rows");
      } else if (kind == ResourceKind::kToolBar) {
        const auto a = language.toolBars.find(number);
        const auto b = reference.toolBars.find(number);
        if (a != language.toolBars.end() && b != reference.toolBars.end() &&
            !SameToolBar(a->second, b->second))
          diagnostics->Add(translated->at, name + " differs from the reference's");
      }
    }
  }
  for (const auto& [kind, ofKind] : language.resources) {
    const auto theirs = reference.resources.find(kind);
    for (const auto& [number, resource] : ofKind) {
      if (theirs == reference.resources.end() || theirs->second.count(number) == 0)
        diagnostics->Add(resource.at, std::string(KindWord(kind)) + " " + std::to_string(number) +
                                          " is not in the reference");
    }
  }
}

std::string EmitLibrarySource(const LanguageSource& language, const std::string& sourceName) {
  std::string table;
  std::string bytes;
  std::size_t offset = 0;
  std::size_t count = 0;
  // std::map keeps kinds and numbers in order, which the search relies on.
  for (const auto& [kind, ofKind] : language.resources) {
    for (const auto& [number, resource] : ofKind) {
      table += "    {" + std::to_string(static_cast<std::uint32_t>(kind)) + ", " +
               std::to_string(number) + ", " + std::to_string(offset) + ", " +
               std::to_string(resource.bytes.size()) + "},\n";
      bytes += "    // " + std::string(KindWord(kind)) + " " + std::to_string(number) + "\n";
      bytes += Literal(resource.bytes);
      offset += resource.bytes.size() + 1;
      ++count;
    }
  }
  const auto version = language.version.value_or(std::array<std::uint16_t, 4>{});
  std::string out;
  out += "// The language library made from " + sourceName +
         " by the resource compiler.\n"
         "// Generated: change the source instead.\n"
         "#include <stdint.h>\n\n"
         "namespace {\n\n"
         "struct Entry {\n"
         "  uint32_t kind;\n"
         "  uint32_t number;\n"
         "  uint32_t offset;\n"
         "  uint32_t size;\n"
         "};\n\n"
         "// By kind, then number.\n"
         "const Entry kEntries[" +
         std::to_string(std::max<std::size_t>(count, 1)) + "] = {\n" +
         (count == 0 ? std::string("    {0, 0, 0, 0},\n") : table) +
         "};\n"
         "const uint32_t kEntryCount = " +
         std::to_string(count) +
         ";\n\n"
         "// Each resource's bytes followed by a NUL.\n"
         "const char kBytes[] =\n" +
         (count == 0 ? std::string("    \"\"\n") : bytes) +
         "    ;\n\n"
         "}  // namespace\n\n"
         "extern \"C\" __attribute__((visibility(\"default\"))) int TBMResFind(\n"
         "    uint32_t kind, uint32_t number, const char** data, uint32_t* bytes) {\n"
         "  if (data == nullptr || bytes == nullptr) return 0;\n"
         "  uint32_t low = 0;\n"
         "  uint32_t high = kEntryCount;\n"
         "  while (low < high) {\n"
         "    const uint32_t middle = low + (high - low) / 2;\n"
         "    const Entry& entry = kEntries[middle];\n"
         "    if (entry.kind == kind && entry.number == number) {\n"
         "      *data = kBytes + entry.offset;\n"
         "      *bytes = entry.size;\n"
         "      return 1;\n"
         "    }\n"
         "    if (entry.kind < kind || (entry.kind == kind && entry.number < number)) {\n"
         "      low = middle + 1;\n"
         "    } else {\n"
         "      high = middle;\n"
         "    }\n"
         "  }\n"
         "  return 0;\n"
         "}\n\n"
         "extern \"C\" __attribute__((visibility(\"default\"))) void TBMGetDllVersion(\n"
         "    uint16_t* major, uint16_t* minor, uint16_t* build, uint16_t* revision,\n"
         "    uint32_t* flags) {\n"
         "  if (major != nullptr) *major = " +
         std::to_string(version[0]) +
         ";\n"
         "  if (minor != nullptr) *minor = " +
         std::to_string(version[1]) +
         ";\n"
         "  if (build != nullptr) *build = " +
         std::to_string(version[2]) +
         ";\n"
         "  if (revision != nullptr) *revision = " +
         std::to_string(version[3]) +
         ";\n"
         "  if (flags != nullptr) *flags = 0;\n"
         "}\n";
  return out;
}

}  // namespace tbm::res::compiler
