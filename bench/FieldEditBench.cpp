// Editing a field in the handheld program's views, on the sample database
// of 5000 records of 20 fields and a 240 x 320 screen:
//  - a tap on a cell until its editor is shown and painted, in the form
//    view and in the list view (editing in the list allowed, the row
//    selected), beside the same view painting itself without an edit;
//  - the end of an edit that changed the value until the record's row is
//    painted again (the value written through the engine), in the list
//    view, beside painting the list without an edit.
// The form's tap goes to the last record, the list's to the rows on its
// first screen.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QMouseEvent>
#include <cstdlib>

#include "BenchData.h"
#include "BenchMain.h"
#include "FieldEdit.h"
#include "HandheldProgram.h"
#include "SampleDatabase.h"
#include "TBMFormView.h"
#include "TBMListView.h"

namespace {

using tbm::bench::kRecords;
using tbm::bench::OpenView;
using tbm::bench::Paint;

void Tap(QWidget* widget, QPoint point) {
  QMouseEvent press(QEvent::MouseButtonPress, point, widget->mapToGlobal(point), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(widget, &press);
  QMouseEvent release(QEvent::MouseButtonRelease, point, widget->mapToGlobal(point), Qt::LeftButton,
                      Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(widget, &release);
}

// The form view on the last record, editing allowed.
struct Form : OpenView<tbm::app::CTBMFormView> {
  Form() : OpenView(true) {
    document->SetViewFlags(tbm::app::kFormViewKind,
                           document->GetViewFlags(tbm::app::kFormViewKind) | 1);
    document->SetRecordIndex(static_cast<std::int16_t>(kRecords - 1));
    view->OnUpdate(nullptr, tbm::app::kHintNavigation);
    QApplication::processEvents();
  }
};

// The list view with editing in the list allowed and row 2 selected.
struct List : OpenView<tbm::app::CTBMListView> {
  List() : OpenView(true) {
    document->SetViewFlags(tbm::app::kListViewKind,
                           document->GetViewFlags(tbm::app::kListViewKind) | 1);
    view->OnUpdate(nullptr, tbm::app::kHintOptions);
    QApplication::processEvents();
    Tap(view.get(), Cell());
  }
  QPoint Cell() const { return view->RowBand(2).topLeft() + QPoint(10, 4); }
};

void BM_FormView_TapToEditor(benchmark::State& state) {
  Form form;
  const QPoint value = form.view->ValueRect(tbm::bench::kName).center();
  for (auto _ : state) {
    Tap(form.view.get(), value);
    QImage image = Paint(form.view.get());
    benchmark::DoNotOptimize(image.constBits());
    state.PauseTiming();
    if (!form.view->cellEditActive() || !form.view->EndEdit()) std::abort();
    // The ended editor's control goes from the event loop, as it does in
    // the program.
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_FormView_TapToEditor)->Unit(benchmark::kMicrosecond);

void BM_FormView_Repaint(benchmark::State& state) {
  Form form;
  for (auto _ : state) {
    QImage image = Paint(form.view.get());
    benchmark::DoNotOptimize(image.constBits());
  }
}
BENCHMARK(BM_FormView_Repaint)->Unit(benchmark::kMicrosecond);

void BM_ListView_TapToEditor(benchmark::State& state) {
  List list;
  for (auto _ : state) {
    Tap(list.view.get(), list.Cell());
    QImage image = Paint(list.view.get());
    benchmark::DoNotOptimize(image.constBits());
    state.PauseTiming();
    if (!list.view->cellEditActive() || !list.view->EndEdit()) std::abort();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    state.ResumeTiming();
  }
}
BENCHMARK(BM_ListView_TapToEditor)->Unit(benchmark::kMicrosecond);

void BM_ListView_EndEditToRow(benchmark::State& state) {
  List list;
  int n = 0;
  for (auto _ : state) {
    state.PauseTiming();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    Tap(list.view.get(), list.Cell());
    auto* edit = dynamic_cast<tbm::app::CFieldEdit*>(list.view->editorControl());
    if (edit == nullptr) std::abort();
    edit->selectAll();
    edit->insertPlainText(QStringLiteral("Edited name %1").arg(++n % 2));
    state.ResumeTiming();
    if (!list.view->EndEdit()) std::abort();
    QImage image = Paint(list.view.get());
    benchmark::DoNotOptimize(image.constBits());
  }
}
BENCHMARK(BM_ListView_EndEditToRow)->Unit(benchmark::kMicrosecond);

void BM_ListView_Repaint(benchmark::State& state) {
  List list;
  for (auto _ : state) {
    QImage image = Paint(list.view.get());
    benchmark::DoNotOptimize(image.constBits());
  }
}
BENCHMARK(BM_ListView_Repaint)->Unit(benchmark::kMicrosecond);

const bool kPairs = [] {
  tbm::bench::ComparePair("BM_FormView_TapToEditor", "BM_FormView_Repaint", 3.0);
  tbm::bench::ComparePair("BM_ListView_TapToEditor", "BM_ListView_Repaint", 3.0);
  tbm::bench::ComparePair("BM_ListView_EndEditToRow", "BM_ListView_Repaint", 3.0);
  return true;
}();

}  // namespace
