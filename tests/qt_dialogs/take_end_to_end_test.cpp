// A whole take through the real program in an X server: keys in, the edit dialog's text, the saved
// Standard MIDI File read back. Skipped with a message where xvfb-run or xdotool is missing.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <span>
#include <string>

#include "platform/files.h"
#include "record/smf_reader.h"

namespace {

// The first Python that can import `module`; empty when none can.
QString PythonWith(const char* module) {
  for (const char* python : {"python3", "/usr/bin/python3"}) {
    if (QProcess::execute(python, {"-c", QString("import ") + module}) == 0) return python;
  }
  return {};
}

QString Missing() {
  for (const char* tool : {"xvfb-run", "xdotool"}) {
    if (QStandardPaths::findExecutable(tool).isEmpty()) return QString(tool) + " is not installed";
  }
  return {};
}

TEST(TakeEndToEnd, KeysDialogAndSavedFile) {
  const QString missing = Missing();
  if (!missing.isEmpty()) GTEST_SKIP() << missing.toStdString();
  const QString tonvik = TONVIK_PROGRAM;
  const QString script = TAKE_SCRIPT;
  ASSERT_TRUE(QFile::exists(tonvik)) << tonvik.toStdString();
  QTemporaryDir work;
  ASSERT_TRUE(work.isValid());

  QProcess run;
  run.setProcessChannelMode(QProcess::MergedChannels);
  run.start("xvfb-run",
            {"-a", "-s", "-screen 0 1280x1024x24", "bash", script, tonvik, CLIPBOARD_READER, work.path()});
  ASSERT_TRUE(run.waitForFinished(120'000)) << "timed out";
  const std::string output = run.readAll().toStdString();
  ASSERT_EQ(run.exitCode(), 0) << output;

  QFile clipboard(work.filePath("clipboard.txt"));
  ASSERT_TRUE(clipboard.open(QIODevice::ReadOnly));
  EXPECT_EQ(clipboard.readAll().trimmed().toStdString(), "c8e8>c8r8");

  const std::string bytes = platform::ReadWholeFile(work.filePath("take.mid").toStdString());
  const record::SmfTake take =
      record::ReadSmfNotes(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
  ASSERT_EQ(take.Notes.size(), 3u);
  const uint8_t notes[] = {60, 64, 72};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(take.Notes[i].Note, notes[i]);
    EXPECT_EQ(take.Notes[i].TimeMs, 250u * i);  // eighths at tempo 120
  }
  EXPECT_EQ(take.StopMs, 1000u);

  // A third-party reader, where there is one, sees the same notes.
  if (const QString python = PythonWith("mido"); !python.isEmpty()) {
    QProcess mido;
    mido.start(python, {"-c",
                        "import mido, sys\n"
                        "f = mido.MidiFile(sys.argv[1])\n"
                        "print(' '.join(str(m.note) for m in f if m.type == 'note_on' and m.velocity))",
                        work.filePath("take.mid")});
    ASSERT_TRUE(mido.waitForFinished(30'000));
    EXPECT_EQ(mido.readAllStandardOutput().trimmed().toStdString(), "60 64 72");
  }

  // The program saved the dialog's values when it ended.
  QSettings saved(work.filePath("config/Tonvik/Tonvik.conf"), QSettings::IniFormat);
  EXPECT_EQ(saved.value("Convert/FileName").toString(), work.filePath("take.mid"));
  EXPECT_EQ(saved.value("Convert/AllLength").toString(), "8&2");
}

}  // namespace
