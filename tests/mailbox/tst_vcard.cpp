#include "mailbox/vcard.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QStringDecoder>
#include <QTest>

namespace {

QByteArray fixture(const QString& name)
{
    QFile file(QStringLiteral(ROTAVINE_TEST_DATA "/vcard/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing fixture %s", qPrintable(name));
    return file.readAll();
}

// Splits bytes into physical lines, each with its line break.
QList<QByteArray> physicalLines(const QByteArray& bytes)
{
    QList<QByteArray> lines;
    qsizetype position = 0;
    while (position < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', position);
        end = end < 0 ? bytes.size() : end + 1;
        lines.append(bytes.mid(position, end - position));
        position = end;
    }
    return lines;
}

bool isCategoriesLine(const QByteArray& line)
{
    const QByteArray name = line.left(line.indexOf(':')).toUpper();
    return name == "CATEGORIES" || name.endsWith(".CATEGORIES");
}

// The CATEGORIES lines of a file (with their continuation lines), and the file without them: what a change of
// categories must leave byte for byte.
QByteArray categoriesLines(const QByteArray& bytes, bool keep)
{
    QByteArray out;
    bool inCategories = false;
    for (const QByteArray& line : physicalLines(bytes)) {
        if (!line.startsWith(' ') && !line.startsWith('\t'))
            inCategories = isCategoriesLine(line);
        if (inCategories == keep)
            out += line;
    }
    return out;
}

bool isValidUtf8(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(bytes);
    Q_UNUSED(text);
    return !decoder.hasError();
}

} // namespace

class TestVCard : public QObject {
    Q_OBJECT

private slots:
    void readsProperties_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("property");
        QTest::addColumn<QStringList>("values");

        QTest::newRow("google: FN") << "google-export-folded.vcf"
                                    << "FN" << QStringList{"Sofia Rossi"};
        QTest::newRow("google: folded and escaped NOTE")
            << "google-export-folded.vcf"
            << "note"
            << QStringList{
                   "Responsable du planning de l'équipe support, joignable le matin\nBureau 2.14, bâtiment "
                   "B. Préfère les réunions courtes; pas le vendredi."};
        QTest::newRow("google: every EMAIL")
            << "google-export-folded.vcf"
            << "EMAIL" << QStringList{"sofia.rossi@example.org", "sofia.r@home.example"};
        QTest::newRow("apple: EMAIL in property groups")
            << "apple-contacts-3.0-person.vcf"
            << "EMAIL" << QStringList{"elodie.marchand@example.org", "e.marchand@home.example"};
        QTest::newRow("apple: grouped labels") << "apple-contacts-3.0-person.vcf"
                                               << "X-ABLabel" << QStringList{"_$!<Work>!$_", "_$!<Home>!$_"};
        QTest::newRow("apple: escaped NOTE")
            << "apple-contacts-3.0-person.vcf"
            << "NOTE" << QStringList{"Planning de l'équipe\nBureau 2.14, bâtiment B"};
        QTest::newRow("apple: group members") << "apple-contacts-3.0-group.vcf"
                                              << "X-ADDRESSBOOKSERVER-MEMBER"
                                              << QStringList{"urn:uuid:5b0d1c7e-3a2f-4e8b-9c61-0d2e7f4a9b13",
                                                             "urn:uuid:1F0E9C7A-6B2D-4C3E-8F5A-2D7B9E0C4A61",
                                                             "urn:uuid:0D6F2B9A-71C4-4E0B-A3D5-8C19F2E7B640"};
        QTest::newRow("nextcloud: value after quoted parameter")
            << "nextcloud-4.0-person.vcf"
            << "TEL" << QStringList{"tel:+33-4-78-00-00-00"};
        QTest::newRow("nextcloud: CALURI")
            << "nextcloud-4.0-person.vcf"
            << "CALURI"
            << QStringList{"https://cloud.example.org/remote.php/dav/calendars/jmartin/personal/"};
        QTest::newRow("thunderbird: members by uuid and mailto")
            << "thunderbird-list.vcf"
            << "MEMBER"
            << QStringList{"urn:uuid:1f0e9c7a-6b2d-4c3e-8f5a-2d7b9e0c4a61", "mailto:sofia.rossi@example.org",
                           "mailto:partner%2Bplanning@other.example"};
        QTest::newRow("hand written: lower-case names") << "hand-written-lf-group.vcf"
                                                        << "KIND" << QStringList{"Group"};
        QTest::newRow("hand written: LF ends") << "hand-written-lf-group.vcf"
                                               << "NOTE" << QStringList{"Rota du samedi"};
        QTest::newRow("absent property") << "nextcloud-4.0-person.vcf"
                                         << "NICKNAME" << QStringList{};
    }
    void readsProperties()
    {
        QFETCH(QString, file);
        QFETCH(QString, property);
        QFETCH(QStringList, values);
        const VCard card = VCard::parse(fixture(file));
        QVERIFY2(card.isValid(), qPrintable(card.errorString()));
        QCOMPARE(card.values(property), values);
        QCOMPARE(card.value(property), values.value(0));
    }

    void categories_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("categories");

        QTest::newRow("google: folded, escaped comma")
            << fixture("google-export-folded.vcf")
            << QStringList{"myContacts",   "Équipe support",     "Astreinte, week-end",
                           "Projets 2024", "Clients importants", "Fournisseurs"};
        QTest::newRow("hand written: tab continuation, trailing comma")
            << fixture("hand-written-lf-group.vcf") << QStringList{"<Rotavine>", "Week-end"};
        QTest::newRow("thunderbird: marker")
            << fixture("thunderbird-list.vcf") << QStringList{"Projets", "<rotavine>"};
        QTest::newRow("apple group: none") << fixture("apple-contacts-3.0-group.vcf") << QStringList{};
        QTest::newRow("several properties, in file order")
            << QByteArray("BEGIN:VCARD\r\nVERSION:3.0\r\nCATEGORIES:Work\r\nFN:A\r\ncategories:Home,Sport\r\n"
                          "END:VCARD\r\n")
            << QStringList{"Work", "Home", "Sport"};
        QTest::newRow("blanks trimmed, empty values dropped")
            << QByteArray("BEGIN:VCARD\r\nVERSION:4.0\r\nCATEGORIES: Work , ,<rotavine>,\r\nEND:VCARD\r\n")
            << QStringList{"Work", "<rotavine>"};
        QTest::newRow("empty value") << QByteArray(
                                            "BEGIN:VCARD\r\nVERSION:4.0\r\nCATEGORIES:\r\nEND:VCARD\r\n")
                                     << QStringList{};
        QTest::newRow("escaped backslash before a comma")
            << QByteArray("BEGIN:VCARD\r\nVERSION:4.0\r\nCATEGORIES:a\\\\,b\\,c\r\nEND:VCARD\r\n")
            << QStringList{"a\\", "b,c"};
    }
    void categories()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, categories);
        const VCard card = VCard::parse(bytes);
        QVERIFY2(card.isValid(), qPrintable(card.errorString()));
        QCOMPARE(card.categories(), categories);
    }

    void parameters_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("parameter");
        QTest::addColumn<QStringList>("parameterValues");
        QTest::addColumn<QString>("value");

        QTest::newRow("quoted value holding a comma") << QByteArray("TEL;TYPE=\"work,voice\":+33 4 78")
                                                      << "TYPE" << QStringList{"work,voice"} << "+33 4 78";
        QTest::newRow("quoted value holding a colon and a semicolon")
            << QByteArray("ADR;LABEL=\"12 rue: B;C\";TYPE=work:;;12 rue;Lyon") << "LABEL"
            << QStringList{"12 rue: B;C"} << ";;12 rue;Lyon";
        QTest::newRow("same parameter twice")
            << QByteArray("item1.EMAIL;type=INTERNET;type=pref:a@example.org") << "TYPE"
            << QStringList{"INTERNET", "pref"} << "a@example.org";
        QTest::newRow("comma-separated values") << QByteArray("EMAIL;TYPE=work,pref:a@example.org") << "type"
                                                << QStringList{"work", "pref"} << "a@example.org";
        QTest::newRow("types without a name") << QByteArray("EMAIL;INTERNET;PREF:a@example.org") << "TYPE"
                                              << QStringList{"INTERNET", "PREF"} << "a@example.org";
        QTest::newRow("caret escapes") << QByteArray("ADR;LABEL=\"Rue ^'A^'^nLyon ^^\":;;Rue A;Lyon")
                                       << "LABEL" << QStringList{"Rue \"A\"\nLyon ^"} << ";;Rue A;Lyon";
        QTest::newRow("colon in the value only") << QByteArray("URL:https://example.org:8443/x") << "TYPE"
                                                 << QStringList{} << "https://example.org:8443/x";
    }
    void parameters()
    {
        QFETCH(QByteArray, line);
        QFETCH(QString, parameter);
        QFETCH(QStringList, parameterValues);
        QFETCH(QString, value);
        const VCard card = VCard::parse("BEGIN:VCARD\r\nVERSION:4.0\r\n" + line + "\r\nEND:VCARD\r\n");
        QVERIFY2(card.isValid(), qPrintable(card.errorString()));
        QCOMPARE(card.properties().size(), 2);
        const VCard::Property& property = card.properties().at(1);
        QCOMPARE(property.parameter(parameter), parameterValues);
        QCOMPARE(property.text(), value);
    }

    void unescapesText_data()
    {
        QTest::addColumn<QString>("raw");
        QTest::addColumn<QString>("text");
        QTest::newRow("comma") << "a\\,b"
                               << "a,b";
        QTest::newRow("semicolon") << "a\\;b"
                                   << "a;b";
        QTest::newRow("backslash") << "a\\\\b"
                                   << "a\\b";
        QTest::newRow("escaped backslash before n") << "a\\\\nb"
                                                    << "a\\nb";
        QTest::newRow("line break") << "a\\nb"
                                    << "a\nb";
        QTest::newRow("line break, capital N") << "a\\Nb"
                                               << "a\nb";
        QTest::newRow("escaped colon in an address") << "http\\://example.org"
                                                     << "http://example.org";
        QTest::newRow("lone trailing backslash") << "a\\"
                                                 << "a\\";
    }
    void unescapesText()
    {
        QFETCH(QString, raw);
        QFETCH(QString, text);
        QCOMPARE(VCard::unescapeText(raw), text);
    }

    void lineBreaksAndFraming_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("email");

        const QByteArray plain =
            "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Hélène Dupré\r\nEMAIL:helene@example.org\r\n"
            "END:VCARD\r\n";
        QTest::newRow("CRLF") << plain << "Hélène Dupré"
                              << "helene@example.org";
        QTest::newRow("LF") << QByteArray(plain).replace("\r\n", "\n") << "Hélène Dupré"
                            << "helene@example.org";
        QTest::newRow("lone CR") << QByteArray(plain).replace("\r\n", "\r") << "Hélène Dupré"
                                 << "helene@example.org";
        QTest::newRow("folded with a space")
            << QByteArray(
                   "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Hélène\r\n  Dupré\r\nEMAIL:helene@exa\r\n mple.org\r\n"
                   "END:VCARD\r\n")
            << "Hélène Dupré"
            << "helene@example.org";
        QTest::newRow("folded with a tab, LF")
            << QByteArray(
                   "BEGIN:VCARD\nVERSION:3.0\nFN:Hélène Du\n\tpré\nEMAIL:helene@example.org\nEND:VCARD\n")
            << "Hélène Dupré"
            << "helene@example.org";
        QTest::newRow("folded inside a UTF-8 sequence")
            << QByteArray("BEGIN:VCARD\r\nVERSION:3.0\r\nFN:H\xC3\r\n \xA9l\xC3\xA8ne Dupr\xC3\r\n \xA9\r\n"
                          "EMAIL:helene@example.org\r\nEND:VCARD\r\n")
            << "Hélène Dupré"
            << "helene@example.org";
        QTest::newRow("byte order mark") << "\xEF\xBB\xBF" + plain << "Hélène Dupré"
                                         << "helene@example.org";
        QTest::newRow("blank lines and text before the card")
            << "\r\n\r\nExported by a tool\r\n" + plain << "Hélène Dupré"
            << "helene@example.org";
        QTest::newRow("lower-case BEGIN and END")
            << QByteArray(plain).replace("BEGIN:VCARD", "begin:vcard").replace("END:VCARD", "End:vCard")
            << "Hélène Dupré"
            << "helene@example.org";
        QTest::newRow("a second card is not read")
            << plain + "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Autre\r\nEMAIL:autre@example.org\r\nEND:VCARD\r\n"
            << "Hélène Dupré"
            << "helene@example.org";
        QTest::newRow("an embedded card is not this card's")
            << QByteArray(
                   "BEGIN:VCARD\r\nVERSION:3.0\r\nAGENT:\r\nBEGIN:VCARD\r\nFN:Agent\r\n"
                   "EMAIL:agent@example.org\r\nEND:VCARD\r\nFN:Hélène Dupré\r\nEMAIL:helene@example.org\r\n"
                   "END:VCARD\r\n")
            << "Hélène Dupré"
            << "helene@example.org";
        QTest::newRow("lines that are no property are skipped")
            << QByteArray("BEGIN:VCARD\r\nVERSION:3.0\r\nthis line has no colon\r\n:no name\r\n"
                          "X-BROKEN;TYPE=\"unclosed:value\r\nFN:Hélène Dupré\r\nEMAIL:helene@example.org\r\n"
                          "END:VCARD\r\n")
            << "Hélène Dupré"
            << "helene@example.org";
        QTest::newRow("no final line break") << plain.chopped(2) << "Hélène Dupré"
                                             << "helene@example.org";
    }
    void lineBreaksAndFraming()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, name);
        QFETCH(QString, email);
        const VCard card = VCard::parse(bytes);
        QVERIFY2(card.isValid(), qPrintable(card.errorString()));
        QCOMPARE(card.value("FN"), name);
        QCOMPARE(card.values("EMAIL"), QStringList{email});
    }

    void damagedFilesGiveErrors_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("reason");

        const QDir damaged(QStringLiteral(ROTAVINE_TEST_DATA "/vcard/damaged"));
        const QStringList files = damaged.entryList(QDir::Files);
        QVERIFY(files.size() >= 8);
        const QHash<QString, QString> reasons{
            {"empty.vcf", "empty"},
            {"no-end.vcf", "END:VCARD"},
            {"truncated.vcf", "END:VCARD"},
            {"no-begin.vcf", "BEGIN:VCARD"},
            {"binary-junk.vcf", "binary"},
            {"binary-inside-card.vcf", "binary"},
            {"one-mb-line.vcf", "longer than"},
            {"not-utf8.vcf", "UTF-8"},
        };
        for (const QString& file : files)
            QTest::newRow(qPrintable(file)) << fixture("damaged/" + file) << reasons.value(file, "?");

        QTest::newRow("only BEGIN") << QByteArray("BEGIN:VCARD") << "END:VCARD";
        QTest::newRow("END before BEGIN") << QByteArray("END:VCARD\r\nFN:A\r\n") << "BEGIN:VCARD";
        QTest::newRow("nested card left open")
            << QByteArray("BEGIN:VCARD\r\nAGENT:\r\nBEGIN:VCARD\r\nFN:A\r\nEND:VCARD\r\n") << "END:VCARD";
        QTest::newRow("1 MB line made of folded pieces")
            << "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:A\r\nPHOTO;ENCODING=b:" + QByteArray(15000, 'A') +
                   QByteArray(" ").append(QByteArray(70, 'B')).append("\r\n").repeated(15000) +
                   "END:VCARD\r\n"
            << "longer than";
        QTest::newRow("invalid UTF-8 in a parameter")
            << QByteArray("BEGIN:VCARD\r\nFN;LANGUAGE=\xFF:A\r\nEND:VCARD\r\n") << "UTF-8";
        QTest::newRow("truncated UTF-8 sequence at the end")
            << QByteArray("BEGIN:VCARD\r\nFN:H\xC3") << "UTF-8";
        QTest::newRow("larger than the file limit")
            << "BEGIN:VCARD\r\nVERSION:3.0\r\n" +
                   QByteArray("NOTE:").append(QByteArray(1000, 'x')).append("\r\n").repeated(5000) +
                   "END:VCARD\r\n"
            << "larger than";
    }
    void damagedFilesGiveErrors()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reason);
        const VCard card = VCard::parse(bytes);
        QVERIFY(!card.isValid());
        QVERIFY2(card.errorString().contains(reason), qPrintable(card.errorString()));
        QVERIFY(card.properties().isEmpty());
        QVERIFY(card.value("FN").isEmpty());
        QVERIFY(card.setCategories({"<rotavine>"}).isEmpty());
    }

    void lineLengthLimit_data()
    {
        QTest::addColumn<int>("octets");
        QTest::addColumn<bool>("valid");
        QTest::newRow("at the limit") << int(VCard::kMaxLineOctets) << true;
        QTest::newRow("one octet over") << int(VCard::kMaxLineOctets) + 1 << false;
    }
    void lineLengthLimit()
    {
        QFETCH(int, octets);
        QFETCH(bool, valid);
        const QByteArray line = "NOTE:" + QByteArray(octets - 5, 'x');
        QCOMPARE(line.size(), octets);
        const VCard card = VCard::parse("BEGIN:VCARD\r\nFN:A\r\n" + line + "\r\nEND:VCARD\r\n");
        QCOMPARE(card.isValid(), valid);
    }

    void setCategoriesExactBytes_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QStringList>("categories");
        QTest::addColumn<QByteArray>("after");

        QTest::newRow("added before END, other lines keep LF")
            << QByteArray("BEGIN:VCARD\nVERSION:4.0\nKIND:group\nFN:Projet\nEND:VCARD\n")
            << QStringList{"<rotavine>"}
            << QByteArray(
                   "BEGIN:VCARD\nVERSION:4.0\nKIND:group\nFN:Projet\nCATEGORIES:<rotavine>\r\nEND:VCARD\n");
        QTest::newRow("added when END has no line break")
            << QByteArray("BEGIN:VCARD\r\nFN:A\r\nEND:VCARD") << QStringList{"X"}
            << QByteArray("BEGIN:VCARD\r\nFN:A\r\nCATEGORIES:X\r\nEND:VCARD");
        QTest::newRow("replaced in place, group kept")
            << QByteArray("BEGIN:VCARD\r\nFN:A\r\nitem1.CATEGORIES:Work\r\nNOTE:n\r\nEND:VCARD\r\n")
            << QStringList{"Work", "<rotavine>"}
            << QByteArray(
                   "BEGIN:VCARD\r\nFN:A\r\nitem1.CATEGORIES:Work,<rotavine>\r\nNOTE:n\r\nEND:VCARD\r\n");
        QTest::newRow("several lines become the first")
            << QByteArray("BEGIN:VCARD\r\nCATEGORIES:A\r\nFN:A\r\nCATEGORIES:B,\r\n C\r\nEND:VCARD\r\n")
            << QStringList{"A", "B", "C", "<rotavine>"}
            << QByteArray("BEGIN:VCARD\r\nCATEGORIES:A,B,C,<rotavine>\r\nFN:A\r\nEND:VCARD\r\n");
        QTest::newRow("empty list removes folded lines")
            << QByteArray("BEGIN:VCARD\r\nFN:A\r\nCATEGORIES:Work,\r\n <rotavine>\r\nNOTE:n\r\nEND:VCARD\r\n")
            << QStringList{} << QByteArray("BEGIN:VCARD\r\nFN:A\r\nNOTE:n\r\nEND:VCARD\r\n");
        QTest::newRow("blank values dropped")
            << QByteArray("BEGIN:VCARD\r\nFN:A\r\nEND:VCARD\r\n") << QStringList{" ", "", " Work "}
            << QByteArray("BEGIN:VCARD\r\nFN:A\r\nCATEGORIES:Work\r\nEND:VCARD\r\n");
        QTest::newRow("nothing to add, nothing to remove")
            << QByteArray("BEGIN:VCARD\nFN:A\nEND:VCARD\n") << QStringList{}
            << QByteArray("BEGIN:VCARD\nFN:A\nEND:VCARD\n");
        QTest::newRow("special characters escaped")
            << QByteArray("BEGIN:VCARD\r\nFN:A\r\nEND:VCARD\r\n") << QStringList{"a,b", "c\\d", "e;f", "g\nh"}
            << QByteArray("BEGIN:VCARD\r\nFN:A\r\nCATEGORIES:a\\,b,c\\\\d,e\\;f,g\\nh\r\nEND:VCARD\r\n");
        QTest::newRow("a second card is left alone")
            << QByteArray(
                   "BEGIN:VCARD\r\nFN:A\r\nEND:VCARD\r\nBEGIN:VCARD\r\nFN:B\r\nCATEGORIES:Z\r\nEND:VCARD\r\n")
            << QStringList{"X"}
            << QByteArray("BEGIN:VCARD\r\nFN:A\r\nCATEGORIES:X\r\nEND:VCARD\r\nBEGIN:VCARD\r\nFN:"
                          "B\r\nCATEGORIES:Z\r\n"
                          "END:VCARD\r\n");
        QTest::newRow("an embedded card's categories are left alone")
            << QByteArray("BEGIN:VCARD\r\nAGENT:\r\nBEGIN:VCARD\r\nCATEGORIES:Z\r\nEND:VCARD\r\nFN:A\r\nEND:"
                          "VCARD\r\n")
            << QStringList{"X"}
            << QByteArray("BEGIN:VCARD\r\nAGENT:\r\nBEGIN:VCARD\r\nCATEGORIES:Z\r\nEND:VCARD\r\nFN:"
                          "A\r\nCATEGORIES:X\r\n"
                          "END:VCARD\r\n");
        const QByteArray longList = "CATEGORIES:Équipe support,Astreinte de week-end,Projets "
                                    "européens,Clients\r\n  importants,<rotavine>\r\n";
        QTest::newRow("long list folded at 75 octets")
            << QByteArray("BEGIN:VCARD\r\nFN:A\r\nEND:VCARD\r\n")
            << QStringList{"Équipe support", "Astreinte de week-end", "Projets européens",
                           "Clients importants", "<rotavine>"}
            << "BEGIN:VCARD\r\nFN:A\r\n" + longList + "END:VCARD\r\n";
    }
    void setCategoriesExactBytes()
    {
        QFETCH(QByteArray, before);
        QFETCH(QStringList, categories);
        QFETCH(QByteArray, after);
        const VCard card = VCard::parse(before);
        QVERIFY2(card.isValid(), qPrintable(card.errorString()));
        QCOMPARE(card.setCategories(categories), after);
    }

    void setCategoriesKeepsEveryOtherLine_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("categories");

        QTest::newRow("google: folded line replaced")
            << "google-export-folded.vcf" << QStringList{"myContacts", "<rotavine>"};
        QTest::newRow("apple group: line added")
            << "apple-contacts-3.0-group.vcf" << QStringList{"<rotavine>"};
        QTest::newRow("apple person: grouped lines kept")
            << "apple-contacts-3.0-person.vcf" << QStringList{"Support", "<rotavine>"};
        QTest::newRow("hand written: LF and tab fold")
            << "hand-written-lf-group.vcf" << QStringList{"Week-end"};
        QTest::newRow("nextcloud: removed") << "nextcloud-4.0-person.vcf" << QStringList{};
        QTest::newRow("thunderbird: many accented values") << "thunderbird-list.vcf"
                                                           << QStringList{"Projets",
                                                                          "Équipe d'astreinte élargie",
                                                                          "Réunions hebdomadaires",
                                                                          "Sécurité",
                                                                          "Événements",
                                                                          "<rotavine>",
                                                                          "Dépannage à distance",
                                                                          "Ingénierie"};
    }
    void setCategoriesKeepsEveryOtherLine()
    {
        QFETCH(QString, file);
        QFETCH(QStringList, categories);
        const QByteArray before = fixture(file);
        const VCard card = VCard::parse(before);
        QVERIFY2(card.isValid(), qPrintable(card.errorString()));
        const QByteArray after = card.setCategories(categories);

        QCOMPARE(categoriesLines(after, false), categoriesLines(before, false));
        const VCard reread = VCard::parse(after);
        QVERIFY2(reread.isValid(), qPrintable(reread.errorString()));
        QCOMPARE(reread.categories(), categories);
        QCOMPARE(reread.values("FN"), card.values("FN"));

        const QList<QByteArray> written = physicalLines(categoriesLines(after, true));
        QCOMPARE(written.isEmpty(), categories.isEmpty());
        for (const QByteArray& line : written) {
            QVERIFY2(line.endsWith("\r\n"), line.constData());
            QVERIFY2(line.size() - 2 <= 75, line.constData());
            QVERIFY2(isValidUtf8(line), line.constData()); // no character cut in two
        }
        for (qsizetype i = 1; i < written.size(); ++i)
            QVERIFY(written.at(i).startsWith(' '));
    }

    // Damage of every kind at random places: the reader gives a card or an error, and a card it accepts can
    // always be given new categories that it reads back.
    void survivesMutatedInput_data()
    {
        QTest::addColumn<QString>("file");
        for (const char* file :
             {"apple-contacts-3.0-person.vcf", "apple-contacts-3.0-group.vcf", "nextcloud-4.0-person.vcf",
              "google-export-folded.vcf", "thunderbird-list.vcf", "hand-written-lf-group.vcf"})
            QTest::newRow(file) << file;
    }
    void survivesMutatedInput()
    {
        QFETCH(QString, file);
        const QByteArray original = fixture(file);
        QRandomGenerator random(20240311);
        const char specials[] = {'\r', '\n', ' ', '\t', ':', ';',    ',',
                                 '"',  '\\', '=', '.',  '^', '\xC3', '\x80'};
        for (int round = 0; round < 400; ++round) {
            QByteArray bytes = original;
            const int changes = 1 + int(random.bounded(6));
            for (int i = 0; i < changes && !bytes.isEmpty(); ++i) {
                const qsizetype at = random.bounded(int(bytes.size()));
                switch (random.bounded(4)) {
                case 0:
                    bytes[at] = specials[random.bounded(int(sizeof specials))];
                    break;
                case 1:
                    bytes.insert(at, specials[random.bounded(int(sizeof specials))]);
                    break;
                case 2:
                    bytes.remove(at, 1 + random.bounded(8));
                    break;
                default:
                    bytes.truncate(at);
                }
            }
            const VCard card = VCard::parse(bytes);
            if (!card.isValid()) {
                QVERIFY(!card.errorString().isEmpty());
                continue;
            }
            const QStringList categories{"Équipe, support", "<rotavine>"};
            const VCard changed = VCard::parse(card.setCategories(categories));
            QVERIFY2(changed.isValid(), qPrintable(changed.errorString()));
            QCOMPARE(changed.categories(), categories);
            QCOMPARE(changed.values("FN"), card.values("FN"));
        }
    }

    void folds_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QByteArray>("folded");
        QTest::newRow("75 octets stay on one line") << QByteArray(75, 'a') << QByteArray(75, 'a') + "\r\n";
        QTest::newRow("76 octets") << QByteArray(76, 'a') << QByteArray(75, 'a') + "\r\n a\r\n";
        QTest::newRow("continuations hold 74 octets after their space")
            << QByteArray(75 + 74 + 1, 'a')
            << QByteArray(75, 'a') + "\r\n " + QByteArray(74, 'a') + "\r\n a\r\n";
        QTest::newRow("a character across the limit moves to the next line")
            << QByteArray(74, 'a') + "\xC3\xA9" << QByteArray(74, 'a') + "\r\n \xC3\xA9\r\n";
        QTest::newRow("four-octet character across the limit")
            << QByteArray(73, 'a') + "\xF0\x9F\x98\x80" + "b"
            << QByteArray(73, 'a') + "\r\n \xF0\x9F\x98\x80" + "b\r\n";
        QTest::newRow("empty") << QByteArray() << QByteArray("\r\n");
    }
    void folds()
    {
        QFETCH(QByteArray, line);
        QFETCH(QByteArray, folded);
        QCOMPARE(VCard::fold(line), folded);
    }
};

QTEST_GUILESS_MAIN(TestVCard)
#include "tst_vcard.moc"
