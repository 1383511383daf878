// Label lines from a serial barcode reader or a FIFO: bytes cut into lines
// at CR or LF, each line checked to be a label before it is taken.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tbm::scan {

// The label one line holds (without its end of line), or nothing with the
// reason in *why: an empty line, bytes that are not UTF-8, control
// characters other than TAB and GS, or more UTF-16 units than a label
// buffer holds.
std::optional<std::u16string> LabelFromLine(std::string_view line, std::string* why);

class LabelLines {
 public:
  // Takes the next bytes of the stream. Each finished line that holds a
  // label is appended to labels; each dropped line adds a sentence to
  // dropped. A line that grows past kScnMaxLineBytes without an end is
  // dropped at once, and its rest up to the next end of line with it, so the
  // memory held stays bounded whatever the stream sends.
  void Feed(std::string_view bytes, std::vector<std::u16string>& labels,
            std::vector<std::string>& dropped);

  // Forgets a line begun: the stream broke off.
  void Reset();

 private:
  std::string line_;
  bool overlong_ = false;
};

}  // namespace tbm::scan
