// Key-to-port latency: from a Qt key event reaching the application to the output device's short-message
// call, through the keyboard window's event filter, the key logic and the port. Target: p99 below 100 us.
// Runs offscreen unless QT_QPA_PLATFORM says otherwise.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

#include "app/main_window.h"
#include "app/windows.h"
#include "midi/port.h"
#include "platform/midi_out.h"
#include "platform/qt/key_position.h"

namespace {

using Clock = std::chrono::steady_clock;

// A device that notes when its short-message call happens.
class TimingDevice final : public platform::MidiOutDevice {
 public:
  platform::MidiOutCaps Caps() const override { return {}; }
  bool Open() override { return true; }
  void Close() override {}
  void ShortMsg(uint32_t) override { last = Clock::now(); }
  void LongMsg(std::span<const uint8_t>) override {}
  void Reset() override {}
  void SetVolume(uint32_t) override {}
  Clock::time_point last;
};

double Percentile(std::vector<double> samples, double p) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  return samples[static_cast<size_t>(p * static_cast<double>(samples.size() - 1))];
}

// Press and release of the C key (X11 scan code 54), each timed from sending the event to the device call.
void BM_KeyToPort(benchmark::State& state) {
  auto device = std::make_shared<TimingDevice>();
  platform::SetMidiOutDevicesForTesting(device, {});
  platform::SetKeySourceForTesting(platform::KeySource::kScanCode);
  const app::ProgramWindows windows = app::CreateWindows();
  std::unique_ptr<app::KeyboardWindow> form(windows.keyboardWindow);
  form->showMessage = [](QMessageBox::Icon, const QString&) {};
  form->keyboardModifiers = [] { return Qt::KeyboardModifiers(); };
  form->show();
  QCoreApplication::processEvents();
  form->AppActivate();

  std::vector<double> samples;
  for (auto _ : state) {
    for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
      QKeyEvent event(type, Qt::Key_C, Qt::NoModifier, 54, 0, 0, QStringLiteral("c"));
      const Clock::time_point start = Clock::now();
      QCoreApplication::sendEvent(form.get(), &event);
      const double us = std::chrono::duration<double, std::micro>(device->last - start).count();
      samples.push_back(us);
      state.SetIterationTime(us / 1e6);
    }
    QCoreApplication::processEvents();
  }
  state.counters["p50_us"] = Percentile(samples, 0.50);
  state.counters["p99_us"] = Percentile(samples, 0.99);
  state.counters["max_us"] = Percentile(samples, 1.0);
  form->close();
  form.reset();
  midi::ClosePort();
  platform::ResetKeySourceForTesting();
  platform::ClearMidiOutDevicesForTesting();
}
BENCHMARK(BM_KeyToPort)->UseManualTime()->Iterations(5000)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  QTemporaryDir config;  // the window reads and writes its settings here, not in the user's store
  qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication application(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
