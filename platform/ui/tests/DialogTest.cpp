// Dialogs and property sheets made from the language library's layouts,
// worked as a user works them: controls found by id, the edit menu acting
// on the focused box, the input panel following it, help, and the endings.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

#include "Dialog.h"
#include "InputPanel.h"
#include "ProgramLog.h"
#include "Resources.h"
#include "TestSupport.h"
#include "UiTestSupport.h"

namespace tbm::ui::testing {
namespace {

// The go-to layout (2600) with what its user typed read back on OK.
class NumberDialog : public CDialog {
 public:
  NumberDialog() : CDialog(2600) {}
  QString typed;
  int helps = 0;
  bool refuseEmpty = false;

 protected:
  bool OnInitDialog() override {
    Item<QLabel>(2602)->setText(QStringLiteral("Go to record number (1 to 12):"));
    return true;
  }
  bool OnOK() override {
    typed = Item<QLineEdit>(2603)->text();
    return !(refuseEmpty && typed.isEmpty());
  }
  void OnHelp() override { ++helps; }
};

class OptionsPage : public CPropertyPage {
 public:
  explicit OptionsPage(std::uint32_t number) : CPropertyPage(number) {
    OnCommand(ID_EDIT_UNDO, [this] { ++undos; });
  }
  int undos = 0;
  bool saved = false;
  void OnOK() override { saved = true; }
};

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::unique_ptr<res::ResourceLibrary> library;
    ASSERT_TRUE(res::ResourceLibrary::Load(LanguageLibraryPath("409"), &library).ok());
    app_.SetResources(std::move(library));
    app_.SetLogName("tbm_ui_tests");
    CloseLogs();
    CInputPanel::Get().Show(false);
  }
  void TearDown() override { SetDialogAnswerer(nullptr); }

  TestApp app_;
};

TEST_F(DialogTest, ADialogIsBuiltFromItsLayoutAndAnsweredAsAUserAnswersIt) {
  NumberDialog dialog;
  int answered = 0;
  SetDialogAnswerer([&](QDialog* shown) {
    ++answered;
    ASSERT_EQ(shown, &dialog);
    // The layout's controls by id: the title line, the text the dialog
    // filled in, the edit box.
    auto* title = dynamic_cast<CDialogTitleLabel*>(dialog.GetDlgItem(2601));
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(title->text(), QStringLiteral("Go To Record"));
    EXPECT_FALSE(title->compact());
    EXPECT_EQ(dialog.Item<QLabel>(2602)->text(), QStringLiteral("Go to record number (1 to 12):"));
    auto* edit = dialog.Item<QLineEdit>(2603);
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(dialog.size(), QSize(240, 320));
    // The edit box takes the focus: the input panel comes up, and the edit
    // commands act on it.
    edit->setFocus();
    QApplication::processEvents();
    EXPECT_TRUE(CInputPanel::Get().IsShown());
    QTest::keyClicks(edit, "12");
    CCmdUI cut(ID_EDIT_CUT);
    ASSERT_TRUE(dialog.OnUpdateCmdMsg(&cut));
    EXPECT_FALSE(cut.enabled());
    ASSERT_TRUE(dialog.OnCmdMsg(ID_EDIT_SELECT_ALL));
    ASSERT_TRUE(dialog.OnUpdateCmdMsg(&cut));
    EXPECT_TRUE(cut.enabled());
    // The command bar's Edit menu is menu 109, its items enabled alike.
    ASSERT_NE(dialog.editMenuButton(), nullptr);
    QMenu* menu = dialog.editMenuButton()->menu();
    ASSERT_NE(menu, nullptr);
    emit menu->aboutToShow();
    QStringList items;
    for (QAction* action : menu->actions())
      if (!action->isSeparator()) items << action->text() + (action->isEnabled() ? "+" : "-");
    EXPECT_EQ(items.join(u' '), QStringLiteral("&Undo+ Cu&t+ &Copy+ &Paste- Cl&ear+ Select &All+"));
    // F1 asks for help; OK reads the box and ends.
    QTest::keyClick(&dialog, Qt::Key_F1);
    EXPECT_EQ(dialog.helps, 1);
    dialog.buttons()->buttons()[0]->click();
  });
  EXPECT_EQ(dialog.DoModal(), IDOK);
  EXPECT_EQ(answered, 1);
  EXPECT_EQ(dialog.typed, QStringLiteral("12"));
  EXPECT_FALSE(CInputPanel::Get().IsShown()) << "the panel goes back as it was";

  // OK refused by the dialog keeps it open; Cancel ends it.
  NumberDialog picky;
  picky.refuseEmpty = true;
  SetDialogAnswerer([&](QDialog*) {
    picky.accept();
    EXPECT_TRUE(picky.isVisible());
    picky.reject();
  });
  EXPECT_EQ(picky.DoModal(), IDCANCEL);

  // Asked to close its dialogs (a synchronisation wants the database), the
  // program ends the open one as Cancel does.
  NumberDialog asked;
  SetDialogAnswerer([&](QDialog*) {
    QTest::keyClicks(asked.Item<QLineEdit>(2603), "7");
    EXPECT_EQ(CloseOpenDialogs(), 1);
  });
  EXPECT_EQ(asked.DoModal(), IDCANCEL);
  EXPECT_EQ(asked.typed, QString());
  EXPECT_EQ(CloseOpenDialogs(), 0);

  // A layout the library lacks ends the dialog at once, and the log says
  // which.
  CDialog missing(9999);
  SetDialogAnswerer([&](QDialog*) { ADD_FAILURE() << "a dialog without its layout showed"; });
  EXPECT_EQ(missing.DoModal(), IDCANCEL);
  const std::string log = tbm::testing::ReadWholeFile(LogFilePath("tbm_ui_tests"));
  EXPECT_NE(log.find("dialog 9999"), std::string::npos) << log;
}

TEST_F(DialogTest, APropertySheetShowsItsPagesOnTabsAndTheActivePageTakesCommandsFirst) {
  CPropertySheet sheet(QStringLiteral("Tabulon Mobile"));
  OptionsPage list(2100);
  OptionsPage form(2200);
  sheet.AddPage(&list);
  sheet.AddPage(&form);
  sheet.SetActivePage(1);
  SetDialogAnswerer([&](QDialog*) {
    ASSERT_EQ(sheet.tabs()->count(), 2);
    EXPECT_EQ(sheet.tabs()->tabText(0), QStringLiteral("List"));
    EXPECT_EQ(sheet.tabs()->tabText(1), QStringLiteral("Form"));
    EXPECT_EQ(sheet.GetActivePage(), &form);
    EXPECT_NE(form.Item<QComboBox>(2204), nullptr);
    // A compact title has no rule and is lower.
    auto* columns = dynamic_cast<CDialogTitleLabel*>(list.GetDlgItem(2104));
    ASSERT_NE(columns, nullptr);
    EXPECT_TRUE(columns->compact());
    EXPECT_LT(columns->height(), dynamic_cast<CDialogTitleLabel*>(list.GetDlgItem(2101))->height());
    ASSERT_TRUE(sheet.OnCmdMsg(ID_EDIT_UNDO));
    EXPECT_EQ(form.undos, 1);
    EXPECT_EQ(list.undos, 0);
    sheet.SetActivePage(0);
    list.Item<QCheckBox>(2102)->click();
    sheet.buttons()->buttons()[0]->click();
  });
  EXPECT_EQ(sheet.DoModal(), IDOK);
  EXPECT_TRUE(list.saved);
  EXPECT_TRUE(form.saved);
  EXPECT_TRUE(list.Item<QCheckBox>(2102)->isChecked());
}

}  // namespace
}  // namespace tbm::ui::testing
