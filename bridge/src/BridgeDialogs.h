// The plug-in's two dialogs as the host's call codes reach them, and the
// texts they show. The host runs a QApplication; without one nothing is
// shown (and the failure is logged).
#pragma once

#include <QString>
#include <cstdint>
#include <initializer_list>

#include "AnsiText.h"
#include "HostCalls.h"
#include "MessageFormat.h"
#include "ResourceLibrary.h"

class QWidget;

namespace tbm::bridge {

// A string of the plug-in's language library; empty when it lacks it.
QString BridgeString(const res::ResourceLibrary& texts, std::uint32_t number);
// A message with its placeholders filled (MessageFormat.h); the bare text
// when the arguments do not fit it.
QString BridgeMessage(const res::ResourceLibrary& texts, std::uint32_t number,
                      std::initializer_list<res::MessageArgument> arguments);

// Call code 5: the information dialog with the plug-in's version, modal.
void ShowAbout(const res::ResourceLibrary& texts, QWidget* parent);

// Call code 6: the synchronisation settings dialog of the host's current
// database, modal. When the database's "TBCP" flags do not allow it (bit 3
// clear, or bit 18 set) message 1005 is shown instead; when no database is
// open, message 1006.
void ShowSettingsOfCurrentDatabase(const HostCalls& host, sync::AnsiCodePage& codePage,
                                   const res::ResourceLibrary& texts, QWidget* parent);

// Whether a database's "TBCP" flags let the user change its settings.
constexpr bool SettingsMayChange(std::uint32_t flags) {
  return (flags & kFlagSettingsAllowed) != 0 && (flags & kFlagSettingsLocked) == 0;
}

}  // namespace tbm::bridge
