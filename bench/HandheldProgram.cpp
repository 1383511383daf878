#include "HandheldProgram.h"

#include <QApplication>
#include <cstdlib>

#include "BenchData.h"
#include "SampleDatabase.h"
#include "StartUp.h"

namespace tbm::bench {

tbm::app::CTBMApp& Program() {
  static tbm::app::CTBMApp* program = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "tbm_handheld_bench";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
    auto* app = new tbm::app::CTBMApp({});
    if (app->StartEngine() != MDbErrNone) std::abort();
    std::unique_ptr<tbm::res::ResourceLibrary> library;
    if (tbm::app::FindLanguageLibrary(tbm::app::ProgramFolder(), 0x409, &library).ok())
      app->SetResources(std::move(library));
    return app;
  }();
  return *program;
}

const std::string& HandheldDatabasePath() {
  static const std::string* path = [] {
    auto* p = new std::string(Folder() + "/handheld.tbm");
    BuildSampleDatabase(*p, kRecords);
    return p;
  }();
  return *path;
}

QImage Paint(QWidget* widget) {
  QImage image(widget->size(), QImage::Format_RGB32);
  widget->render(&image);
  return image;
}

}  // namespace tbm::bench
