// CFieldEdit: the multi-line text box of a text field's editor, of the
// field editing dialog and of the zoom box. It holds a field's value with
// its line breaks, takes at most a set number of characters (typed,
// pasted or scanned: what does not fit is left out), capitalises the first
// letter typed into an empty box when asked, grows downward as its text
// grows when it has no scroll bar, and shows the edit menu (menu 109) on a
// tap-and-hold.
//
// Values are stored with CR LF line ends; the box works with "\n" and
// gives CR LF back. Pasted text loses its control characters (a tab and
// the line breaks stay), so nothing pasted can put a terminator or an
// escape into a record.
//
// One thread: the user-interface thread.
#pragma once

#include <QTextEdit>
#include <cstdint>
#include <functional>
#include <string>

namespace tbm::app {

class CFieldEdit : public QTextEdit {
 public:
  explicit CFieldEdit(QWidget* parent);

  // The text, without and with the stored line ends.
  void SetValue(const std::u16string& value);
  std::u16string Value() const;

  // Characters the box takes at most; 0: no limit.
  void SetLimit(int characters);
  int limit() const { return limit_; }
  void SetCapitalise(bool on) { capitalise_ = on; }
  // Growth: without a scroll bar the box is never lower than its text
  // needs, from minimumHeight for one line; onGrown runs after it grew.
  void SetGrowth(bool grows, int minimumHeight, std::function<void()> onGrown);
  // While a drag with the stylus down leaves the host's visible area the
  // host scrolls by a line per movement (-1 up, 1 down).
  void SetDragScroll(std::function<void(int lines)> scroll) { dragScroll_ = std::move(scroll); }

  // Replaces the whole text (as a paste would clean it), selects it all
  // and shows the caret.
  void ReplaceAllSelected(const std::u16string& text);
  // Set by any change of the text after SetValue.
  bool modified() const { return modified_; }
  // The lines the text takes at the box's width.
  int LineCount() const;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  bool canInsertFromMimeData(const QMimeData* source) const override;
  void insertFromMimeData(const QMimeData* source) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void OnContentsChange(int position, int removed, int added);
  void Grow();

  int limit_ = 0;
  bool capitalise_ = false;
  bool grows_ = false;
  int minimumHeight_ = 0;
  bool modified_ = false;
  bool settingValue_ = false;
  bool trimming_ = false;
  std::function<void()> onGrown_;
  std::function<void(int)> dragScroll_;
};

// Text as a paste into a field leaves it: control characters other than a
// tab and the line breaks removed, CR LF and a lone CR made "\n".
QString CleanPastedText(const QString& text);

}  // namespace tbm::app
