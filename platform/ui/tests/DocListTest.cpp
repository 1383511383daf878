// The document list over a device root, and the template that opens files
// from it, switches views and brings the list back.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QHeaderView>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>
#include <fstream>

#include "DocList.h"
#include "MessageBox.h"
#include "TestSupport.h"
#include "UiTestSupport.h"

namespace tbm::ui::testing {
namespace {

namespace fs = std::filesystem;

void WriteFile(const fs::path& path, std::size_t bytes, char fill = 'x') {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out << std::string(bytes, fill);
}

class DocListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root_.ok());
    documents_ = root_.path() / "My Documents";
    frame_.LoadFrame(128);
    frame_.show();
  }

  CDocList* ShowList(const QString& filter = QStringLiteral("Tabulon Mobile Files|*.tbm||")) {
    auto list = std::make_unique<CDocList>(&frame_, filter, QStringLiteral("All Folders"));
    auto* shown = static_cast<CDocList*>(frame_.SetMainPane(std::move(list)));
    ProcessEvents();
    return shown;
  }

  static QStringList Names(const CDocList* list) {
    QStringList names;
    for (const CDocList::Entry& entry : list->entries()) names << entry.name;
    return names;
  }

  tbm::testing::ScratchFolder root_{"tbm-ui-doclist"};
  tbm::testing::ScopedEnvironment device_{"TBM_DEVICE_ROOT", root_.path().c_str()};
  fs::path documents_;
  TestApp app_;
  TestFrame frame_;
};

TEST_F(DocListTest, ListsMatchingFilesOfAllFoldersWithDateAndSizeAndSortsThem) {
  WriteFile(documents_ / "Sales.tbm", 3000);
  WriteFile(documents_ / "Tabulon" / "Orders.tbm", 70000);
  WriteFile(documents_ / "Tabulon" / "Old" / "Ancient.TBM", 10);
  WriteFile(documents_ / "notes.txt", 10);
  WriteFile(documents_ / "Tabulon" / "Sales.tbm.bak", 10);
  // A damaged database is listed like any other; opening it is not the
  // list's business.
  WriteFile(documents_ / "Damaged.tbm", 517, '\xFF');
  fs::last_write_time(documents_ / "Sales.tbm",
                      fs::file_time_type::clock::now() - std::chrono::hours(24 * 400));

  CDocList* list = ShowList();
  EXPECT_EQ(Names(list), (QStringList{"Ancient", "Damaged", "Orders", "Sales"}));
  std::vector<CDocList::Entry> entries = list->entries();
  EXPECT_EQ(entries[0].folder, QStringLiteral("Tabulon\\Old"));
  EXPECT_EQ(entries[0].openPath, u"\\My Documents\\Tabulon\\Old\\Ancient.TBM");
  EXPECT_EQ(entries[2].size, 70000u);
  EXPECT_EQ(entries[3].openPath, u"\\My Documents\\Sales.tbm");
  QTreeWidget* tree = list->listWidget();
  EXPECT_EQ(tree->topLevelItem(2)->text(2), QStringLiteral("69K"));
  EXPECT_EQ(tree->topLevelItem(0)->text(2), QStringLiteral("1K"));
  EXPECT_FALSE(tree->topLevelItem(3)->text(1).isEmpty()) << "the date shows";

  // Sorting: by size, largest first; by date, oldest first; by name again
  // with a tap on the column title.
  list->SortBy(CDocList::SortKey::kSize, false);
  EXPECT_EQ(Names(list), (QStringList{"Orders", "Sales", "Damaged", "Ancient"}));
  list->SortBy(CDocList::SortKey::kDate, true);
  EXPECT_EQ(Names(list).front(), QStringLiteral("Sales"));
  QHeaderView* header = tree->header();
  QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                    QPoint(header->sectionPosition(0) + 5, header->height() / 2));
  EXPECT_EQ(list->sortKey(), CDocList::SortKey::kName);
  EXPECT_EQ(Names(list), (QStringList{"Ancient", "Damaged", "Orders", "Sales"}));

  // The folder box narrows the list to one folder.
  EXPECT_EQ(list->folders(), (QStringList{"Tabulon", "Tabulon\\Old"}));
  list->ShowFolder(QStringLiteral("Tabulon"));
  EXPECT_EQ(Names(list), (QStringList{"Orders"}));
  list->ShowFolder(QString());

  // One tap opens: the handler hears of it after the tap.
  std::vector<std::u16string> opened;
  list->SetOpenHandler([&opened](const std::u16string& path) { opened.push_back(path); });
  QRect row = tree->visualItemRect(tree->topLevelItem(2));
  QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, row.center());
  EXPECT_TRUE(opened.empty());
  ProcessEvents();
  EXPECT_EQ(opened, (std::vector<std::u16string>{u"\\My Documents\\Tabulon\\Orders.tbm"}));
  SaveGrab(frame_.grab(), "document-list");

  // Files that come later are there when the list is read again.
  WriteFile(documents_ / "Later.tbm", 1);
  list->Refresh();
  EXPECT_EQ(list->entries().size(), 5u);
}

TEST_F(DocListTest, AMissingDeviceRootOrFolderIsAnEmptyListAndNothingIsMade) {
  fs::path missing = root_.path() / "not-yet";
  {
    tbm::testing::ScopedEnvironment device("TBM_DEVICE_ROOT", missing.c_str());
    CDocList* list = ShowList();
    EXPECT_TRUE(list->entries().empty());
    EXPECT_EQ(list->listWidget()->topLevelItemCount(), 0);
    EXPECT_FALSE(fs::exists(missing));
  }
  // A root without its documents folder, and one whose folder is spelt in
  // another case.
  CDocList* list = ShowList();
  EXPECT_TRUE(list->entries().empty());
  WriteFile(root_.path() / "my documents" / "Sales.tbm", 10);
  list->Refresh();
  EXPECT_EQ(Names(list), (QStringList{"Sales"}));
}

TEST_F(DocListTest, NamesOfAnyScriptAndLengthAreListedAsTheyAre) {
  const std::string longName(240, 'n');
  const std::vector<std::string> names = {"日本語のデータ.tbm",
                                          "بيانات المبيعات.tbm",
                                          "e\xCC\x81t\xC3\xA9.tbm",
                                          "😀 emoji.tbm",
                                          longName + ".tbm",
                                          "line\nbreak.tbm",
                                          "back\\slash.tbm",
                                          "bad\xFF"
                                          "bytes.tbm"};
  for (const std::string& name : names) WriteFile(documents_ / "Odd" / name, 100);

  CDocList* list = ShowList(QStringLiteral("*.tbm"));
  std::vector<CDocList::Entry> entries = list->entries();
  ASSERT_EQ(entries.size(), names.size());
  QStringList shown = Names(list);
  EXPECT_TRUE(shown.contains(QStringLiteral("日本語のデータ")));
  EXPECT_TRUE(shown.contains(QStringLiteral("بيانات المبيعات")));
  EXPECT_TRUE(shown.contains(QString::fromStdString(longName)));
  EXPECT_TRUE(shown.contains(QStringLiteral("line\uFFFDbreak"))) << "one line per file";
  for (const CDocList::Entry& entry : entries) {
    // A name the handheld cannot spell is opened by its host path.
    if (entry.fileName.contains(u'\\')) {
      EXPECT_EQ(entry.openPath, QString::fromStdString(entry.hostPath).toStdU16String());
    } else if (entry.fileName.startsWith(u"日本語")) {
      EXPECT_EQ(entry.openPath, u"\\My Documents\\Odd\\日本語のデータ.tbm");
    }
  }
  list->SortBy(CDocList::SortKey::kName, false);
  EXPECT_EQ(list->entries().size(), names.size());
  SaveGrab(frame_.grab(), "document-list-odd-names");
}

// The program's template: its document, its frame and its first view.
class TemplateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root_.ok());
    WriteFile(root_.path() / "My Documents" / "Sales.tbm", 100);
    WriteFile(root_.path() / "My Documents" / "Damaged.tbm", 100, '\0');
    CDocTemplate::Classes classes;
    classes.document = [] { return std::make_unique<TestDocument>(); };
    classes.frame = [] { return std::make_unique<TestFrame>(); };
    classes.view = [] { return std::make_unique<TestView>(); };
    template_ = app_.AddDocTemplate(std::make_unique<CDocTemplate>(128, std::move(classes)));
    template_->SetFilter(QStringLiteral("Tabulon Mobile Files (*.tbm)|*.tbm||"));
    SetMessageBoxAnswerer([this](const MessageBoxRequest& request) {
      boxes_.push_back(request.text);
      return MessageAnswer::kOk;
    });
  }
  void TearDown() override { SetMessageBoxAnswerer(nullptr); }

  TestFrame* MainFrame() const { return static_cast<TestFrame*>(app_.mainWindow()); }

  void TapFile(const QString& name) {
    CDocList* list = MainFrame()->docList();
    ASSERT_NE(list, nullptr);
    QTreeWidget* tree = list->listWidget();
    auto found = tree->findItems(name, Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {},
                      tree->visualItemRect(found.front()).center());
    ProcessEvents();
  }

  tbm::testing::ScratchFolder root_{"tbm-ui-template"};
  tbm::testing::ScopedEnvironment device_{"TBM_DEVICE_ROOT", root_.path().c_str()};
  TestApp app_;
  CDocTemplate* template_ = nullptr;
  std::vector<std::u16string> boxes_;
};

TEST_F(TemplateTest, TheListOpensADatabaseWhoseViewsSwitchAndItComesBackWhenItCloses) {
  CDocList* list = template_->ShowDocumentList();
  ASSERT_NE(list, nullptr);
  TestFrame* frame = MainFrame();
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(frame->docListsCreated, 1);
  EXPECT_EQ(frame->mainPane(), list);
  // The list's own command bar stands in for the frame's, with the menu bar
  // the frame inserted and without the new-file button it deleted.
  EXPECT_FALSE(frame->commandBar()->isVisible());
  EXPECT_TRUE(list->commandBar()->isVisible());
  EXPECT_EQ(list->commandBar()->CommandToIndex(CDocList::kNewButtonCommand), -1);
  EXPECT_NE(list->commandBar()->menuBar(), nullptr);
  EXPECT_FALSE(frame->IsBarShown(frame->statusBar()));
  EXPECT_EQ(list->commandBar()->geometry().bottom(), 319);
  EXPECT_EQ(list->geometry(), QRect(0, 0, 240, 320 - CCommandBar::kHeight));
  SaveGrab(frame->grab(), "template-document-list");

  TapFile(QStringLiteral("Sales"));
  auto* document = static_cast<TestDocument*>(template_->document());
  ASSERT_NE(document, nullptr);
  EXPECT_EQ(document->opened, 1);
  EXPECT_EQ(document->GetTitle(), u"Sales.tbm");
  EXPECT_EQ(document->GetPathName(), u"\\My Documents\\Sales.tbm");
  auto* view = dynamic_cast<TestView*>(frame->GetActiveView());
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(frame->mainPane(), view);
  EXPECT_EQ(view->initialUpdates, 1);
  EXPECT_EQ(frame->docList(), nullptr);
  EXPECT_TRUE(frame->commandBar()->isVisible());
  EXPECT_TRUE(boxes_.empty());

  // The view switch keeps the document and puts the new view where the old
  // one was.
  QRect place = view->geometry();
  CView* form = frame->ReplaceView(std::make_unique<OtherView>());
  ASSERT_NE(form, nullptr);
  EXPECT_EQ(template_->document(), document);
  EXPECT_EQ(TestDocument::alive, 1);
  EXPECT_EQ(document->views(), (std::vector<CView*>{form}));
  EXPECT_EQ(frame->GetActiveView(), form);
  EXPECT_EQ(form->geometry(), place);
  EXPECT_EQ(static_cast<OtherView*>(form)->initialUpdates, 1);
  EXPECT_TRUE(document->autoDelete());
  EXPECT_EQ(document->closed, 0);

  // Closing the document brings the list back in the same frame.
  document->OnCloseDocument();
  EXPECT_EQ(template_->document(), nullptr);
  EXPECT_EQ(TestDocument::alive, 0);
  ASSERT_NE(frame->docList(), nullptr);
  EXPECT_EQ(app_.mainWindow(), frame);
  EXPECT_EQ(frame->docListsCreated, 2);
}

TEST_F(TemplateTest, AFailedOpenClosesTheDocumentAndLeavesTheListShowing) {
  // From the command line: no frame yet.
  EXPECT_EQ(template_->OpenDocumentFile(u"\\My Documents\\Damaged.tbm"), nullptr);
  TestFrame* frame = MainFrame();
  ASSERT_NE(frame, nullptr);
  EXPECT_NE(frame->docList(), nullptr);
  EXPECT_EQ(template_->document(), nullptr);
  EXPECT_EQ(TestDocument::alive, 0);

  // From the list: the list comes back once more.
  TapFile(QStringLiteral("Damaged"));
  EXPECT_EQ(template_->document(), nullptr);
  ASSERT_NE(frame->docList(), nullptr);
  EXPECT_EQ(app_.mainWindow(), frame);

  // A frame that cannot be made: the framework's message, nothing opened.
  CDocTemplate::Classes broken;
  broken.document = [] { return std::make_unique<TestDocument>(); };
  broken.frame = [] { return nullptr; };
  broken.view = [] { return std::make_unique<TestView>(); };
  CDocTemplate second(128, std::move(broken));
  delete frame;
  ASSERT_EQ(app_.mainWindow(), nullptr);
  EXPECT_EQ(second.OpenDocumentFile(u"\\My Documents\\Sales.tbm"), nullptr);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(TestDocument::alive, 0);
}

}  // namespace
}  // namespace tbm::ui::testing
