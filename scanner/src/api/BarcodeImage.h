// Reading a barcode from an image file: the formats a handheld scanner
// reads (EAN-13, UPC-A, Code 128, Code 39, QR), from any image Qt can load.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "LabelBuffer.h"

namespace tbm::scan {

struct ImageLabel {
  std::u16string text;
  LabelSymbology symbology = LabelSymbology::kUnknown;
};

// Images larger than this many pixels are not decoded (a photo of a label
// needs far fewer), so a huge or hostile file cannot exhaust memory.
inline constexpr long long kMostImagePixels = 40'000'000;

// The first barcode found in the image, or nothing with the reason in *why:
// the file is not an image, is too large, or holds no barcode of those
// formats.
std::optional<ImageLabel> DecodeBarcodeImage(const std::filesystem::path& file, std::string* why);

}  // namespace tbm::scan
