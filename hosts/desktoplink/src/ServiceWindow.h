// The service's small window on a display: whether a handheld is docked,
// the providers loaded, and the texts the providers gave, newest last. Its
// File menu asks for a synchronisation or quits the service.
#pragma once

#include <QMainWindow>
#include <string>

class QLabel;
class QListWidget;

namespace tbm::desktoplink {

class ServiceWindow : public QMainWindow {
  Q_OBJECT

 public:
  ServiceWindow();

  void ShowState(const std::string& device, const std::string& providers);
  void AddText(const std::string& text);

 signals:
  void syncRequested();
  void quitRequested();

 private:
  QLabel* device_;
  QLabel* providers_;
  QListWidget* texts_;
};

}  // namespace tbm::desktoplink
