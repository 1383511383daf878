// The plug-in's dialogs as a user meets them in Tabulon Pro: real widgets
// driven with QTest, the settings they store read back as the export
// reads them, and pictures of them kept for a person to look at.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

#include "AboutDialog.h"
#include "BridgeDialogs.h"
#include "BridgeTexts.h"
#include "HostTextDisplay.h"
#include "MemoryHost.h"
#include "SettingsDialog.h"
#include "StoredSettings.h"
#include "TestSupport.h"

namespace tbm::bridge {
namespace {

using testing::MemoryDatabase;
using testing::MemoryHost;

constexpr std::uint32_t kSettingsAllowed = (1u << 3) | (1u << 9) | (1u << 21);

// Where the pictures of the dialogs go.
QString PicturePath(const char* name) {
  const QString folder = QStringLiteral(TBM_BIN_DIR "/../test-pictures/bridge");
  QDir().mkpath(folder);
  return folder + "/" + name + ".png";
}

MemoryDatabase Orders() {
  MemoryDatabase db;
  db.name =
      "Bestellungen M\x9F"
      "nchen";
  db.flags = kSettingsAllowed;
  db.fields = {{"O-NR", "Order number", TB_FIELD_NUMBER}, {"O-CUST", "Customer", TB_FIELD_TEXT},
               {"O-DATE", "Ordered on", TB_FIELD_DATE},   {"O-STATE", "Status", TB_FIELD_TEXT},
               {"O-NOTE", "Notes", TB_FIELD_TEXT},        {"O-PIC", "Photo", 9}};
  db.valueLists = {
      {"State", "open\rpaid\rsent\r"}, {"Yes", "yes\rno\r"}, {"Customers of 2023", "ACME\r"}};
  SyncSettings settings;
  settings.fieldKeys = {"O-CUST", "O-NR", "O-STATE"};
  FieldSettings fields;
  FieldSetting state;
  state.key = "O-STATE";
  state.displayStyle = sync::kStyleDropDownList;
  state.valueListName = "State";
  state.stored[10] = 0x5A;  // the host's own byte, kept
  fields.Put(state);
  std::vector<std::uint8_t> bytes;
  EXPECT_TRUE(sync::EncodeSyncSettings(settings, &bytes).ok());
  db.pluginData[sync::kSyncSettingsKey] = bytes;
  EXPECT_TRUE(sync::EncodeFieldSettings(fields, &bytes).ok());
  db.pluginData[sync::kFieldSettingsKey] = bytes;
  return db;
}

// A check box takes clicks on its box and label only, not on the whole
// width a form layout gives it.
void Tick(QCheckBox* box) {
  QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(box->height() / 2, box->height() / 2));
}

QStringList Items(const QListWidget* list) {
  QStringList items;
  for (int i = 0; i < list->count(); ++i) items << list->item(i)->text();
  return items;
}

void Choose(QListWidget* list, const QString& text) {
  const auto found = list->findItems(text, Qt::MatchExactly);
  ASSERT_EQ(found.size(), 1) << text.toStdString();
  list->scrollToItem(found[0]);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(found[0]).center());
  ASSERT_EQ(list->currentItem(), found[0]);
}

// Runs answer on the next modal dialog that opens, from the event loop;
// gives up after a few seconds.
void WhenModalOpens(std::function<void(QWidget*)> answer, int attempts = 500) {
  QTimer::singleShot(10, [answer, attempts] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) {
      if (attempts > 0) WhenModalOpens(answer, attempts - 1);
      return;
    }
    answer(modal);
  });
}

class BridgeDialogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(LoadBridgeTexts(TBM_BIN_DIR, &texts_).ok());
    ASSERT_TRUE(sync::AnsiCodePage::Open("windows-1252", &codePage_).ok());
    ASSERT_TRUE(HostTextDisplay::Open(*codePage_, &display_).ok());
  }

  template <typename Widget>
  Widget* Child(QWidget& dialog, const char* name) {
    auto* widget = dialog.findChild<Widget*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return widget;
  }

  MemoryHost host_;
  HostCalls calls_{host_.services()};
  std::unique_ptr<res::ResourceLibrary> texts_;
  std::unique_ptr<sync::AnsiCodePage> codePage_;
  std::unique_ptr<HostTextDisplay> display_;
};

TEST_F(BridgeDialogsTest, TheSettingsDialogStoresWhatTheUserChose) {
  MemoryDatabase& db = host_.Open(Orders());
  SettingsDialog dialog(calls_, host_.Handle(db.name), *display_, *texts_);
  ASSERT_TRUE(dialog.loadStatus().ok()) << dialog.loadStatus().message();
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  EXPECT_EQ(dialog.windowTitle(),
            QString::fromUtf8("Synchronisation Settings: Bestellungen München"));

  auto* available = Child<QListWidget>(dialog, "availableFields");
  auto* chosen = Child<QListWidget>(dialog, "chosenFields");
  EXPECT_EQ(Items(chosen), (QStringList{"Customer", "Order number", "Status"}));
  EXPECT_EQ(Items(available), (QStringList{"Ordered on", "Notes", "Photo"}));
  auto* style = Child<QComboBox>(dialog, "displayStyle");
  auto* valueList = Child<QComboBox>(dialog, "valueList");
  // Only lists whose names fit a field setting are offered.
  EXPECT_EQ(valueList->count(), 3);
  EXPECT_TRUE(Child<QRadioButton>(dialog, "allRecords")->isChecked());
  EXPECT_TRUE(Child<QRadioButton>(dialog, "keepBoth")->isChecked());
  EXPECT_FALSE(Child<QLabel>(dialog, "damagedNote")->isVisible());

  Choose(chosen, "Status");
  EXPECT_EQ(style->currentText(), "Drop-down list");
  EXPECT_EQ(valueList->currentText(), "State");
  EXPECT_TRUE(valueList->isEnabled());
  EXPECT_FALSE(Child<QPushButton>(dialog, "moveDown")->isEnabled());

  // Notes joins the handheld's fields, moves up to second place, and shows
  // as a drop-down combo with the yes/no list, locked.
  Choose(available, "Notes");
  QTest::mouseClick(Child<QPushButton>(dialog, "addField"), Qt::LeftButton);
  EXPECT_EQ(Items(chosen), (QStringList{"Customer", "Order number", "Status", "Notes"}));
  EXPECT_EQ(Items(available), (QStringList{"Ordered on", "Photo"}));
  QTest::mouseClick(Child<QPushButton>(dialog, "moveUp"), Qt::LeftButton);
  QTest::mouseClick(Child<QPushButton>(dialog, "moveUp"), Qt::LeftButton);
  EXPECT_EQ(Items(chosen), (QStringList{"Customer", "Notes", "Order number", "Status"}));
  EXPECT_EQ(Child<QGroupBox>(dialog, "fieldGroup")->title(), "Field on the handheld: Notes");
  EXPECT_EQ(style->currentText(), "Edit box");
  EXPECT_FALSE(valueList->isEnabled());
  style->setCurrentIndex(style->findText("Drop-down combo"));
  EXPECT_TRUE(valueList->isEnabled());
  valueList->setCurrentIndex(valueList->findText("Yes"));
  Tick(Child<QCheckBox>(dialog, "entryLocked"));

  // The customer becomes a zoom box, which has no list.
  Choose(chosen, "Customer");
  style->setCurrentIndex(style->findText("Zoom box"));
  EXPECT_FALSE(valueList->isEnabled());
  Tick(Child<QCheckBox>(dialog, "capitalise"));

  // The order number goes back to the database's fields, in its place.
  Choose(chosen, "Order number");
  QTest::mouseClick(Child<QPushButton>(dialog, "removeField"), Qt::LeftButton);
  EXPECT_EQ(Items(available), (QStringList{"Order number", "Ordered on", "Photo"}));

  QTest::mouseClick(Child<QRadioButton>(dialog, "currentRecords"), Qt::LeftButton);
  QTest::mouseClick(Child<QRadioButton>(dialog, "handheldWins"), Qt::LeftButton);
  Choose(chosen, "Notes");
  EXPECT_TRUE(dialog.grab().save(PicturePath("settings")));

  QTest::mouseClick(Child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
  EXPECT_EQ(dialog.result(), QDialog::Accepted);

  SyncSettings stored;
  ASSERT_TRUE(sync::DecodeSyncSettings(db.pluginData[sync::kSyncSettingsKey], &stored).ok());
  EXPECT_EQ(db.pluginData[sync::kSyncSettingsKey].size(), sync::kSyncSettingsBytes);
  EXPECT_EQ(stored.fieldKeys, (std::vector<std::string>{"O-CUST", "O-NOTE", "O-STATE"}));
  EXPECT_EQ(stored.recordSelection, sync::kSelectCurrentRecords);
  EXPECT_EQ(stored.conflictRule, sync::kHandheldWins);
  FieldSettings fields;
  ASSERT_TRUE(sync::DecodeFieldSettings(db.pluginData[sync::kFieldSettingsKey], &fields).ok());
  const FieldSetting* notes = fields.Find("O-NOTE");
  ASSERT_NE(notes, nullptr);
  EXPECT_EQ(notes->displayStyle, sync::kStyleDropDownCombo);
  EXPECT_EQ(notes->valueListName, "Yes");
  EXPECT_EQ(notes->optionFlags, sync::kOptionEntryLocked);
  const FieldSetting* customer = fields.Find("O-CUST");
  ASSERT_NE(customer, nullptr);
  EXPECT_EQ(customer->displayStyle, sync::kStyleZoomBox);
  EXPECT_EQ(customer->valueListName, "");
  EXPECT_EQ(customer->optionFlags, sync::kOptionCapitalise);
  const FieldSetting* state = fields.Find("O-STATE");
  ASSERT_NE(state, nullptr);
  EXPECT_EQ(state->valueListName, "State");
  EXPECT_EQ(state->stored[10], 0x5A);
}

TEST_F(BridgeDialogsTest, DamagedSettingsAreShownAsNewAndAFailedStoreKeepsTheDialogOpen) {
  MemoryDatabase& db = host_.Open(Orders());
  db.pluginData[sync::kSyncSettingsKey].resize(300);
  SettingsDialog dialog(calls_, host_.Handle(db.name), *display_, *texts_);
  ASSERT_TRUE(dialog.loadStatus().ok());
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  EXPECT_TRUE(Child<QLabel>(dialog, "damagedNote")->isVisible());
  EXPECT_EQ(Child<QListWidget>(dialog, "chosenFields")->count(), 0);
  EXPECT_FALSE(Child<QPushButton>(dialog, "removeField")->isEnabled());
  Choose(Child<QListWidget>(dialog, "availableFields"), "Customer");
  QTest::mouseClick(Child<QPushButton>(dialog, "addField"), Qt::LeftButton);
  EXPECT_TRUE(dialog.grab().save(PicturePath("settings-damaged")));

  host_.refuseSettingsWrites = true;
  QString said;
  WhenModalOpens([&said](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (box == nullptr) return;
    said = box->text();
    box->grab().save(PicturePath("settings-not-stored"));
    box->buttons().front()->click();
  });
  QTest::mouseClick(Child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
  EXPECT_EQ(said.toStdString(),
            "The synchronisation settings could not be stored. Tabulon Pro says: storing the "
            "plug-in's settings: the host could not do it (the database is read-only)");
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(db.pluginData[sync::kSyncSettingsKey].size(), 300u);

  host_.refuseSettingsWrites = false;
  QTest::mouseClick(Child<QPushButton>(dialog, "okButton"), Qt::LeftButton);
  SyncSettings stored;
  ASSERT_TRUE(sync::DecodeSyncSettings(db.pluginData[sync::kSyncSettingsKey], &stored).ok());
  EXPECT_EQ(stored.fieldKeys, (std::vector<std::string>{"O-CUST"}));
}

TEST_F(BridgeDialogsTest, ADatabaseThatMayNotChangeItsSettingsGetsMessage1005) {
  MemoryDatabase& db = host_.Open(Orders());
  host_.SetCurrent(db.name);
  for (const std::uint32_t flags : {kSettingsAllowed & ~(1u << 3), kSettingsAllowed | (1u << 18)}) {
    db.flags = flags;
    QString said;
    WhenModalOpens([&said](QWidget* modal) {
      if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        said = box->text();
        box->buttons().front()->click();
      } else {
        modal->close();
      }
    });
    ShowSettingsOfCurrentDatabase(calls_, *codePage_, *texts_, nullptr);
    EXPECT_EQ(said.toStdString(),
              "The synchronisation settings of this database cannot be changed.");
  }
  EXPECT_FALSE(SettingsMayChange(0));
  EXPECT_TRUE(SettingsMayChange(kSettingsAllowed));

  // Allowed: the settings dialog itself opens, and Cancel stores nothing.
  db.flags = kSettingsAllowed;
  const auto before = db.pluginData;
  bool sawSettings = false;
  WhenModalOpens([&sawSettings](QWidget* modal) {
    sawSettings = qobject_cast<SettingsDialog*>(modal) != nullptr;
    if (auto* cancel = modal->findChild<QPushButton*>("cancelButton")) cancel->click();
  });
  ShowSettingsOfCurrentDatabase(calls_, *codePage_, *texts_, nullptr);
  EXPECT_TRUE(sawSettings);
  EXPECT_EQ(db.pluginData, before);
}

TEST_F(BridgeDialogsTest, TheInformationDialogShowsTheVersionInTheDesktopsLanguage) {
  AboutDialog about(*texts_);
  about.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
  EXPECT_EQ(about.windowTitle(), "About TBBridge");
  const QString text = about.findChild<QLabel*>("aboutText")->text();
  EXPECT_TRUE(text.startsWith("TBBridge 2.0.1\n\n")) << text.toStdString();
  EXPECT_TRUE(about.grab().save(PicturePath("about")));
  QTest::mouseClick(about.findChild<QPushButton*>("closeButton"), Qt::LeftButton);
  EXPECT_FALSE(about.isVisible());

  // The language library follows the desktop's language, and falls back to
  // English where there is none.
  {
    ::tbm::testing::ScopedEnvironment german("LANG", "de_DE.UTF-8");
    std::unique_ptr<res::ResourceLibrary> texts;
    ASSERT_TRUE(LoadBridgeTexts(TBM_BIN_DIR, &texts).ok());
    EXPECT_EQ(BridgeString(*texts, kTextSettingsLocked).toStdString(),
              "Die Synchronisationseinstellungen dieser Datenbank können nicht geändert werden.");
  }
  {
    ::tbm::testing::ScopedEnvironment japanese("LANG", "ja_JP.UTF-8");
    std::unique_ptr<res::ResourceLibrary> texts;
    ASSERT_TRUE(LoadBridgeTexts(TBM_BIN_DIR, &texts).ok());
    AboutDialog japaneseAbout(*texts);
    japaneseAbout.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&japaneseAbout));
    EXPECT_TRUE(japaneseAbout.grab().save(PicturePath("about-ja")));
  }
  {
    ::tbm::testing::ScopedEnvironment dutch("LANG", "nl_NL.UTF-8");
    std::unique_ptr<res::ResourceLibrary> texts;
    ASSERT_TRUE(LoadBridgeTexts(TBM_BIN_DIR, &texts).ok());
    EXPECT_EQ(BridgeString(*texts, kTextOk).toStdString(), "OK");
  }
  ::tbm::testing::ScratchFolder empty("tbm-bridge-no-texts");
  std::unique_ptr<res::ResourceLibrary> none;
  EXPECT_EQ(LoadBridgeTexts(empty.path().string(), &none).code(), StatusCode::kNotFound);
  EXPECT_EQ(none, nullptr);
}

}  // namespace
}  // namespace tbm::bridge
