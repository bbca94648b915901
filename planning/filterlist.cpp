#include "planning/filterlist.h"

#include "base/settingsstore.h"

QList<FilterListEntry> loadFilterList(const SettingsStore& settings)
{
    QList<FilterListEntry> filters;
    for (const auto& [name, value] : settings.list(QStringLiteral("Filters"))) {
        const QString selected = settings.read(name, QStringLiteral("Selected"), QStringLiteral("0"));
        filters.append({name, selected.compare(QLatin1StringView("1"), Qt::CaseInsensitive) == 0});
    }
    return filters;
}
