// The framework's resource text calls of Resources.h that the program's
// tests use, for this test program while the framework library does not
// define them yet.
#include "Resources.h"
#include "WinApp.h"

namespace tbm::ui {

QString ToQString(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

std::u16string FromQString(const QString& text) {
  return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()),
                        static_cast<std::size_t>(text.size()));
}

QString LoadQString(std::uint32_t number) {
  CWinApp* app = CWinApp::Get();
  return app != nullptr ? ToQString(app->LoadString(number)) : QString();
}

QString FormatResourceMessage(std::uint32_t number,
                              std::initializer_list<res::MessageArgument> arguments) {
  CWinApp* app = CWinApp::Get();
  if (app == nullptr || app->resources() == nullptr) return QString();
  const std::optional<std::u16string> text = app->resources()->String(number);
  if (!text) return QString();
  std::u16string formatted;
  if (!res::FormatMessageText(*text, std::span(arguments.begin(), arguments.size()), &formatted)
           .ok())
    return ToQString(*text);
  return ToQString(formatted);
}

MessageAnswer ResourceMessageBox(std::uint32_t number,
                                 std::initializer_list<res::MessageArgument> arguments,
                                 MessageIcon icon, MessageButtons buttons) {
  MessageBoxRequest request;
  request.text = FromQString(FormatResourceMessage(number, arguments));
  request.icon = icon;
  request.buttons = buttons;
  return ShowMessageBox(request);
}

}  // namespace tbm::ui
