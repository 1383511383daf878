// Tabulon Mobile, the handheld program: shows one database at a time as a
// list or a form on the handheld's 240 x 320 screen.
//
//   "Tabulon Mobile" [DATABASE]                 on a display: the program's window
//   "Tabulon Mobile" --screenshots DIR DATABASE  without a window: pictures of the
//                                                list and the form view in DIR
//   "Tabulon Mobile" --screenshots DIR           a picture of the list of databases
//
// Without a display (no DISPLAY or WAYLAND_DISPLAY) the program runs
// offscreen and writes the pictures beside the database.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "DevicePath.h"
#include "Dialog.h"
#include "Document.h"
#include "FindDialog.h"
#include "FrameWnd.h"
#include "MessageBox.h"
#include "ProgramRequests.h"
#include "RecordDialogs.h"
#include "Resources.h"
#include "RunningProgram.h"
#include "TBMApp.h"
#include "TBMDocTemplate.h"
#include "TBMView.h"
#include "Utf16.h"
#include "ViewOptionsDlg.h"

namespace {

constexpr const char* kUsage =
    "Usage: \"Tabulon Mobile\" [--screenshots FOLDER] [DATABASE]\n"
    "Shows a Tabulon Mobile database as a list and a form on the handheld's screen.\n"
    "  DATABASE             a handheld path such as '\\My Documents\\Tabulon\\Sales.tbm'\n"
    "                       (inside the device root, $TBM_DEVICE_ROOT) or a path on\n"
    "                       this machine holding '/'; without one, the list of the\n"
    "                       handheld's databases shows\n"
    "  --screenshots FOLDER open DATABASE without a window and write pictures of its\n"
    "                       list and form view into FOLDER, then end; without a\n"
    "                       DATABASE, a picture of the list of databases\n"
    "Without a display the program runs as with --screenshots, writing the pictures\n"
    "beside the database.\n";

// The host folder of a database as given on the command line.
QString FolderOfDatabase(const std::string& given) {
  tbm::MappedPath mapped = tbm::HostPathFromDevicePath(tbm::Utf8ToUtf16(given));
  const std::string host = mapped.hostPath.empty() ? given : mapped.hostPath;
  return QFileInfo(QString::fromStdString(host)).absolutePath();
}

// A picture of the frame showing the list of the handheld's databases.
int WriteDocumentListScreenshot(const QString& folder) {
  tbm::ui::CFrameWnd* frame = tbm::ui::CWinApp::Get()->mainWindow();
  if (frame == nullptr || frame->docList() == nullptr) {
    std::fprintf(stderr,
                 "Tabulon Mobile: the list of databases did not show; no picture written\n");
    return 1;
  }
  QDir().mkpath(folder);
  const QString path = QDir(folder).filePath(QStringLiteral("documents.png"));
  QApplication::processEvents();
  frame->UpdateCommandUI();
  if (!frame->grab().save(path)) {
    std::fprintf(stderr, "Tabulon Mobile: cannot write %s\n", path.toLocal8Bit().constData());
    return 1;
  }
  std::printf("The list of databases: %s\n", path.toLocal8Bit().constData());
  return 0;
}

// Pictures of the find dialog (on the last find, the first field) and of
// the view options (on the list page), each ended as Cancel would.
int WriteDialogScreenshots(const QString& folder, const QString& stem,
                           tbm::app::CTBMDoc* document) {
  QString failed;
  auto picture = [&](const QString& name) {
    const QString path = QDir(folder).filePath(stem + name);
    tbm::ui::SetDialogAnswerer([path, &failed](QDialog* dialog) {
      QApplication::processEvents();
      if (!dialog->grab().save(path)) failed = path;
      dialog->reject();
    });
    return path;
  };
  const QString find = picture(QStringLiteral("-find.png"));
  const tbm::app::FindRequest last = document->GetLastFind();
  tbm::app::CFindDlg(last.field, last.text, document).DoModal();
  const QString options = picture(QStringLiteral("-options.png"));
  tbm::app::CViewOptionsDlg(tbm::app::OptionsPage::kList, -1, document).DoModal();
  tbm::ui::SetDialogAnswerer(nullptr);
  if (!failed.isEmpty()) {
    std::fprintf(stderr, "Tabulon Mobile: cannot write %s\n", failed.toLocal8Bit().constData());
    return 1;
  }
  std::printf("The find dialog: %s\nThe view options: %s\n", find.toLocal8Bit().constData(),
              options.toLocal8Bit().constData());
  return 0;
}

// Pictures of the frame with the list view, then with the form view.
int WriteScreenshots(const QString& folder, const QString& stem) {
  tbm::ui::CWinApp* app = tbm::ui::CWinApp::Get();
  tbm::ui::CFrameWnd* frame = app->mainWindow();
  if (frame == nullptr || frame->GetActiveView() == nullptr) {
    std::fprintf(stderr, "Tabulon Mobile: the database could not be shown; no pictures written\n");
    return 1;
  }
  QDir().mkpath(folder);
  const QString list = QDir(folder).filePath(stem + QStringLiteral("-list.png"));
  const QString form = QDir(folder).filePath(stem + QStringLiteral("-form.png"));
  QApplication::processEvents();
  frame->UpdateCommandUI();
  if (!frame->grab().save(list)) {
    std::fprintf(stderr, "Tabulon Mobile: cannot write %s\n", list.toLocal8Bit().constData());
    return 1;
  }
  frame->RouteCommand(tbm::ui::ID_VIEW_FORM);
  QApplication::processEvents();
  frame->UpdateCommandUI();
  if (!frame->grab().save(form)) {
    std::fprintf(stderr, "Tabulon Mobile: cannot write %s\n", form.toLocal8Bit().constData());
    return 1;
  }
  // The form again with the first field being edited: its editor over
  // the value and the input panel up.
  const QString editing = QDir(folder).filePath(stem + QStringLiteral("-editing.png"));
  auto* view = dynamic_cast<tbm::app::CTBMView*>(frame->GetActiveView());
  auto* document = view != nullptr ? view->GetDocument() : nullptr;
  if (document != nullptr && document->GetRecordIndex() >= 0 &&
      view->BeginEdit(document->GetRecordIndex(), 0)) {
    QApplication::processEvents();
    frame->UpdateCommandUI();
    const bool saved = frame->grab().save(editing);
    view->EndEdit();
    if (!saved) {
      std::fprintf(stderr, "Tabulon Mobile: cannot write %s\n", editing.toLocal8Bit().constData());
      return 1;
    }
    std::printf("The list view: %s\nThe form view: %s\nEditing in the form view: %s\n",
                list.toLocal8Bit().constData(), form.toLocal8Bit().constData(),
                editing.toLocal8Bit().constData());
    return WriteDialogScreenshots(folder, stem, document);
  }
  std::printf("The list view: %s\nThe form view: %s\n", list.toLocal8Bit().constData(),
              form.toLocal8Bit().constData());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments;
  std::string screenshots;
  bool screenshotsAsked = false;
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if (argument == "--help" || argument == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (argument == "--screenshots") {
      if (i + 1 >= argc) {
        std::fputs("Tabulon Mobile: --screenshots needs a folder\n", stderr);
        return 2;
      }
      screenshots = argv[++i];
      screenshotsAsked = true;
    } else if (argument.rfind("--", 0) == 0) {
      std::fprintf(stderr, "Tabulon Mobile: unknown option %s (try --help)\n", argument.c_str());
      return 2;
    } else {
      arguments.push_back(argument);
    }
  }

  const bool offscreen = screenshotsAsked || !tbm::tools::HasDisplay();
  if (offscreen) {
    if (arguments.empty() && !screenshotsAsked) {
      std::fputs("Tabulon Mobile: without a display, name the database to picture (try --help)\n",
                 stderr);
      return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Nobody can answer a box that nobody sees: say it on the terminal.
    tbm::ui::SetMessageBoxAnswerer([](const tbm::ui::MessageBoxRequest& request) {
      std::fprintf(stderr, "Tabulon Mobile: %s\n", tbm::Utf16ToUtf8(request.text).c_str());
      return tbm::ui::MessageAnswer::kCancel;
    });
  }

  QApplication application(argc, argv);
  tbm::app::CTBMApp program(arguments);
  if (!offscreen) {
    // Started again while it runs: the running program comes to the front
    // and opens the database named here, and this one ends.
    std::optional<std::u16string> path;
    if (!arguments.empty()) path = tbm::Utf8ToUtf16(arguments.front());
    if (tbm::app::HandToRunningInstance(path)) return 0;
    // The record commands ask their questions in the program's dialogs.
    tbm::app::CTBMDoc::SetRequests(tbm::app::DialogRequests());
    return program.Run();
  }

  int result = 1;
  if (!program.InitInstance()) {
    result = 1;
  } else if (arguments.empty()) {
    result = WriteDocumentListScreenshot(QString::fromStdString(screenshots));
  } else {
    const QString folder = screenshotsAsked ? QString::fromStdString(screenshots)
                                            : FolderOfDatabase(arguments.front());
    std::u16string title =
        program.mainWindow() != nullptr && program.mainWindow()->GetActiveDocument() != nullptr
            ? program.mainWindow()->GetActiveDocument()->GetTitle()
            : u"database";
    QString stem = tbm::ui::ToQString(title);
    if (int dot = stem.lastIndexOf(u'.'); dot > 0) stem.truncate(dot);
    result = WriteScreenshots(folder, stem);
  }
  delete program.mainWindow();
  program.ExitInstance();
  return result;
}
