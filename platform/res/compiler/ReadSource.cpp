// Reading a language source: its lines with their includes, then each
// statement into the resource it makes.
#include <fstream>
#include <iterator>
#include <set>

#include "CommandIds.h"
#include "LanguageSource.h"
#include "MessageFormat.h"
#include "ResourceText.h"
#include "Utf16.h"

namespace tbm::res::compiler {
namespace {

namespace stdfs = std::filesystem;

constexpr int kMaxIncludeDepth = 8;
constexpr std::size_t kMaxStringLength = 4096;

struct SourceLine {
  Location at;
  std::string text;
};

bool IsBlankOrComment(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  return first == std::string_view::npos || text[first] == '#';
}

// Appends the lines of path to *lines, with the lines of its includes in
// their place. including holds the files being read, to refuse a cycle.
void ReadLines(const stdfs::path& path, int depth, std::set<stdfs::path>* including,
               std::vector<SourceLine>* lines, Diagnostics* diagnostics, const Location& from) {
  std::error_code error;
  const stdfs::path canonical = stdfs::weakly_canonical(path, error);
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    diagnostics->Add(from, "cannot read " + path.string());
    return;
  }
  if (including->count(canonical) != 0) {
    diagnostics->Add(from, path.string() + " includes itself");
    return;
  }
  if (depth > kMaxIncludeDepth) {
    diagnostics->Add(from, "includes nest more than " + std::to_string(kMaxIncludeDepth) + " deep");
    return;
  }
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
  const std::string name = path.string();
  if (!IsWellFormedUtf8(text) || text.find('\0') != std::string::npos) {
    diagnostics->Add({name, 1}, "the file is not well-formed UTF-8 text");
    return;
  }
  including->insert(canonical);
  std::size_t number = 0;
  for (const std::string_view line : SplitLines(text)) {
    ++number;
    const Location at{name, number};
    if (!IsBlankOrComment(line)) {
      LineTokens tokens;
      if (TokenizeLine(line, &tokens).ok() && tokens.tokens[0] == "INCLUDE" && !tokens.quoted[0]) {
        if (tokens.tokens.size() != 2 || !tokens.quoted[1]) {
          diagnostics->Add(at, "INCLUDE takes one quoted file name");
        } else {
          ReadLines(path.parent_path() / tokens.tokens[1], depth + 1, including, lines, diagnostics,
                    at);
        }
        continue;
      }
    }
    lines->push_back({at, std::string(line)});
  }
  including->erase(canonical);
}

std::optional<std::uint32_t> ResourceNumber(const std::string& token) {
  if (token.empty() || token.size() > 8) return std::nullopt;
  std::uint32_t value = 0;
  const bool hex = token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X');
  for (std::size_t i = hex ? 2 : 0; i < token.size(); ++i) {
    const char c = token[i];
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (hex && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (hex && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return std::nullopt;
    }
    value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
  }
  if (value < 1 || value > 0xFFFF) return std::nullopt;
  return value;
}

std::optional<std::uint16_t> CommandNamed(std::string_view name) {
  for (const auto& command : ui::kNamedCommands) {
    if (command.name == name) return command.id;
  }
  return std::nullopt;
}

class SourceParser {
 public:
  SourceParser(std::vector<SourceLine> lines, Diagnostics* diagnostics)
      : lines_(std::move(lines)), diagnostics_(diagnostics) {}

  LanguageSource Parse() {
    while (next_ < lines_.size()) {
      const SourceLine& line = lines_[next_++];
      if (IsBlankOrComment(line.text)) continue;
      LineTokens tokens;
      if (!Tokenize(line, &tokens)) continue;
      const std::string& keyword = tokens.tokens[0];
      if (tokens.quoted[0]) {
        Error(line.at, "a quoted text with no STRING before it");
      } else if (keyword == "VERSION") {
        ReadVersion(line, tokens);
      } else if (keyword == "STRING") {
        ReadString(line, tokens);
      } else if (keyword == "MENU" || keyword == "TOOLBAR" || keyword == "PICTURE" ||
                 keyword == "DIALOG") {
        ReadBlock(line, tokens);
      } else {
        Error(line.at, "unknown statement \"" + keyword + "\"");
      }
    }
    CheckToolBarPictures();
    if (!source_.version) Error({lines_.empty() ? "source" : lines_[0].at.file, 1}, "no VERSION");
    return std::move(source_);
  }

 private:
  void Error(const Location& at, const std::string& what) { diagnostics_->Add(at, what); }

  bool Tokenize(const SourceLine& line, LineTokens* tokens) {
    const Status status = TokenizeLine(line.text, tokens);
    if (!status.ok()) Error(line.at, status.message());
    return status.ok();
  }

  void ReadVersion(const SourceLine& line, const LineTokens& tokens) {
    std::array<std::uint16_t, 4> parts{};
    bool good = tokens.tokens.size() == 2 && !tokens.quoted[1];
    if (good) {
      std::string_view text = tokens.tokens[1];
      for (std::size_t i = 0; i < 4 && good; ++i) {
        const std::size_t dot = text.find('.');
        const std::string_view part = text.substr(0, dot);
        good = !part.empty() && part.size() <= 5 &&
               part.find_first_not_of("0123456789") == std::string_view::npos &&
               std::stoul(std::string(part)) <= 0xFFFF &&
               (i == 3) == (dot == std::string_view::npos);
        if (good) parts[i] = static_cast<std::uint16_t>(std::stoul(std::string(part)));
        text = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
      }
    }
    if (!good) return Error(line.at, "VERSION takes four numbers such as 2.1.1.17");
    if (source_.version) return Error(line.at, "a second VERSION");
    source_.version = parts;
    source_.versionAt = line.at;
  }

  // Registers a resource; false when its number is taken.
  bool Add(ResourceKind kind, std::uint32_t number, std::string bytes, const Location& at) {
    auto& ofKind = source_.resources[kind];
    const auto found = ofKind.find(number);
    if (found != ofKind.end()) {
      Error(at, std::string(KindWord(kind)) + " " + std::to_string(number) +
                    " is defined twice (first at " + found->second.at.file + ":" +
                    std::to_string(found->second.at.line) + ")");
      return false;
    }
    ofKind.emplace(number, CompiledResource{std::move(bytes), at});
    return true;
  }

  void ReadString(const SourceLine& line, const LineTokens& tokens) {
    const auto number = tokens.tokens.size() >= 2 ? ResourceNumber(tokens.tokens[1]) : std::nullopt;
    if (!number || tokens.tokens.size() != 3 || tokens.quoted[1] || !tokens.quoted[2])
      return Error(line.at, "STRING takes a number from 1 to 65535 and a quoted text");
    std::string text = tokens.tokens[2];
    // Continuation lines: a quoted text alone.
    while (next_ < lines_.size() && !IsBlankOrComment(lines_[next_].text)) {
      LineTokens more;
      if (!TokenizeLine(lines_[next_].text, &more).ok() || more.tokens.size() != 1 ||
          !more.quoted[0])
        break;
      text += more.tokens[0];
      ++next_;
    }
    const std::u16string wide = Utf8ToUtf16(text);
    std::u16string kinds;
    const Status placeholders = MessagePlaceholders(wide, &kinds);
    if (wide.empty()) return Error(line.at, "string " + std::to_string(*number) + " is empty");
    if (wide.size() > kMaxStringLength)
      return Error(line.at, "string " + std::to_string(*number) + " is longer than " +
                                std::to_string(kMaxStringLength) + " characters");
    if (!placeholders.ok())
      return Error(line.at, "string " + std::to_string(*number) + ": " + placeholders.message());
    Add(ResourceKind::kString, *number, std::move(text), line.at);
  }

  // MENU, TOOLBAR, PICTURE or DIALOG with its lines up to its END (a
  // dialog's ROW opens a block of its own).
  void ReadBlock(const SourceLine& line, const LineTokens& tokens) {
    const std::string& keyword = tokens.tokens[0];
    const auto number = tokens.tokens.size() == 2 && !tokens.quoted[1]
                            ? ResourceNumber(tokens.tokens[1])
                            : std::nullopt;
    if (!number) Error(line.at, keyword + " takes a number from 1 to 65535");
    const std::uint32_t resource = number.value_or(0);
    std::string bytes;
    std::vector<Location> origins;  // source line of each line of bytes
    int depth = 0;
    bool ended = false;
    bool good = number.has_value();
    while (next_ < lines_.size()) {
      const SourceLine& inner = lines_[next_++];
      if (IsBlankOrComment(inner.text)) continue;
      LineTokens words;
      if (!Tokenize(inner, &words)) {
        good = false;
        continue;
      }
      const std::string& first = words.tokens[0];
      if (first == "END" && depth == 0) {
        ended = true;
        break;
      }
      if (keyword == "MENU" || keyword == "DIALOG") {
        if (first == "POPUP" || first == "ROW") ++depth;
        if (first == "END") --depth;
        if (first == "ITEM") good = NameCommand(inner, 1, &words) && good;
      } else if (keyword == "TOOLBAR" && first == "BUTTON") {
        good = NameCommand(inner, 1, &words) && good;
      }
      for (std::size_t i = 0; i < words.tokens.size(); ++i) {
        if (i > 0) bytes += ' ';
        bytes += words.quoted[i] ? QuoteText(words.tokens[i]) : words.tokens[i];
      }
      bytes += '\n';
      origins.push_back(inner.at);
    }
    if (!ended) return Error(line.at, keyword + " without its END");
    if (!good) return;
    Status status;
    ResourceKind kind;
    if (keyword == "MENU") {
      kind = ResourceKind::kMenu;
      Menu menu;
      status = ParseMenuText(bytes, &menu);
      if (status.ok()) source_.menus[resource] = std::move(menu);
    } else if (keyword == "TOOLBAR") {
      kind = ResourceKind::kToolBar;
      ToolBar toolBar;
      status = ParseToolBarText(bytes, &toolBar);
      if (status.ok()) source_.toolBars[resource] = std::move(toolBar);
    } else if (keyword == "DIALOG") {
      kind = ResourceKind::kDialog;
      DialogLayout dialog;
      status = ParseDialogText(bytes, &dialog);
      if (status.ok()) source_.dialogs[resource] = std::move(dialog);
    } else {
      kind = ResourceKind::kPicture;
      Picture picture;
      status = ParsePictureText(bytes, &picture);
    }
    if (!status.ok()) return Error(Blame(status.message(), origins, line.at), status.message());
    Add(kind, resource, std::move(bytes), line.at);
  }

  // Replaces the command name at words->tokens[index] by its number.
  bool NameCommand(const SourceLine& line, std::size_t index, LineTokens* words) {
    if (words->tokens.size() <= index || words->quoted[index]) return true;  // the reader says
    const auto command = CommandNamed(words->tokens[index]);
    if (!command) {
      Error(line.at, "unknown command \"" + words->tokens[index] + "\"");
      return false;
    }
    words->tokens[index] = std::to_string(*command);
    return true;
  }

  // The source line a reader's "line <n>: ..." sentence points at.
  static Location Blame(const std::string& message, const std::vector<Location>& origins,
                        const Location& block) {
    if (message.rfind("line ", 0) != 0) return block;
    std::size_t n = 0;
    for (std::size_t i = 5; i < message.size() && message[i] >= '0' && message[i] <= '9'; ++i)
      n = n * 10 + static_cast<std::size_t>(message[i] - '0');
    return n >= 1 && n <= origins.size() ? origins[n - 1] : block;
  }

  void CheckToolBarPictures() {
    const auto& pictures = source_.resources[ResourceKind::kPicture];
    for (const auto& [number, toolBar] : source_.toolBars) {
      for (const ToolBarButton& button : toolBar.buttons) {
        if (!button.separator && pictures.count(button.picture) == 0)
          Error(source_.resources[ResourceKind::kToolBar][number].at,
                "TOOLBAR " + std::to_string(number) + " shows picture " +
                    std::to_string(button.picture) + ", which is not defined");
      }
    }
  }

  std::vector<SourceLine> lines_;
  std::size_t next_ = 0;
  Diagnostics* diagnostics_;
  LanguageSource source_;
};

}  // namespace

const char* KindWord(ResourceKind kind) {
  switch (kind) {
    case ResourceKind::kString:
      return "STRING";
    case ResourceKind::kMenu:
      return "MENU";
    case ResourceKind::kToolBar:
      return "TOOLBAR";
    case ResourceKind::kDialog:
      return "DIALOG";
    case ResourceKind::kPicture:
      return "PICTURE";
  }
  return "RESOURCE";
}

LanguageSource ReadLanguageSource(const std::filesystem::path& path, Diagnostics* diagnostics) {
  std::vector<SourceLine> lines;
  std::set<stdfs::path> including;
  ReadLines(path, 0, &including, &lines, diagnostics, {path.string(), 0});
  return SourceParser(std::move(lines), diagnostics).Parse();
}

}  // namespace tbm::res::compiler
