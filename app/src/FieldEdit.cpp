#include "FieldEdit.h"

#include <QAbstractTextDocumentLayout>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextLayout>
#include <algorithm>

#include "EditCommands.h"
#include "TBMFormView.h"

namespace tbm::app {

namespace {

constexpr std::uint32_t kEditMenu = 109;

}  // namespace

QString CleanPastedText(const QString& text) {
  QString clean;
  clean.reserve(text.size());
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (c == u'\r') {
      clean += u'\n';
      if (i + 1 < text.size() && text[i + 1] == u'\n') ++i;
      continue;
    }
    if (c == u'\n' || c == u'\t') {
      clean += c;
      continue;
    }
    // C0 and C1 controls, and the paragraph and line separators a rich
    // text would carry, are not text a field holds.
    const char16_t u = c.unicode();
    if (u < 0x20 || (u >= 0x7F && u < 0xA0)) continue;
    if (u == 0x2028 || u == 0x2029) {
      clean += u'\n';
      continue;
    }
    clean += c;
  }
  return clean;
}

CFieldEdit::CFieldEdit(QWidget* parent) : QTextEdit(parent) {
  setAcceptRichText(false);
  setFrameShape(QFrame::Box);
  setLineWidth(1);
  setTabChangesFocus(false);
  document()->setDocumentMargin(0);
  setViewportMargins(0, 0, 0, 0);
  connect(
      document(), &QTextDocument::contentsChange, this,
      [this](int position, int removed, int added) { OnContentsChange(position, removed, added); });
  ui::InstallControlMenu(this, kEditMenu);
}

void CFieldEdit::SetValue(const std::u16string& value) {
  settingValue_ = true;
  QString text = QString::fromUtf16(value.data(), static_cast<qsizetype>(value.size()));
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  text.replace(u'\r', u'\n');
  setPlainText(text);
  document()->clearUndoRedoStacks();
  settingValue_ = false;
  modified_ = false;
  Grow();
}

std::u16string CFieldEdit::Value() const {
  // Block by block: a block's own text keeps what the plain text would
  // change (a no-break space stays one).
  QString text;
  for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
    if (block != document()->begin()) text += QStringLiteral("\r\n");
    text += block.text();
  }
  text.replace(QChar(QChar::LineSeparator), QStringLiteral("\r\n"));
  return text.toStdU16String();
}

void CFieldEdit::SetLimit(int characters) { limit_ = std::max(0, characters); }

void CFieldEdit::SetGrowth(bool grows, int minimumHeight, std::function<void()> onGrown) {
  grows_ = grows;
  minimumHeight_ = minimumHeight;
  onGrown_ = std::move(onGrown);
  Grow();
}

void CFieldEdit::ReplaceAllSelected(const std::u16string& text) {
  QString clean =
      CleanPastedText(QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size())));
  selectAll();
  textCursor().insertText(clean);
  selectAll();
  ensureCursorVisible();
  modified_ = true;
}

int CFieldEdit::LineCount() const {
  int lines = 0;
  for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
    const QTextLayout* layout = block.layout();
    lines += layout != nullptr ? std::max(1, layout->lineCount()) : 1;
  }
  return std::max(1, lines);
}

void CFieldEdit::OnContentsChange(int position, int, int added) {
  if (trimming_) return;
  if (!settingValue_) modified_ = true;
  // Whatever way the text came in, what passes the limit is taken out of
  // what was just added.
  if (limit_ > 0) {
    // A line break is stored as two characters.
    const int length = document()->characterCount() - 1 + document()->blockCount() - 1;
    if (length > limit_ && added > 0) {
      const int excess = std::min(length - limit_, added);
      trimming_ = true;
      QTextCursor cursor(document());
      cursor.setPosition(position + added - excess);
      cursor.setPosition(position + added, QTextCursor::KeepAnchor);
      // Never leave half a surrogate pair behind.
      const QString text = document()->toRawText();
      int from = position + added - excess;
      if (from > 0 && from < text.size() && text[from].isLowSurrogate()) {
        cursor.setPosition(from - 1);
        cursor.setPosition(position + added, QTextCursor::KeepAnchor);
      }
      cursor.removeSelectedText();
      trimming_ = false;
    }
  }
  Grow();
}

void CFieldEdit::Grow() {
  if (!grows_) return;
  const QFontMetrics metrics(font());
  const int lineHeight = metrics.height() + metrics.leading();
  const int needed = (LineCount() - 1) * lineHeight + minimumHeight_;
  if (height() >= needed) return;
  resize(width(), needed);
  if (onGrown_) onGrown_();
}

void CFieldEdit::resizeEvent(QResizeEvent* event) {
  QTextEdit::resizeEvent(event);
  Grow();
}

void CFieldEdit::keyPressEvent(QKeyEvent* event) {
  const QString typed = event->text();
  if (capitalise_ && typed.size() == 1 && typed[0].isLetter() && document()->isEmpty() &&
      textCursor().position() == 0) {
    QKeyEvent upper(event->type(), event->key(), event->modifiers(), typed.toUpper(),
                    event->isAutoRepeat(), static_cast<ushort>(event->count()));
    QTextEdit::keyPressEvent(&upper);
    return;
  }
  QTextEdit::keyPressEvent(event);
}

void CFieldEdit::mouseMoveEvent(QMouseEvent* event) {
  QTextEdit::mouseMoveEvent(event);
  if (!dragScroll_ || !(event->buttons() & Qt::LeftButton) || parentWidget() == nullptr) return;
  const QPoint inHost = viewport()->mapTo(parentWidget(), event->position().toPoint());
  if (inHost.y() < 0)
    dragScroll_(-1);
  else if (inHost.y() >= parentWidget()->height())
    dragScroll_(1);
}

bool CFieldEdit::canInsertFromMimeData(const QMimeData* source) const {
  return source != nullptr && source->hasText() && !isReadOnly();
}

void CFieldEdit::insertFromMimeData(const QMimeData* source) {
  if (!canInsertFromMimeData(source)) return;
  textCursor().insertText(CleanPastedText(source->text()));
  ensureCursorVisible();
}

}  // namespace tbm::app
