#include "ViewOptionsDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QIntValidator>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

#include "MainFrame.h"
#include "RecordDialogs.h"
#include "Resources.h"
#include "ScannerLibrary.h"

namespace tbm::app {

namespace {

constexpr std::uint32_t kColourNames = 5001;
constexpr std::uint32_t kAlignmentNames = 5002;
constexpr std::uint32_t kResetQuestion = 5003;
constexpr std::uint32_t kProgramTitle = 0xE000;

// The list page's boxes and the flag each one sets.
constexpr std::pair<std::uint16_t, std::uint32_t> kListBoxes[] = {
    {2102, 0x001}, {2103, 0x002}, {2105, 0x100}, {2106, 0x200}, {2107, 0x400}, {2108, 0x800}};

void SetChecked(ui::CPropertyPage* page, std::uint16_t id, bool checked) {
  if (auto* box = page->Item<QCheckBox>(id)) box->setChecked(checked);
}

bool Checked(const ui::CPropertyPage* page, std::uint16_t id) {
  auto* box = page->Item<QCheckBox>(id);
  return box != nullptr && box->isChecked();
}

}  // namespace

// ---- list page ----

bool CListOptionsPage::OnInitDialog() {
  flags_ = document_->GetViewFlags(kListViewKind);
  for (const auto& [id, bit] : kListBoxes) SetChecked(this, id, (flags_ & bit) != 0);
  return true;
}

void CListOptionsPage::OnOK() {
  std::uint32_t flags = 0;
  for (const auto& [id, bit] : kListBoxes)
    if (Checked(this, id)) flags |= bit;
  Compose(flags);
}

// ---- form page ----

bool CFormOptionsPage::OnInitDialog() {
  auto* alignment = Item<QComboBox>(2204);
  FillFromStringList(alignment, kAlignmentNames);
  flags_ = document_->GetViewFlags(kFormViewKind);
  SetChecked(this, 2202, (flags_ & 0x1) != 0);
  SetChecked(this, 2203, (flags_ & 0x2) != 0);
  if (alignment != nullptr) {
    const int item = static_cast<int>(flags_ >> 16) - 1;
    alignment->setCurrentIndex(item >= 0 && item < alignment->count() ? item : -1);
  }
  return true;
}

void CFormOptionsPage::OnOK() {
  std::uint32_t flags = 0;
  if (Checked(this, 2202)) flags |= 0x1;
  if (Checked(this, 2203)) flags |= 0x2;
  if (auto* alignment = Item<QComboBox>(2204))
    flags |= static_cast<std::uint32_t>(alignment->currentIndex() + 1) << 16;
  Compose(flags);
}

// ---- field page ----

CFieldOptionsPage::CFieldOptionsPage(CTBMDoc* document, std::int16_t field)
    : CViewOptionsPage(2300), document_(document), current_(std::max<int>(field, 0)) {}

bool CFieldOptionsPage::OnInitDialog() {
  FillFromStringList(Item<QComboBox>(2305), kAlignmentNames);
  FillFromStringList(Item<QComboBox>(2306), kColourNames);
  auto* fields = Item<QComboBox>(2303);
  FillFieldNames(fields, document_);
  fieldCount_ = std::min<int>(document_->GetFieldCount(), kMaxFieldSettings);
  for (int f = 0; f < fieldCount_; ++f)
    settings_[static_cast<std::size_t>(f)] =
        document_->GetFieldDisplay(static_cast<std::int16_t>(f));
  if (auto* width = Item<QLineEdit>(2304)) {
    width->setMaxLength(3);
    width->setValidator(new QIntValidator(0, 999, width));
  }
  if (fieldCount_ == 0) {
    for (std::uint16_t id = 2303; id <= 2307; ++id)
      if (QWidget* control = GetDlgItem(id)) control->setEnabled(false);
    return true;
  }
  if (current_ >= fieldCount_) current_ = 0;
  LoadControls();
  if (fields != nullptr)
    connect(fields, &QComboBox::currentIndexChanged, this, [this](int) {
      SaveControls();
      LoadControls();
    });
  if (auto* reset = Item<QPushButton>(2307))
    connect(reset, &QPushButton::clicked, this, [this] { OnReset(); });
  return true;
}

void CFieldOptionsPage::LoadControls() {
  const FieldDisplay& shown = settings_[static_cast<std::size_t>(current_)];
  if (auto* width = Item<QLineEdit>(2304)) width->setText(QString::number(shown.width));
  if (auto* alignment = Item<QComboBox>(2305)) {
    const int item = static_cast<int>(shown.alignment) - 1;
    alignment->setCurrentIndex(item >= 0 && item < alignment->count() ? item : -1);
  }
  if (auto* colour = Item<QComboBox>(2306)) {
    const auto found = std::find(kFieldColours.begin(), kFieldColours.end(), shown.colour);
    colour->setCurrentIndex(
        found != kFieldColours.end() ? static_cast<int>(found - kFieldColours.begin()) : -1);
  }
  if (auto* fields = Item<QComboBox>(2303)) {
    const QSignalBlocker quiet(fields);
    fields->setCurrentIndex(current_);
  }
}

void CFieldOptionsPage::SaveControls() {
  if (fieldCount_ == 0) return;
  FieldDisplay read = settings_[static_cast<std::size_t>(current_)];
  if (auto* alignment = Item<QComboBox>(2305))
    read.alignment = static_cast<std::uint8_t>(alignment->currentIndex() + 1);
  if (auto* colour = Item<QComboBox>(2306)) {
    const int item = colour->currentIndex();
    read.colour = item >= 0 && item < static_cast<int>(kFieldColours.size())
                      ? kFieldColours[static_cast<std::size_t>(item)]
                      : 0;
  }
  // An emptied width leaves the width as it was rather than hide the
  // column.
  if (auto* width = Item<QLineEdit>(2304); width != nullptr && !width->text().trimmed().isEmpty())
    read.width = static_cast<std::uint8_t>(std::clamp(width->text().toInt(), 0, kMaxColumnWidth));
  FieldDisplay& slot = settings_[static_cast<std::size_t>(current_)];
  if (read.width != slot.width || read.alignment != slot.alignment || read.colour != slot.colour) {
    slot = read;
    changed_ = true;
  }
  if (auto* fields = Item<QComboBox>(2303); fields != nullptr && fields->currentIndex() >= 0)
    current_ = fields->currentIndex();
}

void CFieldOptionsPage::OnReset() {
  if (ui::ResourceMessageBox(kResetQuestion, {}, ui::MessageIcon::kWarning,
                             ui::MessageButtons::kYesNo) != ui::MessageAnswer::kYes)
    return;
  SaveControls();
  settings_.fill(document_->DefaultFieldDisplay());
  reset_ = true;
  changed_ = true;
  LoadControls();
}

void CFieldOptionsPage::OnOK() { SaveControls(); }

// ---- the sheets ----

CTBMPropertySheet::CTBMPropertySheet(int helpCode, QWidget* parent)
    : ui::CPropertySheet(ui::LoadQString(kProgramTitle), parent), helpCode_(helpCode) {}

void CTBMPropertySheet::OnHelp() { ShowHelp(helpCode_); }

void CTBMPropertySheet::changeEvent(QEvent* event) {
  ui::CPropertySheet::changeEvent(event);
  if (event->type() == QEvent::ActivationChange) ScannerFollowsActivation(isActiveWindow());
}

CViewOptionsDlg::CViewOptionsDlg(OptionsPage page, std::int16_t field, CTBMDoc* document,
                                 QWidget* parent)
    : CTBMPropertySheet(kHelpDisplayOptions, parent),
      document_(document),
      list_(document),
      form_(document),
      field_(document, page == OptionsPage::kField ? field : 0) {
  AddPage(&list_);
  AddPage(&form_);
  AddPage(&field_);
  SetActivePage(page == OptionsPage::kForm ? 1 : page == OptionsPage::kField ? 2 : 0);
}

std::optional<ViewOptionsChanges> CViewOptionsDlg::Changes() const {
  if (!list_.changed() && !form_.changed() && !field_.changed()) return std::nullopt;
  ViewOptionsChanges changes;
  changes.resetDisplayOrder = field_.resetRequested();
  if (list_.changed()) changes.listFlags = list_.flags();
  if (form_.changed()) changes.formFlags = form_.flags();
  if (field_.changed()) {
    std::vector<FieldDisplay> settings;
    const int count = std::min<int>(document_->GetFieldCount(), kMaxFieldSettings);
    for (int f = 0; f < count; ++f) settings.push_back(field_.setting(f));
    changes.fieldDisplays = std::move(settings);
  }
  return changes;
}

}  // namespace tbm::app
