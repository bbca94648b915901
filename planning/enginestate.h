#pragma once

#include <QDate>
#include <QString>

// The display check boxes, in box order 0 to 5: details, private hidden, filters, filtered only, weekends
// hidden, times.
constexpr int kDisplayFlagCount = 6;

// The values the queries and the views share: the period, the six display flags and the default colour.
struct EngineState {
    QDate startDate;
    QDate endDate;

    // The display check boxes, in box order 0 to 5.
    bool showDetails = false;
    bool hidePrivate = false;
    bool useFilters = false;
    bool filteredOnly = false;
    bool hideWeekends = false;
    bool showTimes = false;

    bool queryRunning = false;
    bool headersValid = false;

    double defaultColour = 50372;
    QString defaultColourHtml = QStringLiteral("C4C400");
};
