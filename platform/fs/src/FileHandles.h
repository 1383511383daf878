// The handles the file calls give out: open files and open searches, in one
// table whose handles carry the tag "FS". File handles are closed with
// CloseFileHandle, searches with FindClose; the two never mix.
#pragma once

#include "HandleTable.h"

namespace tbm::fs {

enum class HandleKind { kFile, kSearch };

// The process's one table of file and search handles.
HandleTable& FileHandles();

}  // namespace tbm::fs
