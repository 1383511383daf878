// The language library's texts and pictures as widgets want them.
#pragma once

#include <QFont>
#include <QPixmap>
#include <QString>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "MessageBox.h"
#include "MessageFormat.h"

namespace tbm::ui {

QString ToQString(std::u16string_view text);
std::u16string FromQString(const QString& text);

// String number of the program's language library; empty when missing.
QString LoadQString(std::uint32_t number);

// The framework's own texts: the document list's column titles and the
// message boxes' buttons, by number in the program's language library.
inline constexpr std::uint32_t AFX_IDS_DOCLIST_NAME = 61710;
inline constexpr std::uint32_t AFX_IDS_DOCLIST_DATE = 61711;
inline constexpr std::uint32_t AFX_IDS_DOCLIST_SIZE = 61712;
inline constexpr std::uint32_t AFX_IDS_BUTTON_OK = 61720;
inline constexpr std::uint32_t AFX_IDS_BUTTON_CANCEL = 61721;
inline constexpr std::uint32_t AFX_IDS_BUTTON_YES = 61722;
inline constexpr std::uint32_t AFX_IDS_BUTTON_NO = 61723;

// String number of the program's language library, or english when the
// library (or the string) is missing.
QString FrameworkText(std::uint32_t number, const char* english);

// String number with its placeholders filled (MessageFormat.h). A string
// whose placeholders do not match the arguments is logged and shown as it
// stands, never formatted; a missing string gives an empty text.
QString FormatResourceMessage(std::uint32_t number,
                              std::initializer_list<res::MessageArgument> arguments);

// Shows string number, formatted with arguments, in a message box.
MessageAnswer ResourceMessageBox(std::uint32_t number,
                                 std::initializer_list<res::MessageArgument> arguments,
                                 MessageIcon icon = MessageIcon::kNone,
                                 MessageButtons buttons = MessageButtons::kOk);

// The font string number of the language library specifies: face, weight
// and height separated by commas (a negative height is the characters'
// height in pixels). A missing or empty piece takes its default: "Tahoma",
// 400, -11.
QFont ResourceFont(std::uint32_t number);

// Picture number drawn for a device pixel ratio (1 or 2 on the handheld's
// screens): a pixmap of the picture's grid size in device-independent
// pixels. A null pixmap when the library lacks the picture or it cannot be
// read (logged).
QPixmap LoadPicture(std::uint32_t number, qreal devicePixelRatio = 1.0);

}  // namespace tbm::ui
