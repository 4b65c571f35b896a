// Prints the clipboard's text of the X display it runs on; the end-to-end take test reads the edit
// dialog's copied text with it.
#include <QByteArray>
#include <QClipboard>
#include <QGuiApplication>
#include <cstdio>

int main(int argc, char** argv) {
  QGuiApplication application(argc, argv);
  const QByteArray text = QGuiApplication::clipboard()->text().toUtf8();
  std::fwrite(text.data(), 1, static_cast<size_t>(text.size()), stdout);
  return text.isEmpty() ? 1 : 0;
}
