// The set-aside file: when a handheld database's fields no longer match
// its host database, its records are not merged but appended to a ".csv"
// file in the exchange folder, where the user finds them.
//
// The file is named after the handheld database (the name in the
// "TBSC.sdb" header) with its extension, from the last dot, replaced by
// ".csv". The name comes from the other machine, so it is made safe before
// it names a file: every '/' and '\' and every control character becomes
// '_', so the file always lies in the exchange folder itself; a name that
// leaves nothing but dots or nothing at all is refused.
//
// Each record is one line: every value in double quotes with inner double
// quotes doubled, a CR inside a value written as byte 11 (vertical tab),
// values separated by commas, the line ended by CR LF. Values are written
// as they came from the handheld: ANSI bytes with LF line breaks.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "AnsiText.h"
#include "Status.h"

namespace tbm::bridge {

// The line of one record, CR LF included.
std::string SetAsideLine(std::span<const std::string> values);

// The set-aside file's name (UTF-8, no folder) for a handheld database
// name given in the ANSI code page. kInvalidArgument when the name has no
// characters left to name a file, or does not convert.
Status SetAsideFileName(std::string_view handheldName, sync::AnsiCodePage& codePage,
                        std::string* fileName);

// A set-aside file opened for appending (created when missing).
class SetAsideFile {
 public:
  SetAsideFile() = default;
  ~SetAsideFile();
  SetAsideFile(const SetAsideFile&) = delete;
  SetAsideFile& operator=(const SetAsideFile&) = delete;

  Status Open(const std::string& path);
  // Appends one record's line whole; a short write is an error.
  Status Append(std::span<const std::string> values);
  // Closes the file; an error when the close fails.
  Status Close();

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace tbm::bridge
