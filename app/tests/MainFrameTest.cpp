// The program started as main() starts it, on a fresh device: its command
// line, the bars it shows on the first start and after the user changed
// them, and the status bar's position text and found-set mark.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QImage>
#include <QLineEdit>
#include <QTest>
#include <QTextEdit>
#include <QTreeWidget>
#include <set>

#include "AppTestSupport.h"
#include "BarcodePicture.h"
#include "CommandIds.h"
#include "Dialog.h"
#include "DocList.h"
#include "HandheldCalls.h"
#include "MainFrame.h"
#include "ProgramRequests.h"
#include "RecordDialogs.h"
#include "Registry.h"
#include "RunProgram.h"
#include "StatusBar.h"
#include "ToolBar.h"
#include "Utf16.h"

namespace tbm::app::testing {
namespace {

class MainFrameTest : public AppTest {
 protected:
  ~MainFrameTest() override { Stop(); }

  // A new application object with this command line, started as main()
  // starts it; its main window, or null when the start failed.
  ui::CFrameWnd* Start(const std::vector<std::string>& arguments) {
    Stop();
    app_ = std::make_unique<CTBMApp>(arguments);
    if (!app_->InitInstance()) return nullptr;
    RunPostedEvents();
    app_->mainWindow()->UpdateCommandUI();
    return app_->mainWindow();
  }
  // Ends the program as main() does: the main window goes, then the engine.
  void Stop() {
    if (!app_) return;
    delete app_->mainWindow();
    app_->ExitInstance();
    app_.reset();
  }
  std::uint32_t BarInfo() const { return app_->GetProfileInt(u"Mobile", u"BarInfo", 0xFFFF); }
};

constexpr std::uint32_t kBothBars = (1u << kToolBarBit) | (1u << kStatusBarBit);

TEST_F(MainFrameTest, BothBarsShowOnTheFirstStartAndTheUsersChoiceIsKeptForTheNext) {
  const std::string people = Utf16ToUtf8(MakeDatabase("People", kPeopleCsv));
  ui::CFrameWnd* frame = Start({people});
  ASSERT_NE(frame, nullptr);
  ASSERT_NE(dynamic_cast<CTBMView*>(frame->GetActiveView()), nullptr);
  EXPECT_EQ(BarInfo(), kBothBars);
  EXPECT_TRUE(frame->IsBarShown(frame->toolBar()));
  EXPECT_TRUE(frame->IsBarShown(frame->statusBar()));

  // The user hides the navigation bar; it is remembered at once.
  frame->RouteCommand(ui::ID_VIEW_TOOLBAR);
  EXPECT_FALSE(frame->IsBarShown(frame->toolBar()));
  EXPECT_EQ(BarInfo(), 1u << kStatusBarBit);

  frame = Start({people});
  ASSERT_NE(frame, nullptr);
  EXPECT_FALSE(frame->IsBarShown(frame->toolBar()));
  EXPECT_TRUE(frame->IsBarShown(frame->statusBar()));
  frame->RouteCommand(ui::ID_VIEW_TOOLBAR);
  EXPECT_EQ(BarInfo(), kBothBars);
}

TEST_F(MainFrameTest, TheStatusBarShowsThePositionAndMarksAFoundSet) {
  ui::CFrameWnd* frame = Start({Utf16ToUtf8(MakeDatabase("People", kPeopleCsv))});
  ASSERT_NE(frame, nullptr);
  ui::CStatusBar* status = frame->statusBar();
  EXPECT_EQ(status->GetPaneText(1), QStringLiteral("1 of 5"));
  EXPECT_EQ(status->GetItemRect(2).width(), 0);

  CTBMDoc::SetRequests({.find = [](const FindRequest&) { return FindRequest{4, u"night"}; }});
  frame->RouteCommand(ui::ID_RECORD_FIND);
  RunPostedEvents();
  frame->UpdateCommandUI();
  EXPECT_EQ(status->GetPaneText(1), QStringLiteral("1 of 1"));
  const QRect mark = status->GetItemRect(2);
  ASSERT_GT(mark.width(), 0);
  // The mark is a picture: the pane holds more than its background.
  const QImage image = status->grab(mark).toImage();
  std::set<QRgb> colours;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) colours.insert(image.pixel(x, y));
  EXPECT_GT(colours.size(), 2u);

  frame->RouteCommand(ui::ID_RECORD_SHOW_ALL);
  frame->UpdateCommandUI();
  EXPECT_EQ(status->GetPaneText(1), QStringLiteral("1 of 5"));
  EXPECT_EQ(status->GetItemRect(2).width(), 0);
}

TEST_F(MainFrameTest, ADatabaseOnTheCommandLineThatCannotOpenLeavesTheListOfDatabases) {
  MakeDatabase("People", kPeopleCsv);
  const std::u16string broken = u"\\My Documents\\Tabulon\\Broken.tbm";
  const std::string bytes(3000, '\x5a');
  ASSERT_TRUE(tbm::testing::WriteWholeFile(HostPath(broken), bytes));

  ui::CFrameWnd* frame = Start({Utf16ToUtf8(broken)});
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->GetActiveView(), nullptr);
  ASSERT_NE(frame->docList(), nullptr);
  QTreeWidget* list = frame->docList()->listWidget();
  QStringList names;
  for (int i = 0; i < list->topLevelItemCount(); ++i) names << list->topLevelItem(i)->text(0);
  names.sort();
  EXPECT_EQ(names, (QStringList{"Broken", "People"}));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].text.find(broken), std::u16string::npos);
  EXPECT_EQ(tbm::testing::ReadWholeFile(HostPath(broken)), bytes);
}

TEST_F(MainFrameTest, OtherProcessesReachTheProgramThroughItsMainWindow) {
  const std::u16string people = MakeDatabase("People", kPeopleCsv);
  const std::u16string other = MakeDatabase("Other", "Item:text\nNails\n");
  auto* frame = dynamic_cast<CMainFrame*>(Start({Utf16ToUtf8(people)}));
  ASSERT_NE(frame, nullptr);
  ASSERT_NE(frame->requests(), nullptr);
  const HWND window = frame->requests()->window();
  ASSERT_NE(window, nullptr);
  constexpr DWORD kWait = 5000;

  // The agent asks which database is open.
  std::optional<std::u16string> name;
  ASSERT_TRUE(sync::CallOpenDatabaseName(window, kWait, &name).ok());
  EXPECT_EQ(name, u"People");

  // A dialog is open: the views stay, and so does the database.
  bool closed = true;
  ui::SetDialogAnswerer([&](QDialog* dialog) {
    ASSERT_TRUE(sync::CallCloseViewsForSync(window, kWait, &closed).ok());
    dialog->reject();
  });
  ASSERT_TRUE(frame->RouteCommand(ui::ID_APP_ABOUT));
  ui::SetDialogAnswerer(nullptr);
  EXPECT_FALSE(closed);
  ASSERT_TRUE(sync::CallOpenDatabaseName(window, kWait, &name).ok());
  EXPECT_EQ(name, u"People");

  // A field being edited is stored, then the views and the database go.
  ASSERT_TRUE(frame->RouteCommand(ui::ID_VIEW_FORM));
  RunPostedEvents();
  auto* view = dynamic_cast<CTBMView*>(frame->GetActiveView());
  ASSERT_NE(view, nullptr);
  ASSERT_TRUE(view->BeginEdit(0, 4));
  auto* edit = frame->GetActiveView()->findChild<QTextEdit*>(QStringLiteral("fieldEdit"));
  ASSERT_NE(edit, nullptr);
  edit->setPlainText(QStringLiteral("Stored before the synchronisation"));
  ASSERT_TRUE(sync::CallCloseViewsForSync(window, kWait, &closed).ok());
  EXPECT_TRUE(closed);
  RunPostedEvents();
  ASSERT_TRUE(sync::CallOpenDatabaseName(window, kWait, &name).ok());
  EXPECT_FALSE(name.has_value());
  const auto notes = tbm::testing::RunProgram((BuildBinFolder() / "tbmdb").string(),
                                              {"list", Utf16ToUtf8(people), "--csv"}, {}, {});
  EXPECT_NE(notes.out.find("Stored before the synchronisation"), std::string::npos) << notes.out;

  // A second start hands over a command line: another database opens, the
  // same one again changes nothing.
  bool opened = false;
  ASSERT_TRUE(sync::CallOpenDatabase(window, u"\"" + other + u"\"", kWait, &opened).ok());
  EXPECT_TRUE(opened);
  RunPostedEvents();
  ASSERT_TRUE(sync::CallOpenDatabaseName(window, kWait, &name).ok());
  EXPECT_EQ(name, u"Other");
  ASSERT_TRUE(sync::CallOpenDatabase(window, u"\"" + other + u"\"", kWait, &opened).ok());
  EXPECT_FALSE(opened);
  // A path that does not exist opens nothing; the list of databases shows.
  ASSERT_TRUE(sync::CallOpenDatabase(window, u"\"\\My Documents\\Gone.tbm\"", kWait, &opened).ok());
  EXPECT_FALSE(opened);
  RunPostedEvents();
  EXPECT_NE(app_->mainWindow()->docList(), nullptr);
}

TEST_F(MainFrameTest, LabelsFromABarcodeReaderFillTheEditedFieldAndOtherwiseAFind) {
  // A reader on a FIFO, as the device's registry names it.
  const std::filesystem::path fifo = root_.path() / "Temp" / "scanner";
  std::filesystem::create_directories(fifo.parent_path());
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, u"Software\\Symbol\\Scanner\\SCN1", u"Port",
                         u"\\Temp\\scanner"),
            ERROR_SUCCESS);
  // And pictures of barcodes dropped into a folder.
  const std::filesystem::path images = root_.path() / "Scans";
  std::filesystem::create_directories(images);
  ASSERT_EQ(RegSetString(HKEY_LOCAL_MACHINE, u"Software\\Symbol\\Scanner\\SCN1", u"ImageFolder",
                         u"\\Scans"),
            ERROR_SUCCESS);
  const std::u16string people = MakeDatabase("People", kPeopleCsv);
  auto* frame = dynamic_cast<CMainFrame*>(Start({Utf16ToUtf8(people)}));
  ASSERT_NE(frame, nullptr);
  ASSERT_TRUE(app_->scanner().loaded());
  auto scan = [&](const std::string& label) {
    int fd = -1;
    for (int tries = 0; tries < 100 && fd < 0; ++tries) {
      fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
      if (fd < 0) QTest::qWait(50);
    }
    ASSERT_GE(fd, 0) << "nobody reads the scanner's FIFO";
    const std::string line = label + "\n";
    ASSERT_EQ(::write(fd, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    ::close(fd);
  };

  // Editing the first field of the form: the label replaces its text and
  // editing moves on to the next field.
  ASSERT_TRUE(frame->RouteCommand(ui::ID_VIEW_FORM));
  RunPostedEvents();
  auto* view = dynamic_cast<CTBMView*>(frame->GetActiveView());
  ASSERT_NE(view, nullptr);
  ASSERT_TRUE(view->BeginEdit(0, 0));
  scan("4006381333931");
  auto* document = dynamic_cast<CTBMDoc*>(frame->GetActiveDocument());
  ASSERT_NE(document, nullptr);
  for (int tries = 0; tries < 100 && view->editField() != 1; ++tries) QTest::qWait(50);
  EXPECT_EQ(view->editField(), 1);
  EXPECT_EQ(document->ReadField(0, 0), u"4006381333931");

  // No editor: the label becomes a find on the last find's field.
  ASSERT_TRUE(view->EndEdit());
  std::optional<FindRequest> asked;
  CTBMDoc::SetRequests({.find = [&](const FindRequest& last) {
    asked = last;
    return std::nullopt;
  }});
  scan("Ada");
  for (int tries = 0; tries < 100 && !asked; ++tries) QTest::qWait(50);
  ASSERT_TRUE(asked.has_value());
  EXPECT_EQ(asked->text, u"Ada");

  // The find dialog in front, its text box focused: the barcode of a
  // picture replaces the find text, and the find runs on it (finding the
  // record whose name was scanned above).
  CTBMDoc::SetRequests(DialogRequests());
  QString found;
  ui::SetDialogAnswerer([&](QDialog* dialog) {
    auto* box = dialog->findChild<QLineEdit*>();
    ASSERT_NE(box, nullptr);
    dialog->activateWindow();
    box->setFocus();
    ASSERT_TRUE(scan::testing::DropBarcodeImage(images, "shelf.png", ZXing::BarcodeFormat::EAN13,
                                                "4006381333931"));
    for (int tries = 0; tries < 200 && box->text() != u"4006381333931"; ++tries) QTest::qWait(50);
    found = box->text();
    dialog->accept();
  });
  ASSERT_TRUE(frame->RouteCommand(ui::ID_RECORD_FIND));
  ui::SetDialogAnswerer(nullptr);
  EXPECT_EQ(found, u"4006381333931");
  EXPECT_TRUE(document->IsFiltered());
  EXPECT_EQ(document->GetRecordCount(), 1);
}

}  // namespace
}  // namespace tbm::app::testing
