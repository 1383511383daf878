#include "ProgramRequests.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>
#include <QWidget>

#include "Dialog.h"
#include "DocTemplate.h"
#include "FieldZoomDlg.h"
#include "FindDialog.h"
#include "FrameWnd.h"
#include "HandheldProgram.h"
#include "MessagePump.h"
#include "ProgramLog.h"
#include "ScannerLibrary.h"
#include "SystemPaths.h"
#include "TBMDoc.h"
#include "TBMView.h"
#include "Utf16.h"
#include "WinApp.h"

namespace tbm::app {

namespace {

// How long a second start waits for the running program to take the
// database (a message there, such as a database it cannot open, waits for
// the user; the second start does not).
constexpr DWORD kHandOverTimeoutMs = 3000;
// A second start waits this long before it ends, as the first one opens.
constexpr unsigned long kSecondStartPauseMs = 1000;

void Log(LogLevel level, const std::string& text) {
  ui::CWinApp* app = ui::CWinApp::Get();
  WriteLog(app != nullptr ? app->logName() : "Tabulon Mobile", level, text);
}

ui::CDocTemplate* Template() {
  ui::CWinApp* app = ui::CWinApp::Get();
  return app != nullptr ? app->GetFirstDocTemplate() : nullptr;
}

CTBMDoc* OpenDocument() {
  ui::CDocTemplate* docTemplate = Template();
  auto* document =
      docTemplate != nullptr ? dynamic_cast<CTBMDoc*>(docTemplate->document()) : nullptr;
  return document != nullptr && document->IsOpen() ? document : nullptr;
}

bool DialogOpen() { return ui::AnyDialogRunning() || QApplication::activeModalWidget() != nullptr; }

// The key a WM_KEYDOWN names, or a WM_CHAR types, with the text it types.
std::pair<int, QString> KeyOf(UINT message, WPARAM wParam) {
  const auto unit = static_cast<char16_t>(wParam & 0xFFFF);
  switch (wParam) {
    case VK_BACK:
      return {Qt::Key_Backspace, QString()};
    case VK_TAB:
      return {Qt::Key_Tab, QString()};
    case VK_RETURN:
      return {Qt::Key_Return, QStringLiteral("\r")};
    case VK_ESCAPE:
      return {Qt::Key_Escape, QString()};
    default:
      break;
  }
  if (message == WM_KEYDOWN) {
    switch (wParam) {
      case VK_LEFT:
        return {Qt::Key_Left, QString()};
      case VK_UP:
        return {Qt::Key_Up, QString()};
      case VK_RIGHT:
        return {Qt::Key_Right, QString()};
      case VK_DOWN:
        return {Qt::Key_Down, QString()};
      default:
        break;
    }
  }
  const QChar typed(unit);
  // Qt numbers the keys of printable ASCII as their upper-case characters.
  const int key = unit >= 0x20 && unit < 0x7F ? static_cast<int>(typed.toUpper().unicode())
                                              : static_cast<int>(Qt::Key_unknown);
  return {key, message == WM_CHAR ? QString(typed) : QString()};
}

std::u16string ThisProgram() {
  char16_t path[4096] = {};
  const DWORD units = GetModuleFileNameW(nullptr, path, 4096);
  return units > 0 && units < 4096 ? std::u16string(path, units) : std::u16string();
}

}  // namespace

std::u16string PathOfCommandLine(const std::u16string& commandLine) {
  const auto open = commandLine.find(u'"');
  if (open != std::u16string::npos) {
    const auto close = commandLine.find(u'"', open + 1);
    return commandLine.substr(
        open + 1, close == std::u16string::npos ? std::u16string::npos : close - open - 1);
  }
  const auto first = commandLine.find_first_not_of(u" \t");
  if (first == std::u16string::npos) return std::u16string();
  const auto last = commandLine.find_last_not_of(u" \t");
  return commandLine.substr(first, last - first + 1);
}

CProgramRequests::CProgramRequests(QWidget* frame) : QObject(frame), frame_(frame) {
  window_ = CreateWindowExW(0, sync::kHandheldMainWindowClass, u"Tabulon Mobile", WS_VISIBLE,
                            &CProgramRequests::WindowProc, static_cast<void*>(this));
  if (window_ == nullptr) {
    Log(LogLevel::kWarning, "the main window could not be published (error " +
                                std::to_string(GetLastError()) +
                                "): a synchronisation will not find the program");
    return;
  }
  const int queue = MessageQueueDescriptor();
  if (queue >= 0) {
    pump_ = new QSocketNotifier(queue, QSocketNotifier::Read, this);
    connect(pump_, &QSocketNotifier::activated, this, [] { DispatchPendingMessages(); });
  }
}

CProgramRequests::~CProgramRequests() {
  if (window_ != nullptr) DestroyWindow(window_);
}

LRESULT CProgramRequests::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<CProgramRequests*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return 0;
  if (message == WM_USER) return sync::AnswerHandheldCall(*self);
  if (message == kScannedLabelMessage) {
    self->OnScannedLabel(wParam, lParam);
    return 1;
  }
  if (message == WM_COMMAND) return self->PickCommand(wParam) ? 1 : 0;
  if (message == WM_KEYDOWN || message == WM_CHAR) {
    self->PressKey(message, wParam);
    return 1;
  }
  if (message == kBringToFrontMessage) {
    QWidget* top = self->frame_->window();
    top->show();
    top->raise();
    top->activateWindow();
    return 1;
  }
  return 0;
}

bool CProgramRequests::PickCommand(WPARAM wParam) {
  auto* frame = dynamic_cast<ui::CFrameWnd*>(frame_);
  if (frame == nullptr || DialogOpen()) return false;
  const auto id = static_cast<ui::CommandId>(wParam & 0xFFFF);
  frame->UpdateCommand(id);
  if (!frame->CommandAction(id)->isEnabled()) return false;
  frame->PostCommand(id);
  return true;
}

void CProgramRequests::PressKey(UINT message, WPARAM wParam) {
  const std::pair<int, QString> typed = KeyOf(message, wParam);
  const int key = typed.first;
  const QString text = typed.second;
  QPointer<QWidget> frame(frame_);
  QMetaObject::invokeMethod(
      this,
      [frame, key, text] {
        // An open dialog or question takes the keys. A window's own focus
        // counts also while no window is active (a platform without a
        // window manager activates none after a pop-up closed).
        const auto focusIn = [](QWidget* window) {
          return window->focusWidget() != nullptr ? window->focusWidget() : window;
        };
        QWidget* target = QApplication::focusWidget();
        if (QWidget* modal = QApplication::activeModalWidget();
            modal != nullptr && (target == nullptr || target->window() != modal))
          target = focusIn(modal);
        if (target == nullptr && frame != nullptr) target = focusIn(frame->window());
        if (target == nullptr) return;
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
        QApplication::sendEvent(target, &press);
        // The press may have closed the window that had the focus.
        if (QWidget* still = QApplication::focusWidget(); still != nullptr) {
          QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
          QApplication::sendEvent(still, &release);
        }
      },
      Qt::QueuedConnection);
}

bool CProgramRequests::OpenDatabase(const std::u16string& commandLine) {
  ui::CDocTemplate* docTemplate = Template();
  if (docTemplate == nullptr) return false;
  frame_->window()->raise();
  const std::u16string path = PathOfCommandLine(commandLine);
  if (CTBMDoc* open = OpenDocument();
      open != nullptr && !path.empty() && EqualsIgnoreCase(open->GetPathName(), path))
    return false;
  // A dialog or a question keeps the database: the user is in the middle
  // of something.
  if (DialogOpen()) return false;
  if (ui::CDocument* document = docTemplate->document(); document != nullptr)
    document->OnCloseDocument();
  if (path.empty()) {
    docTemplate->ShowDocumentList();
    return false;
  }
  return docTemplate->OpenDocumentFile(path) != nullptr;
}

std::optional<std::u16string> CProgramRequests::OpenDatabaseName() {
  CTBMDoc* document = OpenDocument();
  if (document == nullptr) return std::nullopt;
  std::u16string name;
  if (!document->GetDatabaseName(&name)) return std::u16string();
  return name;
}

bool CProgramRequests::CloseViewsForSync() {
  // A dialog or a message box is open: nothing changes; the database it
  // works on is left out of the synchronisation.
  if (DialogOpen()) return false;
  // So is a field edit whose end would ask the user (a date or time that
  // does not convert, a text too long): the request does not wait for an
  // answer, and the user's value is not thrown away unasked.
  if (CTBMView* view = ActiveRecordView(); view != nullptr && !view->EditEndsWithoutQuestion()) {
    Log(LogLevel::kInfo,
        "the views stay open during the synchronisation: the field being edited holds a value "
        "that cannot be stored");
    return false;
  }
  ui::CDocTemplate* docTemplate = Template();
  if (docTemplate != nullptr && docTemplate->document() != nullptr) {
    // The document's close ends the cell edit (its value is stored when it
    // can be) and lets the database go.
    docTemplate->document()->OnCloseDocument();
  }
  Log(LogLevel::kInfo, "the views were closed for a synchronisation");
  return true;
}

void CProgramRequests::OnScannedLabel(WPARAM wParam, LPARAM lParam) {
  ScannerLibrary* scanner = ProgramScanner();
  if (scanner == nullptr) return;
  const std::u16string label = scanner->ReadLabel(wParam, lParam);
  if (!label.empty()) {
    QWidget* focus = QApplication::focusWidget();
    QWidget* top = focus != nullptr ? focus->window() : nullptr;
    if (auto* find = dynamic_cast<CFindDlg*>(top)) {
      find->AcceptScannedText(label);
    } else if (auto* zoom = dynamic_cast<CFieldZoomDlg*>(top)) {
      zoom->AcceptScannedText(label);
    } else if (top == nullptr || top == frame_->window()) {
      auto* frame = dynamic_cast<ui::CFrameWnd*>(frame_);
      if (auto* view = frame != nullptr ? dynamic_cast<CTBMView*>(frame->GetActiveView()) : nullptr)
        view->OnScannedLabel(label);
    }
  }
  scanner->RequestRead(window_);
}

bool HandToRunningInstance(const std::optional<std::u16string>& path) {
  const std::u16string program = ThisProgram();
  if (program.empty()) return false;
  const HWND running = sync::FindHandheldProgramWindow(program);
  if (running == nullptr) return false;
  SendMessageTimeoutW(running, kBringToFrontMessage, 0, 0, SMTO_ABORTIFHUNG, kHandOverTimeoutMs,
                      nullptr);
  if (path && !path->empty()) {
    bool opened = false;
    const Status handed =
        sync::CallOpenDatabase(running, u"\"" + *path + u"\"", kHandOverTimeoutMs, &opened);
    if (!handed.ok())
      Log(LogLevel::kWarning,
          "the database could not be handed to the running program: " + handed.message());
  }
  QThread::msleep(kSecondStartPauseMs);
  return true;
}

}  // namespace tbm::app
