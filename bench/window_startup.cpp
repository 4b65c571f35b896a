// Start-up: from the program's start to the keyboard window on the screen (exposed), with the real output
// devices, so that opening the default output (loading its soundfont) is seen not to hold the window back.
// Target: within 300 ms. The first run includes the application's own start (fonts, platform plugin); the
// repetitions measure creating and showing the windows again.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QWindow>
#include <memory>

#include "app/main_window.h"
#include "app/windows.h"
#include "midi/port.h"

namespace {

QElapsedTimer sinceStart;
double coldMs = 0;

// Creates the windows, shows the keyboard window and waits until it is exposed; milliseconds taken.
double ShowWindow(std::unique_ptr<app::TForm1>& form) {
  QElapsedTimer timer;
  timer.start();
  form.reset(app::CreateWindows().form1);
  form->showMessage = [](QMessageBox::Icon, const QString&) {};
  form->keyboardModifiers = [] { return Qt::KeyboardModifiers(); };
  form->show();
  while (!form->windowHandle() || !form->windowHandle()->isExposed()) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    if (timer.elapsed() > 10000) break;
  }
  return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

void Close(std::unique_ptr<app::TForm1>& form) {
  QCoreApplication::processEvents();  // let the first activation run
  form->close();
  form.reset();
  midi::ClosePort();
}

void BM_WindowShown(benchmark::State& state) {
  for (auto _ : state) {
    std::unique_ptr<app::TForm1> form;
    state.SetIterationTime(ShowWindow(form) / 1e3);
    state.PauseTiming();
    Close(form);
    state.ResumeTiming();
  }
  state.counters["cold_start_ms"] = coldMs;
}
BENCHMARK(BM_WindowShown)->UseManualTime()->Iterations(20)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  sinceStart.start();
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication application(argc, argv);
  {
    std::unique_ptr<app::TForm1> form;
    ShowWindow(form);
    coldMs = static_cast<double>(sinceStart.nsecsElapsed()) / 1e6;
    Close(form);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  midi::FinalizeMidiDrive();
  return 0;
}
