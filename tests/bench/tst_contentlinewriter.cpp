#include "bench/contentlinewriter.h"

#include <QStringDecoder>
#include <QTest>

class TestContentLineWriter : public QObject {
    Q_OBJECT

private slots:
    void folding_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<int>("physicalLines");
        const QString a(66, u'a');
        QTest::newRow("short") << "SUMMARY:Stand-up" << 1;
        QTest::newRow("75 octets stay on one line") << QString(75, u'x') << 1;
        QTest::newRow("76 octets fold") << QString(76, u'x') << 2;
        // Continuation lines hold 74 octets after their leading space.
        QTest::newRow("75 + 74 + 74") << QString(223, u'x') << 3;
        QTest::newRow("75 + 74 + 74 + 1") << QString(224, u'x') << 4;
        QTest::newRow("two-byte letter across the limit") << "SUMMARY:" + a + "é and more" << 2;
        QTest::newRow("three-byte sign across the limit") << "SUMMARY:" + a + "€ and more" << 2;
        QTest::newRow("four-byte character across the limit") << "SUMMARY:" + a + "😀 and more" << 2;
        QTest::newRow("long accented text")
            << "DESCRIPTION:" + QString("Réunion à Zürich, Łódź, Søborg. ").repeated(12) << 7;
    }
    void folding()
    {
        QFETCH(QString, line);
        QFETCH(int, physicalLines);
        ContentLineWriter writer;
        writer.add(line.toUtf8());
        const QByteArray data = writer.data();
        QVERIFY(data.endsWith("\r\n"));
        const QList<QByteArray> lines = data.chopped(2).split('\n');
        QCOMPARE(lines.size(), physicalLines);
        QByteArray unfolded;
        for (int i = 0; i < lines.size(); ++i) {
            QByteArray physical = lines[i];
            if (i < lines.size() - 1) {
                QVERIFY(physical.endsWith('\r'));
                physical.chop(1);
            }
            QVERIFY2(physical.size() <= 75, physical.constData());
            QStringDecoder decoder(QStringDecoder::Utf8);
            (void)QString(decoder(physical));
            QVERIFY2(!decoder.hasError(), "a fold cuts a UTF-8 sequence");
            if (i > 0) {
                QVERIFY(physical.startsWith(' '));
                physical.remove(0, 1);
            }
            unfolded += physical;
        }
        QCOMPARE(QString::fromUtf8(unfolded), line);
    }

    void escaping_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("separators") << "Lunch; coffee, cake" << QByteArray("Lunch\\; coffee\\, cake");
        QTest::newRow("backslash") << "C:\\temp" << QByteArray("C:\\\\temp");
        QTest::newRow("line breaks") << "one\ntwo\r\nthree" << QByteArray("one\\ntwo\\nthree");
        QTest::newRow("accents kept") << "Café Olé" << QByteArray("Café Olé");
    }
    void escaping()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, expected);
        QCOMPARE(ContentLineWriter::escaped(text), expected);
    }
};

QTEST_GUILESS_MAIN(TestContentLineWriter)
#include "tst_contentlinewriter.moc"
