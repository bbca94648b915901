#pragma once

#include <QDate>
#include <QString>

// The display check boxes, in box order 0 to 5: details, private hidden, filters, filtered only, weekends
// hidden, times.
constexpr int kDisplayFlagCount = 6;

// The values the queries and the views share: the period, the six display flags and the default colour.
struct EngineState {
    QDate StartDate;
    QDate EndDate;

    // The display check boxes, in box order 0 to 5.
    bool ShowDetails = false;
    bool HidePrivate = false;
    bool UseFilters = false;
    bool FilteredOnly = false;
    bool HideWeekends = false;
    bool ShowTimes = false;

    bool QueryRunning = false;
    bool HeadersValid = false;

    double DefaultColor = 50372;
    QString DefaultColorHTML = QStringLiteral("C4C400");
};
