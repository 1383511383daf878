// How a command-line tool ends a command: a failure as one line on standard
// error (exit status 1), else standard output flushed (1 when it could not
// be written, 0 otherwise).
#pragma once

#include "Status.h"

namespace tbm::tools {

int ReportOutcome(const char* program, const Status& status);

}  // namespace tbm::tools
