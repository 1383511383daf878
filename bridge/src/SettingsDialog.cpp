#include "SettingsDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "BridgeDialogs.h"
#include "BridgeTexts.h"
#include "StoredSettings.h"

namespace tbm::bridge {
namespace {

// The display styles in the order of their names in kTextDisplayStyles.
constexpr std::uint16_t kDisplayStyles[] = {sync::kStyleEditBox, sync::kStyleDropDownList,
                                            sync::kStyleDropDownCombo, sync::kStyleCheckBox,
                                            sync::kStyleZoomBox};

QByteArray KeyBytes(const std::string& key) {
  return QByteArray(key.data(), static_cast<qsizetype>(key.size()));
}

std::string KeyOf(const QListWidgetItem* item) {
  const QByteArray bytes = item->data(Qt::UserRole).toByteArray();
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

}  // namespace

SettingsDialog::SettingsDialog(const HostCalls& host, TBDatabase db, const HostTextDisplay& display,
                               const res::ResourceLibrary& texts, QWidget* parent)
    : QDialog(parent), host_(host), db_(db), display_(display), texts_(texts) {
  loadStatus_ = Load();
  BuildWidgets();
  if (loadStatus_.ok()) ShowSettings();
}

Status SettingsDialog::Load() {
  const TBHostServices& services = host_.services();
  std::string databaseName;
  if (Status status = host_.DatabaseName(db_, &databaseName); !status.ok()) return status;
  setWindowTitle(BridgeMessage(
      texts_, kTextSettingsTitle,
      {res::MessageArgument::Text(display_.ToDisplay(databaseName).toStdU16String())}));

  const std::int32_t count = services.countFields(db_);
  if (count < 0) return host_.Failure("counting the database's fields", count);
  for (std::int32_t i = 0; i < count; ++i) {
    TBFieldKey hostKey{};
    if (Status status = host_.Check("reading a field's key", services.fieldKey(db_, i, &hostKey));
        !status.ok()) {
      return status;
    }
    HostField field;
    std::string name;
    if (!FromHostFieldKey(hostKey, &field.key)) continue;  // cannot be named in the settings
    if (Status status = host_.FieldName(db_, i, &name); !status.ok()) return status;
    field.name = display_.ToDisplay(name);
    fields_.push_back(std::move(field));
  }

  const std::int32_t lists = services.countValueLists(db_);
  if (lists < 0) return host_.Failure("counting the database's value lists", lists);
  for (std::int32_t i = 0; i < lists; ++i) {
    std::string name;
    if (Status status = host_.ValueListName(db_, i, &name); !status.ok()) return status;
    // A field setting has room for five bytes of a list's name.
    if (!name.empty() && name.size() <= sync::kMaxValueListNameBytes) valueLists_.push_back(name);
  }

  Status status = LoadSettings(host_, db_, &settings_, &fieldSettings_);
  if (status.code() == StatusCode::kDamaged) {
    settingsDamaged_ = true;
    settings_ = SyncSettings();
    fieldSettings_ = FieldSettings();
    return Status();
  }
  return status;
}

void SettingsDialog::BuildWidgets() {
  auto* availableLabel = new QLabel(BridgeString(texts_, kTextDatabaseFields), this);
  available_ = new QListWidget(this);
  available_->setObjectName("availableFields");
  availableLabel->setBuddy(available_);
  auto* chosenLabel = new QLabel(BridgeString(texts_, kTextHandheldFields), this);
  chosen_ = new QListWidget(this);
  chosen_->setObjectName("chosenFields");
  chosenLabel->setBuddy(chosen_);

  auto button = [this](BridgeText text, const char* name) {
    auto* made = new QPushButton(BridgeString(texts_, text), this);
    made->setObjectName(name);
    made->setAutoDefault(false);
    return made;
  };
  add_ = button(kTextAddField, "addField");
  remove_ = button(kTextRemoveField, "removeField");
  up_ = button(kTextMoveUp, "moveUp");
  down_ = button(kTextMoveDown, "moveDown");
  limitNote_ = new QLabel(
      BridgeMessage(
          texts_, kTextTooManyFields,
          {res::MessageArgument::Number(static_cast<std::int64_t>(sync::kMaxChosenFields))}),
      this);
  limitNote_->setObjectName("limitNote");
  limitNote_->setVisible(false);

  auto* lists = new QGridLayout;
  lists->addWidget(availableLabel, 0, 0);
  lists->addWidget(chosenLabel, 0, 2);
  lists->addWidget(available_, 1, 0);
  auto* middle = new QVBoxLayout;
  middle->addStretch();
  middle->addWidget(add_);
  middle->addWidget(remove_);
  middle->addStretch();
  lists->addLayout(middle, 1, 1);
  lists->addWidget(chosen_, 1, 2);
  auto* order = new QVBoxLayout;
  order->addStretch();
  order->addWidget(up_);
  order->addWidget(down_);
  order->addStretch();
  lists->addLayout(order, 1, 3);
  lists->addWidget(limitNote_, 2, 0, 1, 4);

  fieldGroup_ = new QGroupBox(this);
  fieldGroup_->setObjectName("fieldGroup");
  style_ = new QComboBox(fieldGroup_);
  style_->setObjectName("displayStyle");
  const QStringList styleNames = BridgeString(texts_, kTextDisplayStyles).split(',');
  for (std::size_t i = 0; i < std::size(kDisplayStyles); ++i) {
    const QString name = static_cast<qsizetype>(i) < styleNames.size()
                             ? styleNames[static_cast<qsizetype>(i)]
                             : QString::number(kDisplayStyles[i]);
    style_->addItem(name, kDisplayStyles[i]);
  }
  valueList_ = new QComboBox(fieldGroup_);
  valueList_->setObjectName("valueList");
  valueList_->addItem(BridgeString(texts_, kTextNoValueList), QByteArray());
  for (const std::string& name : valueLists_) {
    valueList_->addItem(display_.ToDisplay(name), KeyBytes(name));
  }
  locked_ = new QCheckBox(BridgeString(texts_, kTextEntryLocked), fieldGroup_);
  locked_->setObjectName("entryLocked");
  capitalise_ = new QCheckBox(BridgeString(texts_, kTextCapitalise), fieldGroup_);
  capitalise_->setObjectName("capitalise");
  auto* fieldForm = new QFormLayout(fieldGroup_);
  fieldForm->addRow(BridgeString(texts_, kTextDisplayStyle), style_);
  fieldForm->addRow(BridgeString(texts_, kTextValueList), valueList_);
  fieldForm->addRow(locked_);
  fieldForm->addRow(capitalise_);

  auto radio = [](const QString& text, const char* name, QWidget* parent) {
    auto* made = new QRadioButton(text, parent);
    made->setObjectName(name);
    return made;
  };
  auto* recordsGroup = new QGroupBox(BridgeString(texts_, kTextRecordsGroup), this);
  allRecords_ = radio(BridgeString(texts_, kTextAllRecords), "allRecords", recordsGroup);
  currentRecords_ =
      radio(BridgeString(texts_, kTextCurrentRecords), "currentRecords", recordsGroup);
  auto* recordsLayout = new QVBoxLayout(recordsGroup);
  recordsLayout->addWidget(allRecords_);
  recordsLayout->addWidget(currentRecords_);

  auto* conflictGroup = new QGroupBox(BridgeString(texts_, kTextConflictGroup), this);
  keepBoth_ = radio(BridgeString(texts_, kTextKeepBoth), "keepBoth", conflictGroup);
  handheldWins_ = radio(BridgeString(texts_, kTextHandheldWins), "handheldWins", conflictGroup);
  desktopWins_ = radio(BridgeString(texts_, kTextDesktopWins), "desktopWins", conflictGroup);
  auto* conflictLayout = new QVBoxLayout(conflictGroup);
  conflictLayout->addWidget(keepBoth_);
  conflictLayout->addWidget(handheldWins_);
  conflictLayout->addWidget(desktopWins_);

  auto* damaged = new QLabel(BridgeString(texts_, kTextSettingsDamaged), this);
  damaged->setObjectName("damagedNote");
  damaged->setWordWrap(true);
  damaged->setStyleSheet("color: #b00000;");
  damaged->setVisible(settingsDamaged_);

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* ok = buttons->addButton(BridgeString(texts_, kTextOk), QDialogButtonBox::AcceptRole);
  ok->setObjectName("okButton");
  ok->setDefault(true);
  QPushButton* cancel =
      buttons->addButton(BridgeString(texts_, kTextCancel), QDialogButtonBox::RejectRole);
  cancel->setObjectName("cancelButton");
  connect(buttons, &QDialogButtonBox::accepted, this, &SettingsDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* lower = new QHBoxLayout;
  lower->addWidget(recordsGroup);
  lower->addWidget(conflictGroup);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(damaged);
  layout->addLayout(lists);
  layout->addWidget(fieldGroup_);
  layout->addLayout(lower);
  layout->addWidget(buttons);

  connect(add_, &QPushButton::clicked, this, &SettingsDialog::AddChosen);
  connect(available_, &QListWidget::itemDoubleClicked, this, &SettingsDialog::AddChosen);
  connect(remove_, &QPushButton::clicked, this, &SettingsDialog::RemoveChosen);
  connect(chosen_, &QListWidget::itemDoubleClicked, this, &SettingsDialog::RemoveChosen);
  connect(up_, &QPushButton::clicked, this, [this] { MoveChosen(-1); });
  connect(down_, &QPushButton::clicked, this, [this] { MoveChosen(1); });
  connect(available_, &QListWidget::currentRowChanged, this, &SettingsDialog::UpdateButtons);
  connect(chosen_, &QListWidget::currentRowChanged, this, &SettingsDialog::ShowFieldSetting);
  connect(style_, &QComboBox::currentIndexChanged, this, &SettingsDialog::TakeFieldSetting);
  connect(valueList_, &QComboBox::currentIndexChanged, this, &SettingsDialog::TakeFieldSetting);
  connect(locked_, &QCheckBox::toggled, this, &SettingsDialog::TakeFieldSetting);
  connect(capitalise_, &QCheckBox::toggled, this, &SettingsDialog::TakeFieldSetting);
}

QListWidgetItem* SettingsDialog::ItemFor(const HostField& field) const {
  auto* item = new QListWidgetItem(field.name);
  item->setData(Qt::UserRole, KeyBytes(field.key));
  return item;
}

void SettingsDialog::ShowSettings() {
  for (const std::string& key : settings_.fieldKeys) {
    for (const HostField& field : fields_) {
      if (field.key == key) chosen_->addItem(ItemFor(field));
    }
  }
  for (const HostField& field : fields_) {
    bool isChosen = false;
    for (const std::string& key : settings_.fieldKeys) isChosen = isChosen || key == field.key;
    if (!isChosen) available_->addItem(ItemFor(field));
  }
  (settings_.recordSelection == sync::kSelectAllRecords ? allRecords_ : currentRecords_)
      ->setChecked(true);
  (settings_.conflictRule == sync::kHandheldWins  ? handheldWins_
   : settings_.conflictRule == sync::kDesktopWins ? desktopWins_
                                                  : keepBoth_)
      ->setChecked(true);
  if (available_->count() > 0) available_->setCurrentRow(0);
  if (chosen_->count() > 0) chosen_->setCurrentRow(0);
  ShowFieldSetting();
}

void SettingsDialog::AddChosen() {
  QListWidgetItem* item = available_->currentItem();
  if (item == nullptr || static_cast<std::size_t>(chosen_->count()) >= sync::kMaxChosenFields) {
    return;
  }
  const int row = available_->row(item);
  chosen_->addItem(available_->takeItem(row));
  chosen_->setCurrentRow(chosen_->count() - 1);
  if (available_->count() > 0) available_->setCurrentRow(std::min(row, available_->count() - 1));
  UpdateButtons();
}

void SettingsDialog::RemoveChosen() {
  QListWidgetItem* item = chosen_->currentItem();
  if (item == nullptr) return;
  const std::string key = KeyOf(item);
  QListWidgetItem* taken = chosen_->takeItem(chosen_->row(item));
  // Back into the database's own order.
  int position = 0;
  for (const HostField& field : fields_) {
    if (field.key == key) break;
    if (position < available_->count() && KeyOf(available_->item(position)) == field.key) {
      ++position;
    }
  }
  available_->insertItem(position, taken);
  available_->setCurrentRow(position);
  ShowFieldSetting();
}

void SettingsDialog::MoveChosen(int by) {
  const int row = chosen_->currentRow();
  const int to = row + by;
  if (row < 0 || to < 0 || to >= chosen_->count()) return;
  chosen_->insertItem(to, chosen_->takeItem(row));
  chosen_->setCurrentRow(to);
}

std::string SettingsDialog::SelectedKey() const {
  const QListWidgetItem* item = chosen_->currentItem();
  return item == nullptr ? std::string() : KeyOf(item);
}

FieldSetting* SettingsDialog::SelectedSetting() {
  const std::string key = SelectedKey();
  if (key.empty()) return nullptr;
  if (fieldSettings_.Find(key) == nullptr) {
    FieldSetting fresh;
    fresh.key = key;
    fieldSettings_.Put(fresh);
  }
  for (FieldSetting& entry : fieldSettings_.entries) {
    if (entry.key == key) return &entry;
  }
  return nullptr;
}

void SettingsDialog::ShowFieldSetting() {
  const std::string key = SelectedKey();
  const FieldSetting* stored = key.empty() ? nullptr : fieldSettings_.Find(key);
  const FieldSetting setting = stored != nullptr ? *stored : FieldSetting();
  showingSetting_ = true;
  const int styleIndex = style_->findData(setting.displayStyle);
  style_->setCurrentIndex(styleIndex >= 0 ? styleIndex : 0);
  int listIndex = valueList_->findData(KeyBytes(setting.valueListName));
  if (listIndex < 0) {
    // A list the database no longer has: shown as it is stored.
    valueList_->addItem(display_.ToDisplay(setting.valueListName), KeyBytes(setting.valueListName));
    listIndex = valueList_->count() - 1;
  }
  valueList_->setCurrentIndex(listIndex);
  valueList_->setEnabled(sync::StyleUsesValueList(setting.displayStyle));
  locked_->setChecked((setting.optionFlags & sync::kOptionEntryLocked) != 0);
  capitalise_->setChecked((setting.optionFlags & sync::kOptionCapitalise) != 0);
  fieldGroup_->setEnabled(!key.empty());
  const QListWidgetItem* item = chosen_->currentItem();
  fieldGroup_->setTitle(BridgeMessage(
      texts_, kTextFieldGroup,
      {res::MessageArgument::Text(item == nullptr ? u"" : item->text().toStdU16String())}));
  showingSetting_ = false;
  UpdateButtons();
}

void SettingsDialog::TakeFieldSetting() {
  if (showingSetting_) return;
  FieldSetting* setting = SelectedSetting();
  if (setting == nullptr) return;
  setting->displayStyle = static_cast<std::uint16_t>(style_->currentData().toUInt());
  const bool usesList = sync::StyleUsesValueList(setting->displayStyle);
  if (!usesList && valueList_->currentIndex() != 0) {
    showingSetting_ = true;
    valueList_->setCurrentIndex(0);
    showingSetting_ = false;
  }
  valueList_->setEnabled(usesList);
  const QByteArray list = valueList_->currentData().toByteArray();
  setting->valueListName = usesList ? std::string(list.constData(), list.size()) : std::string();
  setting->optionFlags = static_cast<std::uint16_t>(
      (setting->optionFlags & ~(sync::kOptionEntryLocked | sync::kOptionCapitalise)) |
      (locked_->isChecked() ? sync::kOptionEntryLocked : 0) |
      (capitalise_->isChecked() ? sync::kOptionCapitalise : 0));
}

void SettingsDialog::UpdateButtons() {
  const bool full = static_cast<std::size_t>(chosen_->count()) >= sync::kMaxChosenFields;
  add_->setEnabled(available_->currentItem() != nullptr && !full);
  limitNote_->setVisible(full);
  remove_->setEnabled(chosen_->currentItem() != nullptr);
  up_->setEnabled(chosen_->currentRow() > 0);
  down_->setEnabled(chosen_->currentRow() >= 0 && chosen_->currentRow() < chosen_->count() - 1);
}

void SettingsDialog::accept() {
  SyncSettings settings;
  settings.recordSelection =
      allRecords_->isChecked() ? sync::kSelectAllRecords : sync::kSelectCurrentRecords;
  settings.conflictRule = handheldWins_->isChecked()  ? sync::kHandheldWins
                          : desktopWins_->isChecked() ? sync::kDesktopWins
                                                      : sync::kKeepBoth;
  for (int row = 0; row < chosen_->count(); ++row) {
    settings.fieldKeys.push_back(KeyOf(chosen_->item(row)));
  }
  // Settings of fields the database still has, chosen or not, so that a
  // field chosen again later keeps its display settings.
  FieldSettings fieldSettings;
  for (const FieldSetting& entry : fieldSettings_.entries) {
    for (const HostField& field : fields_) {
      if (field.key == entry.key) {
        FieldSetting kept = entry;
        if (!sync::StyleUsesValueList(kept.displayStyle)) kept.valueListName.clear();
        fieldSettings.entries.push_back(kept);
      }
    }
  }
  for (const std::string& key : settings.fieldKeys) {
    if (fieldSettings.Find(key) == nullptr) {
      FieldSetting fresh;
      fresh.key = key;
      fieldSettings.entries.push_back(fresh);
    }
  }

  if (Status status = StoreSettings(host_, db_, settings, fieldSettings); !status.ok()) {
    QMessageBox box(QMessageBox::Warning, windowTitle(),
                    BridgeMessage(texts_, kTextCannotStore,
                                  {res::MessageArgument::Text(
                                      QString::fromStdString(status.message()).toStdU16String())}),
                    QMessageBox::NoButton, this);
    box.setObjectName("storeFailure");
    box.addButton(BridgeString(texts_, kTextOk), QMessageBox::AcceptRole);
    box.exec();
    return;
  }
  settings_ = settings;
  fieldSettings_ = fieldSettings;
  QDialog::accept();
}

}  // namespace tbm::bridge
