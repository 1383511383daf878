// Where a scanner of the device reads its labels from, as the device's
// registry sets it up (ScnApi.h names the key and its values).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "Status.h"

namespace tbm::scan {

struct ScannerSettings {
  std::string portPath;  // host path of the serial device or FIFO; empty for none
  std::uint32_t baudRate = 9600;
  std::string imageFolder;  // host path of the image folder; empty for none
};

// Reads the settings of deviceName ("SCN1:"). kInvalidArgument for a name
// that is not letters and digits followed by a colon; kNotFound, with a
// sentence that says which values to set, when neither source is set up; a
// source whose path cannot be mapped is left out with the reason in
// *warnings.
Status ReadScannerSettings(std::u16string_view deviceName, ScannerSettings* settings,
                           std::string* warnings);

}  // namespace tbm::scan
