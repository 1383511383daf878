// The handheld's screen: 240 x 320 pixels unless the program or the
// environment says otherwise. A frame window takes the screen's size, and
// the input panel's rectangle is measured on it.
#pragma once

#include <QSize>

namespace tbm::ui {

inline constexpr QSize kDefaultScreenSize{240, 320};

// The screen size: the one set by SetScreenSize, else TBM_SCREEN_SIZE
// ("<width>x<height>", each 120 to 4096) when set and well formed, else
// 240 x 320.
QSize ScreenSize();

// Sets the screen size for the rest of the process (a program's command-line
// option); an empty size goes back to the environment and the default.
void SetScreenSize(QSize size);

}  // namespace tbm::ui
