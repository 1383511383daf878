// Tabulon Pro's window: its open databases as a table (name, records,
// synchronisation flags in words), the selected row being the current
// database; the menu "Synchronisation" calls the plug-in's information
// dialog and the settings dialog of the current database. The table is read
// again every few seconds and after each dialog, so changes made by other
// programs show.
#pragma once

#include <QMainWindow>

class QAction;
class QTableWidget;
class QTimer;

namespace tbm::tabulonpro {

class HostSession;
class PluginHost;

class HostWindow : public QMainWindow {
  Q_OBJECT

 public:
  // session and plugin stay the caller's and outlive the window.
  HostWindow(HostSession& session, PluginHost& plugin);

  // Reads the databases' names, record counts and flags again.
  void Refresh();

  QAction* aboutAction() const { return about_; }
  QAction* settingsAction() const { return settings_; }
  QTableWidget* table() const { return table_; }

 signals:
  // The user closed the window or chose Quit.
  void quitRequested();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void CurrentRowChanged();
  void ShowAbout();
  void ShowSettings();

  HostSession& session_;
  PluginHost& plugin_;
  QTableWidget* table_;
  QAction* about_;
  QAction* settings_;
  QTimer* refresh_;
};

}  // namespace tbm::tabulonpro
