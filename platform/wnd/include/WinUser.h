// Top-level windows and the messages processes send each other.
//
// A program that owns a top-level window registers it with CreateWindowExW
// and gets an HWND that names the window on its whole machine. Other
// processes of the same machine find the window (EnumWindows, FindWindowW),
// read what it published about itself (styles, visibility, owning process,
// the program file the process runs) and send it messages that wait for the
// window procedure's answer (SendMessageW). The window procedure always runs
// on the thread that created the window, from that thread's message loop
// (GetMessageW and DispatchMessageW, or the hooks in MessagePump.h).
//
// Where a window is published: every machine root holds a window directory,
// "<machine root>/.windows/", with one small text file per window
// ("<hwnd as 8 hex digits>.window"), replaced atomically whenever the window
// changes. A window's entry goes when the window is destroyed or its thread
// ends; an entry left behind by a process that died is never reported (the
// process is checked to be alive, by its id and its start time) and is
// removed by the next process that comes across it.
//
// How messages travel: each window listens on a Unix-domain socket in the
// abstract namespace whose name carries the machine's tag and the window's
// handle. A sender connects, checks that the listener is the process the
// window directory names, writes one request and waits for one reply. The
// window's process answers only peers that run as the same user. A send to a
// window of the sending thread itself calls the window procedure directly.
//
// Only the values of wParam and lParam cross between processes; a pointer in
// them means nothing on the other side.
//
// All calls keep the per-thread last error: a failing call sets it.
#pragma once

#include <cstdint>

#include "WinTypes.h"

// A window handle: a number that names one window on its machine. Never
// dereferenced; 0 (null) is no window.
struct HWND__;
using HWND = HWND__*;

using UINT = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using LONG_PTR = std::intptr_t;
using DWORD_PTR = std::uintptr_t;

// A window procedure: answers one message sent or dispatched to a window.
// It runs on the window's thread and must not throw.
using WNDPROC = LRESULT (*)(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Called by EnumWindows for each window; returns FALSE to stop.
using WNDENUMPROC = BOOL (*)(HWND window, LPARAM lParam);

// A message taken from a thread's queue.
struct MSG {
  HWND hwnd;  // the window it is for; null for a message to the thread
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;  // when it was posted, in milliseconds of the monotonic clock
};

// Messages.
constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
constexpr UINT WM_KEYDOWN = 0x0100;  // wParam: the virtual key (VK_...)
constexpr UINT WM_CHAR = 0x0102;     // wParam: the character typed (UTF-16)
constexpr UINT WM_COMMAND = 0x0111;  // the low 16 bits of wParam: the command number
constexpr UINT WM_USER = 0x0400;     // first number free for a window class's own messages
constexpr UINT WM_APP = 0x8000;      // first number free for a program's own messages

// Virtual keys (WM_KEYDOWN).
constexpr WPARAM VK_BACK = 0x08;
constexpr WPARAM VK_TAB = 0x09;
constexpr WPARAM VK_RETURN = 0x0D;
constexpr WPARAM VK_ESCAPE = 0x1B;
constexpr WPARAM VK_LEFT = 0x25;
constexpr WPARAM VK_UP = 0x26;
constexpr WPARAM VK_RIGHT = 0x27;
constexpr WPARAM VK_DOWN = 0x28;

// Window styles (GWL_STYLE).
constexpr DWORD WS_OVERLAPPED = 0x00000000;
constexpr DWORD WS_POPUP = 0x80000000;
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_DISABLED = 0x08000000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_SYSMENU = 0x00080000;

// Extended window styles (GWL_EXSTYLE).
constexpr DWORD WS_EX_TOPMOST = 0x00000008;
constexpr DWORD WS_EX_TOOLWINDOW = 0x00000080;
constexpr DWORD WS_EX_WINDOWEDGE = 0x00000100;
constexpr DWORD WS_EX_CAPTIONOKBTN = 0x80000000;  // the handheld's OK button in the caption

// What GetWindowLongW and SetWindowLongW read and change.
constexpr int GWL_EXSTYLE = -20;
constexpr int GWL_STYLE = -16;
constexpr int GWLP_WNDPROC = -4;    // only through the ...LongPtrW calls
constexpr int GWLP_USERDATA = -21;  // only through the ...LongPtrW calls

// ShowWindow commands.
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOWMINIMIZED = 2;
constexpr int SW_SHOWMAXIMIZED = 3;
constexpr int SW_SHOWNOACTIVATE = 4;
constexpr int SW_SHOW = 5;
constexpr int SW_MINIMIZE = 6;
constexpr int SW_SHOWMINNOACTIVE = 7;
constexpr int SW_SHOWNA = 8;
constexpr int SW_RESTORE = 9;

// SendMessageTimeoutW flags.
constexpr UINT SMTO_NORMAL = 0x0000;
constexpr UINT SMTO_BLOCK = 0x0001;  // answer no sent messages while waiting
constexpr UINT SMTO_ABORTIFHUNG = 0x0002;

// PeekMessageW flags.
constexpr UINT PM_NOREMOVE = 0x0000;
constexpr UINT PM_REMOVE = 0x0001;

// Error numbers of the window calls, as the platform numbers them.
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;  // no such window (or its process is gone)
constexpr DWORD ERROR_INVALID_INDEX = 1413;          // a GWL_ value the call does not know
constexpr DWORD ERROR_NO_SYSTEM_RESOURCES = 1450;    // out of sockets, descriptors or the like
constexpr DWORD ERROR_TIMEOUT = 1460;                // the window did not answer in time

extern "C" {

// Creates a top-level window owned by the calling thread and publishes it in
// the current machine's window directory: its class name, title, style,
// extended style (visible when style has WS_VISIBLE), the calling process and
// thread, and the program file this process runs.
// windowProc answers the window's messages; param becomes its GWLP_USERDATA.
// This is the narrow form of the platform call: no parent, menu, position or
// size, as only top-level windows are published.
// Returns null on failure: ERROR_INVALID_PARAMETER for a null windowProc or
// class name, a class name over 256 or a title over 2048 characters;
// ERROR_NO_SYSTEM_RESOURCES when no socket could be made; the file error when
// the directory could not be written.
HWND CreateWindowExW(DWORD exStyle, const WCHAR* className, const WCHAR* windowName, DWORD style,
                     WNDPROC windowProc, void* param);

// Ends a window of the calling thread: takes it out of the window directory
// and stops listening for its messages, then lets its procedure handle
// WM_DESTROY (its values can still be read meanwhile), then forgets it and
// drops its posted messages. A message being answered when the window is
// destroyed still gets its answer. Windows a thread leaves behind end with
// the thread, without WM_DESTROY.
// Fails with ERROR_INVALID_WINDOW_HANDLE for an unknown window and
// ERROR_ACCESS_DENIED for a window of another thread.
BOOL DestroyWindow(HWND window);

// Calls callback for every live top-level window of the current machine,
// newest first, until the callback returns FALSE. The windows are those
// published when the call started. Returns TRUE when every window was
// offered (also when there are none), FALSE when the callback stopped it.
BOOL EnumWindows(WNDENUMPROC callback, LPARAM lParam);

// The first live window (in EnumWindows order) whose class name and title
// equal the given ones, compared without regard to case; a null class name
// or title matches any. Null with ERROR_FILE_NOT_FOUND when there is none.
HWND FindWindowW(const WCHAR* className, const WCHAR* windowName);

// TRUE when window names a live window of the current machine.
BOOL IsWindow(HWND window);

// GWL_STYLE or GWL_EXSTYLE of any live window. 0 on failure, with
// ERROR_INVALID_WINDOW_HANDLE or ERROR_INVALID_INDEX (a style of 0 sets the
// last error to ERROR_SUCCESS, so the two can be told apart).
LONG GetWindowLongW(HWND window, int index);

// Changes GWL_STYLE or GWL_EXSTYLE of a window of the calling process and
// republishes it; returns the previous value. 0 on failure:
// ERROR_INVALID_WINDOW_HANDLE, ERROR_INVALID_INDEX, ERROR_ACCESS_DENIED for a
// window of another process.
LONG SetWindowLongW(HWND window, int index, LONG newValue);

// As Get/SetWindowLongW, and also GWLP_WNDPROC and GWLP_USERDATA, which only
// the window's own process can read or change (ERROR_ACCESS_DENIED
// otherwise). A new GWLP_WNDPROC must not be null.
LONG_PTR GetWindowLongPtrW(HWND window, int index);
LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR newValue);

// TRUE when the window is live and its style has WS_VISIBLE.
BOOL IsWindowVisible(HWND window);

// Shows (any SW_ command but SW_HIDE) or hides (SW_HIDE) a window of the
// calling process and republishes it. Returns TRUE when it was visible
// before, FALSE when it was hidden or the call failed (the last error tells:
// ERROR_SUCCESS, ERROR_INVALID_WINDOW_HANDLE, ERROR_ACCESS_DENIED for a
// window of another process).
BOOL ShowWindow(HWND window, int command);

// The thread that owns a live window, and its process in *processId when
// processId is not null. 0 with ERROR_INVALID_WINDOW_HANDLE for no window.
DWORD GetWindowThreadProcessId(HWND window, DWORD* processId);

// Copies the absolute host path of the program file that the window's
// process runs (UTF-16) into fileName, cut to size - 1 characters and always
// terminated. Returns the number of characters copied; when the path did not
// fit, size and ERROR_INSUFFICIENT_BUFFER. 0 on failure:
// ERROR_INVALID_WINDOW_HANDLE, or ERROR_INVALID_PARAMETER for a null buffer
// or a size of 0. Callers compare it with a program path without regard to
// case, as the handheld does.
UINT GetWindowModuleFileNameW(HWND window, WCHAR* fileName, UINT size);

// Sends a message to a window and waits for the window procedure's answer,
// running the procedure directly when the window belongs to the calling
// thread. While it waits, a thread that owns windows answers messages sent
// to them (so two windows sending to each other do not deadlock).
// Waits as long as the window's process lives; fails at once when the window
// or its process is gone. On failure returns 0 with
// ERROR_INVALID_WINDOW_HANDLE (no such window, or its process ended before it
// answered) or ERROR_ACCESS_DENIED (its socket belongs to another process
// or user); on success sets ERROR_SUCCESS, so an answer of 0 can be told
// from a failure.
LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// As SendMessageW, but waits at most timeoutMilliseconds for the answer
// (INFINITE waits without limit), and with SMTO_BLOCK answers no sent
// messages while waiting. Returns nonzero and the answer in *result (when
// result is not null) on success; 0 on failure, with the errors of
// SendMessageW or ERROR_TIMEOUT.
LRESULT SendMessageTimeoutW(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT flags,
                            UINT timeoutMilliseconds, DWORD_PTR* result);

// Puts a message in the queue of the thread that owns window, where that
// thread's message loop finds it; returns at once. A null window posts to the
// calling thread's own queue. Messages from one thread arrive in the order
// they were posted. Only windows of the calling process take posted
// messages: FALSE with ERROR_ACCESS_DENIED for a window of another process,
// ERROR_INVALID_WINDOW_HANDLE for no window.
BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Asks the calling thread's message loop to end: GetMessageW returns WM_QUIT
// with exitCode in wParam once the messages posted before are taken.
void PostQuitMessage(int exitCode);

// Waits for the next posted message of the calling thread (for window when
// it is not null, in [filterMin, filterMax] when either is not 0), answering
// sent messages while it waits. Returns nonzero for a message, 0 for WM_QUIT
// and -1 on failure (ERROR_INVALID_PARAMETER for a null message,
// ERROR_NO_SYSTEM_RESOURCES when the queue could not be made).
BOOL GetMessageW(MSG* message, HWND window, UINT filterMin, UINT filterMax);

// As GetMessageW without waiting: answers sent messages, then returns TRUE
// with the next matching posted message (taken from the queue with PM_REMOVE,
// left there with PM_NOREMOVE) or FALSE when there is none.
BOOL PeekMessageW(MSG* message, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags);

// Runs the window procedure of message->hwnd for a posted message and
// returns its answer; 0 when the window is not one of the calling thread's.
LRESULT DispatchMessageW(const MSG* message);

}  // extern "C"

// A sentence for an error number of the window calls (or any other platform
// error), for messages shown to a person. Never null.
const char* DescribeWindowError(DWORD error);
