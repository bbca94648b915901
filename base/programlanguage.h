#pragma once

#include <QLocale>
#include <QString>

// The language the user chose for the program's own texts, spoken by everything else too: day and month
// names and date formats in the grid, the pickers and the reports, and Qt's standard buttons and dialogs.
namespace ProgramLanguage {

// The locale for a language of the language files ("English", "Francais", "Espanol", "Italiano"): the
// system's own when it speaks that language (its country's formats stay), else the language's home
// country. A language of the user's own, and English on a system without a language ("C"), keep the
// system's.
QLocale localeFor(const QString& languageName, const QLocale& system = QLocale::system());

// Makes that locale the default and loads Qt's translations for it into the running application.
void apply(const QString& languageName);

} // namespace ProgramLanguage
