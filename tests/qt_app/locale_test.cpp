// The windows' texts in both languages: under a Japanese locale every text is what the windows have always
// shown (window_texts_ja.txt, byte for byte); with the English texts loaded no Japanese character is left.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <cstdio>
#include <memory>

#include "app/main_window.h"
#include "app/translations.h"
#include "app/windows.h"
#include "dialogs/about.h"
#include "dialogs/config_form.h"
#include "dialogs/palette.h"
#include "dialogs/rec_form.h"
#include "keyboard_fixture.h"
#include "tests/support/widgets.h"
#include "tonvik/version.h"

namespace app_test {
namespace {

using test_support::RemoveTranslators;
using test_support::Widget;

const QString kGoldenFile = QStringLiteral(TONVIK_TEST_SOURCE_DIR "/tests/qt_app/window_texts_ja.txt");

// One "owner.kind: text" line per visible text of `object` and its descendants, in creation order, but
// for those of the windows it owns; line breaks are written as "\n" and the version as "VERSION", so
// that a new version changes no line.
void CollectTexts(const QObject* object, QStringList& lines) {
  {
    const QString owner = object->objectName().isEmpty()
                              ? QString::fromLatin1(object->metaObject()->className())
                              : object->objectName();
    auto add = [&](const char* kind, QString text) {
      if (text.isEmpty()) return;
      text.replace(QStringLiteral("\n"), QStringLiteral("\\n"));
      text.replace(QString::fromLatin1(tonvik::kVersionText), QStringLiteral("VERSION"));
      lines.push_back(owner + u'.' + QLatin1String(kind) + QStringLiteral(": ") + text);
    };
    if (const auto* action = qobject_cast<const QAction*>(object)) {
      add("text", action->text());
      add("toolTip", action->toolTip());
      add("statusTip", action->statusTip());
    }
    const auto* widget = qobject_cast<const QWidget*>(object);
    if (!widget) return;
    if (widget->isWindow()) add("windowTitle", widget->windowTitle());
    add("toolTip", widget->toolTip());
    add("statusTip", widget->statusTip());
    add("whatsThis", widget->whatsThis());
    if (const auto* label = qobject_cast<const QLabel*>(widget)) add("text", label->text());
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) add("text", button->text());
    if (const auto* group = qobject_cast<const QGroupBox*>(widget)) add("title", group->title());
    if (const auto* edit = qobject_cast<const QLineEdit*>(widget))
      add("placeholder", edit->placeholderText());
    if (const auto* combo = qobject_cast<const QComboBox*>(widget)) {
      for (int i = 0; i < combo->count(); ++i) add("item", combo->itemText(i));
    }
    if (const auto* list = qobject_cast<const QListWidget*>(widget)) {
      for (int i = 0; i < list->count(); ++i) add("item", list->item(i)->text());
    }
    if (const auto* tree = qobject_cast<const QTreeWidget*>(widget)) {
      for (int c = 0; c < tree->columnCount(); ++c) add("header", tree->headerItem()->text(c));
      for (int r = 0; r < tree->topLevelItemCount(); ++r) {
        for (int c = 0; c < tree->columnCount(); ++c) add("cell", tree->topLevelItem(r)->text(c));
      }
    }
  }
  for (const QObject* child : object->children()) {
    const auto* window = qobject_cast<const QWidget*>(child);
    if (!window || !window->isWindow()) CollectTexts(child, lines);
  }
}

bool HasJapanese(const QString& text) {
  for (const char32_t c : text.toUcs4()) {
    if ((c >= 0x3000 && c <= 0x30FF) || (c >= 0x3400 && c <= 0x9FFF) || (c >= 0xFF00 && c <= 0xFFEF)) {
      return true;
    }
  }
  return false;
}

// What LoadProgramTranslations wrote to its error stream.
std::string Load(const QLocale& locale, const QString& dir, app::ProgramTexts& texts) {
  std::FILE* errors = std::tmpfile();
  texts = app::LoadProgramTranslations(locale, dir, errors);
  std::string written(256, '\0');
  std::rewind(errors);
  written.resize(std::fread(written.data(), 1, written.size(), errors));
  std::fclose(errors);
  return written;
}

TEST(ProgramTranslations, EnglishForEveryLocaleButJapanese) {
  QTemporaryDir empty;
  const std::string emptyDir = empty.path().toStdString();
  struct Case {
    QLocale locale;
    bool present;
    app::ProgramTexts texts;
    std::string message;
  };
  const Case cases[] = {
      {QLocale(QLocale::Japanese, QLocale::Japan), true, app::ProgramTexts::kJapanese, ""},
      {QLocale(QLocale::Japanese, QLocale::Japan), false, app::ProgramTexts::kJapanese, ""},
      {QLocale(QLocale::English, QLocale::UnitedStates), true, app::ProgramTexts::kEnglish, ""},
      {QLocale(QLocale::German, QLocale::Germany), true, app::ProgramTexts::kEnglish, ""},
      {QLocale::c(), true, app::ProgramTexts::kEnglish, ""},
      {QLocale(QLocale::French, QLocale::France), false, app::ProgramTexts::kEnglishMissing,
       "tonvik: cannot load the English texts from " + emptyDir + "\n"},
  };
  for (const Case& c : cases) {
    app::ProgramTexts texts{};
    const QString dir = c.present ? app::ProgramTranslationsDir() : empty.path();
    EXPECT_EQ(Load(c.locale, dir, texts), c.message) << c.locale.name().toStdString();
    EXPECT_EQ(texts, c.texts) << c.locale.name().toStdString();
    const bool english = texts == app::ProgramTexts::kEnglish;
    EXPECT_EQ(dialogs::DeviceNotFoundText() == QStringLiteral("The chosen MIDI device was not found"),
              english);
    RemoveTranslators();
  }
}

class LocaleTest : public KeyboardFixture {
 protected:
  void TearDown() override {
    form_.reset();
    RemoveTranslators();
    KeyboardFixture::TearDown();
  }

  // Every window built, the configuration dialog filled with its device rows, and the messages of a
  // capture overflow and of an erased store; their texts one line each.
  QStringList WindowTexts() {
    windows_ = app::CreateWindows();
    form_.reset(windows_.keyboardWindow);
    QStringList messages;
    form_->showMessage = [&](QMessageBox::Icon, const QString& text) { messages.push_back(text); };
    windows_.formConfig->show();
    windows_.formConfig->hide();
    form_->CaptureOverflow();
    form_->EraseSettings();
    QStringList lines;
    for (const QObject* window :
         {static_cast<const QObject*>(form_.get()), static_cast<const QObject*>(windows_.formRec),
          static_cast<const QObject*>(windows_.formProg), static_cast<const QObject*>(windows_.formConfig),
          static_cast<const QObject*>(windows_.formAbout)}) {
      CollectTexts(window, lines);
    }
    for (const QString& text : messages) lines.push_back(QStringLiteral("message: ") + text);
    for (const QString& filter : dialogs::SaveFilters()) lines.push_back(QStringLiteral("filter: ") + filter);
    return lines;
  }

  app::ProgramWindows windows_{};
  std::unique_ptr<app::KeyboardWindow> form_;
};

TEST_F(LocaleTest, JapaneseTextsAreThoseOfBefore) {
  ASSERT_EQ(app::LoadProgramTranslations(QLocale(QLocale::Japanese, QLocale::Japan)),
            app::ProgramTexts::kJapanese);
  const QStringList lines = WindowTexts();
  if (qEnvironmentVariableIsSet("TONVIK_WRITE_WINDOW_TEXTS")) {
    QFile out(kGoldenFile);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    out.write((lines.join(u'\n') + u'\n').toUtf8());
  }
  QFile in(kGoldenFile);
  ASSERT_TRUE(in.open(QIODevice::ReadOnly)) << kGoldenFile.toStdString();
  const QStringList golden = QString::fromUtf8(in.readAll()).split(u'\n', Qt::SkipEmptyParts);
  EXPECT_EQ(lines.join(u'\n').toStdString(), golden.join(u'\n').toStdString());
}

TEST_F(LocaleTest, EnglishLeavesNoJapaneseText) {
  ASSERT_EQ(app::LoadProgramTranslations(QLocale(QLocale::English, QLocale::UnitedKingdom)),
            app::ProgramTexts::kEnglish);
  QStringList japanese;
  for (const QString& line : WindowTexts()) {
    if (HasJapanese(line)) japanese.push_back(line);
  }
  EXPECT_TRUE(japanese.isEmpty()) << japanese.join(u'\n').toStdString();
  // Every family of the palette, too.
  EXPECT_EQ(Widget<QAbstractButton>(windows_.formProg, "Tab1")->text(),
            QStringLiteral("Chromatic Percussion (CP)"));
}

}  // namespace
}  // namespace app_test
