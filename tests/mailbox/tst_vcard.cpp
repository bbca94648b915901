#include "mailbox/addressbook.h"
#include "mailbox/vcard.h"
#include "tests/mailbox/mailboxtest.h"

#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

namespace {

// Given to every card that can be read: blanks to drop, characters to escape, and a line long enough to fold
// twice, with accented letters.
const QStringList kNewCategories =
    QString("Équipe, support| ||c\\d|e;f|g\nh|Astreinte de week-end élargie|<rotavine>|"
            "Réunions hebdomadaires de l'équipe élargie|Dépannage à distance")
        .split(u'|');

// The CATEGORIES lines of a file (with their continuation lines) as "<line number>:<bytes>", line breaks
// shown; or, with `categories` false, every other line as it is.
QStringList categoriesLines(const QByteArray& bytes, bool categories)
{
    // Lines end in CRLF, LF or a lone CR.
    const QStringList lines = QString::fromLatin1(bytes).split(QRegularExpression("(?<=\\n|\\r(?!\\n))"));
    QStringList out;
    bool inCategories = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString& line = lines.at(i);
        if (!line.startsWith(u' ') && !line.startsWith(u'\t')) {
            const QString name = line.left(line.indexOf(u':')).toUpper();
            inCategories = name == "CATEGORIES" || name.endsWith(".CATEGORIES");
        }
        if (inCategories == categories && !line.isEmpty())
            out << (categories ? QString::number(i + 1) + u':' : QString()) +
                       QString::fromUtf8(line.toLatin1()).replace(u'\r', u'␍').replace(u'\n', u'␊');
    }
    return out;
}

// A card as the program reads it: its properties, its categories, the contact it is for the address book,
// and the CATEGORIES lines it gets with new categories and with none.
QStringList describe(const QByteArray& bytes)
{
    const VCard card = VCard::parse(bytes);
    if (!card.isValid())
        return {"error: " + card.errorString()};
    QStringList lines;
    for (const VCard::Property& property : card.properties()) {
        QString line = (property.group.isEmpty() ? QString() : property.group + u'.') + property.name;
        for (const VCard::Parameter& parameter : property.parameters)
            line += u';' + parameter.name + "=\"" + parameter.values.join("\",\"") + u'"';
        lines << line + u':' + property.text();
    }
    lines << "categories: " + card.categories().join(" | ");
    const AddressBook::Contact c = AddressBook::contactFromCard(card);
    lines << QStringLiteral("contact: %1 | %2 | %3 | %4 | %5 | %6")
                 .arg(c.isGroup() ? "group" : "person", c.uid, c.name, c.emails.join(", "), c.calendarUri,
                      c.memberRefs.join(", "));
    for (const QStringList& categories : {kNewCategories, QStringList()}) {
        const QByteArray after = card.setCategories(categories);
        const VCard reread = VCard::parse(after);
        lines << QString(categories.isEmpty() ? "cleared: " : "set: ") + reread.categories().join(" | ") +
                     " @ " + categoriesLines(after, true).join(u' ');
        if (categoriesLines(after, false) != categoriesLines(bytes, false) ||
            reread.values("FN") != card.values("FN"))
            lines << "other lines changed";
    }
    return lines.replaceInStrings(QStringLiteral("\n"), QStringLiteral("⏎"));
}

} // namespace

class TestVCard : public QObject {
    Q_OBJECT

private slots:
    // Cards from other programs, hand-made and damaged ones, each with its golden file.
    void cards_data()
    {
        QTest::addColumn<QString>("name");
        for (const QString& name : corpus("vcard", ".vcf"))
            QTest::newRow(qPrintable(name)) << name;
    }
    void cards()
    {
        QFETCH(QString, name);
        const QString path = dataPath("vcard/" + name);
        const QByteArray bytes = readBytes(path);
        const QStringList actual = describe(bytes);
        QCOMPARE(actual, golden(path + ".expected", actual));
        const VCard card = VCard::parse(bytes);
        if (!card.isValid()) {
            QVERIFY(card.properties().isEmpty() && card.value("FN").isEmpty());
            QVERIFY(card.setCategories({"<rotavine>"}).isEmpty());
            return;
        }
        // Damage of every kind at random places: the reader gives a card or an error, and a card it accepts
        // can always be given new categories that it reads back.
        QRandomGenerator random(20240311);
        const char specials[] = {'\r', '\n', ' ', '\t', ':', ';',    ',',
                                 '"',  '\\', '=', '.',  '^', '\xC3', '\x80'};
        for (int round = 0; round < 400; ++round) {
            QByteArray damaged = bytes;
            for (int i = 1 + int(random.bounded(6)); i > 0 && !damaged.isEmpty(); --i) {
                const qsizetype at = random.bounded(int(damaged.size()));
                const char special = specials[random.bounded(int(sizeof specials))];
                switch (random.bounded(4)) {
                case 0:
                    damaged[at] = special;
                    break;
                case 1:
                    damaged.insert(at, special);
                    break;
                case 2:
                    damaged.remove(at, 1 + random.bounded(8));
                    break;
                default:
                    damaged.truncate(at);
                }
            }
            const VCard read = VCard::parse(damaged);
            QVERIFY(read.isValid() != !read.errorString().isEmpty());
            const QStringList categories{"Équipe, support", "<rotavine>"};
            const VCard changed = VCard::parse(read.setCategories(categories));
            QVERIFY2(changed.isValid() || !read.isValid(), qPrintable(changed.errorString()));
            QVERIFY(!read.isValid() ||
                    (changed.categories() == categories && changed.values("FN") == read.values("FN")));
        }
    }

    // Lines and files too long for an address book are refused, however they are folded.
    void limits()
    {
        const auto error = [](const QByteArray& lines) {
            return VCard::parse("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:A\r\n" + lines + "END:VCARD\r\n")
                .errorString();
        };
        const QByteArray note = "NOTE:" + QByteArray(VCard::kMaxLineOctets - 5, 'x') + "\r\n";
        QCOMPARE(error(note), QString());
        QCOMPARE(error(note.chopped(2) + "x\r\n"), "line 4 is longer than 512 KiB");
        const QByteArray piece = " " + QByteArray(70, 'B') + "\r\n";
        QCOMPARE(error("PHOTO;ENCODING=b:" + QByteArray(15000, 'A') + piece.repeated(15000)),
                 "line 4 is longer than 512 KiB");
        QCOMPARE(error(QByteArray("NOTE:" + QByteArray(1000, 'x') + "\r\n").repeated(5000)),
                 "the file is larger than 4 MiB");
    }
};

QTEST_GUILESS_MAIN(TestVCard)
#include "tst_vcard.moc"
