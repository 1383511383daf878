#include "ResourceText.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <optional>

#include "Utf16.h"

namespace tbm::res {
namespace {

Status Damaged(std::size_t line, const std::string& what) {
  return Status(StatusCode::kDamaged, "line " + std::to_string(line) + ": " + what);
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// A whole token of decimal digits within [low, high].
std::optional<std::uint32_t> ParseWholeNumber(std::string_view token, std::uint32_t low,
                                              std::uint32_t high) {
  if (token.empty() || token.size() > 10) return std::nullopt;
  for (const char c : token) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  std::uint64_t value = 0;
  for (const char c : token) value = value * 10 + static_cast<std::uint64_t>(c - '0');
  if (value < low || value > high) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

// A token "digits[.digits]", not negative, finite and not huge.
std::optional<float> ParseCoordinate(std::string_view token) {
  if (token.empty() || token.size() > 16) return std::nullopt;
  std::size_t dots = 0;
  for (std::size_t i = 0; i < token.size(); ++i) {
    const char c = token[i];
    if (c == '.') {
      if (++dots > 1 || i == 0 || i + 1 == token.size()) return std::nullopt;
    } else if (c < '0' || c > '9') {
      return std::nullopt;
    }
  }
  float value = 0;
  const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), value);
  if (error != std::errc() || end != token.data() + token.size() || !std::isfinite(value))
    return std::nullopt;
  return value;
}

std::optional<std::uint32_t> ParseColour(std::string_view token) {
  if (token.size() != 7 || token[0] != '#') return std::nullopt;
  std::uint32_t value = 0;
  for (std::size_t i = 1; i < token.size(); ++i) {
    const char c = token[i];
    std::uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<std::uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<std::uint32_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<std::uint32_t>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    value = value * 16 + digit;
  }
  return value;
}

// Walks the non-blank lines of a text with their numbers.
class LineWalker {
 public:
  explicit LineWalker(std::string_view text) : lines_(SplitLines(text)) {}

  // The next non-blank line cut into tokens; false at the end or on a
  // fault (then *status says which).
  bool Next(LineTokens* tokens, Status* status) {
    while (index_ < lines_.size()) {
      const std::string_view line = lines_[index_++];
      if (line.find_first_not_of(" \t") == std::string_view::npos) continue;
      const Status cut = TokenizeLine(line, tokens);
      if (!cut.ok()) {
        *status = Damaged(index_, cut.message());
        return false;
      }
      return true;
    }
    return false;
  }
  std::size_t line() const { return index_; }

 private:
  std::vector<std::string_view> lines_;
  std::size_t index_ = 0;
};

Status CheckSize(std::string_view text) {
  if (text.size() > kMaxResourceBytes)
    return Status(StatusCode::kDamaged, "the text is " + std::to_string(text.size()) +
                                            " bytes long, more than a resource may be");
  if (text.find('\0') != std::string_view::npos)
    return Status(StatusCode::kDamaged, "the text holds a NUL byte");
  return Status();
}

// True when tokens are exactly the keyword followed by `words` unquoted
// words and then `texts` quoted texts.
bool Shaped(const LineTokens& line, std::size_t words, std::size_t texts) {
  if (line.tokens.size() != 1 + words + texts) return false;
  for (std::size_t i = 0; i < line.tokens.size(); ++i) {
    if (line.quoted[i] != (i > words)) return false;
  }
  return true;
}

// ---- Menus ----

class MenuReader {
 public:
  explicit MenuReader(std::string_view text) : walker_(text) {}

  Status Read(Menu* out) {
    Menu menu;
    Status status = ReadItems(0, &menu.items);
    if (!status.ok()) return status;
    if (menu.items.empty()) return Status(StatusCode::kDamaged, "the menu has no items");
    *out = std::move(menu);
    return Status();
  }

 private:
  // Reads items into *items until END (depth > 0) or the end of the text
  // (depth 0).
  Status ReadItems(int depth, std::vector<MenuItem>* items) {
    const std::size_t opened = walker_.line();
    LineTokens line;
    Status status;
    while (walker_.Next(&line, &status)) {
      const std::size_t at = walker_.line();
      const std::string& keyword = line.tokens[0];
      if (line.quoted[0]) return Damaged(at, "a line begins with a text instead of a keyword");
      if (++count_ > kMaxMenuItems)
        return Damaged(at, "the menu has more than " + std::to_string(kMaxMenuItems) + " lines");
      if (keyword == "END") {
        if (!Shaped(line, 0, 0)) return Damaged(at, "END takes nothing after it");
        if (depth == 0) return Damaged(at, "END without a POPUP to close");
        if (items->empty()) return Damaged(opened, "the pop-up has no items");
        return Status();
      }
      MenuItem item;
      if (keyword == "SEPARATOR") {
        if (!Shaped(line, 0, 0)) return Damaged(at, "SEPARATOR takes nothing after it");
        item.kind = MenuItem::Kind::kSeparator;
      } else if (keyword == "ITEM") {
        if (!Shaped(line, 1, 1)) return Damaged(at, "ITEM takes a command number and a text");
        const auto command = ParseWholeNumber(line.tokens[1], 1, 0xFFFF);
        if (!command) return Damaged(at, "\"" + line.tokens[1] + "\" is not a command number");
        item.command = static_cast<std::uint16_t>(*command);
        status = ReadText(at, line.tokens[2], &item.text);
      } else if (keyword == "POPUP") {
        if (!Shaped(line, 0, 1)) return Damaged(at, "POPUP takes a text");
        if (depth + 1 > kMaxMenuDepth)
          return Damaged(at, "pop-ups nest more than " + std::to_string(kMaxMenuDepth) + " deep");
        item.kind = MenuItem::Kind::kPopup;
        status = ReadText(at, line.tokens[1], &item.text);
        if (status.ok()) status = ReadItems(depth + 1, &item.children);
      } else {
        return Damaged(at, "unknown keyword \"" + keyword + "\" in a menu");
      }
      if (!status.ok()) return status;
      items->push_back(std::move(item));
    }
    if (!status.ok()) return status;
    if (depth > 0) return Damaged(opened, "the POPUP has no END");
    return Status();
  }

  static Status ReadText(std::size_t at, const std::string& text, std::u16string* out) {
    *out = Utf8ToUtf16(text);
    if (out->empty()) return Damaged(at, "an empty menu text");
    if (out->size() > kMaxMenuText)
      return Damaged(at, "a menu text longer than " + std::to_string(kMaxMenuText) + " characters");
    return Status();
  }

  LineWalker walker_;
  std::size_t count_ = 0;
};

// ---- Pictures ----

struct PaintParts {
  std::optional<std::uint32_t> fill;
  std::optional<std::uint32_t> stroke;
  std::optional<float> width;
};

// Reads the paint words from tokens[first] on.
Status ReadPaint(std::size_t at, const LineTokens& line, std::size_t first, PaintParts* paint) {
  for (std::size_t i = first; i < line.tokens.size(); i += 2) {
    const std::string& word = line.tokens[i];
    if (line.quoted[i]) return Damaged(at, "a text where a paint word should be");
    if (i + 1 >= line.tokens.size() || line.quoted[i + 1])
      return Damaged(at, word + " lacks its value");
    const std::string& value = line.tokens[i + 1];
    if (word == "FILL" || word == "STROKE") {
      auto& slot = word == "FILL" ? paint->fill : paint->stroke;
      if (slot) return Damaged(at, word + " is given twice");
      slot = ParseColour(value);
      if (!slot) return Damaged(at, "\"" + value + "\" is not a colour #rrggbb");
    } else if (word == "WIDTH") {
      if (paint->width) return Damaged(at, "WIDTH is given twice");
      paint->width = ParseCoordinate(value);
      if (!paint->width || *paint->width <= 0 || *paint->width > kMaxStrokeWidth)
        return Damaged(at, "\"" + value + "\" is not a stroke width above 0 and at most 16");
    } else {
      return Damaged(at, "\"" + word + "\" is not FILL, STROKE or WIDTH");
    }
  }
  if (!paint->fill && !paint->stroke) return Damaged(at, "the shape has neither FILL nor STROKE");
  if (paint->width && !paint->stroke) return Damaged(at, "WIDTH without a STROKE");
  return Status();
}

Status ReadShape(std::size_t at, const LineTokens& line, const Picture& picture,
                 PictureShape* shape) {
  const std::string& keyword = line.tokens[0];
  if (keyword == "RECT") {
    shape->kind = PictureShape::Kind::kRect;
  } else if (keyword == "ELLIPSE") {
    shape->kind = PictureShape::Kind::kEllipse;
  } else if (keyword == "POLYGON") {
    shape->kind = PictureShape::Kind::kPolygon;
  } else if (keyword == "POLYLINE") {
    shape->kind = PictureShape::Kind::kPolyline;
  } else {
    return Damaged(at, "unknown keyword \"" + keyword + "\" in a picture");
  }
  // The numbers run up to the first paint word.
  std::size_t i = 1;
  while (i < line.tokens.size() && !line.quoted[i] && !line.tokens[i].empty() &&
         line.tokens[i][0] >= '0' && line.tokens[i][0] <= '9') {
    const auto value = ParseCoordinate(line.tokens[i]);
    if (!value) return Damaged(at, "\"" + line.tokens[i] + "\" is not a number");
    if (shape->points.size() >= 2 * kMaxShapePoints)
      return Damaged(at, "more than " + std::to_string(kMaxShapePoints) + " points");
    shape->points.push_back(*value);
    ++i;
  }
  const std::size_t count = shape->points.size();
  const float width = static_cast<float>(picture.width);
  const float height = static_cast<float>(picture.height);
  if (shape->kind == PictureShape::Kind::kRect || shape->kind == PictureShape::Kind::kEllipse) {
    if (count != 4) return Damaged(at, keyword + " takes x, y, width and height");
    const float* p = shape->points.data();
    if (p[2] <= 0 || p[3] <= 0) return Damaged(at, "the shape's width and height must be above 0");
    if (p[0] + p[2] > width || p[1] + p[3] > height)
      return Damaged(at, "the shape reaches outside the picture");
  } else {
    const std::size_t least = shape->kind == PictureShape::Kind::kPolygon ? 3 : 2;
    if (count % 2 != 0) return Damaged(at, "a point lacks its y");
    if (count < 2 * least)
      return Damaged(at, keyword + " needs at least " + std::to_string(least) + " points");
    for (std::size_t k = 0; k < count; k += 2) {
      if (shape->points[k] > width || shape->points[k + 1] > height)
        return Damaged(at, "a point lies outside the picture");
    }
  }
  PaintParts paint;
  Status status = ReadPaint(at, line, i, &paint);
  if (!status.ok()) return status;
  if (shape->kind == PictureShape::Kind::kPolyline && paint.fill)
    return Damaged(at, "a POLYLINE cannot be filled");
  shape->fill = paint.fill;
  shape->stroke = paint.stroke;
  shape->strokeWidth = paint.width.value_or(1.0f);
  return Status();
}

}  // namespace

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

bool IsWellFormedUtf8(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    std::size_t length;
    std::uint32_t value;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      value = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      value = lead & 0x07;
    } else {
      return false;
    }
    if (bytes.size() - i < length) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      value = (value << 6) | (next & 0x3F);
    }
    if ((length == 3 && value < 0x800) || (length == 4 && value < 0x10000) || value > 0x10FFFF ||
        (value >= 0xD800 && value <= 0xDFFF))
      return false;
    i += length;
  }
  return true;
}

Status TokenizeLine(std::string_view line, LineTokens* out) {
  LineTokens result;
  std::size_t i = 0;
  while (true) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i == line.size()) break;
    std::string token;
    if (line[i] == '"') {
      ++i;
      bool closed = false;
      while (i < line.size()) {
        const char c = line[i++];
        if (c == '"') {
          closed = true;
          break;
        }
        if (c != '\\') {
          token += c;
          continue;
        }
        if (i == line.size()) break;
        switch (line[i++]) {
          case '"':
            token += '"';
            break;
          case '\\':
            token += '\\';
            break;
          case 'n':
            token += '\n';
            break;
          case 't':
            token += '\t';
            break;
          default:
            return Status(StatusCode::kDamaged,
                          "an unknown escape \\" + std::string(1, line[i - 1]) + " in a text");
        }
      }
      if (!closed) return Status(StatusCode::kDamaged, "a text without its closing quote");
      if (i < line.size() && !IsBlank(line[i]))
        return Status(StatusCode::kDamaged, "something follows a closing quote without a blank");
      if (!IsWellFormedUtf8(token))
        return Status(StatusCode::kDamaged, "a text that is not well-formed UTF-8");
      result.quoted.push_back(true);
    } else {
      while (i < line.size() && !IsBlank(line[i])) {
        if (line[i] == '"')
          return Status(StatusCode::kDamaged, "a quote inside a word; put a blank before the text");
        token += line[i++];
      }
      result.quoted.push_back(false);
    }
    result.tokens.push_back(std::move(token));
  }
  *out = std::move(result);
  return Status();
}

std::string QuoteText(std::string_view text) {
  std::string quoted = "\"";
  for (const char c : text) {
    switch (c) {
      case '"':
        quoted += "\\\"";
        break;
      case '\\':
        quoted += "\\\\";
        break;
      case '\n':
        quoted += "\\n";
        break;
      case '\t':
        quoted += "\\t";
        break;
      default:
        quoted += c;
    }
  }
  quoted += '"';
  return quoted;
}

Status ParseMenuText(std::string_view text, Menu* out) {
  Status status = CheckSize(text);
  if (!status.ok()) return status;
  return MenuReader(text).Read(out);
}

Status ParseToolBarText(std::string_view text, ToolBar* out) {
  Status status = CheckSize(text);
  if (!status.ok()) return status;
  ToolBar toolBar;
  LineWalker walker(text);
  LineTokens line;
  bool anyButton = false;
  while (walker.Next(&line, &status)) {
    const std::size_t at = walker.line();
    if (toolBar.buttons.size() >= kMaxToolBarEntries)
      return Damaged(
          at, "the tool bar has more than " + std::to_string(kMaxToolBarEntries) + " entries");
    ToolBarButton button;
    if (line.tokens[0] == "SEPARATOR" && Shaped(line, 0, 0)) {
      button.separator = true;
    } else if (line.tokens[0] == "BUTTON" && !line.quoted[0]) {
      if (!Shaped(line, 2, 0)) return Damaged(at, "BUTTON takes a command and a picture number");
      const auto command = ParseWholeNumber(line.tokens[1], 1, 0xFFFF);
      if (!command) return Damaged(at, "\"" + line.tokens[1] + "\" is not a command number");
      const auto picture = ParseWholeNumber(line.tokens[2], 1, 0xFFFFFFFFu);
      if (!picture) return Damaged(at, "\"" + line.tokens[2] + "\" is not a picture number");
      button.command = static_cast<std::uint16_t>(*command);
      button.picture = *picture;
      anyButton = true;
    } else {
      return Damaged(at, "a tool bar line must be BUTTON <command> <picture> or SEPARATOR");
    }
    toolBar.buttons.push_back(button);
  }
  if (!status.ok()) return status;
  if (!anyButton) return Status(StatusCode::kDamaged, "the tool bar has no buttons");
  *out = std::move(toolBar);
  return Status();
}

Status ParsePictureText(std::string_view text, Picture* out) {
  Status status = CheckSize(text);
  if (!status.ok()) return status;
  Picture picture;
  LineWalker walker(text);
  LineTokens line;
  if (!walker.Next(&line, &status)) {
    if (!status.ok()) return status;
    return Status(StatusCode::kDamaged, "the picture is empty");
  }
  {
    const std::size_t at = walker.line();
    if (line.tokens[0] != "SIZE" || !Shaped(line, 2, 0))
      return Damaged(at, "a picture begins with SIZE <width> <height>");
    const auto width = ParseWholeNumber(line.tokens[1], 1, kMaxPictureSize);
    const auto height = ParseWholeNumber(line.tokens[2], 1, kMaxPictureSize);
    if (!width || !height) return Damaged(at, "the size must be whole numbers from 1 to 256");
    picture.width = static_cast<int>(*width);
    picture.height = static_cast<int>(*height);
  }
  while (walker.Next(&line, &status)) {
    const std::size_t at = walker.line();
    if (line.quoted[0]) return Damaged(at, "a line begins with a text instead of a keyword");
    if (picture.shapes.size() >= kMaxPictureShapes)
      return Damaged(at, "more than " + std::to_string(kMaxPictureShapes) + " shapes");
    PictureShape shape;
    status = ReadShape(at, line, picture, &shape);
    if (!status.ok()) return status;
    picture.shapes.push_back(std::move(shape));
  }
  if (!status.ok()) return status;
  if (picture.shapes.empty()) return Status(StatusCode::kDamaged, "the picture draws no shape");
  *out = std::move(picture);
  return Status();
}

// ---- Dialog layouts ----

namespace {

struct ControlWord {
  const char* word;
  DialogControl::Kind kind;
  bool text;  // takes a quoted text
};
constexpr ControlWord kControlWords[] = {
    {"TITLE", DialogControl::Kind::kTitle, true},    {"LABEL", DialogControl::Kind::kLabel, true},
    {"EDIT", DialogControl::Kind::kEdit, false},     {"COMBO", DialogControl::Kind::kCombo, false},
    {"CHECK", DialogControl::Kind::kCheck, true},    {"BUTTON", DialogControl::Kind::kButton, true},
    {"CUSTOM", DialogControl::Kind::kCustom, false}, {"SPACE", DialogControl::Kind::kSpace, false},
};

// One control line: keyword, id (none for SPACE), text when the kind takes
// one, then option words.
Status ReadControl(std::size_t at, const LineTokens& line, const ControlWord& word,
                   DialogControl* control) {
  control->kind = word.kind;
  std::size_t next = 1;
  if (word.kind != DialogControl::Kind::kSpace) {
    if (line.tokens.size() < 2 || line.quoted[1])
      return Damaged(at, std::string(word.word) + " takes an id first");
    const auto id = ParseWholeNumber(line.tokens[1], 0, 0xFFFF);
    if (!id) return Damaged(at, "\"" + line.tokens[1] + "\" is not a control id");
    control->id = static_cast<std::uint16_t>(*id);
    next = 2;
  }
  if (word.text) {
    if (line.tokens.size() <= next || !line.quoted[next])
      return Damaged(at, std::string(word.word) + " takes a quoted text after its id");
    control->text = Utf8ToUtf16(line.tokens[next]);
    if (control->text.size() > kMaxDialogText)
      return Damaged(at,
                     "a dialog text longer than " + std::to_string(kMaxDialogText) + " characters");
    ++next;
  }
  for (; next < line.tokens.size(); ++next) {
    const std::string& option = line.tokens[next];
    if (line.quoted[next]) return Damaged(at, "a text where an option was expected");
    if (option == "STRETCH" && word.kind != DialogControl::Kind::kSpace)
      control->stretch = true;
    else if (option == "COMPACT" && word.kind == DialogControl::Kind::kTitle)
      control->compact = true;
    else
      return Damaged(at, "\"" + option + "\" is not an option of " + word.word);
  }
  return Status();
}

}  // namespace

Status ParseDialogText(std::string_view text, DialogLayout* out) {
  Status status = CheckSize(text);
  if (!status.ok()) return status;
  DialogLayout layout;
  LineWalker walker(text);
  LineTokens line;
  bool inRow = false;
  bool first = true;
  std::size_t controls = 0;
  std::size_t rowStart = 0;
  std::vector<std::uint16_t> ids;
  while (walker.Next(&line, &status)) {
    const std::size_t at = walker.line();
    const std::string& keyword = line.tokens[0];
    const bool wasFirst = first;
    first = false;
    if (line.quoted[0]) return Damaged(at, "a line must begin with a keyword");
    if (keyword == "CAPTION") {
      if (!wasFirst || !Shaped(line, 0, 1)) return Damaged(at, "CAPTION \"text\" comes first");
      layout.caption = Utf8ToUtf16(line.tokens[1]);
      if (layout.caption.size() > kMaxDialogText) return Damaged(at, "the caption is too long");
      continue;
    }
    if (keyword == "ROW") {
      if (inRow) return Damaged(at, "rows do not nest");
      if (!Shaped(line, 0, 0)) return Damaged(at, "ROW takes nothing");
      inRow = true;
      rowStart = at;
      layout.rows.emplace_back();
      continue;
    }
    if (keyword == "END") {
      if (!inRow || !Shaped(line, 0, 0)) return Damaged(at, "an END with no ROW open");
      if (layout.rows.back().controls.empty()) return Damaged(at, "an empty ROW");
      inRow = false;
      continue;
    }
    const ControlWord* word = nullptr;
    for (const ControlWord& candidate : kControlWords)
      if (keyword == candidate.word) word = &candidate;
    if (word == nullptr) return Damaged(at, "\"" + keyword + "\" is not a dialog line");
    if (++controls > kMaxDialogControls)
      return Damaged(at, "more than " + std::to_string(kMaxDialogControls) + " controls");
    DialogControl control;
    status = ReadControl(at, line, *word, &control);
    if (!status.ok()) return status;
    if (control.id != 0) {
      if (std::find(ids.begin(), ids.end(), control.id) != ids.end())
        return Damaged(at, "control id " + std::to_string(control.id) + " is used twice");
      ids.push_back(control.id);
    }
    if (!inRow) layout.rows.emplace_back();
    layout.rows.back().controls.push_back(std::move(control));
  }
  if (!status.ok()) return status;
  if (inRow) return Damaged(rowStart, "a ROW without its END");
  if (layout.rows.empty()) return Status(StatusCode::kDamaged, "the dialog has no controls");
  *out = std::move(layout);
  return Status();
}

}  // namespace tbm::res
