#include "HostTextDisplay.h"

#include "HostExchangeText.h"

namespace tbm::bridge {

Status HostTextDisplay::Open(sync::AnsiCodePage& systemCodePage,
                             std::unique_ptr<HostTextDisplay>* out) {
  if (HostTextForm(systemCodePage.windowsNumber()).lineEndsOnly()) {
    *out = std::make_unique<HostTextDisplay>(systemCodePage, nullptr);
    return Status();
  }
  std::unique_ptr<sync::AnsiCodePage> macRoman;
  if (Status status = sync::AnsiCodePage::Open("macintosh", &macRoman); !status.ok()) {
    return status;
  }
  sync::AnsiCodePage& inUse = *macRoman;
  *out = std::make_unique<HostTextDisplay>(inUse, std::move(macRoman));
  return Status();
}

QString HostTextDisplay::ToDisplay(std::string_view hostText) const {
  std::u16string text;
  if (!codePage_.ToUtf16(hostText, &text).ok()) {
    QString shown;
    for (const char c : hostText) {
      shown += static_cast<unsigned char>(c) < 0x80 ? QChar(c) : QChar(0xFFFD);
    }
    return shown;
  }
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace tbm::bridge
