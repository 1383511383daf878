// The document template: makes the program's one document, its frame and
// its first view, opens databases into them, and shows the document list
// (the files of the device's documents folders) when no database is open.
// It is on every command's route after the document.
#pragma once

#include "CmdTarget.h"

namespace tbm::ui {

class CDocument;

class CDocTemplate : public CCmdTarget {
 public:
  CDocTemplate() = default;
  ~CDocTemplate() override = default;
  CDocTemplate(const CDocTemplate&) = delete;
  CDocTemplate& operator=(const CDocTemplate&) = delete;
};

}  // namespace tbm::ui
