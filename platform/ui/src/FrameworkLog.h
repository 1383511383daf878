// Where the framework writes what it cannot show: the program's log.
#pragma once

#include <string_view>

namespace tbm::ui {

// Appends an error line to the program's log (CWinApp::logName()).
void LogFrameworkError(std::string_view text);

}  // namespace tbm::ui
