#include "TBMFormView.h"

#include <QAbstractTextDocumentLayout>
#include <QCalendarWidget>
#include <QComboBox>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextBoundaryFinder>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextLayout>
#include <algorithm>

#include "FieldEditor.h"
#include "FrameWnd.h"
#include "Resources.h"
#include "WinApp.h"

namespace tbm::app {
namespace {

// A line of a value is read back from the measuring edit up to this many
// characters.
constexpr int kLineReadLimit = 1000;
// Line counts are 16-bit.
constexpr int kMaxLineCount = 0xFFFF;
// The colour the pictures mark as transparent.
constexpr QRgb kTransparentColour = qRgb(0, 128, 128);

constexpr std::uint32_t kPictureChecked = 300;
constexpr std::uint32_t kPictureUnchecked = 301;
constexpr std::uint32_t kPictureDropDown = 302;
constexpr std::uint32_t kPictureZoom = 303;
constexpr std::uint32_t kFirstPicture = kPictureChecked;

// Check-box captions when the field's value list is missing or empty.
constexpr std::uint32_t kStringNoValueList = 5012;
constexpr std::uint32_t kStringEmptyValueList = 5013;

// The bit of the update hint that says a record was added (hint 20).
constexpr int kHintBitRecordAdded = 0x10;

QString FromUtf16(const std::u16string& text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

// Values are stored with CR LF line ends; the edit and the drawing work
// with paragraphs split at "\n".
QString NormaliseLineEnds(QString text) {
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(u'\r', u'\n');
  return text;
}

// A line read back from the edit: at most kLineReadLimit characters, never
// ending inside a surrogate pair.
QString LimitLine(QString line) {
  if (line.size() <= kLineReadLimit) return line;
  qsizetype keep = kLineReadLimit;
  if (line[keep - 1].isHighSurrogate()) --keep;
  line.truncate(keep);
  return line;
}

Qt::Alignment HorizontalAlignment(std::uint32_t value) {
  if (value == 2) return Qt::AlignHCenter;
  if (value == 3) return Qt::AlignRight;
  return Qt::AlignLeft;
}

QColor ColourFromRgb(std::uint32_t colour) {
  return QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                static_cast<int>((colour >> 16) & 0xFF));
}

int CeilDiv(int value, int divisor) { return (value + divisor - 1) / divisor; }

}  // namespace

QString CutLabelToWidth(const QString& label, const QFontMetrics& metrics, int width) {
  if (metrics.horizontalAdvance(label) <= width) return label;
  // The characters that fit; the next one becomes the colon, and when that
  // is still too wide, the last that fitted.
  QString kept = CutTextToWidth(label, metrics, width, false, false);
  QString result = kept + u':';
  if (!kept.isEmpty() && metrics.horizontalAdvance(result) > width) {
    QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, kept);
    characters.toEnd();
    result = kept.left(characters.toPreviousBoundary()) + u':';
  }
  return result;
}

void SetUpWrappingEdit(QTextEdit* edit, const QFont& font) {
  edit->setAcceptRichText(false);
  edit->setFont(font);
  edit->document()->setDefaultFont(font);
  edit->document()->setDocumentMargin(0);
  edit->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
}

CTBMFormView::CTBMFormView(QWidget* parent) : CTBMView(kFormViewKind, parent) {
  // Every pixel outside the children is painted from state.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::StrongFocus);

  bar_ = new QScrollBar(Qt::Vertical, this);
  bar_->setFocusPolicy(Qt::NoFocus);
  StyleViewScrollBar(bar_);
  bar_->setSingleStep(1);
  bar_->hide();
  QObject::connect(bar_, &QAbstractSlider::actionTriggered, this,
                   [this](int action) { OnBarAction(action); });

  // The measuring edit: bordered and multi-line like a field editor, never
  // shown. Its lines wrap at a fixed pixel width because a hidden widget
  // learns of its own size only when shown.
  measure_ = new QTextEdit(this);
  measure_->setObjectName(QStringLiteral("measuringEdit"));
  measure_->setFocusPolicy(Qt::NoFocus);
  measure_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  measure_->setLineWrapMode(QTextEdit::FixedPixelWidth);
  measure_->setGeometry(0, 0, 1, 1);
  measure_->hide();
}

CTBMFormView::~CTBMFormView() {
  if (cellEditActive()) CTBMView::EndEdit();
}

// ---- Layout ---------------------------------------------------------------

void CTBMFormView::OnInitialUpdate() {
  CTBMView::OnInitialUpdate();
  setUpdatesEnabled(false);
  CTBMDoc* document = GetDocument();
  std::uint32_t flags = document != nullptr ? document->GetViewFlags(kFormViewKind) : 0;
  SetFontKind((flags & kFormLargeFont) != 0 ? kFontLarge : kFontNormal);
  initialised_ = true;
  ReadFields();
  RecalcLabelWidth();
  RecalcLineUnit();
  RecalcLineCounts();
  UpdateScrollBar();
  setUpdatesEnabled(true);
  update();
}

void CTBMFormView::OnUpdate(ui::CView* sender, int hint) {
  CTBMDoc* document = GetDocument();
  if ((hint & kHintOptions) != 0) {
    std::uint32_t flags = document != nullptr ? document->GetViewFlags(kFormViewKind) : 0;
    SetFontKind((flags & kFormLargeFont) != 0 ? kFontLarge : kFontNormal);
    ReadFields();
    RecalcLabelWidth();
    RecalcLineUnit();
    RecalcLineCounts();
    // Other options may leave fewer lines: the top line stays in range
    // and the bar follows.
    UpdateScrollBar();
    int top = Fits() ? 0 : std::min(topLine_, lastScrollPosition());
    if (top != topLine_) {
      topLine_ = top;
      UpdateScrollBar();
    }
  }
  if ((hint & (kHintNavigation | kHintRecordSet)) != 0) {
    topLine_ = 0;
    ReadFields();
    RecalcLabelWidth();
    RecalcLineUnit();
    RecalcLineCounts();
    UpdateScrollBar();
    if ((hint & kHintBitRecordAdded) != 0 && document != nullptr) {
      int above = 0;
      int field = FieldAtLine(topLine_, &above);
      if (field >= 0) BeginEdit(document->GetRecordIndex(), static_cast<std::int16_t>(field));
    }
  }
  CTBMView::OnUpdate(sender, hint);
}

bool CTBMFormView::DrawnAsControl(const Field& field) const {
  if (!editingAllowed()) return false;
  std::uint8_t style = field.option.style;
  return style == kStyleDropList || style == kStyleDropCombo || style == kStyleCheckBox ||
         style == kStyleZoom;
}

void CTBMFormView::ReadFields() {
  fields_.clear();
  fieldCount_ = 0;
  CTBMDoc* document = GetDocument();
  if (document == nullptr) {
    formFlags_ = 0;
    return;
  }
  formFlags_ = document->GetViewFlags(kFormViewKind);
  std::int16_t record = document->GetRecordIndex();
  if (record < 0 || document->GetRecordCount() == 0) return;
  int count = std::min<int>(document->GetFieldCount(), kMaxFields);
  fields_.resize(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) {
    auto index = static_cast<std::int16_t>(i);
    Field& field = fields_[static_cast<std::size_t>(i)];
    field.label = FromUtf16(document->GetFieldName(index)) + u':';
    field.type = document->GetFieldType(index);
    field.option = document->GetFieldOption(index);
    field.display = document->GetFieldDisplay(index);
    std::optional<std::u16string> value = document->ReadField(record, index);
    field.readable = value.has_value();
    if (value) field.value = NormaliseLineEnds(FromUtf16(*value));
    if (field.option.style != kStyleCheckBox) continue;
    // The caption is the list's first non-empty item; a placeholder stands
    // in for a missing or empty list and never matches a value.
    std::optional<std::vector<std::u16string>> list =
        document->GetValueList(field.option.valueList);
    if (std::optional<std::u16string> caption = CheckBoxCaption(list)) {
      field.checkLabel = FromUtf16(*caption);
      field.checked = CheckBoxChecked(field.value, field.checkLabel);
    } else {
      field.checkLabel = ui::LoadQString(list ? kStringEmptyValueList : kStringNoValueList);
    }
  }
  fieldCount_ = count;
}

void CTBMFormView::RecalcLabelWidth() {
  // Labels are always in the normal font, whatever the view's font kind.
  labelFont_ = MakeViewFont(kFontNormal);
  QFontMetrics metrics(labelFont_);
  int widest = 0;
  for (const Field& field : fields_)
    widest = std::max(widest, metrics.horizontalAdvance(field.label));
  labelWidth_ = std::min(widest, kMaxLabelWidth);
}

void CTBMFormView::RecalcLineUnit() {
  // One line unit is the height of a one-line combo box in the view font,
  // and 2 pixels between.
  QComboBox probe(this);
  probe.hide();
  probe.setFont(viewFont());
  lineUnit_ = std::max(1, probe.sizeHint().height()) + 2;
}

void CTBMFormView::RecalcLineCounts() {
  lineCounts_.fill(0);
  SetUpWrappingEdit(measure_, viewFont());
  for (int i = 0; i < fieldCount_; ++i) MeasureField(fields_[static_cast<std::size_t>(i)]);
  for (int i = 0; i < fieldCount_; ++i) {
    const Field& field = fields_[static_cast<std::size_t>(i)];
    int count = 1;
    if (DrawnAsControl(field)) {
      count = 1;
    } else if (cellEditActive() && editField() == i && editorControl() != nullptr) {
      count = CeilDiv(editorControl()->height(), lineUnit_);
    } else if (field.readable) {
      QFontMetrics metrics(viewFont());
      int lines = std::max<int>(1, static_cast<int>(field.lines.size()));
      count = CeilDiv(lines * metrics.lineSpacing() + 6, lineUnit_);
    }
    lineCounts_[static_cast<std::size_t>(i)] =
        static_cast<std::uint16_t>(std::clamp(count, 1, kMaxLineCount));
  }
}

void CTBMFormView::MeasureField(Field& field) {
  // The edit stands where the value would be, 3 pixels in from the value
  // rectangle's left, and breaks its text at its own text width.
  int valueWidth = clientRect().width() - labelWidth_ - 2 * kMargin;
  int editWidth = std::max(1, valueWidth - kMargin);
  int wrapWidth = std::max(1, editWidth - 2 * measure_->frameWidth());
  const bool measured = !DrawnAsControl(field) && field.readable;
  // The same text at the same width in the same font breaks the same way.
  if (measured && field.measuredWidth == wrapWidth && field.measuredFont == viewFont() &&
      field.measuredValue == field.value)
    return;
  field.lines.clear();
  field.rightToLeft.clear();
  field.measuredWidth = -1;
  if (!measured) return;
  field.measuredWidth = wrapWidth;
  field.measuredFont = viewFont();
  field.measuredValue = field.value;
  measure_->setGeometry(kMargin, 0, editWidth, 10 * lineUnit_);
  if (measure_->lineWrapColumnOrWidth() != wrapWidth) measure_->setLineWrapColumnOrWidth(wrapWidth);
  measure_->setPlainText(field.value);
  QTextDocument* text = measure_->document();
  text->documentLayout()->documentSize();  // lays the whole text out
  for (QTextBlock block = text->begin(); block.isValid(); block = block.next()) {
    QTextLayout* layout = block.layout();
    bool rightToLeft = block.textDirection() == Qt::RightToLeft;
    const QString blockText = block.text();
    int lines = layout != nullptr ? layout->lineCount() : 0;
    if (lines == 0) {
      field.lines.push_back(LimitLine(blockText));
      field.rightToLeft.push_back(rightToLeft);
      continue;
    }
    for (int i = 0; i < lines; ++i) {
      QTextLine line = layout->lineAt(i);
      field.lines.push_back(LimitLine(blockText.mid(line.textStart(), line.textLength())));
      field.rightToLeft.push_back(rightToLeft);
    }
  }
  measure_->clear();
}

void CTBMFormView::UpdateScrollBar() {
  BarState state;
  if (fieldCount_ > 0) {
    int visible = visibleLines();
    bool exact = (height() - 2) % lineUnit_ == 0;
    int total = totalLines();
    if (visible - 1 >= total) {
      // Everything fits: nothing to scroll, unless the top line is not 0
      // (then back to it), or a cell edit began further down (then the
      // view stays where the edit began).
      int from = topLine_;
      if (cellEditActive() && editStartLine_ > topLine_) from = editStartLine_;
      state.max = visible + from - 1;
    } else {
      state.max = total - (exact ? 1 : 0);
    }
    state.page = visible;
    state.position = topLine_;
  }
  if (state == barState_ && bar_->value() == state.position) return;
  barState_ = state;
  int scrollable = std::max(0, state.max - state.page + 1);
  bar_->setRange(0, scrollable);
  bar_->setPageStep(std::max(1, state.page));
  bar_->setValue(std::min(state.position, scrollable));
  bool show = scrollable > 0;
  if (show != barShown_) {
    barShown_ = show;
    bar_->setVisible(show);
    LayOutBar();
    // The client area is narrower or wider now: values wrap anew.
    OnClientSizeChanged();
  }
}

void CTBMFormView::LayOutBar() {
  int width = bar_->sizeHint().width();
  bar_->setGeometry(this->width() - width, 0, width, height());
}

void CTBMFormView::OnClientSizeChanged() {
  if (!initialised_ || layoutDepth_ > 2) return;
  ++layoutDepth_;
  RecalcLineCounts();
  UpdateScrollBar();
  if (cellEditActive())
    EnsureVisible(editRecord(), editField());
  else if (Fits() && topLine_ != 0)
    ScrollTo(0);
  update();
  --layoutDepth_;
}

int CTBMFormView::lineCount(int field) const {
  if (field < 0 || field >= fieldCount_) return 0;
  return lineCounts_[static_cast<std::size_t>(field)];
}

int CTBMFormView::totalLines() const {
  int total = 0;
  for (int i = 0; i < fieldCount_; ++i) total += lineCounts_[static_cast<std::size_t>(i)];
  return total;
}

int CTBMFormView::firstLineOf(int field) const {
  int line = 0;
  for (int i = 0; i < field && i < fieldCount_; ++i)
    line += lineCounts_[static_cast<std::size_t>(i)];
  return line;
}

int CTBMFormView::visibleLines() const {
  int usable = height() - 2;
  if (usable <= 0) return 0;
  return usable / lineUnit_ + (usable % lineUnit_ != 0 ? 1 : 0);
}

int CTBMFormView::lastScrollPosition() const {
  return std::max(0, barState_.max - barState_.page + 1);
}

QRect CTBMFormView::clientRect() const {
  int barWidth = barShown_ ? bar_->sizeHint().width() : 0;
  return QRect(0, 0, std::max(0, width() - barWidth), height());
}

QRect CTBMFormView::ValueRect(int field) const {
  if (field < 0 || field >= fieldCount_) return QRect();
  int left = labelWidth_ + kMargin;
  int right = clientRect().width() - kMargin;
  int top = kMargin + (firstLineOf(field) - topLine_) * lineUnit_;
  return QRect(left, top, std::max(0, right - left), lineCount(field) * lineUnit_);
}

const std::vector<QString>& CTBMFormView::wrappedLines(int field) const {
  static const std::vector<QString> kNone;
  if (field < 0 || field >= fieldCount_) return kNone;
  return fields_[static_cast<std::size_t>(field)].lines;
}

QString CTBMFormView::checkBoxCaption(int field) const {
  if (field < 0 || field >= fieldCount_) return QString();
  return fields_[static_cast<std::size_t>(field)].checkLabel;
}

bool CTBMFormView::checkBoxChecked(int field) const {
  if (field < 0 || field >= fieldCount_) return false;
  return fields_[static_cast<std::size_t>(field)].checked;
}

bool CTBMFormView::Fits() const { return fieldCount_ == 0 || visibleLines() - 1 >= totalLines(); }

int CTBMFormView::FieldAtLine(int line, int* linesAbove) const {
  int first = 0;
  for (int i = 0; i < fieldCount_; ++i) {
    int count = lineCounts_[static_cast<std::size_t>(i)];
    if (line >= first && line < first + count) {
      *linesAbove = line - first;
      return i;
    }
    first += count;
  }
  *linesAbove = 0;
  return -1;
}

int CTBMFormView::FieldAtValuePoint(QPoint point) const {
  if (point.y() < kMargin) return -1;
  for (int i = 0; i < fieldCount_; ++i) {
    if (ValueRect(i).contains(point)) return i;
  }
  return -1;
}

// ---- CTBMView -------------------------------------------------------------

QRect CTBMFormView::GetCellRect(std::int16_t, std::int16_t field) {
  QRect value = ValueRect(field);
  if (value.isNull()) return value;
  value.setHeight(std::max(0, value.height() - 2));
  return value;
}

int CTBMFormView::GetCellHeight() { return lineUnit_; }

void CTBMFormView::EnsureVisible(std::int16_t record, std::int16_t field) {
  RecalcLineCounts();
  UpdateScrollBar();
  if (field < 0 || field >= fieldCount_) return;
  if (cellEditActive()) {
    if (QWidget* editor = editorControl(); editor != nullptr) {
      QRect cell = GetCellRect(record, field);
      editor->setGeometry(cell.x(), cell.y(), cell.width(), editor->height());
    }
    editStartLine_ = static_cast<std::int16_t>(std::min(topLine_, 0x7FFF));
  }
  const Field& shown = fields_[static_cast<std::size_t>(field)];
  int first = firstLineOf(field);
  if (shown.type == kFieldTypeDate && shown.option.style == kStyleEdit) {
    // The date editor drops a month calendar below the field: when that
    // would not fit in the view (which the frame shortens while the input
    // panel is up), the field goes to the top.
    QCalendarWidget probe(this);
    probe.hide();
    probe.setFont(viewFont());
    int calendarHeight = probe.minimumSizeHint().height();
    int fieldBottom = kMargin + (first - topLine_ + lineCount(field)) * lineUnit_;
    if (fieldBottom + calendarHeight > height()) ScrollTo(first);
    return;
  }
  // The field's first line is brought to the last wholly visible line when
  // it lies below it, and to the top line when it lies above the view.
  int wholeLines = std::max(1, (height() - 2) / lineUnit_);
  if (first >= topLine_ + wholeLines - 1)
    ScrollTo(first - (wholeLines - 1));
  else if (first < topLine_)
    ScrollTo(first);
  // When everything fits, nothing stays scrolled away.
  if (Fits() && topLine_ != 0) ScrollTo(0);
}

bool CTBMFormView::EndEdit() {
  bool wasActive = cellEditActive();
  if (!CTBMView::EndEdit()) return false;
  if (wasActive) {
    setFocus();
    ReadFields();
    RecalcLabelWidth();
    RecalcLineCounts();
    UpdateScrollBar();
  }
  return true;
}

// ---- Scrolling ------------------------------------------------------------

void CTBMFormView::ScrollBy(int lines) {
  if (lines == 0) return;
  topLine_ += lines;
  int dy = -lines * lineUnit_;
  // The 3-pixel band at the top stays; what lies below it moves, and only
  // the part it uncovers is painted.
  QRect band(0, kMargin, clientRect().width(), height() - kMargin);
  if (std::abs(dy) < band.height())
    scroll(0, dy, band);
  else
    update(band);
  if (QWidget* editor = editorControl(); editor != nullptr)
    editor->move(editor->pos() + QPoint(0, dy));
  UpdateScrollBar();
}

void CTBMFormView::ScrollTo(int line) { ScrollBy(line - topLine_); }

void CTBMFormView::OnBarAction(int action) {
  int visible = visibleLines();
  bool exact = (height() - 2) % lineUnit_ == 0;
  int page = std::max(1, exact ? visible : visible - 1);
  int last = lastScrollPosition();
  switch (action) {
    case QAbstractSlider::SliderSingleStepSub:
      if (topLine_ > 0) ScrollBy(-1);
      break;
    case QAbstractSlider::SliderSingleStepAdd:
      if (topLine_ < last) ScrollBy(1);
      break;
    case QAbstractSlider::SliderPageStepSub:
      ScrollTo(std::max(0, topLine_ - page));
      break;
    case QAbstractSlider::SliderPageStepAdd:
      if (topLine_ < last) ScrollTo(std::min(topLine_ + page, last));
      break;
    case QAbstractSlider::SliderToMinimum:
      ScrollTo(0);
      break;
    case QAbstractSlider::SliderToMaximum:
      ScrollTo(last);
      break;
    case QAbstractSlider::SliderMove:
      ScrollTo(std::clamp(bar_->sliderPosition(), 0, last));
      break;
    default:
      break;
  }
  // The bar shows where the view went, not where the slider would go.
  bar_->setSliderPosition(topLine_);
}

// ---- Input ----------------------------------------------------------------

void CTBMFormView::ScrollForEditor(int lines) {
  const int line = std::clamp(topLine_ + lines, 0, lastScrollPosition());
  if (line != topLine_) ScrollBy(line - topLine_);
}

void CTBMFormView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    CTBMView::mousePressEvent(event);
    return;
  }
  event->accept();
  CTBMDoc* document = GetDocument();
  if (document == nullptr || !editingAllowed()) return;
  QPoint point = event->position().toPoint();

  if (cellEditActive()) {
    tapInsideEditedCell_ = ValueRect(editField()).contains(point);
    QWidget* editor = editorControl();
    QRect editorRect =
        editor != nullptr ? editor->geometry() : GetCellRect(editRecord(), editField());
    if (!editorRect.contains(point)) {
      // A refused end keeps the editor, and the tap is not acted on.
      if (!EndEdit()) return;
      update(editorRect);
    }
  }

  int field = FieldAtValuePoint(point);
  if (field >= 0 && BeginEdit(document->GetRecordIndex(), static_cast<std::int16_t>(field))) {
    ForwardTap(point);
    return;
  }

  EndEdit();
  RecalcLineCounts();
  UpdateScrollBar();
  if (Fits() && topLine_ != 0) ScrollTo(0);
  update();
  // A tap on an empty form makes a record; the new record's update then
  // begins a cell edit on its first field.
  if (document->GetRecordCount() == 0) PostCommand(ui::ID_RECORD_NEW);
}

void CTBMFormView::keyPressEvent(QKeyEvent* event) {
  int key = event->key();
  if (key != Qt::Key_Up && key != Qt::Key_Down) {
    CTBMView::keyPressEvent(event);
    return;
  }
  event->accept();
  // A held key repeats. After a held key has moved to another record it
  // does nothing more until it is pressed afresh, so holding it never runs
  // through the new record or on to the next.
  bool fresh = !event->isAutoRepeat();
  if (fresh) repeatGuard_ = false;
  if (repeatGuard_) return;
  if (key == Qt::Key_Up) {
    if (topLine_ > 0)
      ScrollBy(-1);
    else if (fresh)
      SendCommand(ui::ID_RECORD_PREV);
    return;
  }
  if (topLine_ < lastScrollPosition()) {
    ScrollBy(1);
  } else if (fresh) {
    repeatGuard_ = true;
    SendCommand(ui::ID_RECORD_NEXT);
  }
}

void CTBMFormView::resizeEvent(QResizeEvent* event) {
  CTBMView::resizeEvent(event);
  LayOutBar();
  OnClientSizeChanged();
}

void CTBMFormView::focusInEvent(QFocusEvent* event) {
  CTBMView::focusInEvent(event);
  if (QWidget* editor = editorControl(); editor != nullptr && cellEditActive()) editor->setFocus();
}

// ---- Drawing --------------------------------------------------------------

void CTBMFormView::paintEvent(QPaintEvent* event) {
  // An editor that grew pushes the fields below it down.
  if (cellEditActive()) {
    RecalcLineCounts();
    UpdateScrollBar();
  }
  {
    QPainter painter(this);
    const QColor window = palette().color(QPalette::Base);
    const QRect client = clientRect();
    painter.fillRect(QRect(0, 0, client.width(), kMargin), window);
    painter.setClipRect(QRect(0, kMargin, client.width(), height() - kMargin));

    int y = kMargin;
    int above = 0;
    int index = FieldAtLine(topLine_, &above);
    if (index >= 0) {
      y -= above * lineUnit_;
      for (; index < fieldCount_ && y < height(); ++index) {
        QRect fieldRect(0, y, client.width(), lineCount(index) * lineUnit_);
        if (event->region().intersects(fieldRect)) {
          painter.fillRect(fieldRect, window);
          DrawField(painter, index, y);
        }
        y += fieldRect.height();
      }
    }
    if (y < height()) painter.fillRect(QRect(0, y, client.width(), height() - y), window);
  }
  RepaintFrameStatusBar();
}

void CTBMFormView::DrawField(QPainter& painter, int index, int top) {
  const Field& field = fields_[static_cast<std::size_t>(index)];
  QRect value = ValueRect(index);
  value.moveTop(top);
  DrawLabel(painter, field, ValueBaseline(field, top));
  if (!DrawnAsControl(field)) {
    DrawPlainValue(painter, field, value);
    return;
  }
  switch (field.option.style) {
    case kStyleDropList:
    case kStyleDropCombo:
      DrawDropDown(painter, field, value);
      break;
    case kStyleCheckBox:
      DrawCheckBox(painter, field, value);
      break;
    default:
      DrawZoom(painter, field, value);
      break;
  }
}

int CTBMFormView::ValueBaseline(const Field& field, int top) const {
  QFontMetrics metrics(viewFont());
  // Text is drawn 3 pixels below the field's top, as in a field editor;
  // a control's text is centred in its one line unit.
  if (!DrawnAsControl(field)) return top + kMargin + metrics.ascent();
  return top + (lineUnit_ - metrics.height()) / 2 + metrics.ascent();
}

void CTBMFormView::DrawLabel(QPainter& painter, const Field& field, int baseline) {
  QFontMetrics metrics(labelFont_);
  QString text = CutLabelToWidth(field.label, metrics, labelWidth_);
  Qt::Alignment alignment = HorizontalAlignment(formFlags_ >> 16) | Qt::AlignAbsolute;
  painter.setFont(labelFont_);
  painter.setPen(palette().color(QPalette::Text));
  // The label's baseline sits on the value's first baseline.
  QRect rect(kMargin, baseline - metrics.ascent(), labelWidth_, metrics.height());
  painter.drawText(rect, static_cast<int>(alignment | Qt::AlignTop) | Qt::TextSingleLine, text);
}

void CTBMFormView::DrawPlainValue(QPainter& painter, const Field& field, const QRect& value) {
  QFontMetrics metrics(viewFont());
  painter.setFont(viewFont());
  painter.setPen(ColourFromRgb(field.display.colour));
  // The lines stand where the measuring edit put them: 3 pixels in, one
  // line spacing apart, aligned within the edit's text width.
  int left = value.left() + kMargin;
  int width = std::max(1, value.width() - kMargin - 2 * measure_->frameWidth());
  int spacing = metrics.lineSpacing();
  Qt::Alignment alignment = HorizontalAlignment(field.display.alignment);
  int y = value.top() + kMargin;
  for (std::size_t i = 0; i < field.lines.size() && y < height(); ++i, y += spacing) {
    if (y + spacing < kMargin) continue;
    int flags = static_cast<int>(alignment | Qt::AlignTop) | Qt::TextSingleLine | Qt::TextDontClip;
    if (field.rightToLeft[i]) flags |= Qt::TextForceRightToLeft;
    QString line = field.lines[i];
    while (!line.isEmpty() && line.back().isSpace()) line.chop(1);
    painter.drawText(QRect(left, y, width, spacing), flags, line);
  }
}

void CTBMFormView::DrawDropDown(QPainter& painter, const Field& field, const QRect& value) {
  bool locked = (field.option.flags & kFieldEntryLocked) != 0;
  QRect box(value.left(), value.top() + 2, value.width(), std::max(1, lineUnit_ - 4));
  painter.fillRect(box, locked ? palette().color(QPalette::Button) : QColor(Qt::white));
  painter.setPen(palette().color(QPalette::Dark));
  painter.drawRect(box.adjusted(0, 0, -1, -1));

  QRect button(box.right() - kDropButtonWidth, box.top() + 1, kDropButtonWidth, box.height() - 2);
  painter.fillRect(button, palette().color(QPalette::Button));
  painter.drawLine(button.topLeft(), button.bottomLeft());
  const QPixmap& arrow = Picture(kPictureDropDown);
  if (!arrow.isNull()) {
    QSizeF size = arrow.deviceIndependentSize();
    painter.drawPixmap(QPointF(button.left() + (button.width() - size.width()) / 2.0,
                               button.top() + (button.height() - size.height()) / 2.0),
                       arrow);
  }

  QFontMetrics metrics(viewFont());
  int left = value.left() + kMargin;
  int width = value.right() + 1 - kDropButtonWidth - left;
  painter.setFont(viewFont());
  painter.setPen(ColourFromRgb(field.display.colour));
  painter.drawText(QPoint(left, ValueBaseline(field, value.top())),
                   CutTextToWidth(field.value, metrics, width - 1, true, true));
}

void CTBMFormView::DrawCheckBox(QPainter& painter, const Field& field, const QRect& value) {
  bool locked = (field.option.flags & kFieldEntryLocked) != 0;
  QRect box(value.left(), value.top() + (value.height() - kCheckBoxSize) / 2, kCheckBoxSize,
            kCheckBoxSize);
  painter.fillRect(box, locked ? palette().color(QPalette::Button) : QColor(Qt::white));
  const QPixmap& mark = Picture(field.checked ? kPictureChecked : kPictureUnchecked);
  if (!mark.isNull()) {
    QSizeF size = mark.deviceIndependentSize();
    painter.drawPixmap(QPointF(box.left() + (box.width() - size.width()) / 2.0,
                               box.top() + (box.height() - size.height()) / 2.0),
                       mark);
  } else {
    // Without the pictures the box and its mark are drawn plainly.
    painter.setPen(palette().color(QPalette::Text));
    painter.drawRect(box.adjusted(0, 0, -1, -1));
    if (field.checked) {
      QPen pen(palette().color(QPalette::Text), 2);
      painter.setPen(pen);
      painter.drawLine(box.left() + 3, box.top() + 7, box.left() + 6, box.top() + 10);
      painter.drawLine(box.left() + 6, box.top() + 10, box.left() + 11, box.top() + 4);
    }
  }

  QFontMetrics metrics(viewFont());
  int left = box.right() + 1 + kMargin;
  int width = value.right() + 1 - left;
  painter.setFont(viewFont());
  painter.setPen(ColourFromRgb(field.display.colour));
  int baseline = value.top() + (value.height() - metrics.height()) / 2 + metrics.ascent();
  painter.drawText(QPoint(left, baseline),
                   CutTextToWidth(field.checkLabel, metrics, width, true, true));
}

void CTBMFormView::DrawZoom(QPainter& painter, const Field& field, const QRect& value) {
  QFontMetrics metrics(viewFont());
  int left = value.left() + kMargin;
  int width = value.right() + 1 - kZoomButtonWidth - 2 - left;
  painter.setFont(viewFont());
  painter.setPen(ColourFromRgb(field.display.colour));
  painter.drawText(QPoint(left, ValueBaseline(field, value.top())),
                   CutTextToWidth(field.value, metrics, width, true, true));
  QRect area(value.right() + 1 - kZoomButtonWidth, value.top(), kZoomButtonWidth, lineUnit_);
  const QPixmap& marker = Picture(kPictureZoom);
  if (!marker.isNull()) {
    QSizeF size = marker.deviceIndependentSize();
    painter.drawPixmap(QPointF(area.left() + (area.width() - size.width()) / 2.0,
                               area.top() + (area.height() - size.height()) / 2.0),
                       marker);
  }
}

const QPixmap& CTBMFormView::Picture(std::uint32_t number) {
  qreal ratio = devicePixelRatioF();
  if (ratio != picturesRatio_) {
    picturesRatio_ = ratio;
    for (std::uint32_t i = 0; i < pictures_.size(); ++i) {
      QPixmap picture = ui::LoadPicture(kFirstPicture + i, ratio);
      // A picture without an alpha channel marks its background with the
      // transparent colour.
      if (!picture.isNull() && !picture.hasAlphaChannel())
        picture.setMask(picture.createMaskFromColor(QColor(kTransparentColour)));
      pictures_[i] = picture;
    }
  }
  return pictures_[number - kFirstPicture];
}

}  // namespace tbm::app
