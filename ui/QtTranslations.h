// Qt's own texts (standard buttons, the file dialog) in the interface
// language, from the translations Qt installs (Debian: qt6-translations-l10n).
#pragma once

#include "msg/StringTable.h"

namespace qv {

// Installs Qt's translation for `language` into the application (once; a
// later call for another language replaces it). True when it was found, or
// when `language` needs none (English). Needs a QCoreApplication.
bool InstallQtTranslations(Language language);

}  // namespace qv
