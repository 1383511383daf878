// Texts between Tabulon Pro's byte form and the exchange form.
//
// The host keeps its texts in Mac OS Roman with CR line ends; exchange
// files and DDE blocks carry Windows ANSI with LF line ends. Database
// names, field names, value lists, field texts, separators and suffixes all
// cross through one of the two byte tables below: host to exchange maps Mac
// OS Roman to code page 1252 and CR to LF; exchange to host maps 1252 to Mac
// OS Roman and LF to CR. Bytes below 128 stay as they are but for the line
// ends. When the machine's ANSI code page is a double-byte one (932, 936,
// 949 or 950) the host already speaks it, and only the line ends change.
//
// Both tables are permutations of the upper half and each other's inverse,
// so every text converts and keeps its length.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace tbm::bridge {

// The upper halves (bytes 128 to 255, in order) of the two tables.
extern const std::array<std::uint8_t, 128> kMacRomanTo1252;
extern const std::array<std::uint8_t, 128> k1252ToMacRoman;

class HostTextForm {
 public:
  // The form for a machine whose ANSI code page has this Windows number.
  explicit HostTextForm(std::uint32_t ansiCodePage);

  // True when only line ends are converted (a double-byte code page).
  bool lineEndsOnly() const { return lineEndsOnly_; }

  std::string ToExchange(std::string_view hostText) const;
  std::string ToHost(std::string_view exchangeText) const;
  std::uint8_t ToExchange(std::uint8_t hostByte) const { return toExchange_[hostByte]; }
  std::uint8_t ToHost(std::uint8_t exchangeByte) const { return toHost_[exchangeByte]; }

 private:
  bool lineEndsOnly_;
  std::array<std::uint8_t, 256> toExchange_;
  std::array<std::uint8_t, 256> toHost_;
};

}  // namespace tbm::bridge
