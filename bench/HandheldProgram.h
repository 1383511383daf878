// What the handheld program's benchmarks share: the program's application
// object (engine started, English texts, an offscreen screen), the sample
// database of kRecords records of kFields fields, painting a widget, and a
// document opened on that database with one record view of it.
#pragma once

#include <QImage>
#include <QWidget>
#include <cstdlib>
#include <memory>
#include <string>

#include "TBMApp.h"
#include "TBMDoc.h"
#include "Utf16.h"

namespace tbm::bench {

constexpr int kScreenWidth = 240;
constexpr int kScreenHeight = 320;

tbm::app::CTBMApp& Program();

// The sample database, built once per run.
const std::string& HandheldDatabasePath();

// The widget painted into an image, children included.
QImage Paint(QWidget* widget);

// The program's document on the sample database with a record view of
// View on the screen's size (shown when asked).
template <typename View>
struct OpenView {
  std::unique_ptr<tbm::app::CTBMDoc> document = std::make_unique<tbm::app::CTBMDoc>();
  std::unique_ptr<View> view;
  explicit OpenView(bool shown = false) {
    Program();
    document->SetAutoDelete(false);
    if (!document->OnOpenDocument(tbm::Utf8ToUtf16(HandheldDatabasePath()))) std::abort();
    if (document->GetRecordCount() > 0) document->SetRecordIndex(0);
    view = std::make_unique<View>();
    view->resize(kScreenWidth, kScreenHeight);
    view->SetDocument(document.get());
    if (shown) view->show();
    view->OnInitialUpdate();
  }
  ~OpenView() {
    view.reset();
    document->OnCloseDocument();
  }
};

}  // namespace tbm::bench
