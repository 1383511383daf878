// The messages the test peer's window answers (see WindowPeer.cpp).
#pragma once

#include "WinUser.h"

namespace tbm::peer {

constexpr UINT kEcho = WM_USER + 1;      // answers wParam * 1000 + lParam
constexpr UINT kCallBack = WM_USER + 2;  // sends kEcho(7, 8) to window wParam, answers that + 1
constexpr UINT kHang = WM_USER + 3;      // writes "hanging", answers when its stdin closes
constexpr UINT kQuit = WM_USER + 4;      // ends the peer's loop with exit code wParam
constexpr UINT kRestyle = WM_USER + 5;   // sets its extended style to wParam
constexpr UINT kHide = WM_USER + 6;      // hides its window

}  // namespace tbm::peer
