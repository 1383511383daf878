// What the service shows a person at a display, on Qt's offscreen platform:
// its window, and the messages stores leave through the notify object,
// which also answers their questions about the handheld.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <atomic>

#include "Machine.h"
#include "Partnership.h"
#include "ServiceNotify.h"
#include "ServiceWindow.h"
#include "TestSupport.h"

namespace tbm::desktoplink {
namespace {

QAction* ActionNamed(QWidget& window, const QString& text) {
  for (QAction* action : window.findChildren<QAction*>()) {
    if (action->text() == text) return action;
  }
  return nullptr;
}

TEST(ServiceWindowTest, ShowsTheHandheldTheProvidersAndTheNewestTexts) {
  ServiceWindow window;
  window.ShowState("The handheld Pocket Ledger is docked (127.0.0.1:41730).", "Tabulon Mobile");
  for (int i = 1; i <= 230; ++i) window.AddText("Tabulon Mobile: database " + std::to_string(i));
  window.show();

  QStringList labels;
  for (QLabel* label : window.findChildren<QLabel*>()) labels << label->text();
  EXPECT_TRUE(labels.contains("The handheld Pocket Ledger is docked (127.0.0.1:41730)."));
  EXPECT_TRUE(labels.contains("Providers: Tabulon Mobile"));
  auto* texts = window.findChild<QListWidget*>();
  ASSERT_NE(texts, nullptr);
  ASSERT_EQ(texts->count(), 200) << "older texts are left to the log";
  EXPECT_EQ(texts->item(0)->text(), "Tabulon Mobile: database 31");
  EXPECT_EQ(texts->item(199)->text(), "Tabulon Mobile: database 230");
  EXPECT_FALSE(window.grab().isNull());

  window.ShowState("No handheld is docked.", "");
  labels.clear();
  for (QLabel* label : window.findChildren<QLabel*>()) labels << label->text();
  EXPECT_TRUE(labels.contains("No sync provider is loaded."));

  QSignalSpy sync(&window, &ServiceWindow::syncRequested);
  QSignalSpy quit(&window, &ServiceWindow::quitRequested);
  QAction* syncAction = ActionNamed(window, "&Synchronise now");
  QAction* quitAction = ActionNamed(window, "&Quit");
  ASSERT_NE(syncAction, nullptr);
  ASSERT_NE(quitAction, nullptr);
  syncAction->trigger();
  EXPECT_EQ(sync.count(), 1);
  EXPECT_EQ(quit.count(), 0);
  quitAction->trigger();
  EXPECT_EQ(quit.count(), 1);
}

// An action that counts its runs and the references held on it.
class CountingAction final : public IReplMessageAction {
 public:
  HRESULT QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++references; }
  ULONG Release() override { return --references; }
  void Run() override { ++runs; }

  std::atomic<ULONG> references{1};
  int runs = 0;
};

class KeepingSink final : public NotifySink {
 public:
  void OnStatusText(const std::string& text) override { texts.push_back(text); }
  void OnMessage(const std::string& caption, const std::string& text) override {
    texts.push_back(caption + ": " + text);
  }
  std::vector<std::string> texts;
};

QMessageBox* OpenMessageBox() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    auto* box = qobject_cast<QMessageBox*>(widget);
    if (box != nullptr && box->isVisible()) return box;
  }
  return nullptr;
}

class ServiceNotifyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.ok());
    SelectMachine(Machine::Desktop);
  }
  void TearDown() override {
    notify_->Detach();
    notify_->Release();
  }

  tbm::testing::ScratchFolder folder_{"tbm-desktoplink-notify"};
  tbm::testing::ScopedEnvironment root_{"TBM_DESKTOP_ROOT", folder_.path().c_str()};
  DeviceWatch watch_;
  KeepingSink sink_;
  ServiceNotify* notify_ = new ServiceNotify(watch_, sink_, true);
};

TEST_F(ServiceNotifyTest, AMessagesActionRunsFromItsDialogWhichKeepsItUntilItCloses) {
  com::ComPtr<IReplMessages> messages;
  ASSERT_EQ(notify_->QueryInterface(IID_IReplMessages, messages.ReceiveVoid()), S_OK);
  CountingAction action;
  ASSERT_EQ(messages->ShowMessage("Tabulon Mobile", "The synchronisation found problems.",
                                  "Open the log", &action),
            S_OK);
  EXPECT_EQ(sink_.texts,
            std::vector<std::string>{"Tabulon Mobile: The synchronisation found problems."});
  QMessageBox* box = OpenMessageBox();
  ASSERT_NE(box, nullptr);
  EXPECT_FALSE(box->isModal()) << "the service goes on while it is shown";
  EXPECT_EQ(box->windowTitle(), "Tabulon Mobile");
  EXPECT_EQ(action.references, 2u) << "the dialog holds the action";
  QPushButton* open = nullptr;
  for (QAbstractButton* button : box->buttons()) {
    if (button->text() == "Open the log") open = qobject_cast<QPushButton*>(button);
  }
  ASSERT_NE(open, nullptr);
  open->click();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(action.runs, 1);
  EXPECT_EQ(OpenMessageBox(), nullptr) << "the dialog closed";
  EXPECT_EQ(action.references, 1u) << "and gave the action back";

  // A dialog still open when the service detaches gives its action back.
  ASSERT_EQ(messages->ShowMessage("Tabulon Mobile", "Done.", "Open the log", &action), S_OK);
  EXPECT_EQ(action.references, 2u);
  notify_->Detach();
  EXPECT_EQ(action.references, 1u);
  EXPECT_EQ(action.runs, 1);
  EXPECT_EQ(messages->ShowMessage("Tabulon Mobile", "Late.", nullptr, nullptr), E_UNEXPECTED);
}

TEST_F(ServiceNotifyTest, TheSelectedHandheldIsKnownFromThePartnershipWhileUndocked) {
  DEVINFO info;
  void* data = &info;
  EXPECT_EQ(notify_->QueryDevice(QDC_SEL_DEVICE, &data), E_FAIL) << "not paired";
  EXPECT_EQ(notify_->QueryDevice(QDC_CON_DEVICE, &data), E_FAIL);
  EXPECT_EQ(notify_->QueryDevice(7, &data), E_INVALIDARG);
  EXPECT_EQ(notify_->QueryDevice(QDC_SEL_DEVICE, nullptr), E_INVALIDARG);
  void* none = nullptr;
  EXPECT_EQ(notify_->QueryDevice(QDC_SEL_DEVICE, &none), E_INVALIDARG);

  rapi::DesktopPartnership partnership;
  partnership.partnerId = "a1b2c3d4e5f60718";
  partnership.key.assign(rapi::kPskBytes, 3);
  partnership.address.port = 41999;
  ASSERT_TRUE(rapi::SaveDesktopPartnership(partnership).ok());
  ASSERT_EQ(notify_->QueryDevice(QDC_SEL_DEVICE, &data), S_OK);
  EXPECT_EQ(info.pid, 0xa1b2c3d4u);
  EXPECT_STREQ(info.szName, "a1b2c3d4e5f60718") << "never docked: its partner id";
  EXPECT_STREQ(info.szPath, "127.0.0.1:41999");
  EXPECT_EQ(notify_->QueryDevice(QDC_CON_DEVICE, &data), E_FAIL) << "nothing is connected";

  ASSERT_EQ(RegSetString(HKEY_CURRENT_USER,
                         u"Software\\Tabulon\\Pro\\Handheld\\Devices\\a1b2c3d4e5f60718",
                         kDeviceNameValue, u"Pocket Ledger"),
            ERROR_SUCCESS);
  ASSERT_EQ(notify_->QueryDevice(QDC_SEL_DEVICE, &data), S_OK);
  EXPECT_STREQ(info.szName, "Pocket Ledger") << "the name it had when it last docked";
}

}  // namespace
}  // namespace tbm::desktoplink
