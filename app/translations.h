// The texts in the user's language: Qt's own (the file dialog, its overwrite question, the standard
// buttons) and the program's. The program's texts are written in Japanese; every other language gets the
// English texts of tonvik_en.qm.
#pragma once

#include <QLocale>
#include <QString>
#include <cstdio>

namespace app {

// Installs Qt's translations for `locale` into the running application; false when there are none for
// that language (Qt's English texts stay). Call once, after the application object exists.
bool LoadQtTranslations(const QLocale& locale = QLocale());

// Where the program's translations lie: share/tonvik/translations beside the folder of the executable,
// the same in the build tree and installed.
QString ProgramTranslationsDir();

enum class ProgramTexts { kJapanese, kEnglish, kEnglishMissing };

// Installs the English texts from `dir` unless `locale` is Japanese. When they cannot be loaded, says so
// once on `errors` and the texts stay Japanese.
ProgramTexts LoadProgramTranslations(const QLocale& locale = QLocale(),
                                     const QString& dir = ProgramTranslationsDir(),
                                     std::FILE* errors = stderr);

// Both of the above for the user's locale; the program entry calls it before it creates a window.
void LoadTranslations();

}  // namespace app
