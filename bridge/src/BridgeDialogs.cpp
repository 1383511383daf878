#include "BridgeDialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <vector>

#include "AboutDialog.h"
#include "BridgeLog.h"
#include "BridgeTexts.h"
#include "HostTextDisplay.h"
#include "SettingsDialog.h"

namespace tbm::bridge {
namespace {

QString FromUtf16(const std::u16string& text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

// Widgets need a QApplication; a host without one shows nothing.
bool CanShowWidgets() {
  if (qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) return true;
  LogBridge(LogLevel::kError, "a dialog was asked for, but the host runs no QApplication");
  return false;
}

void ShowMessage(const res::ResourceLibrary& texts, QMessageBox::Icon icon, const QString& text,
                 QWidget* parent) {
  QMessageBox box(icon, QStringLiteral("TBBridge"), text, QMessageBox::NoButton, parent);
  box.setObjectName("bridgeMessage");
  box.addButton(BridgeString(texts, kTextOk), QMessageBox::AcceptRole);
  box.exec();
}

}  // namespace

QString BridgeString(const res::ResourceLibrary& texts, std::uint32_t number) {
  return FromUtf16(texts.StringOrEmpty(number));
}

QString BridgeMessage(const res::ResourceLibrary& texts, std::uint32_t number,
                      std::initializer_list<res::MessageArgument> arguments) {
  const std::u16string text = texts.StringOrEmpty(number);
  std::vector<res::MessageArgument> values(arguments);
  std::u16string filled;
  if (!res::FormatMessageText(text, values, &filled).ok()) {
    LogBridge(LogLevel::kError, "the text " + std::to_string(number) +
                                    " of the plug-in's language library does not fit its "
                                    "arguments");
    return FromUtf16(text);
  }
  return FromUtf16(filled);
}

void ShowAbout(const res::ResourceLibrary& texts, QWidget* parent) {
  if (!CanShowWidgets()) return;
  AboutDialog dialog(texts, parent);
  dialog.exec();
}

void ShowSettingsOfCurrentDatabase(const HostCalls& host, sync::AnsiCodePage& codePage,
                                   const res::ResourceLibrary& texts, QWidget* parent) {
  if (!CanShowWidgets()) return;
  TBDatabase db = host.services().currentDatabase();
  if (db == nullptr) {
    ShowMessage(texts, QMessageBox::Information, BridgeString(texts, kTextNoDatabase), parent);
    return;
  }
  if (!SettingsMayChange(host.SyncFlags(db))) {
    ShowMessage(texts, QMessageBox::Information, BridgeString(texts, kTextSettingsLocked), parent);
    return;
  }
  std::unique_ptr<HostTextDisplay> display;
  if (Status status = HostTextDisplay::Open(codePage, &display); !status.ok()) {
    LogBridge(LogLevel::kError, "the settings cannot be shown: " + status.message());
    return;
  }
  SettingsDialog dialog(host, db, *display, texts, parent);
  if (!dialog.loadStatus().ok()) {
    LogBridge(LogLevel::kError,
              "the settings dialog could not read the database: " + dialog.loadStatus().message());
    ShowMessage(
        texts, QMessageBox::Warning,
        BridgeMessage(texts, kTextCannotReadFields,
                      {res::MessageArgument::Text(
                          QString::fromStdString(dialog.loadStatus().message()).toStdU16String())}),
        parent);
    return;
  }
  dialog.exec();
}

}  // namespace tbm::bridge
