#include "base/programlanguage.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace ProgramLanguage {

QLocale localeFor(const QString& languageName, const QLocale& system)
{
    struct Known {
        QLatin1StringView name;
        QLocale::Language language;
        QLocale::Territory home;
    };
    static constexpr Known kKnown[] = {
        {QLatin1StringView("English"), QLocale::English, QLocale::UnitedKingdom},
        {QLatin1StringView("Francais"), QLocale::French, QLocale::France},
        {QLatin1StringView("Espanol"), QLocale::Spanish, QLocale::Spain},
        {QLatin1StringView("Italiano"), QLocale::Italian, QLocale::Italy},
    };
    for (const Known& known : kKnown) {
        if (languageName.compare(known.name, Qt::CaseInsensitive) != 0)
            continue;
        if (system.language() == known.language ||
            (known.language == QLocale::English && system.language() == QLocale::C))
            return system;
        return QLocale(known.language, known.home);
    }
    return system;
}

void apply(const QString& languageName)
{
    const QLocale locale = localeFor(languageName);
    QLocale::setDefault(locale);
    QCoreApplication* application = QCoreApplication::instance();
    if (!application)
        return;
    // Debian ships them in qt6-translations-l10n; without them the standard buttons stay in English.
    auto* translator = new QTranslator(application);
    if (translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    else
        delete translator;
}

} // namespace ProgramLanguage
