#include "planning/memberrow.h"

#include "base/languagetexts.h"
#include "base/textids.h"
#include "mailbox/mailboxitem.h"
#include "planning/colourrules.h"
#include "planning/enginestate.h"
#include "planning/memberquery.h"
#include "planning/planninggrid.h"
#include "planning/planningmatrix.h"
#include "planning/querycontext.h"

#include <QLocale>

#include <algorithm>
#include <bit>
#include <cmath>
#include <iterator>
#include <optional>
#include <utility>

namespace {

constexpr QStringView kSeparator = u"<br>------------<br>";
static_assert(ColourRules::kSlots == 17, "one grid colour per slot");
static_assert(kAppointmentTimesLength == 12, "a piece keeps its times");

} // namespace

MemberRow::MemberRow(const QueryContext& context, const QDate& startDate, const QDate& lastDay,
                     const QString& restriction)
    : m_context(context), m_startDate(startDate), m_lastColumn(startDate.daysTo(lastDay) + 1),
      m_restriction(restriction), m_privateText(context.texts.message(Message::PrivateAppointment)),
      m_privateHtml(htmlText(m_privateText))
{
    m_recent.fill(-1);
    if (context.memory && !context.memory->busy) {
        m_memory = context.memory;
        m_memory->busy = true;
        ++m_memory->query;
        m_memory->rows.resize(std::size_t(PlanningMatrix::kRows));
    }
}

MemberRow::~MemberRow()
{
    if (!m_memory)
        return;
    // The cells this query wrote point into its texts; the texts of the one before go.
    m_memory->texts = std::move(m_texts);
    m_memory->busy = false;
}

void MemberRow::Piece::writeTimes(QChar* out) const
{
    const auto time = [](quint32 minutePlusOne) {
        return minutePlusOne ? QTime::fromMSecsSinceStartOfDay(int(minutePlusOne - 1) * 60000) : QTime();
    };
    writeAppointmentTimes(out, time(key.flagsAndTimes & 0x7FF), time(key.flagsAndTimes >> 11 & 0x7FF));
}

namespace {

// A time's minute of the day plus one in 11 bits, 0 for an invalid time.
quint32 minutePlusOne(const QTime& time)
{
    const int ms = time.msecsSinceStartOfDay();
    return !time.isNull() && ms >= 0 && ms < 86400000 ? quint32(ms / 60000 + 1) : 0;
}

} // namespace

// Compares this query's inputs with the last query's once, rather than every row's with its own.
void MemberRow::takeInputs()
{
    if (!m_memory || m_inputs)
        return;
    const EngineState& engine = m_context.engine;
    const PlanningGrid& grid = m_context.grid;
    Inputs inputs{m_startDate,        m_lastColumn,       grid.columns(),       grid.fixedRows(),
                  grid.rows(),        engine.hidePrivate, engine.useFilters,    engine.filteredOnly,
                  engine.showDetails, engine.showTimes,   engine.defaultColour, engine.defaultColourHtml,
                  m_privateText,      m_restriction,      QLocale().name(),     m_context.rules};
    if (!m_memory->inputsNumber || !(inputs == m_memory->inputs)) {
        m_memory->inputs = std::move(inputs);
        ++m_memory->inputsNumber;
    }
    m_inputs = m_memory->inputsNumber;
}

void MemberRow::begin(int row)
{
    // The slots' colours as the grid takes them; the rules load after the row is made.
    for (int priority = 1; priority < ColourRules::kSlots; ++priority)
        m_slotColours[std::size_t(priority)] = m_context.rules.slot(priority).gridColour.toLongLong();
    takeInputs();
    m_row = row;
    m_cells.assign(std::size_t(std::clamp(m_context.grid.columns(), 0, PlanningMatrix::kColumns)), Cell{});
    m_pieces.clear();
    m_currentColumn = -1;
    m_calendar = 0;
    m_replaying = false;
}

MemberRow::RememberedRow* MemberRow::rememberedRow()
{
    return m_memory && PlanningMatrix::contains(m_row, 0) ? &m_memory->rows[std::size_t(m_row)] : nullptr;
}

void MemberRow::found(quint64 revision)
{
    m_calendar = revision;
    const RememberedRow* row = rememberedRow();
    m_replaying = row && revision && row->calendar == revision && row->inputs && row->inputs == m_inputs &&
                  m_pieces.empty();
}

int MemberRow::textOf(const MailboxItem& item)
{
    if (item.sensitivity == MailboxItem::Private) {
        if (m_privateIndex < 0) {
            m_privateIndex = int(m_texts.size());
            m_texts.push_back({m_privateText, m_privateHtml});
        }
        return m_privateIndex;
    }
    // A text kept here holds on to the subject's characters, so a subject found at the same place with the
    // same length is the same subject.
    const QString& subject = item.subject;
    const auto where = quintptr(subject.constData());
    qint32& recent = m_recent[((where >> 3) ^ (where >> 13)) % m_recent.size()];
    if (recent >= 0) {
        const QString& known = m_texts[std::size_t(recent)].shown;
        if (known.constData() == subject.constData() && known.size() == subject.size())
            return recent;
    }
    recent = qint32(m_texts.size());
    m_texts.push_back({subject, htmlText(subject)});
    return recent;
}

quint32 MemberRow::matchingSlots(const MailboxItem& item)
{
    const auto slotsOf = [this](QHash<QString, quint32>& known, const QString& text, bool categories) {
        auto found = known.constFind(text);
        if (found == known.constEnd())
            found = known.insert(text, m_context.rules.matchingSlots(text, categories));
        return *found;
    };
    return slotsOf(m_subjectSlots, item.subject, false) | slotsOf(m_categoriesSlots, item.categories, true);
}

void MemberRow::add(const MailboxItem& item)
{
    const EngineState& engine = m_context.engine;
    if (m_replaying || (item.sensitivity == MailboxItem::Private && engine.hidePrivate))
        return;

    // The first day shown, and the last moment counted. Dates and times are taken apart once: arithmetic on
    // local date-times would convert them through the time zone at every step.
    QDate firstDay = item.start.date();
    QTime firstTime = item.start.time();
    if (firstDay < m_startDate) {
        firstDay = m_startDate;
        firstTime = QTime(0, 0);
    }
    const QDate endDay = item.end.date();
    const QTime endTime = item.end.time();
    const QDate lastCounted = item.allDay ? endDay.addDays(-1) : endDay;
    // Rounded to the nearest day, halves to even.
    const qint64 dayCount = MemberQuery::dayCount(firstDay, firstTime, lastCounted, endTime);
    if (dayCount < 1)
        return;

    const qint32 text = textOf(item);
    const qint64 firstColumn = m_startDate.daysTo(firstDay) + 1;
    std::optional<quint32> matching;
    for (qint64 j = 1; j <= dayCount; ++j) {
        const qint64 column = firstColumn + j - 1;
        if (column > m_lastColumn)
            return;
        if (column < 1 || column >= qint64(m_cells.size()))
            continue;
        Cell& cell = m_cells[std::size_t(column)];

        // The colour rules, as colourCell would colour the matrix cell: a rule above the cell's rank
        // takes it over; a cell no rule took gets the default colour unless only filtered cells are coloured.
        if (engine.useFilters) {
            if (!matching)
                matching = matchingSlots(item);
            if (const quint32 above = *matching & (~0u << (std::max<int>(cell.rank, 0) + 1))) {
                cell.rank = qint8(std::countr_zero(above));
                cell.colour = cell.rank;
            }
        }
        if (cell.rank == 0 && !engine.filteredOnly)
            cell.colour = Default;

        // A continuing day and an all-day event carry no times. With only filtered appointments shown, an
        // appointment no rule coloured adds nothing to the grid text; with details hidden, the grid shows
        // none.
        const bool withTimes = j == 1 && !item.allDay;
        quint8 flags = withTimes ? Piece::Times : 0;
        if (withTimes && engine.showTimes)
            flags |= Piece::GridTimes;
        if (!engine.showDetails)
            flags |= Piece::Clear;
        else if (!(engine.filteredOnly && cell.rank <= 0))
            flags |= Piece::Append;

        const auto index = qint32(m_pieces.size());
        Piece& piece = m_pieces.emplace_back();
        piece.text = text;
        piece.next = -1;
        const QString& shown = m_texts[std::size_t(text)].shown;
        piece.key.shown = shown.constData();
        piece.key.length = qint32(shown.size());
        piece.key.flagsAndTimes =
            quint32(flags) << 22 | (withTimes ? minutePlusOne(firstTime) | minutePlusOne(endTime) << 11 : 0);
        if (cell.last >= 0)
            m_pieces[std::size_t(cell.last)].next = index;
        else
            cell.first = index;
        cell.last = index;
        m_currentColumn = int(column);
    }
}

// A text made of `segments` (a function that hands each part in turn to the function it is given), `length`
// characters in all: the previous text when it reads the same, else a new string. A text that may read the
// same is put together in a buffer kept for the query first, so that it is compared in one go.
template <typename Segments>
QString MemberRow::reusedOrNew(qsizetype length, const QString* previous, Segments segments)
{
    const auto write = [&segments](QChar* out) {
        segments([&out](QStringView part) { out = std::copy(part.begin(), part.end(), out); });
    };
    if (!previous || previous->size() != length) {
        QString text(length, Qt::Uninitialized);
        write(text.data());
        return text;
    }
    m_scratch.resize(std::size_t(length));
    write(m_scratch.data());
    const QStringView text(m_scratch.data(), length);
    if (previous && *previous == text)
        return *previous;
    return text.toString();
}

// The cell's texts joined by the separator, each led by its times where it has them.
QString MemberRow::cellHtml(const Cell& cell, const QString* previous)
{
    const Piece& first = m_pieces[std::size_t(cell.first)];
    if (first.next < 0 && !(first.flags() & Piece::Times))
        return m_texts[std::size_t(first.text)].html;

    qsizetype length = -kSeparator.size();
    for (qint32 p = cell.first; p >= 0; p = m_pieces[std::size_t(p)].next) {
        const Piece& piece = m_pieces[std::size_t(p)];
        length += kSeparator.size() + m_texts[std::size_t(piece.text)].html.size() +
                  (piece.flags() & Piece::Times ? kAppointmentTimesLength : 0);
    }
    return reusedOrNew(length, previous, [&](const auto& put) {
        for (qint32 p = cell.first; p >= 0; p = m_pieces[std::size_t(p)].next) {
            const Piece& piece = m_pieces[std::size_t(p)];
            if (p != cell.first)
                put(kSeparator);
            if (piece.flags() & Piece::Times) {
                QChar times[kAppointmentTimesLength];
                piece.writeTimes(times);
                put(QStringView(times, kAppointmentTimesLength));
            }
            put(m_texts[std::size_t(piece.text)].html);
        }
    });
}

// The grid text as appending the pieces one by one leaves it: each growing piece goes after a carriage
// return, or alone while the text is empty; hidden details empty it.
QString MemberRow::gridText(const Cell& cell, const QString* previous)
{
    const auto gridLength = [this](const Piece& piece) {
        return m_texts[std::size_t(piece.text)].shown.size() +
               (piece.flags() & Piece::GridTimes ? kAppointmentTimesLength : 0);
    };
    // The pieces that count: after the last emptying, from the first that leaves the text non-empty.
    qint32 from = -1;
    qsizetype length = 0;
    int count = 0;
    for (qint32 p = cell.first; p >= 0; p = m_pieces[std::size_t(p)].next) {
        const Piece& piece = m_pieces[std::size_t(p)];
        if (piece.flags() & Piece::Clear) {
            from = -1;
            length = 0;
            count = 0;
        }
        else if ((piece.flags() & Piece::Append) && (from >= 0 || gridLength(piece) > 0)) {
            if (from < 0)
                from = p;
            length += gridLength(piece);
            ++count;
        }
    }
    if (from < 0)
        return QString();
    const Piece& first = m_pieces[std::size_t(from)];
    if (count == 1 && !(first.flags() & Piece::GridTimes))
        return m_texts[std::size_t(first.text)].shown;

    static constexpr QChar kLineBreak = u'\r';
    return reusedOrNew(length + count - 1, previous, [&](const auto& put) {
        for (qint32 p = from; p >= 0; p = m_pieces[std::size_t(p)].next) {
            const Piece& piece = m_pieces[std::size_t(p)];
            if (!(piece.flags() & Piece::Append))
                continue;
            if (p != from)
                put(QStringView(&kLineBreak, 1));
            if (piece.flags() & Piece::GridTimes) {
                QChar times[kAppointmentTimesLength];
                piece.writeTimes(times);
                put(QStringView(times, kAppointmentTimesLength));
            }
            put(m_texts[std::size_t(piece.text)].shown);
        }
    });
}

namespace {

// What the reset gives a cell.
const PlanningCell& emptyCell()
{
    static const PlanningCell empty;
    return empty;
}

// Assigns `value` unless `field` holds the very same characters already: most of a refresh writes what the
// cells hold, and a copy of a string touches its count, which for the cells' own strings is a cache miss.
void assign(QString& field, const QString& value)
{
    if (field.constData() != value.constData() || field.size() != value.size())
        field = value;
}

void assignEmpty(PlanningCell& cell)
{
    const PlanningCell& empty = emptyCell();
    assign(cell.html, empty.html);
    assign(cell.gridColour, empty.gridColour);
    assign(cell.htmlColour, empty.htmlColour);
    assign(cell.ruleRank, empty.ruleRank);
}

} // namespace

void MemberRow::takeGridTexts()
{
    PlanningGrid& grid = m_context.grid;
    m_takenFirstRow = grid.fixedRows();
    m_takenRows = std::max(grid.rows() - m_takenFirstRow, 0);
    m_takenColumns = std::clamp(grid.columns(), 0, PlanningMatrix::kColumns);
    m_taken.clear();
    m_taken.reserve(std::size_t(m_takenRows) * std::size_t(m_takenColumns));
    for (int row = m_takenFirstRow; row < m_takenFirstRow + m_takenRows; ++row) {
        for (int column = 0; column < m_takenColumns; ++column)
            m_taken.push_back(column > 0 ? grid.takeText(row, column) : QString());
    }
}

QString* MemberRow::taken(int row, int column)
{
    row -= m_takenFirstRow;
    if (row < 0 || row >= m_takenRows || column < 1 || column >= m_takenColumns)
        return nullptr;
    return &m_taken[std::size_t(row) * std::size_t(m_takenColumns) + std::size_t(column)];
}

// The grid text of a day cell of the row being written: the very string taken out before the layout when
// it is that one, else a copy.
void MemberRow::giveGridText(int column, const QString& text)
{
    QString* before = taken(m_row, column);
    if (before && before->constData() == text.constData() && before->size() == text.size())
        m_context.grid.setText(m_row, column, std::move(*before));
    else
        m_context.grid.setText(m_row, column, text);
}

bool MemberRow::resets(int row) const
{
    return row >= m_context.grid.fixedRows() && row < m_context.grid.rows() &&
           PlanningMatrix::contains(row, 0);
}

void MemberRow::clear(int row)
{
    if (!resets(row))
        return;
    PlanningGrid& grid = m_context.grid;
    const PlanningGrid::QuietChanges quiet(grid);
    const int matrixColumns = std::min(grid.columns(), PlanningMatrix::kColumns);
    for (int column = 1; column < grid.columns(); ++column) {
        if (column < matrixColumns)
            assignEmpty(m_context.matrix.cell(row, column));
        grid.setText(row, column, QString());
    }
}

void MemberRow::write(bool complete)
{
    if (m_row < 0 || (m_pieces.empty() && !m_replaying)) {
        clear(m_row);
        m_row = -1;
        return;
    }
    const EngineState& engine = m_context.engine;
    PlanningGrid& grid = m_context.grid;
    // One announcement for the row instead of several per cell.
    const PlanningGrid::QuietChanges quiet(grid);
    const bool resets = MemberRow::resets(m_row);

    // What the last query gave the row, when its pieces' texts are still there to compare with.
    RememberedRow* row = rememberedRow();
    const bool known = !m_replaying && row && row->query + 1 == m_memory->query;
    if (row)
        row->cells.resize(m_cells.size());
    if (m_replaying) {
        for (std::size_t column = 0; column < m_cells.size(); ++column)
            m_cells[column] = row->cells[column].cell;
        m_currentColumn = row->currentColumn;
    }
    m_keys.clear();

    const QString defaultColour = ColourRules::colourText(engine.defaultColour);
    const qint64 defaultNumber = defaultColour.toLongLong();
    for (int column = 1; column < int(m_cells.size()); ++column) {
        const Cell& cell = m_cells[std::size_t(column)];
        PlanningCell& out = m_context.matrix.cell(m_row, column);
        if (cell.first < 0) {
            if (row && !m_replaying)
                row->cells[std::size_t(column)].count = 0;
            if (resets) {
                assignEmpty(out);
                grid.setText(m_row, column, QString());
            }
            continue;
        }
        RememberedCell* remembered = row ? &row->cells[std::size_t(column)] : nullptr;
        if (m_replaying) {
            assign(out.html, remembered->html);
            giveGridText(column, remembered->grid);
        }
        else {
            const auto offset = qint32(m_keys.size());
            for (qint32 p = cell.first; p >= 0; p = m_pieces[std::size_t(p)].next)
                m_keys.push_back(m_pieces[std::size_t(p)].key);
            const auto count = qint32(m_keys.size()) - offset;
            if (known && remembered->count == count &&
                std::equal(m_keys.begin() + offset, m_keys.end(), row->keys.begin() + remembered->offset)) {
                assign(out.html, remembered->html);
                giveGridText(column, remembered->grid);
            }
            else {
                out.html = cellHtml(cell, remembered ? &remembered->html : nullptr);
                QString shown = gridText(cell, remembered ? &remembered->grid : nullptr);
                giveGridText(column, shown);
                if (remembered) {
                    remembered->html = out.html;
                    remembered->grid = std::move(shown);
                }
            }
            if (remembered) {
                remembered->offset = offset;
                remembered->count = count;
            }
        }
        const PlanningCell& empty = emptyCell();
        if (cell.colour == Default) {
            assign(out.gridColour, defaultColour);
            assign(out.htmlColour, engine.defaultColourHtml);
        }
        else if (cell.colour != Untouched) {
            const ColourRules::Slot& slot = m_context.rules.slot(cell.colour);
            assign(out.gridColour, slot.gridColour);
            assign(out.htmlColour, slot.htmlColour);
        }
        else if (resets) {
            assign(out.gridColour, empty.gridColour);
            assign(out.htmlColour, empty.htmlColour);
        }
        assign(out.ruleRank, ColourRules::rankText(cell.rank));

        grid.setBackColour(m_row, column,
                           cell.colour == Default     ? defaultNumber
                           : cell.colour == Untouched ? out.gridColour.toLongLong()
                                                      : m_slotColours[std::size_t(cell.colour)]);
        grid.setAlignment(m_row, column, PlanningGrid::Alignment::LeftTop);
    }
    // Columns the matrix does not hold: the reset empties their grid text.
    for (int column = int(m_cells.size()); resets && column < grid.columns(); ++column)
        grid.setText(m_row, column, QString());
    grid.setCurrentCell(m_row, m_currentColumn);
    // The row's taken texts that were not given back go now rather than at the end of the query.
    for (int column = 1; column < m_takenColumns; ++column) {
        if (QString* before = taken(m_row, column))
            *before = QString();
    }
    // A row written again keeps its record as it was; its keys, which point into the texts of the query
    // that wrote it, go out of use with them.
    if (row && !m_replaying) {
        std::swap(row->keys, m_keys);
        row->query = m_memory->query;
        for (std::size_t column = 0; column < m_cells.size(); ++column)
            row->cells[column].cell = m_cells[column];
        row->currentColumn = m_currentColumn;
        row->calendar = complete ? m_calendar : 0;
        row->inputs = m_inputs;
    }

    m_row = -1;
    m_pieces.clear();
    m_replaying = false;
}
