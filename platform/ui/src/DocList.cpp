#include "DocList.h"

#include <QComboBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLocale>
#include <QMetaObject>
#include <QPainter>
#include <QPainterPath>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>

#include "CommandBar.h"
#include "DevicePath.h"
#include "FrameWnd.h"
#include "FrameworkLog.h"
#include "Resources.h"

namespace tbm::ui {

namespace fs = std::filesystem;

namespace {

// The patterns of a filter: the second piece of "Description|patterns|..."
// or the whole text, split at ';'.
QStringList PatternsOf(const QString& filter) {
  QString patterns = filter;
  if (filter.contains(u'|')) patterns = filter.section(u'|', 1, 1);
  QStringList list;
  for (const QString& piece : patterns.split(u';', Qt::SkipEmptyParts)) {
    QString trimmed = piece.trimmed();
    if (!trimmed.isEmpty()) list << trimmed.toCaseFolded();
  }
  if (list.isEmpty()) list << QStringLiteral("*");
  return list;
}

// The extension a single "*.ext" pattern asks for (".ext"), which the list
// leaves off the names it shows; empty otherwise.
QString ExtensionToStrip(const QStringList& patterns) {
  if (patterns.size() != 1) return QString();
  const QString& pattern = patterns.front();
  if (!pattern.startsWith(QStringLiteral("*.")) || pattern.size() < 3) return QString();
  QString extension = pattern.mid(1);
  if (extension.contains(u'*') || extension.contains(u'?')) return QString();
  return extension;
}

// '*' any run of characters, '?' one character; both already case-folded.
bool WildcardMatch(QStringView name, QStringView pattern) {
  qsizetype n = 0;
  qsizetype p = 0;
  qsizetype star = -1;
  qsizetype resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
      ++n;
      ++p;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      star = p++;
      resume = n;
    } else if (star >= 0) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

bool Matches(const QString& fileName, const QStringList& patterns) {
  QString folded = fileName.toCaseFolded();
  for (const QString& pattern : patterns) {
    if (WildcardMatch(folded, pattern)) return true;
    // "x.*" also takes names without a dot, as the handheld's file calls do.
    if (pattern.endsWith(QStringLiteral(".*")) && WildcardMatch(folded, pattern.chopped(2)))
      return true;
  }
  return false;
}

// A name as the list can show it on one line.
QString Printable(QString text) {
  for (QChar& c : text) {
    if (c.category() == QChar::Other_Control) c = QChar::ReplacementCharacter;
  }
  return text;
}

QString NameOf(const fs::path& path) { return QString::fromStdString(path.filename().string()); }

// The handheld's documents folder inside the device root, found case-blind;
// empty when the root or the folder is not there.
fs::path DocumentsFolder() {
  std::error_code error;
  fs::path root = DeviceRoot();
  if (!fs::is_directory(root, error)) return fs::path();
  fs::path exact = root / "My Documents";
  if (fs::is_directory(exact, error)) return exact;
  for (fs::directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
    if (NameOf(it->path()).compare(QStringLiteral("My Documents"), Qt::CaseInsensitive) == 0 &&
        it->is_directory(error))
      return it->path();
  }
  return fs::path();
}

QDateTime ModifiedTime(const fs::directory_entry& entry) {
  std::error_code error;
  fs::file_time_type stamp = entry.last_write_time(error);
  if (error) return QDateTime();
  auto since = std::chrono::file_clock::to_sys(stamp).time_since_epoch();
  return QDateTime::fromMSecsSinceEpoch(
      std::chrono::duration_cast<std::chrono::milliseconds>(since).count());
}

QString SizeText(std::uint64_t bytes) {
  constexpr std::uint64_t kKilo = 1024;
  if (bytes < kKilo * kKilo) return QString::number((bytes + kKilo - 1) / kKilo) + u'K';
  double megabytes = static_cast<double>(bytes) / (kKilo * kKilo);
  return QString::number(megabytes, 'f', megabytes < 10 ? 1 : 0) + u'M';
}

// The list's own new-file button: a page with a turned corner and a plus.
QIcon NewDocumentIcon(qreal ratio) {
  QPixmap pixmap(QSize(qRound(16 * ratio), qRound(16 * ratio)));
  pixmap.setDevicePixelRatio(ratio);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  QPainterPath page;
  page.moveTo(2.5, 1.5);
  page.lineTo(9.5, 1.5);
  page.lineTo(12.5, 4.5);
  page.lineTo(12.5, 14.5);
  page.lineTo(2.5, 14.5);
  page.closeSubpath();
  painter.setPen(QPen(QColor(64, 64, 64), 1));
  painter.setBrush(Qt::white);
  painter.drawPath(page);
  painter.drawPolyline(QPolygonF({QPointF(9.5, 1.5), QPointF(9.5, 4.5), QPointF(12.5, 4.5)}));
  painter.setPen(QPen(QColor(0, 128, 0), 2));
  painter.drawLine(QPointF(11, 9), QPointF(11, 15));
  painter.drawLine(QPointF(8, 12), QPointF(14, 12));
  return QIcon(pixmap);
}

}  // namespace

CDocList::CDocList(CFrameWnd* frame, const QString& filter, const QString& folderText)
    : QWidget(frame),
      frame_(frame),
      patterns_(PatternsOf(filter)),
      stripExtension_(ExtensionToStrip(patterns_)),
      folderBox_(new QComboBox(this)),
      list_(new QTreeWidget(this)),
      commandBar_(new CCommandBar(frame, frame)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(folderBox_);
  layout->addWidget(list_, 1);

  folderBox_->addItem(folderText);
  folderBox_->setFocusPolicy(Qt::NoFocus);
  connect(folderBox_, &QComboBox::activated, this,
          [this](int index) { ShowFolder(index <= 0 ? QString() : folderBox_->itemText(index)); });

  list_->setColumnCount(3);
  list_->setHeaderLabels({FrameworkText(AFX_IDS_DOCLIST_NAME, "Name"),
                          FrameworkText(AFX_IDS_DOCLIST_DATE, "Date"),
                          FrameworkText(AFX_IDS_DOCLIST_SIZE, "Size")});
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setAllColumnsShowFocus(true);
  list_->setTextElideMode(Qt::ElideRight);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  QHeaderView* header = list_->header();
  header->setStretchLastSection(false);
  header->setSectionResizeMode(0, QHeaderView::Stretch);
  header->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  header->setSectionResizeMode(2, QHeaderView::ResizeToContents);
  header->setSectionsClickable(true);
  header->setSortIndicatorShown(true);
  connect(header, &QHeaderView::sectionClicked, this, [this](int column) {
    auto key = static_cast<SortKey>(std::clamp(column, 0, 2));
    SortBy(key, key == sortKey_ ? !ascending_ : true);
  });
  // One tap opens, as on the handheld; Enter opens the current file.
  connect(list_, &QTreeWidget::itemClicked, this,
          [this](QTreeWidgetItem* item) { OpenRow(list_->indexOfTopLevelItem(item)); });
  list_->installEventFilter(this);
  setFocusProxy(list_);

  commandBar_->InsertButton(0, kNewButtonCommand, NewDocumentIcon(devicePixelRatioF()));
  OnCommand(kNewButtonCommand, [this] { frame_->RouteCommand(ID_FILE_NEW); });
  OnUpdateCommand(kNewButtonCommand, [this](CCmdUI* ui) {
    CCmdUI probe(ID_FILE_NEW);
    ui->Enable(frame_->RouteUpdate(&probe) && probe.enabled());
  });

  Scan();
  Fill();
}

CDocList::~CDocList() { delete commandBar_.data(); }

CCommandBar* CDocList::commandBar() const { return commandBar_.data(); }

void CDocList::Refresh() {
  Scan();
  Fill();
}

void CDocList::Scan() {
  all_.clear();
  fs::path documents = DocumentsFolder();
  if (documents.empty()) return;
  std::error_code error;
  fs::recursive_directory_iterator it(documents, fs::directory_options::skip_permission_denied,
                                      error);
  for (fs::recursive_directory_iterator end; !error && it != end; it.increment(error)) {
    const fs::directory_entry& entry = *it;
    std::error_code ignored;
    if (!entry.is_regular_file(ignored)) continue;
    QString fileName = NameOf(entry.path());
    if (!Matches(fileName, patterns_)) continue;

    Entry listed;
    listed.fileName = fileName;
    listed.name = Printable(!stripExtension_.isEmpty() &&
                                    fileName.endsWith(stripExtension_, Qt::CaseInsensitive) &&
                                    fileName.size() > stripExtension_.size()
                                ? fileName.chopped(stripExtension_.size())
                                : fileName);
    QStringList folders;
    for (const fs::path& part : entry.path().parent_path().lexically_relative(documents)) {
      if (part != ".") folders << Printable(QString::fromStdString(part.string()));
    }
    listed.folder = folders.join(u'\\');
    listed.hostPath = entry.path().string();
    std::optional<std::u16string> devicePath = DevicePathFromHostPath(listed.hostPath);
    listed.openPath =
        devicePath ? *devicePath : QString::fromStdString(listed.hostPath).toStdU16String();
    std::uint64_t size = entry.file_size(ignored);
    listed.size = ignored ? 0 : size;
    listed.modified = ModifiedTime(entry);
    all_.push_back(std::move(listed));
  }
  if (error) {
    LogFrameworkError("document list: reading " + documents.string() +
                      " stopped early: " + error.message());
  }
}

void CDocList::Fill() {
  std::vector<const Entry*> shown;
  for (const Entry& entry : all_) {
    if (shownFolder_.isEmpty() || entry.folder == shownFolder_) shown.push_back(&entry);
  }
  auto byName = [](const Entry* a, const Entry* b) {
    int order = QString::localeAwareCompare(a->name.toCaseFolded(), b->name.toCaseFolded());
    if (order == 0) order = QString::compare(a->folder, b->folder, Qt::CaseInsensitive);
    if (order == 0) return a->hostPath < b->hostPath;
    return order < 0;
  };
  std::stable_sort(shown.begin(), shown.end(), [&](const Entry* a, const Entry* b) {
    const Entry* first = ascending_ ? a : b;
    const Entry* second = ascending_ ? b : a;
    switch (sortKey_) {
      case SortKey::kDate:
        if (first->modified != second->modified) return first->modified < second->modified;
        break;
      case SortKey::kSize:
        if (first->size != second->size) return first->size < second->size;
        break;
      case SortKey::kName:
        break;
    }
    return byName(first, second);
  });

  list_->clear();
  QLocale locale;
  for (const Entry* entry : shown) {
    auto* item = new QTreeWidgetItem(list_);
    item->setText(0, entry->name);
    item->setText(1, entry->modified.isValid()
                         ? locale.toString(entry->modified.date(), QLocale::ShortFormat)
                         : QString());
    item->setText(2, SizeText(entry->size));
    item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
    item->setData(0, Qt::UserRole, static_cast<qulonglong>(entry - all_.data()));
    QString where =
        entry->folder.isEmpty() ? entry->fileName : entry->folder + u'\\' + entry->fileName;
    item->setToolTip(0, Printable(where));
  }
  list_->header()->setSortIndicator(static_cast<int>(sortKey_),
                                    ascending_ ? Qt::AscendingOrder : Qt::DescendingOrder);

  // The folder box offers the folders that hold listed files.
  std::set<QString> folderSet;
  for (const Entry& entry : all_) {
    if (!entry.folder.isEmpty()) folderSet.insert(entry.folder);
  }
  while (folderBox_->count() > 1) folderBox_->removeItem(1);
  for (const QString& folder : folderSet) folderBox_->addItem(folder);
  int current = shownFolder_.isEmpty() ? 0 : folderBox_->findText(shownFolder_);
  folderBox_->setCurrentIndex(std::max(0, current));
}

std::vector<CDocList::Entry> CDocList::entries() const {
  std::vector<Entry> shown;
  for (int row = 0; row < list_->topLevelItemCount(); ++row) {
    std::size_t index = list_->topLevelItem(row)->data(0, Qt::UserRole).toULongLong();
    if (index < all_.size()) shown.push_back(all_[index]);
  }
  return shown;
}

void CDocList::SortBy(SortKey key, bool ascending) {
  sortKey_ = key;
  ascending_ = ascending;
  Fill();
}

QStringList CDocList::folders() const {
  QStringList names;
  for (int index = 1; index < folderBox_->count(); ++index) names << folderBox_->itemText(index);
  return names;
}

void CDocList::ShowFolder(const QString& folder) {
  shownFolder_ = folder;
  Fill();
}

void CDocList::OpenRow(int row) {
  if (row < 0 || row >= list_->topLevelItemCount() || !onOpen_) return;
  std::size_t index = list_->topLevelItem(row)->data(0, Qt::UserRole).toULongLong();
  if (index >= all_.size()) return;
  // Opening replaces the list; it happens after the tap's event is done.
  QMetaObject::invokeMethod(
      this, [handler = onOpen_, path = all_[index].openPath] { handler(path); },
      Qt::QueuedConnection);
}

bool CDocList::eventFilter(QObject* watched, QEvent* event) {
  if (watched == list_ && event->type() == QEvent::KeyPress) {
    int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      OpenRow(list_->indexOfTopLevelItem(list_->currentItem()));
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void CDocList::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  Refresh();
}

}  // namespace tbm::ui
