// Modal dialogs and property sheets built from the language library's
// dialog layouts (ResourceLibrary.h, DialogLayout), as the framework's
// dialog templates are.
//
// A dialog fills the handheld's screen. From top to bottom: the layout's
// rows, each row's controls side by side (a STRETCH control takes the
// room left; SPACE takes the height left), then the dialog's command bar
// with its Edit menu (menu 109) and the OK and Cancel buttons. Every
// control carries its id (GetDlgItem); an edit box shows the edit menu on
// a tap-and-hold and raises the input panel while it has the focus.
//
// Commands: the dialog is a command target of its own. The edit commands
// act on the edit box that has the focus (and are disabled while none
// has); F1 sends ID_HELP, which OnHelp answers.
//
// A program without a display, and the tests, install an answerer: DoModal
// then builds and shows the dialog, hands it to the answerer (which works
// its controls as a user would and ends it with OK or Cancel) and returns
// how it ended, without a nested event loop.
//
// One thread: the user-interface thread.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "CmdTarget.h"
#include "ResourceLibrary.h"

class QDialogButtonBox;
class QTabWidget;
class QToolButton;

namespace tbm::ui {

// How a modal dialog ended.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

// A dialog's title line: the text in font kind 3 (string 4002) across the
// top of the dialog, in the highlight colour over a rule along its bottom
// edge, 20 pixels high; a compact title is in the window text colour, with
// no rule, 16 pixels high.
class CDialogTitleLabel : public QLabel {
 public:
  CDialogTitleLabel(const QString& text, bool compact, QWidget* parent);
  bool compact() const { return compact_; }
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  bool compact_;
};

// A dialog's edit box: a tap-and-hold shows the edit menu (menu 109).
class CDialogEdit : public QLineEdit {
 public:
  explicit CDialogEdit(QWidget* parent);
};

// The controls of one layout made in host: each control's widget by id.
class CDialogControls {
 public:
  // Builds layout's rows into host (which gets a vertical layout). custom
  // makes the widget of a CUSTOM place (null: an empty place).
  void Build(const res::DialogLayout& layout, QWidget* host,
             const std::function<QWidget*(std::uint16_t id, QWidget* parent)>& custom);
  QWidget* Item(std::uint16_t id) const;
  // Every control built, in layout order, and the rows' widgets.
  const std::vector<QWidget*>& all() const { return all_; }
  const std::vector<std::vector<QWidget*>>& rows() const { return rows_; }

 private:
  std::map<std::uint16_t, QWidget*> byId_;
  std::vector<QWidget*> all_;
  std::vector<std::vector<QWidget*>> rows_;
};

class CDialog : public QDialog, public CCmdTarget {
 public:
  // templateId: the layout's number in the language library.
  explicit CDialog(std::uint32_t templateId, QWidget* parent = nullptr);
  ~CDialog() override;

  std::uint32_t templateId() const { return templateId_; }

  // Builds the controls (once) and initialises them; false (logged) when
  // the language library lacks the layout or it cannot be read.
  bool Create();
  // Runs the dialog: IDOK or IDCANCEL. A dialog that cannot be built
  // ends at once with IDCANCEL.
  int DoModal();

  QWidget* GetDlgItem(std::uint16_t id) const;
  template <typename T>
  T* Item(std::uint16_t id) const {
    return qobject_cast<T*>(GetDlgItem(id));
  }
  const CDialogControls& controls() const { return controls_; }
  QToolButton* editMenuButton() const { return editMenuButton_; }
  QDialogButtonBox* buttons() const { return buttons_; }

  // The edit box the edit commands act on: the one with the focus.
  QWidget* FocusedEdit() const;

  bool OnCmdMsg(CommandId id) override;
  bool OnUpdateCmdMsg(CCmdUI* ui) override;

  // Ends the dialog with OK (after OnOK) or Cancel.
  void accept() override;
  void reject() override;

 protected:
  // After the controls are built: fill them. False ends the dialog.
  virtual bool OnInitDialog() { return true; }
  // Before the dialog ends with OK: read the controls; false keeps it
  // open.
  virtual bool OnOK() { return true; }
  // F1, or ID_HELP: the dialog's help.
  virtual void OnHelp() {}
  // The widget of a CUSTOM place of the layout.
  virtual QWidget* CreateCustomControl(std::uint16_t id, QWidget* parent);
  // Whether edit box id raises the input panel on focus and lowers it
  // when the focus goes (true for every edit box unless overridden).
  virtual bool LowersPanelOnFocusOut(std::uint16_t id) const;

  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildCommandBar();

  std::uint32_t templateId_;
  bool created_ = false;
  bool failed_ = false;
  CDialogControls controls_;
  QToolButton* editMenuButton_ = nullptr;
  QDialogButtonBox* buttons_ = nullptr;
  bool panelWasUp_ = false;
};

// A page of a property sheet: a layout of its own, built when the sheet
// is made.
class CPropertyPage : public QWidget, public CCmdTarget {
 public:
  explicit CPropertyPage(std::uint32_t templateId);
  std::uint32_t templateId() const { return templateId_; }
  // Builds the page (once) and runs OnInitDialog; false when the layout is
  // missing or damaged.
  bool Create();
  QWidget* GetDlgItem(std::uint16_t id) const { return controls_.Item(id); }
  template <typename T>
  T* Item(std::uint16_t id) const {
    return qobject_cast<T*>(GetDlgItem(id));
  }
  const CDialogControls& controls() const { return controls_; }
  QString caption() const { return caption_; }

  // The sheet ends with OK: the page reads its controls.
  virtual void OnOK() {}

 protected:
  virtual bool OnInitDialog() { return true; }
  virtual QWidget* CreateCustomControl(std::uint16_t id, QWidget* parent);

 private:
  std::uint32_t templateId_;
  bool created_ = false;
  CDialogControls controls_;
  QString caption_;
};

// A property sheet: pages on tabs over the command bar. Commands reach the
// active page before the sheet; OK tells every page (OnOK).
class CPropertySheet : public QDialog, public CCmdTarget {
 public:
  explicit CPropertySheet(const QString& caption, QWidget* parent = nullptr);
  ~CPropertySheet() override;

  // Adds a page (the sheet does not own it; it becomes the page's parent).
  void AddPage(CPropertyPage* page);
  void SetActivePage(int index);
  int GetActiveIndex() const;
  CPropertyPage* GetActivePage() const;
  CPropertyPage* GetPage(int index) const;
  int GetPageCount() const { return static_cast<int>(pages_.size()); }
  QTabWidget* tabs() const { return tabs_; }
  QToolButton* editMenuButton() const { return editMenuButton_; }
  QDialogButtonBox* buttons() const { return buttons_; }

  // Builds every page; IDOK or IDCANCEL (the answerer's way too).
  int DoModal();

  bool OnCmdMsg(CommandId id) override;
  bool OnUpdateCmdMsg(CCmdUI* ui) override;
  void accept() override;

 protected:
  virtual void OnHelp() {}
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QTabWidget* tabs_ = nullptr;
  std::vector<CPropertyPage*> pages_;
  QToolButton* editMenuButton_ = nullptr;
  QDialogButtonBox* buttons_ = nullptr;
};

// Ends every dialog and sheet that is running, as Cancel would: the
// program closes them before it gives its database up (a synchronisation
// asking for it). Returns how many were open.
int CloseOpenDialogs();
// Whether a dialog or sheet is running (shown by DoModal and not ended).
bool AnyDialogRunning();

// Replaces running dialogs modally by answerer for the rest of the process
// (null puts the modal runs back). The answerer gets the dialog or sheet
// built and shown, and ends it.
using DialogAnswerer = std::function<void(QDialog* dialog)>;
void SetDialogAnswerer(DialogAnswerer answerer);

}  // namespace tbm::ui
