// Qt's own texts (the file dialog, its overwrite question, the standard buttons) in the user's language.
#pragma once

#include <QLocale>

namespace app {

// Installs Qt's translations for `locale` into the running application; false when there are none for
// that language (Qt's English texts stay). Call once, after the application object exists.
bool LoadQtTranslations(const QLocale& locale = QLocale());

}  // namespace app
