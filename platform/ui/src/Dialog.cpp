#include "Dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTextEdit>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "CommandMenus.h"
#include "EditCommands.h"
#include "FrameworkLog.h"
#include "InputPanel.h"
#include "Resources.h"
#include "Screen.h"
#include "WinApp.h"

namespace tbm::ui {

namespace {

constexpr std::uint32_t kEditMenu = 109;
constexpr std::uint32_t kTitleFont = 4002;
constexpr std::uint32_t kProgramTitle = 0xE000;
constexpr int kTitleHeight = 20;
constexpr int kCompactTitleHeight = 16;
constexpr int kMargin = 3;

DialogAnswerer& Answerer() {
  static DialogAnswerer answerer;
  return answerer;
}

bool LoadLayout(std::uint32_t number, res::DialogLayout* layout) {
  CWinApp* app = CWinApp::Get();
  if (app == nullptr || app->resources() == nullptr) {
    LogFrameworkError("dialog " + std::to_string(number) + ": no language library is loaded");
    return false;
  }
  const Status status = app->resources()->LoadDialog(number, layout);
  if (!status.ok()) {
    LogFrameworkError("dialog " + std::to_string(number) + ": " + status.message());
    return false;
  }
  return true;
}

bool IsTextBox(QWidget* widget) {
  return qobject_cast<QLineEdit*>(widget) != nullptr ||
         qobject_cast<QTextEdit*>(widget) != nullptr ||
         qobject_cast<QPlainTextEdit*>(widget) != nullptr;
}

// The box the edit commands act on inside window: the focused text box (an
// editable combo for its line edit), or none.
QWidget* FocusedEditIn(const QWidget* window) {
  QWidget* focus = QApplication::focusWidget();
  if (focus == nullptr || !window->isAncestorOf(focus)) return nullptr;
  if (auto* combo = qobject_cast<QComboBox*>(focus->parentWidget()); combo != nullptr)
    return combo->isEditable() ? combo : nullptr;
  return IsTextBox(focus) ? focus : nullptr;
}

// The command bar under a dialog's controls: the Edit menu's button, then
// OK and Cancel.
QWidget* MakeCommandBar(QWidget* owner, CCmdTarget* target, QToolButton** editButton,
                        QDialogButtonBox** buttons) {
  auto* bar = new QWidget(owner);
  bar->setObjectName(QStringLiteral("commandBar"));
  auto* row = new QHBoxLayout(bar);
  row->setContentsMargins(kMargin, 0, kMargin, kMargin);
  res::Menu menu;
  *editButton = nullptr;
  if (LoadMenuResource(kEditMenu, &menu) && !menu.items.empty()) {
    auto* button = new QToolButton(bar);
    button->setObjectName(QStringLiteral("editMenuButton"));
    button->setText(ToQString(menu.items[0].text));
    button->setPopupMode(QToolButton::InstantPopup);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    // The target outlives its own menu.
    std::shared_ptr<CCmdTarget> shared(std::shared_ptr<CCmdTarget>(), target);
    if (QMenu* built = BuildCommandMenu(menu, shared, button)) button->setMenu(built);
    row->addWidget(button);
    *editButton = button;
  }
  row->addStretch(1);
  *buttons = new QDialogButtonBox(bar);
  (*buttons)->addButton(FrameworkText(AFX_IDS_BUTTON_OK, "OK"), QDialogButtonBox::AcceptRole);
  (*buttons)->addButton(FrameworkText(AFX_IDS_BUTTON_CANCEL, "Cancel"),
                        QDialogButtonBox::RejectRole);
  // Buttons as wide as their texts, so the bar fits the screen's width in
  // every language.
  for (QAbstractButton* button : (*buttons)->buttons()) {
    button->setMinimumWidth(button->fontMetrics().horizontalAdvance(button->text()) + 16);
    button->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
  }
  row->addWidget(*buttons);
  return bar;
}

// The dialog's controls and bar end above the input panel while it is up.
void GiveWayToInputPanel(QWidget* dialog, QVBoxLayout* column) {
  auto follow = [column](bool shown) {
    column->setContentsMargins(0, 0, 0, shown ? CInputPanel::kHeight : 0);
  };
  follow(CInputPanel::Get().IsShown());
  QObject::connect(&CInputPanel::Get(), &CInputPanel::changed, dialog, follow);
}

// The dialogs running now, innermost last.
std::vector<QPointer<QDialog>>& Running() {
  static std::vector<QPointer<QDialog>> running;
  return running;
}

int RunModal(QDialog* dialog) {
  Running().push_back(dialog);
  struct Done {
    ~Done() { Running().pop_back(); }
  } done;
  if (DialogAnswerer& answerer = Answerer(); answerer) {
    dialog->setResult(QDialog::Rejected);
    dialog->show();
    answerer(dialog);
    dialog->hide();
    return dialog->result() == QDialog::Accepted ? IDOK : IDCANCEL;
  }
  return dialog->exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}

}  // namespace

void SetDialogAnswerer(DialogAnswerer answerer) { Answerer() = std::move(answerer); }

bool AnyDialogRunning() {
  for (const QPointer<QDialog>& dialog : Running())
    if (!dialog.isNull()) return true;
  return false;
}

int CloseOpenDialogs() {
  int closed = 0;
  // Innermost first, as a user would close them.
  const std::vector<QPointer<QDialog>> running = Running();
  for (auto dialog = running.rbegin(); dialog != running.rend(); ++dialog) {
    if (dialog->isNull() || !(*dialog)->isVisible()) continue;
    (*dialog)->reject();
    ++closed;
  }
  return closed;
}

// ---- CDialogTitleLabel ----

CDialogTitleLabel::CDialogTitleLabel(const QString& text, bool compact, QWidget* parent)
    : QLabel(text, parent), compact_(compact) {
  setTextFormat(Qt::PlainText);
  setFont(ResourceFont(kTitleFont));
  setFixedHeight(compact ? kCompactTitleHeight : kTitleHeight);
}

QSize CDialogTitleLabel::sizeHint() const {
  return QSize(fontMetrics().horizontalAdvance(text()) + 2 * kMargin,
               compact_ ? kCompactTitleHeight : kTitleHeight);
}

QSize CDialogTitleLabel::minimumSizeHint() const { return sizeHint(); }

void CDialogTitleLabel::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QPalette colours = palette();
  painter.fillRect(rect(), colours.color(QPalette::Window));
  painter.setFont(font());
  painter.setPen(colours.color(compact_ ? QPalette::WindowText : QPalette::Highlight));
  painter.drawText(rect().adjusted(kMargin, 0, -kMargin, compact_ ? 0 : -2),
                   Qt::AlignLeft | Qt::AlignVCenter, text());
  if (!compact_) {
    painter.setPen(colours.color(QPalette::WindowText));
    painter.drawLine(0, height() - 1, width() - 1, height() - 1);
  }
}

// ---- CDialogEdit ----

CDialogEdit::CDialogEdit(QWidget* parent) : QLineEdit(parent) {
  InstallControlMenu(this, kEditMenu);
}

// ---- CDialogControls ----

void CDialogControls::Build(
    const res::DialogLayout& layout, QWidget* host,
    const std::function<QWidget*(std::uint16_t id, QWidget* parent)>& custom) {
  auto* column = new QVBoxLayout(host);
  column->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
  column->setSpacing(4);
  bool spaced = false;
  for (const res::DialogRow& row : layout.rows) {
    auto* line = new QHBoxLayout;
    line->setSpacing(4);
    std::vector<QWidget*> widgets;
    bool onlySpace = true;
    for (const res::DialogControl& control : row.controls) {
      using Kind = res::DialogControl::Kind;
      const QString text = ToQString(control.text);
      QWidget* widget = nullptr;
      switch (control.kind) {
        case Kind::kTitle:
          widget = new CDialogTitleLabel(text, control.compact, host);
          break;
        case Kind::kLabel: {
          auto* label = new QLabel(text, host);
          label->setTextFormat(Qt::PlainText);
          label->setWordWrap(true);
          widget = label;
          break;
        }
        case Kind::kEdit:
          widget = new CDialogEdit(host);
          break;
        case Kind::kCombo: {
          // Long items (a field's name) are cut rather than widen the
          // dialog past the screen.
          auto* combo = new QComboBox(host);
          combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
          combo->setMinimumContentsLength(6);
          widget = combo;
          break;
        }
        case Kind::kCheck:
          widget = new QCheckBox(text, host);
          break;
        case Kind::kButton: {
          auto* button = new QPushButton(text, host);
          button->setAutoDefault(false);
          widget = button;
          break;
        }
        case Kind::kCustom:
          widget = custom ? custom(control.id, host) : nullptr;
          if (widget == nullptr) widget = new QWidget(host);
          break;
        case Kind::kSpace:
          break;
      }
      if (widget == nullptr) {
        line->addStretch(1);
        continue;
      }
      onlySpace = false;
      widget->setObjectName(QStringLiteral("control%1").arg(control.id));
      widget->setProperty("controlId", control.id);
      line->addWidget(widget, control.stretch ? 1 : 0);
      if (control.id != 0) byId_[control.id] = widget;
      all_.push_back(widget);
      widgets.push_back(widget);
    }
    if (onlySpace) {
      delete line;
      column->addStretch(1);
      spaced = true;
      continue;
    }
    // A row whose own place stretches (a large text box) takes the height
    // left.
    const bool grows = std::any_of(row.controls.begin(), row.controls.end(), [](const auto& c) {
      return c.kind == res::DialogControl::Kind::kCustom && c.stretch;
    });
    column->addLayout(line, grows ? 1 : 0);
    spaced = spaced || grows;
    rows_.push_back(std::move(widgets));
  }
  // Without room of their own the controls stay at the top.
  if (!spaced) column->addStretch(1);
}

QWidget* CDialogControls::Item(std::uint16_t id) const {
  const auto found = byId_.find(id);
  return found != byId_.end() ? found->second : nullptr;
}

// ---- CDialog ----

CDialog::CDialog(std::uint32_t templateId, QWidget* parent)
    : QDialog(parent), templateId_(templateId) {
  setObjectName(QStringLiteral("dialog%1").arg(templateId));
  setWindowTitle(LoadQString(kProgramTitle));
  resize(ScreenSize());
}

CDialog::~CDialog() = default;

bool CDialog::Create() {
  if (created_) return !failed_;
  created_ = true;
  res::DialogLayout layout;
  if (!LoadLayout(templateId_, &layout)) {
    failed_ = true;
    return false;
  }
  if (!layout.caption.empty()) setWindowTitle(ToQString(layout.caption));
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  auto* area = new QWidget(this);
  area->setObjectName(QStringLiteral("controls"));
  controls_.Build(layout, area, [this](std::uint16_t id, QWidget* parent) {
    return CreateCustomControl(id, parent);
  });
  column->addWidget(area, 1);
  column->addWidget(MakeCommandBar(this, this, &editMenuButton_, &buttons_));
  GiveWayToInputPanel(this, column);
  connect(buttons_, &QDialogButtonBox::accepted, this, &CDialog::accept);
  connect(buttons_, &QDialogButtonBox::rejected, this, &CDialog::reject);
  for (QWidget* control : controls_.all())
    if (qobject_cast<QLineEdit*>(control) != nullptr) control->installEventFilter(this);
  panelWasUp_ = CInputPanel::Get().IsShown();
  if (!OnInitDialog()) failed_ = true;
  return !failed_;
}

int CDialog::DoModal() {
  if (!Create()) return IDCANCEL;
  const int ending = RunModal(this);
  CInputPanel::Get().Show(panelWasUp_);
  return ending;
}

QWidget* CDialog::GetDlgItem(std::uint16_t id) const { return controls_.Item(id); }

QWidget* CDialog::FocusedEdit() const { return FocusedEditIn(this); }

QWidget* CDialog::CreateCustomControl(std::uint16_t, QWidget*) { return nullptr; }

bool CDialog::LowersPanelOnFocusOut(std::uint16_t) const { return true; }

bool CDialog::OnCmdMsg(CommandId id) {
  if (IsEditCommand(id)) {
    RunEditCommand(FocusedEdit(), id);
    return true;
  }
  if (id == ID_HELP) {
    OnHelp();
    return true;
  }
  return CCmdTarget::OnCmdMsg(id);
}

bool CDialog::OnUpdateCmdMsg(CCmdUI* ui) {
  if (UpdateEditCommand(FocusedEdit(), ui)) return true;
  return CCmdTarget::OnUpdateCmdMsg(ui);
}

void CDialog::accept() {
  if (!OnOK()) return;
  QDialog::accept();
}

void CDialog::reject() { QDialog::reject(); }

void CDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_F1) {
    OnCmdMsg(ID_HELP);
    return;
  }
  QDialog::keyPressEvent(event);
}

bool CDialog::eventFilter(QObject* watched, QEvent* event) {
  auto* edit = qobject_cast<QLineEdit*>(watched);
  if (edit != nullptr && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)) {
    const auto id = static_cast<std::uint16_t>(edit->property("controlId").toUInt());
    if (event->type() == QEvent::FocusIn)
      CInputPanel::Get().Show(true);
    else if (LowersPanelOnFocusOut(id))
      CInputPanel::Get().Show(false);
  }
  return QDialog::eventFilter(watched, event);
}

// ---- CPropertyPage ----

CPropertyPage::CPropertyPage(std::uint32_t templateId) : templateId_(templateId) {
  setObjectName(QStringLiteral("page%1").arg(templateId));
}

bool CPropertyPage::Create() {
  if (created_) return true;
  res::DialogLayout layout;
  if (!LoadLayout(templateId_, &layout)) return false;
  created_ = true;
  caption_ = ToQString(layout.caption);
  controls_.Build(layout, this, [this](std::uint16_t id, QWidget* parent) {
    return CreateCustomControl(id, parent);
  });
  for (QWidget* control : controls_.all()) {
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
      // The input panel follows the box's focus.
      struct PanelFollower : QObject {
        using QObject::QObject;
        bool eventFilter(QObject* watched, QEvent* event) override {
          if (event->type() == QEvent::FocusIn) CInputPanel::Get().Show(true);
          if (event->type() == QEvent::FocusOut) CInputPanel::Get().Show(false);
          return QObject::eventFilter(watched, event);
        }
      };
      edit->installEventFilter(new PanelFollower(edit));
    }
  }
  return OnInitDialog();
}

QWidget* CPropertyPage::CreateCustomControl(std::uint16_t, QWidget*) { return nullptr; }

// ---- CPropertySheet ----

CPropertySheet::CPropertySheet(const QString& caption, QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("propertySheet"));
  setWindowTitle(caption);
  resize(ScreenSize());
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  tabs_ = new QTabWidget(this);
  tabs_->setDocumentMode(true);
  // The handheld's tabs sit under the pages.
  tabs_->setTabPosition(QTabWidget::South);
  column->addWidget(tabs_, 1);
  column->addWidget(MakeCommandBar(this, this, &editMenuButton_, &buttons_));
  GiveWayToInputPanel(this, column);
  connect(buttons_, &QDialogButtonBox::accepted, this, &CPropertySheet::accept);
  connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

CPropertySheet::~CPropertySheet() = default;

void CPropertySheet::AddPage(CPropertyPage* page) {
  pages_.push_back(page);
  tabs_->addTab(page, QString());
}

void CPropertySheet::SetActivePage(int index) {
  if (index >= 0 && index < GetPageCount()) tabs_->setCurrentIndex(index);
}

int CPropertySheet::GetActiveIndex() const { return tabs_->currentIndex(); }

CPropertyPage* CPropertySheet::GetActivePage() const { return GetPage(GetActiveIndex()); }

CPropertyPage* CPropertySheet::GetPage(int index) const {
  return index >= 0 && index < GetPageCount() ? pages_[static_cast<std::size_t>(index)] : nullptr;
}

int CPropertySheet::DoModal() {
  const bool panelWasUp = CInputPanel::Get().IsShown();
  for (int i = 0; i < GetPageCount(); ++i) {
    CPropertyPage* page = pages_[static_cast<std::size_t>(i)];
    if (!page->Create()) return IDCANCEL;
    tabs_->setTabText(i, page->caption());
  }
  const int ending = RunModal(this);
  CInputPanel::Get().Show(panelWasUp);
  return ending;
}

bool CPropertySheet::OnCmdMsg(CommandId id) {
  if (CPropertyPage* page = GetActivePage(); page != nullptr && page->OnCmdMsg(id)) return true;
  if (IsEditCommand(id)) {
    RunEditCommand(FocusedEditIn(this), id);
    return true;
  }
  if (id == ID_HELP) {
    OnHelp();
    return true;
  }
  return CCmdTarget::OnCmdMsg(id);
}

bool CPropertySheet::OnUpdateCmdMsg(CCmdUI* ui) {
  if (CPropertyPage* page = GetActivePage(); page != nullptr && page->OnUpdateCmdMsg(ui))
    return true;
  if (UpdateEditCommand(FocusedEditIn(this), ui)) return true;
  return CCmdTarget::OnUpdateCmdMsg(ui);
}

void CPropertySheet::accept() {
  for (CPropertyPage* page : pages_) page->OnOK();
  QDialog::accept();
}

void CPropertySheet::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_F1) {
    OnCmdMsg(ID_HELP);
    return;
  }
  QDialog::keyPressEvent(event);
}

}  // namespace tbm::ui
