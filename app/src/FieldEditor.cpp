#include "FieldEditor.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListView>
#include <QMouseEvent>
#include <QPainter>
#include <QRegularExpression>
#include <QScrollBar>
#include <QStandardItemModel>
#include <algorithm>
#include <functional>

#include "DateTimeEntry.h"
#include "EditCommands.h"
#include "FieldEdit.h"
#include "FieldZoomDlg.h"
#include "Resources.h"
#include "TBMFormView.h"
#include "TBMView.h"
#include "WinApp.h"

namespace tbm::app {

namespace {

constexpr std::uint32_t kEditMenu = 109;
constexpr std::uint32_t kPictureZoom = 303;
// The combo box's list reaches this far below the cell.
constexpr int kDropListHeight = 150;
// The zoom box: insets of its text and the strip kept for its mark.
constexpr int kZoomTextLeft = 2;
constexpr int kZoomTextTopBottom = 1;
constexpr int kZoomMarkWidth = 13;

QString ToQ(const std::u16string& text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

std::vector<std::u16string> Lines(const std::u16string& value) {
  std::vector<std::u16string> lines;
  std::u16string::size_type start = 0;
  while (true) {
    const auto end = value.find(u"\r\n", start);
    if (end == std::u16string::npos) {
      lines.push_back(value.substr(start));
      return lines;
    }
    lines.push_back(value.substr(start, end - start));
    start = end + 2;
  }
}

// A press and release at point on the child of control under it: the
// tap that made an editor also places the caret.
void SendTap(QWidget* control, QPoint point) {
  if (control == nullptr || !control->rect().contains(point)) return;
  QWidget* target = control->childAt(point);
  if (target == nullptr) target = control;
  const QPointF local = target->mapFrom(control, point);
  const QPointF global = target->mapToGlobal(local);
  QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QApplication::sendEvent(target, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QApplication::sendEvent(target, &release);
}

// The box a zoom-box field shows: the value's first line in the selection
// colours and a mark at the right; a tap opens the field editing dialog.
class CZoomFieldBox : public QWidget {
 public:
  CZoomFieldBox(QWidget* parent, QString text, std::function<void()> onTap)
      : QWidget(parent), text_(std::move(text)), onTap_(std::move(onTap)) {
    setObjectName(QStringLiteral("zoomFieldBox"));
    setAttribute(Qt::WA_OpaquePaintEvent);
  }
  void SetText(QString text) {
    text_ = std::move(text);
    update();
  }
  void Forget() { onTap_ = nullptr; }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    const QPalette colours = palette();
    painter.fillRect(rect(), colours.color(QPalette::Highlight));
    painter.setPen(colours.color(QPalette::Text));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    const QRect text = rect().adjusted(1 + kZoomTextLeft, 1 + kZoomTextTopBottom,
                                       -1 - kZoomMarkWidth, -1 - kZoomTextTopBottom);
    painter.setPen(colours.color(QPalette::HighlightedText));
    painter.setFont(font());
    painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter,
                     CutTextToWidth(text_, fontMetrics(), text.width(), true, true));
    const QPixmap mark = ui::LoadPicture(kPictureZoom, devicePixelRatioF());
    if (!mark.isNull()) {
      const QSize size = mark.deviceIndependentSize().toSize();
      const QRect strip(width() - 1 - kZoomMarkWidth, 1, kZoomMarkWidth, height() - 2);
      painter.drawPixmap(strip.left() + (strip.width() - size.width()) / 2,
                         strip.top() + (strip.height() - size.height()) / 2, mark);
    }
  }
  // The press is the box's, so that the release that opens the dialog
  // comes to it too.
  void mousePressEvent(QMouseEvent* event) override { event->accept(); }
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && onTap_)
      onTap_();
  }

 private:
  QString text_;
  std::function<void()> onTap_;
};

}  // namespace

// ---- CFieldEditor ----

CFieldEditor::~CFieldEditor() { Destroy(); }

QRect CFieldEditor::GetRect() const { return control_ ? control_->geometry() : QRect(); }

void CFieldEditor::SetRect(const QRect& rect) {
  if (!control_) return;
  control_->setGeometry(rect);
  control_->repaint();
}

void CFieldEditor::Offset(int dx, int dy) {
  if (control_) control_->move(control_->pos() + QPoint(dx, dy));
}

void CFieldEditor::Activate(bool) {}

void CFieldEditor::TapAt(QPoint point) { SendTap(control_, point); }

bool CFieldEditor::AcceptScannedText(const std::u16string&) { return false; }

void CFieldEditor::Destroy() {
  commands_ = nullptr;
  if (!control_) return;
  QWidget* control = control_;
  control_ = nullptr;
  // The control may be the one whose input ended the edit: it goes once
  // that input is handled, hidden at once.
  control->hide();
  control->deleteLater();
}

void CFieldEditor::SetControl(QWidget* control, ui::CCmdTarget* commands) {
  control_ = control;
  commands_ = commands;
}

bool CFieldEditor::OnCmdMsg(ui::CommandId id) {
  if (commands_ != nullptr && control_ && commands_->OnCmdMsg(id)) return true;
  return ui::CCmdTarget::OnCmdMsg(id);
}

bool CFieldEditor::OnUpdateCmdMsg(ui::CCmdUI* ui) {
  if (commands_ != nullptr && control_ && commands_->OnUpdateCmdMsg(ui)) return true;
  return ui::CCmdTarget::OnUpdateCmdMsg(ui);
}

// ---- check-box captions ----

std::optional<std::u16string> CheckBoxCaption(
    const std::optional<std::vector<std::u16string>>& list) {
  if (!list) return std::nullopt;
  for (const std::u16string& item : *list)
    if (!item.empty()) return item;
  return std::nullopt;
}

bool CheckBoxChecked(const QString& value, const QString& caption) {
  if (caption.isEmpty()) return false;
  static const QRegularExpression lineEnd(QStringLiteral("\r\n|\r|\n"));
  const QStringList lines = value.split(lineEnd);
  return std::any_of(lines.begin(), lines.end(), [&caption](const QString& line) {
    return line.compare(caption, Qt::CaseInsensitive) == 0;
  });
}

// ---- text ----

CTextFieldEditor::CTextFieldEditor(const FieldEditSetup& setup, bool scrollBar) {
  auto* edit = new CFieldEdit(setup.view);
  edit->setObjectName(QStringLiteral("fieldEdit"));
  edit->setProperty("controlId", kTextEditorControl);
  SetUpWrappingEdit(edit, setup.font);
  edit->setVerticalScrollBarPolicy(scrollBar ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  if (scrollBar) StyleViewScrollBar(edit->verticalScrollBar());
  edit->setGeometry(setup.cell);
  edit->SetLimit(setup.maxSize > 0 ? static_cast<int>(setup.maxSize) - 1 : 0);
  edit->SetCapitalise((setup.option.flags & kFieldCapitalise) != 0);
  edit->SetValue(setup.value);
  QPointer<CTBMView> view(setup.view);
  edit->SetGrowth(!scrollBar, setup.view->GetCellHeight(), [view] {
    if (view) view->update();
  });
  edit->SetDragScroll([view](int lines) {
    if (view) view->ScrollForEditor(lines);
  });
  edit->show();
  edit->setFocus();
  editCommands_ = std::make_unique<ui::CEditCommandTarget>([edit] { return edit; });
  SetControl(edit, editCommands_.get());
}

CTextFieldEditor::~CTextFieldEditor() { Destroy(); }

CFieldEdit* CTextFieldEditor::edit() const { return static_cast<CFieldEdit*>(control()); }

bool CTextFieldEditor::IsModified() { return edit() != nullptr && edit()->modified(); }

std::optional<std::u16string> CTextFieldEditor::GetValueText() {
  if (edit() == nullptr) return std::nullopt;
  return edit()->Value();
}

void CTextFieldEditor::TapAt(QPoint point) {
  // The press and release go to the text area under the point.
  if (edit() == nullptr) return;
  QWidget* area = edit()->viewport();
  const QPoint local = area->mapFrom(edit(), point);
  if (!area->rect().contains(local)) return;
  QMouseEvent press(QEvent::MouseButtonPress, local, area->mapToGlobal(local), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(area, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, local, area->mapToGlobal(local), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(area, &release);
}

bool CTextFieldEditor::AcceptScannedText(const std::u16string& text) {
  if (edit() == nullptr) return false;
  edit()->ReplaceAllSelected(text);
  return true;
}

// ---- value lists ----

CValueListFieldEditor::CValueListFieldEditor(const FieldEditSetup& setup, bool typing,
                                             const std::optional<std::vector<std::u16string>>& list)
    : setup_(setup) {
  auto* combo = new QComboBox(setup.view);
  combo->setObjectName(QStringLiteral("fieldComboBox"));
  combo->setProperty("controlId", kComboBoxControl);
  editCommands_ = std::make_unique<ui::CEditCommandTarget>([combo] { return combo; });
  SetControl(combo, editCommands_.get());
  combo->setEditable(typing);
  combo->setFont(setup.font);
  combo->setInsertPolicy(QComboBox::NoInsert);
  combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  // The selection field covers the cell; the list drops below it.
  combo->setGeometry(setup.cell);
  const int itemHeight = std::max(1, QFontMetrics(setup.font).height() + 2);
  combo->setMaxVisibleItems(std::max(1, kDropListHeight / itemHeight));
  FillFromValueList(list);
  SelectInitial();
  QObject::connect(combo, &QComboBox::activated, combo, [this] {
    if (!filling_) modified_ = true;
  });
  if (typing) {
    combo->lineEdit()->setMaxLength(setup.maxSize > 0 ? static_cast<int>(setup.maxSize) - 1
                                                      : 32767);
    ui::InstallControlMenu(combo->lineEdit(), kEditMenu);
    QObject::connect(combo->lineEdit(), &QLineEdit::textEdited, combo,
                     [this, combo](const QString& text) {
                       modified_ = true;
                       // The first letter typed into an empty box.
                       if ((setup_.option.flags & kFieldCapitalise) != 0 && text.size() == 1 &&
                           text[0].isLetter() && text != text.toUpper()) {
                         combo->lineEdit()->setText(text.toUpper());
                         combo->lineEdit()->setCursorPosition(1);
                       }
                     });
  }
  combo->show();
  combo->setFocus();
}

CValueListFieldEditor::~CValueListFieldEditor() { Destroy(); }

QComboBox* CValueListFieldEditor::combo() const { return static_cast<QComboBox*>(control()); }

void CValueListFieldEditor::FillFromValueList(
    const std::optional<std::vector<std::u16string>>& list) {
  QComboBox* box = combo();
  if (box == nullptr) return;
  filling_ = true;
  box->clear();
  auto addPlaceholder = [box](std::uint32_t number) {
    box->addItem(ui::LoadQString(number));
    if (auto* model = qobject_cast<QStandardItemModel*>(box->model()))
      model->item(box->count() - 1)->setFlags(Qt::NoItemFlags);
  };
  if (!list)
    addPlaceholder(kNoValueListText);
  else if (list->empty())
    addPlaceholder(kEmptyValueListText);
  else {
    for (const std::u16string& item : *list) {
      if (item == u"-")
        box->insertSeparator(box->count());
      else
        box->addItem(ToQ(item));
    }
  }
  box->setCurrentIndex(-1);
  filling_ = false;
}

void CValueListFieldEditor::SelectInitial() {
  QComboBox* box = combo();
  filling_ = true;
  const QString value = ToQ(setup_.value);
  int found = -1;
  if (!value.isEmpty()) {
    auto* model = qobject_cast<QStandardItemModel*>(box->model());
    for (int i = 0; i < box->count() && found < 0; ++i) {
      const bool choosable = model == nullptr || (model->item(i)->flags() & Qt::ItemIsEnabled);
      if (choosable && box->itemText(i).startsWith(value, Qt::CaseInsensitive)) found = i;
    }
  }
  box->setCurrentIndex(found);
  if (found < 0) {
    if (box->isEditable())
      box->setEditText(value);
    else
      box->setPlaceholderText(value);
  }
  filling_ = false;
}

bool CValueListFieldEditor::IsModified() { return modified_; }

std::optional<std::u16string> CValueListFieldEditor::GetValueText() {
  QComboBox* box = combo();
  if (box == nullptr) return std::nullopt;
  if (box->isEditable()) return box->currentText().toStdU16String();
  if (box->currentIndex() >= 0) return box->itemText(box->currentIndex()).toStdU16String();
  return setup_.value;
}

void CValueListFieldEditor::Activate(bool close) {
  QComboBox* box = combo();
  if (box == nullptr) return;
  if (close)
    box->hidePopup();
  else
    box->showPopup();
}

void CValueListFieldEditor::TapAt(QPoint point) {
  // A tap on the selection field drops the list, on the typing area
  // places the caret.
  QComboBox* box = combo();
  if (box == nullptr || !box->rect().contains(point)) return;
  if (box->isEditable() && box->lineEdit()->geometry().contains(point)) {
    CFieldEditor::TapAt(point);
    return;
  }
  box->showPopup();
}

std::optional<std::u16string> CDateListFieldEditor::GetValueText() {
  std::optional<std::u16string> text = CValueListFieldEditor::GetValueText();
  if (text) setup().document->CheckAndNormaliseDate(&*text, 0);
  return text;
}

bool CDateListFieldEditor::HoldsValidValue() {
  if (!IsModified()) return true;
  std::optional<std::u16string> text = CValueListFieldEditor::GetValueText();
  return text && setup().document->CheckAndNormaliseDate(&*text, 0);
}

bool CValueListFieldEditor::ValidateOrOfferToDrop(bool date) {
  if (HoldsValidValue()) return true;
  if (!AskToDropInvalidChange(setup_.document, date)) return false;
  modified_ = false;
  return true;
}

bool CDateListFieldEditor::Validate() { return ValidateOrOfferToDrop(true); }

bool CTimeListFieldEditor::HoldsValidValue() {
  if (!IsModified()) return true;
  std::optional<std::u16string> text = GetValueText();
  return text && setup().document->CheckTime(*text);
}

bool CTimeListFieldEditor::Validate() { return ValidateOrOfferToDrop(false); }

// ---- check box ----

CCheckBoxFieldEditor::CCheckBoxFieldEditor(const FieldEditSetup& setup,
                                           const std::u16string& caption)
    : value_(setup.value), caption_(caption) {
  auto* box = new QCheckBox(ToQ(caption), setup.view);
  box->setObjectName(QStringLiteral("fieldCheckBox"));
  box->setProperty("controlId", kCheckBoxControl);
  box->setFont(setup.font);
  box->setAutoFillBackground(true);
  QPalette colours = box->palette();
  colours.setColor(QPalette::Window, colours.color(QPalette::Base));
  box->setPalette(colours);
  box->setGeometry(setup.cell);
  wasChecked_ = CheckBoxChecked(ToQ(value_), ToQ(caption_));
  box->setChecked(wasChecked_);
  box->show();
  box->setFocus();
  SetControl(box, nullptr);
}

CCheckBoxFieldEditor::~CCheckBoxFieldEditor() { Destroy(); }

QCheckBox* CCheckBoxFieldEditor::checkBox() const { return static_cast<QCheckBox*>(control()); }

void CCheckBoxFieldEditor::TapAt(QPoint point) {
  QCheckBox* box = checkBox();
  if (box != nullptr && box->rect().contains(point)) box->toggle();
}

std::optional<std::u16string> CCheckBoxFieldEditor::GetValueText() {
  const bool checked = checkBox() != nullptr && checkBox()->isChecked();
  if (checked && !wasChecked_) {
    if (value_.empty()) return caption_;
    return value_ + u"\r\n" + caption_;
  }
  if (!checked && wasChecked_) {
    // The line that is the caption exactly goes with its line break.
    std::vector<std::u16string> lines = Lines(value_);
    auto exact = std::find(lines.begin(), lines.end(), caption_);
    if (exact == lines.end()) return value_;
    lines.erase(exact);
    std::u16string result;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      if (i > 0) result += u"\r\n";
      result += lines[i];
    }
    return result;
  }
  return value_;
}

// ---- zoom box ----

CZoomFieldEditor::CZoomFieldEditor(const FieldEditSetup& setup, bool readOnly)
    : setup_(setup), value_(setup.value), readOnly_(readOnly) {
  auto* box = new CZoomFieldBox(setup.view, ToQ(value_), [this] { OpenDialog(); });
  box->setProperty("controlId", kTextEditorControl);
  box->setFont(setup.font);
  box->setGeometry(setup.cell);
  box->show();
  box->setFocus();
  SetControl(box, nullptr);
}

CZoomFieldEditor::~CZoomFieldEditor() {
  if (auto* box = static_cast<CZoomFieldBox*>(control())) box->Forget();
  Destroy();
}

void CZoomFieldEditor::OpenDialog() {
  CFieldZoomDlg dialog(value_, setup_.name, setup_.font,
                       (setup_.option.flags & kFieldCapitalise) != 0, readOnly_,
                       setup_.view != nullptr ? setup_.view->GetCellHeight() : 0,
                       control() != nullptr ? control()->window() : nullptr);
  std::weak_ptr<bool> alive = alive_;
  const int ending = dialog.DoModal();
  if (alive.expired() || ending != ui::IDOK || readOnly_) return;
  if (dialog.text() == value_) return;
  value_ = dialog.text();
  modified_ = true;
  if (auto* box = static_cast<CZoomFieldBox*>(control())) box->SetText(ToQ(value_));
}

// ---- choosing the editor ----

std::unique_ptr<CFieldEditor> CreateFieldEditor(FieldEditSetup setup) {
  CTBMView* view = setup.view;
  CTBMDoc* document = setup.document;
  const FieldOption& option = setup.option;
  auto valueList = [&] { return document->GetValueList(option.valueList); };
  std::unique_ptr<CFieldEditor> editor;
  if ((option.flags & kFieldEntryLocked) != 0) {
    if (option.style == kStyleZoom)
      editor = std::make_unique<CZoomFieldEditor>(setup, true);
    else
      QApplication::beep();
  } else if (setup.type == kFieldTypeDate || setup.type == kFieldTypeTime) {
    const bool date = setup.type == kFieldTypeDate;
    if (option.style == kStyleDropList) {
      std::optional<std::vector<std::u16string>> list = valueList();
      if (list && date)
        for (std::u16string& item : *list) document->CheckAndNormaliseDate(&item, 0);
      if (date)
        editor = std::make_unique<CDateListFieldEditor>(setup, false, list);
      else
        editor = std::make_unique<CTimeListFieldEditor>(setup, false, list);
    } else {
      if (date) {
        view->EnsureVisible(setup.record, setup.field);
        setup.cell = view->GetCellRect(setup.record, setup.field);
      }
      editor = CreateDateTimeFieldEditor(setup, option.style == kStyleDropCombo
                                                    ? valueList()
                                                    : std::optional<std::vector<std::u16string>>());
    }
  } else if (option.style == kStyleDropList || option.style == kStyleDropCombo) {
    editor = std::make_unique<CValueListFieldEditor>(setup, option.style == kStyleDropCombo,
                                                     valueList());
  } else if (option.style == kStyleCheckBox) {
    if (std::optional<std::u16string> caption = CheckBoxCaption(valueList()))
      editor = std::make_unique<CCheckBoxFieldEditor>(setup, *caption);
  } else if (option.style == kStyleZoom) {
    editor = std::make_unique<CZoomFieldEditor>(setup, false);
  } else {
    view->RaiseInputPanelForEdit();
    view->EnsureVisible(setup.record, setup.field);
    setup.cell = view->GetCellRect(setup.record, setup.field);
    editor = std::make_unique<CTextFieldEditor>(
        setup, view->WantsEditorScrollBar(setup.record, setup.field));
  }
  if (editor != nullptr && editor->control() == nullptr) editor.reset();
  return editor;
}

}  // namespace tbm::app
