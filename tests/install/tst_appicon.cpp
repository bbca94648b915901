#include "gui/appicon.h"

#include <QColor>
#include <QFile>
#include <QImage>
#include <QSet>
#include <QTest>

class TestAppIcon : public QObject {
    Q_OBJECT

private slots:
    // The desktop finds the entry, the AppStream file and the icon by the one name the program gives itself.
    void shippedUnderTheApplicationId()
    {
        for (const QString suffix : {".desktop", ".metainfo.xml", ".svg", "-48.png"}) {
            const QString path = ROTAVINE_SOURCE_DATA "/desktop/" + applicationId() + suffix;
            QVERIFY2(QFile::exists(path), qPrintable(path));
        }
    }

    void drawnAtEverySize_data()
    {
        QTest::addColumn<int>("size");
        for (const int size : {16, 24, 32, 64, 256})
            QTest::addRow("%d", size) << size;
    }

    // A planning sheet on a transparent ground: its cells show at least four of their colours.
    void drawnAtEverySize()
    {
        QFETCH(int, size);
        const QImage image = appIcon().pixmap(size).toImage();
        QCOMPARE(image.size(), QSize(size, size));
        QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
        QSet<int> hues;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                const QColor colour = image.pixelColor(x, y);
                if (colour.alpha() == 255 && colour.hsvSaturation() > 120)
                    hues.insert(colour.hsvHue() / 30);
            }
        QVERIFY2(hues.size() >= 4, qPrintable(QString::number(hues.size())));
    }
};

QTEST_MAIN(TestAppIcon)
#include "tst_appicon.moc"
