#include "Screen.h"

#include <QByteArray>
#include <QList>
#include <cstdlib>
#include <optional>

namespace tbm::ui {

namespace {

std::optional<QSize>& ChosenSize() {
  static std::optional<QSize> size;
  return size;
}

bool InRange(int pixels) { return pixels >= 120 && pixels <= 4096; }

std::optional<QSize> SizeFromEnvironment() {
  const char* text = std::getenv("TBM_SCREEN_SIZE");
  if (text == nullptr) return std::nullopt;
  QList<QByteArray> parts = QByteArray(text).trimmed().toLower().split('x');
  if (parts.size() != 2) return std::nullopt;
  bool widthOk = false;
  bool heightOk = false;
  int width = parts[0].toInt(&widthOk);
  int height = parts[1].toInt(&heightOk);
  if (!widthOk || !heightOk || !InRange(width) || !InRange(height)) return std::nullopt;
  return QSize(width, height);
}

}  // namespace

QSize ScreenSize() {
  if (ChosenSize()) return *ChosenSize();
  return SizeFromEnvironment().value_or(kDefaultScreenSize);
}

void SetScreenSize(QSize size) {
  if (size.isEmpty()) {
    ChosenSize().reset();
  } else {
    ChosenSize() = size;
  }
}

}  // namespace tbm::ui
