#include "app/translations.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#include <QTranslator>

namespace app {

bool LoadQtTranslations(const QLocale& locale) {
  // "qt_<lang>" bundles qtbase and the other modules' catalogues; the translator lives as long as the
  // application that uses it.
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (!translator->load(locale, QStringLiteral("qt"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  return QCoreApplication::installTranslator(translator);
}

QString ProgramTranslationsDir() {
  return QDir::cleanPath(QCoreApplication::applicationDirPath() +
                         QStringLiteral("/../share/tonvik/translations"));
}

ProgramTexts LoadProgramTranslations(const QLocale& locale, const QString& dir, std::FILE* errors) {
  if (locale.language() == QLocale::Japanese) return ProgramTexts::kJapanese;
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (!translator->load(QStringLiteral("tonvik_en"), dir) ||
      !QCoreApplication::installTranslator(translator)) {
    delete translator;
    std::fprintf(errors, "tonvik: cannot load the English texts from %s\n",
                 QFile::encodeName(dir).constData());
    std::fflush(errors);
    return ProgramTexts::kEnglishMissing;
  }
  return ProgramTexts::kEnglish;
}

void LoadTranslations() {
  const QLocale locale;
  LoadQtTranslations(locale);
  LoadProgramTranslations(locale);
}

}  // namespace app
