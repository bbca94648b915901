// The texts the windows take from the language files through their controls' tags, and the caption strip
// along the main window's left edge.

#include "base/languagetexts.h"
#include "gui/captions.h"
#include "gui/captionstrip.h"
#include "tests/support/fixtures.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>

class TestCaptions : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    LanguageTexts m_texts;

private slots:
    void initTestCase()
    {
        writeFile(m_dir.filePath("TestScr.txt"), "001Window title\n002Ok;Confirms\n003Frame\n004;Only a tip\n"
                                                 "010Views;Pick a view\n011This week\n012Next week\n");
        m_texts = LanguageTexts::load(m_dir.path(), "Test");
    }

    void controlsTakeTheirTaggedTexts()
    {
        QWidget window;
        Captions::setTag(&window, 1);
        auto* button = new QPushButton("design", &window);
        Captions::setTag(button, 2);
        auto* group = new QGroupBox("design", &window);
        Captions::setTag(group, 3);
        auto* check = new QCheckBox("design", group);
        check->setToolTip("old tip");
        Captions::setTag(check, 4);
        auto* missing = new QLabel("design", &window);
        Captions::setTag(missing, 500); // beyond the table: empty texts
        auto* untagged = new QLabel("keeps", &window);
        auto* notANumber = new QLabel("keeps too", &window);
        notANumber->setProperty("tag", "x1");
        auto* edit = new QLineEdit("user text", &window);

        Captions::applyCaptions(&window, m_texts);
        QCOMPARE(window.windowTitle(), QString("Window title"));
        QCOMPARE(button->text() + '|' + button->toolTip(), QString("Ok|Confirms"));
        QCOMPARE(group->title(), QString("Frame"));
        QCOMPARE(check->text() + '|' + check->toolTip(), QString("|Only a tip"));
        QCOMPARE(missing->text(), QString());
        QCOMPARE(QStringList({untagged->text(), notANumber->text(), edit->text()}),
                 QStringList({"keeps", "keeps too", "user text"}));
    }

    void toolbarButtonsAndMenuEntries()
    {
        QToolBar toolbar;
        QAction* views = toolbar.addAction("design");
        Captions::setTag(views, 10);
        views->setMenu(new QMenu(&toolbar));
        Captions::setTag(views->menu()->addAction("design"), 11);
        views->menu()->addSeparator();
        Captions::setTag(views->menu()->addAction("design"), 12);

        Captions::applyToolbarCaptions(&toolbar, m_texts);
        QCOMPARE(views->text() + '|' + views->toolTip(), QString("Views|Pick a view"));
        QCOMPARE(views->menu()->actions().first()->text(), QString("This week"));
        QCOMPARE(views->menu()->actions().last()->text(), QString("Next week"));
    }

    // The strip is painted in bands from the start colour at the bottom to the end colour at the top.
    void stripBands_data()
    {
        QTest::addColumn<int>("height");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("bandHeight");
        QTest::newRow("100 pixels") << 100 << 101 << 1;
        QTest::newRow("510 pixels") << 510 << 256 << 2;
        QTest::newRow("1 pixel") << 1 << 2 << 1;
        QTest::newRow("empty") << 0 << 0 << 0;
    }
    void stripBands()
    {
        QFETCH(int, height);
        QFETCH(int, count);
        QFETCH(int, bandHeight);
        CaptionStrip strip;
        strip.setStartColour(0);
        strip.setEndColour(0xFFFFFF);
        const QList<CaptionStrip::Band> bands = strip.bands(QSize(20, height));
        QCOMPARE(bands.size(), count);
        if (bands.isEmpty())
            return;
        QCOMPARE(bands.first().rect, QRect(0, height - bandHeight, 20, bandHeight));
        // The two lowest bands have the start colour, then the colour climbs towards the end colour.
        QCOMPARE(bands.at(0).colour, QColor(Qt::black));
        if (bands.size() > 2) {
            QCOMPARE(bands.at(1).colour, QColor(Qt::black));
            QVERIFY(bands.at(2).colour.red() > 0 && bands.last().colour.red() >= 250);
        }
        QVERIFY(bands.last().rect.top() >= -bandHeight); // the last band may be clipped at the top edge
    }

    void stripColoursAndCaption()
    {
        CaptionStrip strip;
        QLabel surface;
        surface.resize(30, 200);
        strip.setSurface(&surface);
        strip.setStartColour(0); // the value it holds: no repaint
        QCOMPARE(strip.repaints(), 0);
        strip.setStartColour(255); // red, OLE order
        QCOMPARE(strip.repaints(), 1);
        QCOMPARE(strip.bands(QSize(30, 200)).first().colour, QColor(255, 0, 0));
        QVERIFY(!surface.pixmap().isNull());
        strip.setEndColour(0x8000000F); // the default button face: unchanged, nothing happens
        QCOMPARE(strip.repaints(), 1);

        // The caption runs upwards, in the lower part of the strip but not in its last 16 pixels.
        CaptionStrip captioned;
        captioned.caption = "    - Rotavine";
        const QImage image = captioned.render(QSize(24, 300), QFont("Arial", 10, QFont::Bold));
        int lowestText = -1;
        for (int y = 200; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                if (qGray(image.pixel(x, y)) > 200)
                    lowestText = y;
            }
        }
        QVERIFY(lowestText > 200 && lowestText < 300 - 16 + 2);
    }
};

QTEST_MAIN(TestCaptions)
#include "tst_captions.moc"
