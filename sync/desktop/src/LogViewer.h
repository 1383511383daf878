// Showing the synchronisation log to the person: the log is made (empty)
// when it is not there yet, and the viewer program the language library
// names (text 1007) is started with the log's path as its one argument.
// The viewer runs on its own; nothing waits for it.
#pragma once

#include <string>

#include "Com.h"
#include "ProviderTexts.h"
#include "ReplStore.h"
#include "Status.h"

namespace tbm::desksync {

// What opening one log needs, taken from the texts once, so that it can be
// done after the store has gone (a message's button).
struct LogViewer {
  std::string logPath;
  std::string program;     // text 1007
  std::string errorText;   // text 1005 with the path
  std::string errorTitle;  // text 1006
};

LogViewer MakeLogViewer(const ProviderTexts& texts, const std::string& logPath);

// Makes the log when missing and starts the viewer. Fails saying why: the
// log cannot be made (kNoPermission, kNoSpace, kNotFound ...), or the viewer
// is not installed (kNotFound) or cannot be started.
Status OpenLog(const LogViewer& viewer);

// OpenLog, and when it fails, the error message (texts 1005 and 1006)
// through messages, or a line of the program log when there is none.
void OpenLogOrTell(const LogViewer& viewer, IReplMessages* messages);

// The action of the button that opens the log in the result message: a new
// object with one reference, which the caller hands over.
IReplMessageAction* MakeOpenLogAction(LogViewer viewer, IReplMessages* messages);

}  // namespace tbm::desksync
