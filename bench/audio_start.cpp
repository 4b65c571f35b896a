// Audio start: from the program's start to the first moment the built-in synthesizer can sound (its
// default soundfont loaded, its audio stream running), which happens off the UI thread, and the UI
// thread's longest stall meanwhile (window creation and showing counted apart). The synthesizer plays
// into a private JACK server with the dummy driver (jackd must be installed): FluidSynth's JACK driver
// is the one that starts here, as on a JACK-only desktop.
// Targets: the UI thread never stalls for more than 50 ms after the window is shown; sound-ready is
// bounded by the soundfont's load.
#include <benchmark/benchmark.h>
#include <jack/jack.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <memory>

#include "app/main_window.h"
#include "app/windows.h"
#include "midi/port.h"
#include "platform/midi_out.h"

namespace {

constexpr const char* kServer = "tonvik-bench";

double readyMs = -1;
double shownMs = -1;
double longestStallMs = -1;
std::string failure;

double Ms(const QElapsedTimer& timer) { return static_cast<double>(timer.nsecsElapsed()) / 1e6; }

bool ServerRuns() {
  jack_status_t status;
  jack_client_t* client = jack_client_open(
      "tonvik_probe", static_cast<jack_options_t>(JackNoStartServer | JackServerName), &status, kServer);
  if (client == nullptr) return false;
  jack_client_close(client);
  return true;
}

void BM_AudioStart(benchmark::State& state) {
  if (readyMs < 0) {
    state.SkipWithError(("the built-in synthesizer did not start: " + failure).c_str());
    return;
  }
  for (auto _ : state) {
    state.SetIterationTime(readyMs / 1e3);
  }
  state.counters["window_shown_ms"] = shownMs;
  state.counters["ui_longest_stall_ms"] = longestStallMs;
}
BENCHMARK(BM_AudioStart)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  QElapsedTimer sinceStart;
  sinceStart.start();
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
  qputenv("JACK_DEFAULT_SERVER", kServer);
  qputenv("JACK_NO_AUDIO_RESERVATION", "1");
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  // The server comes first: on a desktop the sound server runs before the program starts.
  QProcess jackd;
  jackd.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  jackd.start(QStringLiteral("jackd"),
              {QStringLiteral("--no-realtime"), QStringLiteral("-n"), QString::fromLatin1(kServer),
               QStringLiteral("-d"), QStringLiteral("dummy"), QStringLiteral("-r"), QStringLiteral("48000"),
               QStringLiteral("-p"), QStringLiteral("256")});
  for (int i = 0; i < 250 && jackd.state() != QProcess::NotRunning && !ServerRuns(); ++i) QThread::msleep(20);
  if (!ServerRuns()) {
    failure = "no private JACK server (is jackd installed?)";
  } else {
    sinceStart.restart();
    QApplication application(argc, argv);
    std::atomic<int64_t> readyNs{-1};
    std::unique_ptr<app::KeyboardWindow> form(app::CreateWindows().keyboardWindow);
    form->showMessage = [](QMessageBox::Icon, const QString& text) { failure = text.toStdString(); };
    form->keyboardModifiers = [] { return Qt::KeyboardModifiers(); };
    form->show();
    // The settings are read at the first show: the synthesizer's start has begun.
    std::shared_ptr<platform::MidiOutDevice> synth = platform::MidiOutGetDevice(-1);
    if (synth && synth->Prepare([&] { readyNs = sinceStart.nsecsElapsed(); }))
      readyNs = sinceStart.nsecsElapsed();
    shownMs = Ms(sinceStart);
    double last = shownMs;
    longestStallMs = 0;
    while (readyNs < 0 && sinceStart.elapsed() < 60000) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
      const double now = Ms(sinceStart);
      longestStallMs = std::max(longestStallMs, now - last);
      last = now;
    }
    // A moment more for the window's own reaction (the state sent when the output is ready).
    const double settledMs = last;
    while (Ms(sinceStart) < settledMs + 200) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
      const double now = Ms(sinceStart);
      longestStallMs = std::max(longestStallMs, now - last);
      last = now;
    }
    if (readyNs >= 0 && synth && synth->Failure().empty()) {
      readyMs = static_cast<double>(readyNs) / 1e6;
    } else if (synth) {
      failure = synth->Failure();
    }
    form->close();
    form.reset();
    midi::FinalizeMidiDrive();
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  jackd.terminate();
  jackd.waitForFinished(10000);
  return 0;
}
