// Barcode pictures for tests: a barcode drawn with ZXing and dropped into
// a folder the way a camera or a scan leaves one.
#pragma once

#include <QImage>
#include <filesystem>
#include <string>

#define ZX_USE_UTF8 1
#include <ZXing/BitMatrix.h>
#include <ZXing/MultiFormatWriter.h>

namespace tbm::scan::testing {

// Writes a barcode of format holding text as an image into folder (PNG,
// JPEG ... as the name's suffix says), under a hidden name first and
// renamed into place, as a careful writer does.
inline bool DropBarcodeImage(const std::filesystem::path& folder, const std::string& name,
                             ZXing::BarcodeFormat format, const std::string& text) {
  const bool square = format == ZXing::BarcodeFormat::QRCode;
  const ZXing::BitMatrix bits = ZXing::MultiFormatWriter(format).setMargin(10).encode(
      text, square ? 300 : 480, square ? 300 : 160);
  QImage image(bits.width(), bits.height(), QImage::Format_Grayscale8);
  for (int y = 0; y < bits.height(); ++y) {
    for (int x = 0; x < bits.width(); ++x) {
      image.scanLine(y)[x] = bits.get(x, y) ? 0 : 255;
    }
  }
  const std::filesystem::path hidden = folder / ("." + name);
  if (!image.save(QString::fromStdString(hidden.string()))) return false;  // as its suffix says
  std::error_code error;
  std::filesystem::rename(hidden, folder / name, error);
  return !error;
}

}  // namespace tbm::scan::testing
