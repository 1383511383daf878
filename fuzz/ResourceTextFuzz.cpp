// Resource texts as a damaged or hostile language library could hand them
// out: each reader either refuses the text in words or gives back a
// resource within its limits, never a crash; and the message formatter
// either fills a text or refuses it with nothing written.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "MessageFormat.h"
#include "ResourceText.h"
#include "Utf16.h"

namespace {

using namespace tbm::res;

void CheckItems(const std::vector<MenuItem>& items, int depth) {
  if (depth > kMaxMenuDepth || items.empty()) std::abort();
  for (const MenuItem& item : items) {
    switch (item.kind) {
      case MenuItem::Kind::kPopup:
        CheckItems(item.children, depth + 1);
        break;
      case MenuItem::Kind::kCommand:
        if (item.command == 0 || item.text.empty() || item.text.size() > kMaxMenuText) std::abort();
        break;
      case MenuItem::Kind::kSeparator:
        if (!item.text.empty()) std::abort();
        break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  Menu menu;
  const tbm::Status menuStatus = ParseMenuText(text, &menu);
  if (menuStatus.ok()) {
    CheckItems(menu.items, 0);
  } else if (menuStatus.message().empty() || !menu.items.empty()) {
    std::abort();
  }

  ToolBar toolBar;
  const tbm::Status barStatus = ParseToolBarText(text, &toolBar);
  if (barStatus.ok() && (toolBar.buttons.empty() || toolBar.buttons.size() > kMaxToolBarEntries))
    std::abort();

  Picture picture;
  if (ParsePictureText(text, &picture).ok()) {
    if (picture.width < 1 || picture.width > kMaxPictureSize || picture.shapes.empty())
      std::abort();
    for (const PictureShape& shape : picture.shapes) {
      if (shape.points.size() < 4 || shape.points.size() % 2 != 0) std::abort();
      if (!shape.fill && !shape.stroke) std::abort();
    }
  }

  const MessageArgument arguments[] = {MessageArgument::Number(-42),
                                       MessageArgument::Text(u"\\My Documents\\a.tbm")};
  std::u16string out = u"stale";
  if (!FormatMessageText(tbm::Utf8ToUtf16(text), arguments, &out).ok() && !out.empty())
    std::abort();
  return 0;
}
