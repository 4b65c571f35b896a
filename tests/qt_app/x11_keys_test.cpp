// The keyboard window on a real X server: keys typed by xdotool under xvfb-run, a held key with the
// server's auto-repeat included, play their notes once each. Skipped where xvfb-run or xdotool is missing.
#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>

namespace {

const QStringList kExpected = {
    QStringLiteral("90 3C 7F"), QStringLiteral("90 3C 00"),  // C held: once, however long
    QStringLiteral("90 48 7F"), QStringLiteral("90 48 00"),  // E: the upper manual's C
    QStringLiteral("90 48 7F"), QStringLiteral("90 48 00"),  // Shift+C: an octave up
    QStringLiteral("90 4B 7F"), QStringLiteral("90 4B 00"),  // the key right of L's row: "]" position
};

class X11Keys : public ::testing::Test {
 protected:
  // Runs the probe under xvfb-run; `lines_` gets its messages, `repeats_` the auto-repeats it saw.
  void RunProbe(const QStringList& arguments) {
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("xvfb-run"));
    const QString xdotool = QStandardPaths::findExecutable(QStringLiteral("xdotool"));
    if (xvfb.isEmpty() || xdotool.isEmpty()) {
      GTEST_SKIP() << "xvfb-run or xdotool is not installed (Debian: xvfb xauth xdotool); the real-X key "
                      "test cannot run here";
    }
    QTemporaryDir config;
    ASSERT_TRUE(config.isValid());
    QProcess probe;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    probe.setProcessEnvironment(environment);
    QStringList command = {QStringLiteral("-a"), QStringLiteral("-s"), QStringLiteral("-screen 0 800x200x24"),
                           QStringLiteral(TONVIK_KEY_PROBE)};
    probe.start(xvfb, command + arguments);
    ASSERT_TRUE(probe.waitForFinished(60000)) << "the probe did not finish";
    const QString errors = QString::fromUtf8(probe.readAllStandardError());
    ASSERT_EQ(probe.exitCode(), 0) << errors.toStdString();
    lines_ = QString::fromUtf8(probe.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_FALSE(lines_.isEmpty());
    const QString last = lines_.takeLast();
    ASSERT_TRUE(last.startsWith(QStringLiteral("autorepeat "))) << last.toStdString();
    repeats_ = last.mid(11).toInt();
  }

  QStringList lines_;
  int repeats_ = 0;
};

TEST_F(X11Keys, TypedKeysPlayTheirNotesOnceEach) {
  RunProbe({});
  if (HasFatalFailure() || IsSkipped()) return;
  EXPECT_GT(repeats_, 0) << "the held key was not auto-repeated by the server";
  EXPECT_EQ(lines_, kExpected);
}

TEST_F(X11Keys, ReleasePressPairsOfTheServerAreRepeatsToo) {
  RunProbe({QStringLiteral("--pairs")});
  if (HasFatalFailure() || IsSkipped()) return;
  EXPECT_GT(repeats_, 0) << "the held key was not auto-repeated by the server";
  EXPECT_EQ(lines_, kExpected);
}

TEST_F(X11Keys, AKeyHeldWhileAnotherProgramTakesTheFocusIsLetGo) {
  RunProbe({QStringLiteral("--focus")});
  if (HasFatalFailure() || IsSkipped()) return;
  // Only the notes: the port's reset and the state of the switch back are not of interest here.
  const QStringList notes = lines_.filter(QRegularExpression(QStringLiteral("^9")));
  // Let go at the switch, then struck again.
  EXPECT_EQ(notes.join(QLatin1Char('|')).toStdString(), "90 39 7F|90 39 00|90 39 7F|90 39 00");
}

}  // namespace
