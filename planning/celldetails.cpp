#include "planning/celldetails.h"

#include "planning/planninggrid.h"
#include "planning/planningmatrix.h"

#include <array>
#include <utility>

namespace CellDetailsReader {

namespace {

const QStringList kMemberViews = {QStringLiteral("Planning"),  QStringLiteral("ColorPlanning"),
                                  QStringLiteral("ThisWeek"),  QStringLiteral("NextWeek"),
                                  QStringLiteral("ThisMonth"), QStringLiteral("NextMonth")};
const QStringList kDayViews = {QStringLiteral("Today"), QStringLiteral("Tomorrow"),
                               QStringLiteral("ThisDay")};

// The escapes the queries write into cells, and the no-break space of an empty one.
constexpr std::array<std::pair<QLatin1StringView, char16_t>, 7> kEscapes = {{
    {QLatin1StringView("&lt;"), u'<'},
    {QLatin1StringView("&gt;"), u'>'},
    {QLatin1StringView("&amp;"), u'&'},
    {QLatin1StringView("&quot;"), u'"'},
    {QLatin1StringView("&#39;"), u'\''},
    {QLatin1StringView("&nbsp;"), u' '},
    {QLatin1StringView("&nbsp"), u' '},
}};

// One pass, so that an escaped escape ("&amp;lt;") comes back as the text it was ("&lt;").
QString unescape(const QString& text)
{
    QString plain;
    plain.reserve(text.size());
    for (qsizetype i = 0; i < text.size();) {
        bool replaced = false;
        if (text.at(i) == u'&') {
            for (const auto& [escape, character] : kEscapes) {
                if (QStringView(text).sliced(i).startsWith(escape, Qt::CaseInsensitive)) {
                    plain += QChar(character);
                    i += escape.size();
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced)
            plain += text.at(i++);
    }
    return plain;
}

// The member the team gives for a row or column: the query placed the members in list order, so the
// place says which one; a name that no longer matches (the team changed since) is taken as shown.
QString teamMember(const ShownView& view, int index, const QString& shownName)
{
    const QString member = view.members.value(index);
    return member == shownName || member.startsWith(shownName + QStringLiteral(" <")) ? member : shownName;
}

} // namespace

bool isMemberView(const QString& keyword)
{
    return kMemberViews.contains(keyword);
}

bool isDayView(const QString& keyword)
{
    return kDayViews.contains(keyword);
}

QString displayText(const QString& html)
{
    if (PlanningMatrix::isEmptyHtml(html))
        return {};
    static const QString kBreak = QStringLiteral("<br>");
    QString text = html;
    qsizetype from = 0;
    for (qsizetype found; (found = text.indexOf(kBreak, from, Qt::CaseInsensitive)) >= 0;) {
        text = text.left(found) + u'\n' + text.mid(found + kBreak.size(), kTailLimit);
        from = found + 1;
    }
    return unescape(text);
}

std::optional<CellDetails> read(const PlanningGrid& grid, const PlanningMatrix& matrix, const ShownView& view,
                                int row, int column)
{
    if (view.keyword.isEmpty() || row < grid.fixedRows() || column < grid.fixedColumns() ||
        row >= grid.rows() || column >= grid.columns() || !PlanningMatrix::contains(row, column))
        return std::nullopt;
    CellDetails details;
    details.appointments = displayText(matrix.cell(row, column).html);
    if (isMemberView(view.keyword)) {
        details.heading = grid.text(2, column) + u' ' + grid.text(3, column);
        details.memberName = grid.text(row, 0);
        details.member = teamMember(view, row - grid.fixedRows(), details.memberName);
        // Hidden weekends keep their columns (at no width), so every column is one day.
        if (view.firstDay.isValid())
            details.date = view.firstDay.addDays(column - grid.fixedColumns());
    }
    else if (isDayView(view.keyword)) {
        details.heading = grid.text(0, 2);
        details.memberName = grid.text(1, column);
        details.member = teamMember(view, column - grid.fixedColumns(), details.memberName);
        details.date = view.firstDay;
        const QString summary = matrix.cell(2, column).html;
        if (!PlanningMatrix::isEmptyHtml(summary))
            details.daySummary = displayText(summary);
    }
    return details;
}

} // namespace CellDetailsReader
