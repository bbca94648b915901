#include "base/languagetexts.h"
#include "gui/captions.h"

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QToolBar>

class TestCaptions : public QObject {
    Q_OBJECT

private:
    static LanguageTexts texts()
    {
        QTemporaryDir dir;
        QFile screen(dir.filePath(QStringLiteral("TestScr.txt")));
        if (!screen.open(QIODevice::WriteOnly))
            qFatal("cannot write the screen file");
        screen.write("001Window title\n"
                     "002Ok;Confirms\n"
                     "003Frame\n"
                     "004;Only a tip\n"
                     "010Views;Pick a view\n"
                     "011This week\n"
                     "012Next week\n");
        screen.close();
        return LanguageTexts::load(dir.path(), QStringLiteral("Test"));
    }

private slots:
    void controlsTakeTheirTaggedTexts()
    {
        QWidget window;
        Captions::setTag(&window, 1);
        auto* button = new QPushButton(QStringLiteral("design"), &window);
        Captions::setTag(button, 2);
        auto* group = new QGroupBox(QStringLiteral("design"), &window);
        Captions::setTag(group, 3);
        auto* check = new QCheckBox(QStringLiteral("design"), group);
        check->setToolTip(QStringLiteral("old tip"));
        Captions::setTag(check, 4);
        auto* missing = new QLabel(QStringLiteral("design"), &window);
        Captions::setTag(missing, 500); // beyond the table: empty texts
        auto* untagged = new QLabel(QStringLiteral("keeps"), &window);
        auto* notANumber = new QLabel(QStringLiteral("keeps too"), &window);
        notANumber->setProperty("tag", QStringLiteral("x1"));
        auto* edit = new QLineEdit(QStringLiteral("user text"), &window);

        Captions::applyCaptions(&window, texts());

        QCOMPARE(window.windowTitle(), QStringLiteral("Window title"));
        QCOMPARE(button->text(), QStringLiteral("Ok"));
        QCOMPARE(button->toolTip(), QStringLiteral("Confirms"));
        QCOMPARE(group->title(), QStringLiteral("Frame"));
        QCOMPARE(check->text(), QString());
        QCOMPARE(check->toolTip(), QStringLiteral("Only a tip"));
        QCOMPARE(missing->text(), QString());
        QCOMPARE(untagged->text(), QStringLiteral("keeps"));
        QCOMPARE(notANumber->text(), QStringLiteral("keeps too"));
        QCOMPARE(edit->text(), QStringLiteral("user text"));
    }

    void toolbarButtonsAndMenuEntries()
    {
        QToolBar toolbar;
        QAction* views = toolbar.addAction(QStringLiteral("design"));
        Captions::setTag(views, 10);
        auto* menu = new QMenu(&toolbar);
        QAction* thisWeek = menu->addAction(QStringLiteral("design"));
        Captions::setTag(thisWeek, 11);
        menu->addSeparator();
        QAction* nextWeek = menu->addAction(QStringLiteral("design"));
        Captions::setTag(nextWeek, 12);
        views->setMenu(menu);

        Captions::applyToolbarCaptions(&toolbar, texts());

        QCOMPARE(views->text(), QStringLiteral("Views"));
        QCOMPARE(views->toolTip(), QStringLiteral("Pick a view"));
        QCOMPARE(thisWeek->text(), QStringLiteral("This week"));
        QCOMPARE(nextWeek->text(), QStringLiteral("Next week"));
    }
};

QTEST_MAIN(TestCaptions)
#include "tst_captions.moc"
