// The synchronisation settings dialog of one host database: which fields
// go to the handheld and in what order, which records, what happens when a
// record was changed on both sides, and how each chosen field shows on the
// handheld (display style, value list, entry locked, capital first
// letter). OK stores "QZP1" and "QZP2" through the host; when that fails
// the dialog says why and stays open.
//
// The widgets carry object names, so that tests can find and drive them:
// availableFields, chosenFields (lists whose items hold the field key in
// Qt::UserRole), addField, removeField, moveUp, moveDown, allRecords,
// currentRecords, keepBoth, handheldWins, desktopWins, displayStyle,
// fieldGroup, valueList, entryLocked, capitalise, damagedNote, limitNote,
// okButton, cancelButton.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include "HostCalls.h"
#include "HostTextDisplay.h"
#include "ResourceLibrary.h"
#include "StoredSettings.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QRadioButton;
class QGroupBox;

namespace tbm::bridge {

class SettingsDialog : public QDialog {
  Q_OBJECT

 public:
  // Reads the database's fields, value lists and settings. Check
  // loadStatus() before showing the dialog: when the fields cannot be
  // read it is not ok and the dialog must not be shown. Damaged settings
  // are shown as new, with a note saying so.
  SettingsDialog(const HostCalls& host, TBDatabase db, const HostTextDisplay& display,
                 const res::ResourceLibrary& texts, QWidget* parent = nullptr);

  const Status& loadStatus() const { return loadStatus_; }

  // Stores the settings; closes the dialog only when they were stored.
  void accept() override;

 private:
  struct HostField {
    std::string key;
    QString name;
  };

  Status Load();
  void BuildWidgets();
  void ShowSettings();
  QListWidgetItem* ItemFor(const HostField& field) const;

  // Reactions to the user; each changes the state and the widgets.
  void AddChosen();
  void RemoveChosen();
  void MoveChosen(int by);
  void ShowFieldSetting();
  void TakeFieldSetting();
  void UpdateButtons();

  // The setting of the chosen field selected now, made on first use.
  FieldSetting* SelectedSetting();
  std::string SelectedKey() const;

  const HostCalls& host_;
  TBDatabase db_;
  const HostTextDisplay& display_;
  const res::ResourceLibrary& texts_;
  Status loadStatus_;
  bool settingsDamaged_ = false;

  std::vector<HostField> fields_;        // the database's fields, in its order
  std::vector<std::string> valueLists_;  // names (host form) that fit a setting
  SyncSettings settings_;
  FieldSettings fieldSettings_;
  bool showingSetting_ = false;

  QListWidget* available_ = nullptr;
  QListWidget* chosen_ = nullptr;
  QPushButton* add_ = nullptr;
  QPushButton* remove_ = nullptr;
  QPushButton* up_ = nullptr;
  QPushButton* down_ = nullptr;
  QLabel* limitNote_ = nullptr;
  QGroupBox* fieldGroup_ = nullptr;
  QComboBox* style_ = nullptr;
  QComboBox* valueList_ = nullptr;
  QCheckBox* locked_ = nullptr;
  QCheckBox* capitalise_ = nullptr;
  QRadioButton* allRecords_ = nullptr;
  QRadioButton* currentRecords_ = nullptr;
  QRadioButton* keepBoth_ = nullptr;
  QRadioButton* handheldWins_ = nullptr;
  QRadioButton* desktopWins_ = nullptr;
};

}  // namespace tbm::bridge
