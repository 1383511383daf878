#include "BarcodeImage.h"

#include <QImage>
#include <QImageReader>
#include <QString>

#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>

#include "LabelLines.h"

namespace tbm::scan {
namespace {

LabelSymbology SymbologyOf(ZXing::BarcodeFormat format) {
  switch (format) {
    case ZXing::BarcodeFormat::EAN13:
      return LabelSymbology::kEan13;
    case ZXing::BarcodeFormat::UPCA:
      return LabelSymbology::kUpcA;
    case ZXing::BarcodeFormat::Code128:
      return LabelSymbology::kCode128;
    case ZXing::BarcodeFormat::Code39:
      return LabelSymbology::kCode39;
    case ZXing::BarcodeFormat::QRCode:
      return LabelSymbology::kQrCode;
    default:
      return LabelSymbology::kUnknown;
  }
}

}  // namespace

std::optional<ImageLabel> DecodeBarcodeImage(const std::filesystem::path& file, std::string* why) {
  QImageReader reader(QString::fromStdString(file.string()));
  const QSize size = reader.size();
  if (size.isValid() && static_cast<long long>(size.width()) * size.height() > kMostImagePixels) {
    *why = "the image has " + std::to_string(size.width()) + " x " + std::to_string(size.height()) +
           " pixels, more than a label needs";
    return std::nullopt;
  }
  QImage image;
  if (!reader.read(&image)) {
    *why = "it is not an image that can be read (" + reader.errorString().toStdString() + ")";
    return std::nullopt;
  }
  if (static_cast<long long>(image.width()) * image.height() > kMostImagePixels) {
    *why = "the image is larger than a label needs";
    return std::nullopt;
  }
  const QImage gray = image.convertToFormat(QImage::Format_Grayscale8);
  const ZXing::ImageView view(gray.constBits(), gray.width(), gray.height(),
                              ZXing::ImageFormat::Lum, static_cast<int>(gray.bytesPerLine()));
  ZXing::DecodeHints hints;
  hints.setFormats(ZXing::BarcodeFormat::EAN13 | ZXing::BarcodeFormat::UPCA |
                   ZXing::BarcodeFormat::Code128 | ZXing::BarcodeFormat::Code39 |
                   ZXing::BarcodeFormat::QRCode);
  hints.setTryHarder(true);
  hints.setTryRotate(true);
  const ZXing::Result result = ZXing::ReadBarcode(view, hints);
  if (!result.isValid() || result.text().empty()) {
    *why = "it holds no barcode of the formats read here (EAN-13, UPC-A, Code 128, Code 39, QR)";
    return std::nullopt;
  }
  // The same rules as for a line from a serial reader: a label is one line
  // of text that fits the label buffer.
  std::string refused;
  std::optional<std::u16string> text = LabelFromLine(result.text(), &refused);
  if (!text) {
    *why = "its barcode's text is not a label (" + refused + ")";
    return std::nullopt;
  }
  return ImageLabel{std::move(*text), SymbologyOf(result.format())};
}

}  // namespace tbm::scan
