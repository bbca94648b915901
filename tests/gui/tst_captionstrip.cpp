#include "gui/captionstrip.h"

#include <QApplication>
#include <QLabel>
#include <QTest>

class TestLogo : public QObject {
    Q_OBJECT

private slots:
    void bands_data()
    {
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("bandHeight");
        QTest::newRow("100 pixels") << 100 << 101 << 1;
        QTest::newRow("300 pixels") << 300 << 301 << 1;
        QTest::newRow("510 pixels") << 510 << 256 << 2;
        QTest::newRow("1 pixel") << 1 << 2 << 1;
        QTest::newRow("empty") << 0 << 0 << 0;
    }
    void bands()
    {
        QFETCH(int, height);
        QFETCH(int, count);
        QFETCH(int, bandHeight);
        CaptionStrip logo;
        logo.setStartColour(0);
        logo.setEndColour(0xFFFFFF); // white at the top
        const QList<CaptionStrip::Band> bands = logo.bands(QSize(20, height));
        QCOMPARE(bands.size(), count);
        if (bands.isEmpty())
            return;
        QCOMPARE(bands.first().rect, QRect(0, height - bandHeight, 20, bandHeight));
        // The two lowest bands have the start colour, then the colour climbs towards the end colour.
        QCOMPARE(bands.at(0).colour, QColor(Qt::black));
        if (bands.size() > 2) {
            QCOMPARE(bands.at(1).colour, QColor(Qt::black));
            QVERIFY(bands.at(2).colour.red() > 0);
            QVERIFY(bands.last().colour.red() >= 250);
        }
        // The last band may lie above the top edge, where it is clipped.
        QVERIFY(bands.last().rect.top() >= -bandHeight);
    }

    void coloursResolveWhenSet()
    {
        CaptionStrip logo;
        QLabel surface;
        surface.resize(30, 200);
        logo.setSurface(&surface);
        logo.setStartColour(0); // the value it holds: no repaint
        QCOMPARE(logo.repaints(), 0);
        logo.setStartColour(255); // red, OLE order
        QCOMPARE(logo.repaints(), 1);
        QCOMPARE(logo.bands(QSize(30, 200)).first().colour, QColor(255, 0, 0));
        logo.setEndColour(0x8000000F); // the default button face: unchanged, nothing happens
        QCOMPARE(logo.repaints(), 1);
        const QColor buttonFace = QApplication::palette().color(QPalette::Active, QPalette::Button);
        // The top band is one step short of the end colour.
        const QColor top = logo.bands(QSize(30, 254)).last().colour;
        QVERIFY(std::abs(top.red() - buttonFace.red()) <= 1 &&
                std::abs(top.green() - buttonFace.green()) <= 1 &&
                std::abs(top.blue() - buttonFace.blue()) <= 1);
        QVERIFY(!surface.pixmap().isNull());
    }

    void captionRunsUpwardsAboveTheBottom()
    {
        CaptionStrip logo;
        logo.caption = QStringLiteral("    - Rotavine");
        QFont font(QStringLiteral("Arial"), 10, QFont::Bold);
        const QImage image = logo.render(QSize(24, 300), font);
        // Text pixels (white) lie in the lower part of the strip, none in the last 16 pixels.
        int lowestText = -1;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                if (qGray(image.pixel(x, y)) > 200 && y > 200)
                    lowestText = std::max(lowestText, y);
            }
        }
        QVERIFY(lowestText > 0);
        QVERIFY(lowestText < 300 - 16 + 2);
    }
};

QTEST_MAIN(TestLogo)
#include "tst_captionstrip.moc"
