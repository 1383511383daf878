#include "FindDialog.h"

#include <QCalendarWidget>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

#include "FieldEditor.h"
#include "InputPanel.h"
#include "MainFrame.h"
#include "Resources.h"

namespace tbm::app {

namespace {

constexpr std::uint32_t kPictureChecked = 300;
constexpr std::uint32_t kPictureUnchecked = 301;
constexpr std::uint32_t kPictureDropDown = 302;
constexpr std::uint32_t kPictureCalendar = 304;
constexpr int kHelperSize = 17;
constexpr int kCalendarId = 2405;

}  // namespace

// ---- CFindHelperButton ----

CFindHelperButton::CFindHelperButton(QWidget* parent) : QAbstractButton(parent) {
  setObjectName(QStringLiteral("findHelper"));
  setFocusPolicy(Qt::NoFocus);
  hide();
}

void CFindHelperButton::SetMode(Mode mode) {
  mode_ = mode;
  update();
}

void CFindHelperButton::SetCheckedValue(bool checked) {
  checkedValue_ = checked;
  update();
}

QSize CFindHelperButton::sizeHint() const { return QSize(kHelperSize + 2, kHelperSize + 2); }

void CFindHelperButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().color(QPalette::Base));
  std::uint32_t number = 0;
  switch (mode_) {
    case Mode::kValueList:
      number = kPictureDropDown;
      break;
    case Mode::kCheckValue:
      number = checkedValue_ ? kPictureChecked : kPictureUnchecked;
      break;
    case Mode::kCalendar:
      number = kPictureCalendar;
      break;
    case Mode::kNone:
      return;
  }
  const QPixmap picture = ui::LoadPicture(number, devicePixelRatioF());
  if (picture.isNull()) return;
  const QSize size = picture.deviceIndependentSize().toSize();
  painter.drawPixmap((width() - size.width()) / 2, (height() - size.height()) / 2, picture);
}

// ---- CFindDlg ----

CFindDlg::CFindDlg(std::uint16_t field, const std::u16string& text, CTBMDoc* document,
                   QWidget* parent)
    : CTBMDialog(2400, kHelpFindRecords, parent), document_(document), field_(field), text_(text) {}

QWidget* CFindDlg::CreateCustomControl(std::uint16_t id, QWidget* parent) {
  if (id != 2404) return nullptr;
  auto* helper = new CFindHelperButton(parent);
  connect(helper, &QAbstractButton::clicked, this, [this] { OnHelperTapped(); });
  return helper;
}

CFindHelperButton* CFindDlg::helper() const {
  return dynamic_cast<CFindHelperButton*>(GetDlgItem(2404));
}

QLineEdit* CFindDlg::findEdit() const { return Item<QLineEdit>(2403); }

bool CFindDlg::OnInitDialog() {
  auto* fields = Item<QComboBox>(2402);
  FillFieldNames(fields, document_);
  if (fields != nullptr) {
    if (field_ >= fields->count()) field_ = 0;
    fields->setCurrentIndex(field_);
    connect(fields, &QComboBox::currentIndexChanged, this, [this](int index) {
      field_ = static_cast<std::uint16_t>(std::max(index, 0));
      CloseCalendar();
      UpdateHelper();
    });
    fields->installEventFilter(this);
  }
  if (QLineEdit* edit = findEdit()) {
    edit->setMaxLength(kFindTextLimit);
    edit->setText(ui::ToQString(text_).left(kFindTextLimit));
    edit->selectAll();
    edit->setFocus();
    connect(edit, &QLineEdit::textChanged, this, [this] { FollowText(); });
  }
  UpdateHelper();
  return true;
}

bool CFindDlg::OnOK() {
  CloseCalendar();
  if (auto* fields = Item<QComboBox>(2402); fields != nullptr && fields->currentIndex() >= 0)
    field_ = static_cast<std::uint16_t>(fields->currentIndex());
  if (QLineEdit* edit = findEdit()) text_ = edit->text().toStdU16String();
  return true;
}

std::optional<std::vector<std::u16string>> CFindDlg::HelperItems() const {
  if (document_ == nullptr) return std::nullopt;
  return document_->GetValueList(
      document_->GetFieldOption(static_cast<std::int16_t>(field_)).valueList);
}

std::optional<std::u16string> CFindDlg::FirstItem() const { return CheckBoxCaption(HelperItems()); }

void CFindDlg::UpdateHelper() {
  CFindHelperButton* button = helper();
  if (button == nullptr || document_ == nullptr) return;
  const auto f = static_cast<std::int16_t>(field_);
  const FieldOption option = document_->GetFieldOption(f);
  using Mode = CFindHelperButton::Mode;
  Mode mode = Mode::kNone;
  bool shown = false;
  if (option.style == kStyleDropList || option.style == kStyleDropCombo) {
    mode = Mode::kValueList;
    shown = true;
  } else if (document_->GetFieldType(f) == kFieldTypeDate) {
    mode = Mode::kCalendar;
    shown = true;
  } else if (option.style == kStyleCheckBox) {
    mode = Mode::kCheckValue;
    shown = HelperItems().has_value();
  }
  button->SetMode(mode);
  button->setVisible(shown);
  FollowText();
}

void CFindDlg::FollowText() {
  CFindHelperButton* button = helper();
  QLineEdit* edit = findEdit();
  if (button == nullptr || edit == nullptr) return;
  const std::optional<std::u16string> first = FirstItem();
  button->SetCheckedValue(first && !edit->text().isEmpty() &&
                          edit->text().compare(ui::ToQString(*first), Qt::CaseInsensitive) == 0);
}

void CFindDlg::ChooseHelperItem(int index) {
  const auto items = HelperItems();
  if (!items || index < 0 || index >= static_cast<int>(items->size())) return;
  const std::u16string& item = (*items)[static_cast<std::size_t>(index)];
  if (item == u"-") return;
  QLineEdit* edit = findEdit();
  if (edit == nullptr) return;
  edit->setText(ui::ToQString(item).left(kFindTextLimit));
  edit->selectAll();
  edit->setFocus();
}

void CFindDlg::OnHelperTapped() {
  CFindHelperButton* button = helper();
  QLineEdit* edit = findEdit();
  if (button == nullptr || edit == nullptr) return;
  switch (button->mode()) {
    case CFindHelperButton::Mode::kValueList: {
      QMenu menu(this);
      const auto items = HelperItems();
      if (!items || items->empty()) {
        menu.addAction(ui::LoadQString(items ? kEmptyValueListText : kNoValueListText))
            ->setEnabled(false);
      } else {
        for (std::size_t i = 0; i < items->size(); ++i) {
          QAction* action = menu.addAction(ui::ToQString((*items)[i]).left(255));
          action->setData(static_cast<int>(kFindMenuFirstCommand + i));
        }
      }
      const QAction* chosen = menu.exec(button->mapToGlobal(button->rect().bottomLeft()));
      if (chosen != nullptr && chosen->data().isValid())
        ChooseHelperItem(chosen->data().toInt() - kFindMenuFirstCommand);
      break;
    }
    case CFindHelperButton::Mode::kCheckValue:
      if (button->checkedValue())
        edit->clear();
      else
        edit->setText(ui::ToQString(FirstItem().value_or(u"")));
      break;
    case CFindHelperButton::Mode::kCalendar:
      if (calendar_ != nullptr)
        CloseCalendar();
      else
        OpenCalendar();
      break;
    case CFindHelperButton::Mode::kNone:
      break;
  }
}

void CFindDlg::OpenCalendar() {
  CFindHelperButton* button = helper();
  QWidget* area = button != nullptr ? button->parentWidget() : nullptr;
  if (area == nullptr) return;
  auto* calendar = new QCalendarWidget(area);
  calendar->setObjectName(QStringLiteral("calendar"));
  calendar->setProperty("controlId", kCalendarId);
  calendar->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
  calendar->setDateRange(QDate(1, 1, 1), QDate(3000, 12, 31));
  // The text's date, when it is one.
  std::u16string text = findEdit()->text().toStdU16String();
  MDbDateRec date{};
  if (document_ != nullptr && document_->ParseDate(text, &date, nullptr))
    calendar->setSelectedDate(QDate(date.year, date.month, date.day));
  const QSize size = calendar->minimumSizeHint();
  // Its top-right corner at the button's bottom-right corner, inside the
  // dialog.
  const QPoint corner = button->geometry().bottomRight() + QPoint(1, 1);
  calendar->setGeometry(std::max(0, corner.x() - size.width()), corner.y(), size.width(),
                        size.height());
  calendar->setAutoFillBackground(true);
  calendar->raise();
  calendar->show();
  ui::CInputPanel::Get().Show(false);
  connect(calendar, &QCalendarWidget::clicked, this, [this](QDate chosen) {
    MDbDateRec picked{static_cast<std::int16_t>(chosen.month()),
                      static_cast<std::int16_t>(chosen.day()),
                      static_cast<std::int16_t>(chosen.year()),
                      MDbDateValid,
                      1,
                      0};
    if (QLineEdit* edit = findEdit(); edit != nullptr && document_ != nullptr) {
      edit->setText(ui::ToQString(document_->DateRecToText(picked)));
      edit->selectAll();
    }
    CloseCalendar();
  });
  calendar_ = calendar;
}

void CFindDlg::CloseCalendar() {
  if (calendar_ == nullptr) return;
  QCalendarWidget* calendar = calendar_;
  calendar_ = nullptr;
  calendar->hide();
  calendar->deleteLater();
}

bool CFindDlg::eventFilter(QObject* watched, QEvent* event) {
  // The field list taking the focus closes the calendar.
  if (watched == GetDlgItem(2402) && event->type() == QEvent::FocusIn) CloseCalendar();
  return CTBMDialog::eventFilter(watched, event);
}

void CFindDlg::mousePressEvent(QMouseEvent* event) {
  // A tap elsewhere in the dialog closes the calendar.
  CloseCalendar();
  CTBMDialog::mousePressEvent(event);
}

bool CFindDlg::AcceptScannedText(const std::u16string& label) {
  QLineEdit* edit = findEdit();
  if (label.empty() || edit == nullptr || !edit->hasFocus()) return false;
  edit->setText(ui::ToQString(label).left(kFindTextLimit));
  edit->selectAll();
  return true;
}

}  // namespace tbm::app
