#include "mailbox/restriction.h"

#include "base/datetext.h"
#include "mailbox/mailboxerror.h"
#include "mailbox/mailboxitem.h"

#include <vector>

struct Restriction::Node {
    enum class Type { All, Any, Negation, Comparison };
    enum class Field { Start, End, Subject, Body, Categories, MessageClass, Sensitivity, AllDayEvent };
    enum class Op { Equal, NotEqual, Less, LessOrEqual, Greater, GreaterOrEqual };

    Type type = Type::Comparison;
    std::vector<std::shared_ptr<const Node>> operands; // All, Any, Negation

    // Comparison: the item's field on the left, the value on the right. Only the member matching the
    // field's kind is set.
    Field field = Field::Start;
    Op op = Op::Equal;
    QDateTime date;
    QString text;
    double number = 0;
    bool yes = false;
};

namespace {

using Node = Restriction::Node;
using NodePtr = std::shared_ptr<const Node>;
using Field = Node::Field;
using Op = Node::Op;

// Deeper nesting than any query writes is refused, so that hostile text cannot exhaust the stack while
// parsing, matching or freeing the tree.
constexpr int kMaxDepth = 200;

enum class Kind { Date, Text, Number, YesNo };

struct FieldInfo {
    QLatin1StringView name;
    Field field;
    Kind kind;
};

const FieldInfo kFields[] = {
    {QLatin1StringView("Start"), Field::Start, Kind::Date},
    {QLatin1StringView("End"), Field::End, Kind::Date},
    {QLatin1StringView("Subject"), Field::Subject, Kind::Text},
    {QLatin1StringView("Body"), Field::Body, Kind::Text},
    {QLatin1StringView("Categories"), Field::Categories, Kind::Text},
    {QLatin1StringView("MessageClass"), Field::MessageClass, Kind::Text},
    {QLatin1StringView("Sensitivity"), Field::Sensitivity, Kind::Number},
    {QLatin1StringView("AllDayEvent"), Field::AllDayEvent, Kind::YesNo},
};

struct Token {
    enum Type { EndOfText, Open, Close, Property, Operator, Quoted, Number, And, Or, Not, True, False };
    Type type = EndOfText;
    qsizetype at = 0; // 0-based position in the text
    QString source;   // as written, for messages
    QString text;     // Quoted: the value with doubled quotes undone
    double number = 0;
    Op op = Op::Equal;
    const FieldInfo* field = nullptr;
};

QString describe(const Token& token)
{
    if (token.type == Token::EndOfText)
        return QStringLiteral("the end of the text");
    // A quoted value shows with its own quotes.
    if (token.type == Token::Quoted)
        return token.source;
    return u'"' + token.source + u'"';
}

QString opText(Op op)
{
    switch (op) {
    case Op::Equal:
        return QStringLiteral("=");
    case Op::NotEqual:
        return QStringLiteral("<>");
    case Op::Less:
        return QStringLiteral("<");
    case Op::LessOrEqual:
        return QStringLiteral("<=");
    case Op::Greater:
        return QStringLiteral(">");
    case Op::GreaterOrEqual:
        return QStringLiteral(">=");
    }
    return {};
}

// `value op [Field]` reads as `[Field] mirrored(op) value`.
Op mirrored(Op op)
{
    switch (op) {
    case Op::Less:
        return Op::Greater;
    case Op::LessOrEqual:
        return Op::GreaterOrEqual;
    case Op::Greater:
        return Op::Less;
    case Op::GreaterOrEqual:
        return Op::LessOrEqual;
    default:
        return op;
    }
}

[[noreturn]] void fail(const QString& problem, qsizetype at)
{
    throw MailboxError(
        MailboxError::BadRestriction,
        QStringLiteral("Cannot read the restriction: %1 at character %2").arg(problem).arg(at + 1));
}

std::vector<Token> tokenize(const QString& text)
{
    std::vector<Token> tokens;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        const QChar c = text.at(i);
        if (c.isSpace()) {
            ++i;
            continue;
        }
        Token token;
        token.at = i;
        if (c == u'(' || c == u')') {
            token.type = c == u'(' ? Token::Open : Token::Close;
            ++i;
        }
        else if (c == u'[') {
            const qsizetype close = text.indexOf(u']', i + 1);
            if (close < 0)
                fail(QStringLiteral("a property name without its closing \"]\""), i);
            const QString name = text.mid(i + 1, close - i - 1).trimmed();
            for (const FieldInfo& info : kFields) {
                if (name.compare(info.name, Qt::CaseInsensitive) == 0)
                    token.field = &info;
            }
            if (!token.field)
                fail(QStringLiteral("unknown property [%1]").arg(name), i);
            token.type = Token::Property;
            i = close + 1;
        }
        else if (c == u'"' || c == u'\'') {
            // A doubled quote inside the text stands for one quote.
            qsizetype j = i + 1;
            bool closed = false;
            while (j < n) {
                if (text.at(j) == c) {
                    if (j + 1 < n && text.at(j + 1) == c) {
                        token.text += c;
                        j += 2;
                        continue;
                    }
                    closed = true;
                    break;
                }
                token.text += text.at(j);
                ++j;
            }
            if (!closed)
                fail(QStringLiteral("a quoted text without its closing %1").arg(c), i);
            token.type = Token::Quoted;
            i = j + 1;
        }
        else if (c == u'<' || c == u'>' || c == u'=') {
            token.type = Token::Operator;
            const QChar next = i + 1 < n ? text.at(i + 1) : QChar();
            if (c == u'<' && next == u'>') {
                token.op = Op::NotEqual;
                i += 2;
            }
            else if (c != u'=' && next == u'=') {
                token.op = c == u'<' ? Op::LessOrEqual : Op::GreaterOrEqual;
                i += 2;
            }
            else {
                token.op = c == u'=' ? Op::Equal : c == u'<' ? Op::Less : Op::Greater;
                ++i;
            }
        }
        else if (c.isDigit() || ((c == u'-' || c == u'+') && i + 1 < n && text.at(i + 1).isDigit())) {
            qsizetype j = i + 1;
            while (j < n && text.at(j).isDigit())
                ++j;
            if (j + 1 < n && text.at(j) == u'.' && text.at(j + 1).isDigit()) {
                j += 2;
                while (j < n && text.at(j).isDigit())
                    ++j;
            }
            bool ok = false;
            token.number = QStringView(text).mid(i, j - i).toDouble(&ok);
            if (!ok)
                fail(QStringLiteral("\"%1\" is not a number").arg(text.mid(i, j - i)), i);
            token.type = Token::Number;
            i = j;
        }
        else if (c.isLetter()) {
            qsizetype j = i + 1;
            while (j < n && (text.at(j).isLetterOrNumber() || text.at(j) == u'_'))
                ++j;
            const QStringView word = QStringView(text).mid(i, j - i);
            const auto is = [&](const char* keyword) {
                return word.compare(QLatin1StringView(keyword), Qt::CaseInsensitive) == 0;
            };
            if (is("and"))
                token.type = Token::And;
            else if (is("or"))
                token.type = Token::Or;
            else if (is("not"))
                token.type = Token::Not;
            else if (is("true"))
                token.type = Token::True;
            else if (is("false"))
                token.type = Token::False;
            else
                fail(QStringLiteral("unknown word \"%1\"").arg(word), i);
            i = j;
        }
        else {
            fail(QStringLiteral("unexpected character \"%1\"").arg(c), i);
        }
        token.source = text.mid(token.at, i - token.at);
        tokens.push_back(std::move(token));
    }
    Token end;
    end.at = n;
    tokens.push_back(end);
    return tokens;
}

class Parser {
public:
    Parser(std::vector<Token> tokens, const QLocale& locale) : m_tokens(std::move(tokens)), m_locale(locale)
    {
    }

    NodePtr parse()
    {
        NodePtr root = parseAny(0);
        if (peek().type != Token::EndOfText)
            fail(QStringLiteral("unexpected %1 after the end of the condition").arg(describe(peek())),
                 peek().at);
        return root;
    }

private:
    const Token& peek() const { return m_tokens[m_next]; }
    const Token& take()
    {
        const Token& token = m_tokens[m_next];
        // The end of the text stays the current token however often it is asked for.
        if (token.type != Token::EndOfText)
            ++m_next;
        return token;
    }

    NodePtr parseAny(int depth)
    {
        NodePtr first = parseAll(depth);
        if (peek().type != Token::Or)
            return first;
        auto any = std::make_shared<Node>();
        any->type = Node::Type::Any;
        any->operands.push_back(std::move(first));
        while (peek().type == Token::Or) {
            take();
            any->operands.push_back(parseAll(depth));
        }
        return any;
    }

    NodePtr parseAll(int depth)
    {
        NodePtr first = parseUnary(depth);
        if (peek().type != Token::And)
            return first;
        auto all = std::make_shared<Node>();
        all->type = Node::Type::All;
        all->operands.push_back(std::move(first));
        while (peek().type == Token::And) {
            take();
            all->operands.push_back(parseUnary(depth));
        }
        return all;
    }

    NodePtr parseUnary(int depth)
    {
        const Token& token = peek();
        if (token.type == Token::Not) {
            enter(depth, token);
            take();
            auto negation = std::make_shared<Node>();
            negation->type = Node::Type::Negation;
            negation->operands.push_back(parseUnary(depth + 1));
            return negation;
        }
        if (token.type == Token::Open) {
            enter(depth, token);
            take();
            NodePtr inner = parseAny(depth + 1);
            if (peek().type != Token::Close)
                fail(QStringLiteral("expected a closing \")\" instead of %1").arg(describe(peek())),
                     peek().at);
            take();
            return inner;
        }
        return parseComparison();
    }

    static void enter(int depth, const Token& token)
    {
        if (depth >= kMaxDepth)
            fail(QStringLiteral("more than %1 nested levels").arg(kMaxDepth), token.at);
    }

    NodePtr parseComparison()
    {
        const Token& first = take();
        if (first.type == Token::Property) {
            const Token& op = takeOperator(QStringLiteral("after [%1]").arg(first.field->name));
            const Token& value = take();
            if (value.type == Token::Property)
                fail(QStringLiteral("a property can only be compared with a value, not with %1")
                         .arg(value.source),
                     value.at);
            return comparison(*first.field, op.op, value);
        }
        if (isValue(first)) {
            const Token& op = takeOperator(QStringLiteral("after the value %1").arg(describe(first)));
            const Token& property = take();
            if (property.type != Token::Property)
                fail(QStringLiteral("expected a [property] instead of %1").arg(describe(property)),
                     property.at);
            return comparison(*property.field, mirrored(op.op), first);
        }
        fail(QStringLiteral("expected a condition instead of %1").arg(describe(first)), first.at);
    }

    static bool isValue(const Token& token)
    {
        return token.type == Token::Quoted || token.type == Token::Number || token.type == Token::True ||
               token.type == Token::False;
    }

    const Token& takeOperator(const QString& where)
    {
        const Token& op = take();
        if (op.type != Token::Operator)
            fail(QStringLiteral("expected a comparison operator (=, <>, <, <=, >, >=) %1 instead of %2")
                     .arg(where, describe(op)),
                 op.at);
        return op;
    }

    NodePtr comparison(const FieldInfo& field, Op op, const Token& value) const
    {
        auto node = std::make_shared<Node>();
        node->type = Node::Type::Comparison;
        node->field = field.field;
        node->op = op;
        const QString property = QStringLiteral("[%1]").arg(field.name);
        switch (field.kind) {
        case Kind::Date: {
            if (value.type != Token::Quoted)
                fail(QStringLiteral("%1 is compared with a date in quotes, not with %2")
                         .arg(property, describe(value)),
                     value.at);
            const std::optional<QDateTime> date = readDate(value.text);
            if (!date)
                fail(QStringLiteral("%1 is not a date").arg(describe(value)), value.at);
            node->date = *date;
            break;
        }
        case Kind::Text:
            if (value.type != Token::Quoted)
                fail(QStringLiteral("%1 is compared with a text in quotes, not with %2")
                         .arg(property, describe(value)),
                     value.at);
            node->text = value.text;
            break;
        case Kind::Number: {
            bool ok = value.type == Token::Number;
            node->number = value.number;
            if (value.type == Token::Quoted)
                node->number = value.text.trimmed().toDouble(&ok);
            if (!ok)
                fail(QStringLiteral("%1 is compared with a number, not with %2")
                         .arg(property, describe(value)),
                     value.at);
            break;
        }
        case Kind::YesNo: {
            if (op != Op::Equal && op != Op::NotEqual)
                fail(QStringLiteral("%1 is yes or no and can only be compared with = or <>, not with %2")
                         .arg(property, opText(op)),
                     value.at);
            const std::optional<bool> yes = readYesNo(value);
            if (!yes)
                fail(QStringLiteral("%1 is compared with True or False, not with %2")
                         .arg(property, describe(value)),
                     value.at);
            node->yes = *yes;
            break;
        }
        }
        return node;
    }

    std::optional<QDateTime> readDate(const QString& text) const
    {
        if (std::optional<QDateTime> general = DateText::parseGeneralDate(text, m_locale))
            return general;
        // ISO 8601 is accepted too, whatever the locale, for texts written by hand or by other programs.
        const QString trimmed = text.trimmed();
        if (trimmed.size() == 10) {
            const QDate day = QDate::fromString(trimmed, Qt::ISODate);
            if (day.isValid())
                return QDateTime(day, QTime(0, 0));
        }
        else if (trimmed.size() > 10 && trimmed.at(10) == u'T') {
            const QDateTime moment = QDateTime::fromString(trimmed, Qt::ISODate);
            if (moment.isValid())
                return moment.toLocalTime();
        }
        return std::nullopt;
    }

    static std::optional<bool> readYesNo(const Token& value)
    {
        switch (value.type) {
        case Token::True:
            return true;
        case Token::False:
            return false;
        case Token::Number:
            return value.number != 0; // True is -1, but any number other than 0 counts as yes
        case Token::Quoted: {
            const QString text = value.text.trimmed();
            if (text.compare(QLatin1StringView("true"), Qt::CaseInsensitive) == 0)
                return true;
            if (text.compare(QLatin1StringView("false"), Qt::CaseInsensitive) == 0)
                return false;
            bool ok = false;
            const double number = text.toDouble(&ok);
            if (ok)
                return number != 0;
            return std::nullopt;
        }
        default:
            return std::nullopt;
        }
    }

    std::vector<Token> m_tokens;
    std::size_t m_next = 0;
    QLocale m_locale;
};

// `order` is negative, zero or positive as the item's value is below, equal to or above the compared one.
bool holds(Op op, int order)
{
    switch (op) {
    case Op::Equal:
        return order == 0;
    case Op::NotEqual:
        return order != 0;
    case Op::Less:
        return order < 0;
    case Op::LessOrEqual:
        return order <= 0;
    case Op::Greater:
        return order > 0;
    case Op::GreaterOrEqual:
        return order >= 0;
    }
    return false;
}

template <typename T>
int orderOf(const T& a, const T& b)
{
    return a < b ? -1 : b < a ? 1 : 0;
}

bool compare(const Node& node, const MailboxItem& item)
{
    switch (node.field) {
    case Field::Start:
    case Field::End: {
        const QDateTime& value = node.field == Field::Start ? item.start : item.end;
        // An item without the date has nothing to compare; Qt would order it before every date.
        if (!value.isValid())
            return false;
        return holds(node.op, orderOf(value, node.date));
    }
    case Field::Subject:
        return holds(node.op, QString::compare(item.subject, node.text, Qt::CaseInsensitive));
    case Field::Body:
        return holds(node.op, QString::compare(item.body, node.text, Qt::CaseInsensitive));
    case Field::Categories:
        return holds(node.op, QString::compare(item.categories, node.text, Qt::CaseInsensitive));
    case Field::MessageClass:
        return holds(node.op, QString::compare(item.messageClass, node.text, Qt::CaseInsensitive));
    case Field::Sensitivity:
        return holds(node.op, orderOf(double(item.sensitivity), node.number));
    case Field::AllDayEvent:
        return node.op == Op::Equal ? item.allDay == node.yes : item.allDay != node.yes;
    }
    return false;
}

bool evaluate(const Node& node, const MailboxItem& item)
{
    switch (node.type) {
    case Node::Type::All:
        for (const NodePtr& operand : node.operands) {
            if (!evaluate(*operand, item))
                return false;
        }
        return true;
    case Node::Type::Any:
        for (const NodePtr& operand : node.operands) {
            if (evaluate(*operand, item))
                return true;
        }
        return false;
    case Node::Type::Negation:
        return !evaluate(*node.operands.front(), item);
    case Node::Type::Comparison:
        return compare(node, item);
    }
    return false;
}

std::optional<QDateTime> earlier(const std::optional<QDateTime>& a, const std::optional<QDateTime>& b)
{
    if (!a)
        return b;
    if (!b)
        return a;
    return std::min(*a, *b);
}

std::optional<QDateTime> later(const std::optional<QDateTime>& a, const std::optional<QDateTime>& b)
{
    if (!a)
        return b;
    if (!b)
        return a;
    return std::max(*a, *b);
}

TimeWindow windowOf(const Node& node)
{
    switch (node.type) {
    case Node::Type::Comparison: {
        TimeWindow window;
        if (node.field != Field::Start && node.field != Field::End)
            return window;
        // Strict and non-strict comparisons bound alike: the window may hold a little more than matches.
        const bool atMost = node.op == Op::Equal || node.op == Op::Less || node.op == Op::LessOrEqual;
        const bool atLeast = node.op == Op::Equal || node.op == Op::Greater || node.op == Op::GreaterOrEqual;
        // An item's End is never before its Start, so a lower bound on Start is one on End, and an upper
        // bound on End one on Start.
        if (atMost)
            window.startAtMost = node.date;
        if (atLeast)
            window.endAtLeast = node.date;
        return window;
    }
    case Node::Type::Negation:
        // The negation of a bound is a bound on the other side of the item, which says nothing about
        // where it touches.
        return {};
    case Node::Type::All: {
        TimeWindow window;
        for (const NodePtr& operand : node.operands) {
            const TimeWindow inner = windowOf(*operand);
            window.startAtMost = earlier(window.startAtMost, inner.startAtMost);
            window.endAtLeast = later(window.endAtLeast, inner.endAtLeast);
        }
        return window;
    }
    case Node::Type::Any: {
        TimeWindow window = windowOf(*node.operands.front());
        for (std::size_t i = 1; i < node.operands.size(); ++i) {
            const TimeWindow inner = windowOf(*node.operands[i]);
            // One unbounded alternative leaves the whole disjunction unbounded on that side.
            window.startAtMost = window.startAtMost && inner.startAtMost
                                     ? std::optional(std::max(*window.startAtMost, *inner.startAtMost))
                                     : std::nullopt;
            window.endAtLeast = window.endAtLeast && inner.endAtLeast
                                    ? std::optional(std::min(*window.endAtLeast, *inner.endAtLeast))
                                    : std::nullopt;
        }
        return window;
    }
    }
    return {};
}

} // namespace

Restriction Restriction::parse(const QString& text, const QLocale& locale)
{
    if (text.trimmed().isEmpty())
        throw MailboxError(MailboxError::BadRestriction,
                           QStringLiteral("Cannot read the restriction: the text is empty"));
    Restriction restriction;
    restriction.m_root = Parser(tokenize(text), locale).parse();
    return restriction;
}

bool Restriction::matches(const MailboxItem& item) const
{
    return m_root && evaluate(*m_root, item);
}

TimeWindow Restriction::window() const
{
    return m_root ? windowOf(*m_root) : TimeWindow{};
}
