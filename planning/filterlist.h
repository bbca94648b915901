#pragma once

#include <QList>
#include <QString>

class SettingsStore;

// The store's side of the main window's filter list: the filter names in the order the "Filters" section
// keeps them, each with whether it is selected.
struct FilterListEntry {
    QString name;
    bool selected = false;
};

// Every filter is loaded, however many there are.
QList<FilterListEntry> loadFilterList(const SettingsStore& settings);
