#include "Resources.h"

#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

#include "FrameworkLog.h"
#include "ProgramLog.h"
#include "ResourcesInternal.h"
#include "WinApp.h"

namespace tbm::ui {

namespace {

res::ResourceLibrary* Library() {
  CWinApp* app = CWinApp::Get();
  return app != nullptr ? app->resources() : nullptr;
}

using PictureKey = std::pair<std::uint32_t, qreal>;

std::map<PictureKey, QPixmap>& Pictures() {
  static std::map<PictureKey, QPixmap> pictures;
  return pictures;
}

QColor ColourOf(std::uint32_t rgb) {
  return QColor((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

bool AllFinite(const std::vector<float>& values) {
  for (float value : values) {
    if (!std::isfinite(value)) return false;
  }
  return true;
}

QPolygonF PointsOf(const std::vector<float>& values) {
  QPolygonF points;
  for (std::size_t i = 0; i + 1 < values.size(); i += 2)
    points << QPointF(values[i], values[i + 1]);
  return points;
}

// Draws one shape; false when its points do not fit its kind.
bool DrawShape(QPainter& painter, const res::PictureShape& shape) {
  if (!AllFinite(shape.points) || !std::isfinite(shape.strokeWidth)) return false;
  if (shape.stroke) {
    QPen pen(ColourOf(*shape.stroke), shape.strokeWidth);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
  } else {
    painter.setPen(Qt::NoPen);
  }
  painter.setBrush(shape.fill ? QBrush(ColourOf(*shape.fill)) : QBrush(Qt::NoBrush));
  const std::vector<float>& p = shape.points;
  switch (shape.kind) {
    case res::PictureShape::Kind::kRect:
      if (p.size() != 4) return false;
      painter.drawRect(QRectF(p[0], p[1], p[2], p[3]));
      return true;
    case res::PictureShape::Kind::kEllipse:
      if (p.size() != 4) return false;
      painter.drawEllipse(QRectF(p[0], p[1], p[2], p[3]));
      return true;
    case res::PictureShape::Kind::kPolygon:
      if (p.size() < 6 || p.size() % 2 != 0) return false;
      painter.drawPolygon(PointsOf(p));
      return true;
    case res::PictureShape::Kind::kPolyline:
      if (p.size() < 4 || p.size() % 2 != 0) return false;
      painter.drawPolyline(PointsOf(p));
      return true;
  }
  return false;
}

QPixmap Render(std::uint32_t number, const res::Picture& picture, qreal ratio) {
  constexpr int kLargestSide = 1024;
  if (picture.width <= 0 || picture.height <= 0 || picture.width > kLargestSide ||
      picture.height > kLargestSide) {
    LogFrameworkError("picture " + std::to_string(number) + ": its size " +
                      std::to_string(picture.width) + " x " + std::to_string(picture.height) +
                      " is not usable");
    return QPixmap();
  }
  QPixmap pixmap(QSize(std::lround(picture.width * ratio), std::lround(picture.height * ratio)));
  pixmap.setDevicePixelRatio(ratio);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  for (const res::PictureShape& shape : picture.shapes) {
    if (!DrawShape(painter, shape)) {
      LogFrameworkError("picture " + std::to_string(number) +
                        ": a shape whose points do not fit its kind is left out");
    }
  }
  return pixmap;
}

}  // namespace

void LogFrameworkError(std::string_view text) {
  CWinApp* app = CWinApp::Get();
  WriteLog(app != nullptr ? app->logName() : std::string("Tabulon Mobile"), LogLevel::kError, text);
}

QString ToQString(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

std::u16string FromQString(const QString& text) { return text.toStdU16String(); }

QFont ResourceFont(std::uint32_t number) {
  QString face = QStringLiteral("Tahoma");
  int weight = 400;
  int height = -11;
  const QStringList pieces = LoadQString(number).split(u',');
  if (!pieces.isEmpty() && !pieces[0].trimmed().isEmpty()) face = pieces[0].trimmed();
  bool ok = false;
  if (pieces.size() > 1) {
    const int value = pieces[1].trimmed().toInt(&ok);
    if (ok && value > 0 && value <= 1000) weight = value;
  }
  if (pieces.size() > 2) {
    const int value = pieces[2].trimmed().toInt(&ok);
    if (ok && value != 0 && value > -200 && value < 200) height = value;
  }
  QFont font(face);
  // A negative height is the character height in pixels; a positive one the
  // cell height, of which the character takes about nine tenths.
  font.setPixelSize(height < 0 ? -height : std::max(1, height * 9 / 10));
  font.setWeight(static_cast<QFont::Weight>(weight));
  font.setItalic(false);
  font.setUnderline(false);
  font.setStrikeOut(false);
  return font;
}

QString LoadQString(std::uint32_t number) {
  res::ResourceLibrary* library = Library();
  return library != nullptr ? ToQString(library->StringOrEmpty(number)) : QString();
}

QString FrameworkText(std::uint32_t number, const char* english) {
  QString text = LoadQString(number);
  return text.isEmpty() ? QString::fromUtf8(english) : text;
}

QString FormatResourceMessage(std::uint32_t number,
                              std::initializer_list<res::MessageArgument> arguments) {
  res::ResourceLibrary* library = Library();
  if (library == nullptr) return QString();
  std::u16string text = library->StringOrEmpty(number);
  std::u16string filled;
  Status status = res::FormatMessageText(
      text, std::span<const res::MessageArgument>(arguments.begin(), arguments.size()), &filled);
  if (!status.ok()) {
    // A text that does not match its arguments is shown as it stands, never
    // filled from the wrong argument.
    LogFrameworkError("string " + std::to_string(number) + " of " + library->path() + ": " +
                      status.message());
    return ToQString(text);
  }
  return ToQString(filled);
}

MessageAnswer ResourceMessageBox(std::uint32_t number,
                                 std::initializer_list<res::MessageArgument> arguments,
                                 MessageIcon icon, MessageButtons buttons) {
  MessageBoxRequest request;
  request.text = FromQString(FormatResourceMessage(number, arguments));
  request.icon = icon;
  request.buttons = buttons;
  return ShowMessageBox(request);
}

QPixmap LoadPicture(std::uint32_t number, qreal devicePixelRatio) {
  if (!(devicePixelRatio >= 0.5 && devicePixelRatio <= 8.0)) devicePixelRatio = 1.0;
  PictureKey key{number, devicePixelRatio};
  if (auto found = Pictures().find(key); found != Pictures().end()) return found->second;

  res::ResourceLibrary* library = Library();
  if (library == nullptr) {
    LogFrameworkError("picture " + std::to_string(number) + ": no language library is loaded");
    return QPixmap();
  }
  res::Picture picture;
  Status status = library->LoadPicture(number, &picture);
  if (!status.ok()) {
    LogFrameworkError("picture " + std::to_string(number) + ": " + status.message());
    return QPixmap();
  }
  QPixmap pixmap = Render(number, picture, devicePixelRatio);
  if (!pixmap.isNull()) Pictures().emplace(key, pixmap);
  return pixmap;
}

void ForgetPictures() { Pictures().clear(); }

}  // namespace tbm::ui
