#include "platform/qt/termination_signals.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QObject>
#include <QSocketNotifier>
#include <csignal>

namespace platform {
namespace {

int signalPipe[2] = {-1, -1};  // [1] written by the handler, [0] read by the notifier

extern "C" void WriteSignal(int number) {
  const char byte = static_cast<char>(number);
  const ssize_t written = write(signalPipe[1], &byte, 1);
  (void)written;  // a full pipe already holds a wake-up
}

}  // namespace

bool OnTerminationSignals(QObject* context, std::function<void()> quit) {
  if (signalPipe[0] < 0 && socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) {
    return false;
  }
  auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, context);
  QObject::connect(notifier, &QSocketNotifier::activated, context, [quit = std::move(quit)] {
    char byte;
    if (read(signalPipe[0], &byte, 1) == 1) quit();
  });
  struct sigaction action {};
  action.sa_handler = &WriteSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  return sigaction(SIGTERM, &action, nullptr) == 0 && sigaction(SIGHUP, &action, nullptr) == 0;
}

}  // namespace platform
