// The document list: the files of the handheld's documents folder
// ("\My Documents" in the device root, DevicePath.h) and all its
// sub-folders that match a filter, with their names, dates and sizes. It is
// the frame's main pane while no document is open. One tap on a file opens
// it (the open handler, which the document template sets); a tap on a column
// title sorts by that column, a second tap reverses the order; the folder
// box at the top narrows the list to one folder.
//
// The list has its own command bar, which replaces the frame's while the
// list shows: a program inserts its menu bar there when the frame hears of
// the list's creation (CFrameWnd::OnDocListCreated). The bar starts with one
// button, command kNewButtonCommand, which sends ID_FILE_NEW along the
// frame's route and is enabled as that command is; a program may delete it.
//
// A device root or documents folder that does not exist yet is an empty
// list; nothing is created. Every file that matches is listed, whatever is
// inside it (opening it is the handler's business), and names of any script
// or length are shown as they are. Symbolic links to folders are not
// followed.
#pragma once

#include <QDateTime>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "CmdTarget.h"

class QComboBox;
class QTreeWidget;

namespace tbm::ui {

class CCommandBar;
class CFrameWnd;

class CDocList : public QWidget, public CCmdTarget {
 public:
  // The list's child-window identifier and the notification code of its
  // creation, as the frame hears of them.
  static constexpr std::uint16_t kControlId = 0xE40A;
  static constexpr std::uint16_t kCreatedNotification = 11032;
  // The command of the list's own new-file button.
  static constexpr CommandId kNewButtonCommand = 10;

  enum class SortKey { kName = 0, kDate = 1, kSize = 2 };

  struct Entry {
    QString name;      // as shown: the file name, without the filter's extension
    QString fileName;  // the whole file name
    QString folder;    // relative to the documents folder, '\'-separated; empty at the top
    std::string hostPath;
    // The path the open handler gets: the handheld path when the name can be
    // spelled as one, else the host path.
    std::u16string openPath;
    QDateTime modified;  // invalid when unknown
    std::uint64_t size = 0;
  };

  // filter: a file filter as "Description|*.tbm||" (patterns of the first
  // pair, separated by ';', are used) or a bare pattern ("*.tbm");
  // folderText: the folder box's entry for all folders. The list and its
  // command bar are children of frame.
  CDocList(CFrameWnd* frame, const QString& filter, const QString& folderText);
  ~CDocList() override;

  // Called with a file's open path when the user opens it. The call comes
  // from the event loop after the tap, when the list may be replaced.
  using OpenHandler = std::function<void(const std::u16string& path)>;
  void SetOpenHandler(OpenHandler handler) { onOpen_ = std::move(handler); }

  // Reads the folders again (the list also does this whenever it shows).
  void Refresh();

  // The entries shown, in the order shown.
  std::vector<Entry> entries() const;
  SortKey sortKey() const { return sortKey_; }
  bool sortAscending() const { return ascending_; }
  void SortBy(SortKey key, bool ascending);
  // The folders the box offers after the entry for all folders.
  QStringList folders() const;
  // Shows only the files of folder (one of folders()); an empty folder
  // shows all.
  void ShowFolder(const QString& folder);

  CCommandBar* commandBar() const { return commandBar_; }
  QTreeWidget* listWidget() const { return list_; }
  // Opens the entry at row of the list, as a tap does.
  void OpenRow(int row);

 protected:
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void Fill();
  void Scan();

  CFrameWnd* frame_;
  QStringList patterns_;
  QString stripExtension_;
  QComboBox* folderBox_;
  QTreeWidget* list_;
  CCommandBar* commandBar_;
  std::vector<Entry> all_;
  QString shownFolder_;
  SortKey sortKey_ = SortKey::kName;
  bool ascending_ = true;
  OpenHandler onOpen_;
};

}  // namespace tbm::ui
