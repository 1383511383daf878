// The plug-in's information dialog: its name, version and what it does.
#pragma once

#include <QDialog>

#include "ResourceLibrary.h"

namespace tbm::bridge {

class AboutDialog : public QDialog {
  Q_OBJECT

 public:
  AboutDialog(const res::ResourceLibrary& texts, QWidget* parent = nullptr);
};

}  // namespace tbm::bridge
