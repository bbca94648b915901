#include "gui/filterdialog.h"

#include "base/languagetexts.h"
#include "base/settingsstore.h"

#include <QColorDialog>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

class TestFilterDialog : public QObject {
    Q_OBJECT

private slots:
    void savesAndDeletesThroughTheWidgets()
    {
        QTemporaryDir dir;
        SettingsStore settings(dir.filePath("Rotavine.ini"));
        const LanguageTexts texts = LanguageTexts::load(ROTAVINE_SOURCE_DATA "/Language", "English");
        FilterDialog dialog(settings, texts);
        QStringList shown;
        bool answer = false;
        dialog.setMessageHandler([&](MessageIcon, const QString& text, bool question) {
            shown << text;
            return question && answer;
        });
        dialog.show();
        const auto widget = [&](const char* name) { return dialog.findChild<QWidget*>(name); };
        const auto click = [&](const char* name) { QTest::mouseClick(widget(name), Qt::LeftButton); };
        const auto text = [&](const char* name) { return widget(name)->property("text").toString(); };
        const auto rule = [&](const char* key) { return settings.read("Absent", key, ""); };
        auto* rules = dialog.findChild<QTreeWidget*>("ruleList");

        QTest::keyClicks(widget("nameEdit"), "Absent");
        QTest::keyClicks(widget("keywordsEdit"), "absent");
        for (int step = 0; step < 9; ++step)
            click("priorityUpButton");
        click("saveButton");
        QCOMPARE(shown.join('|') + text("priorityValue"), texts.message(26) + "16");
        click("subjectButton");
        QTimer::singleShot(0, [] {
            auto* picker = qobject_cast<QColorDialog*>(QApplication::activeModalWidget());
            picker->setCurrentColor(QColor(0x12, 0x34, 0x56));
            picker->accept();
        });
        click("colourButton");
        QTest::keyClick(widget("keywordsEdit"), Qt::Key_Return);
        QCOMPARE(rule("Txt") + rule("Prior") + rule("Color") + rule("ColorHtml"), "absent;165649426123456");
        QVERIFY(dialog.rulesChanged());
        QCOMPARE(text("nameEdit") + text("priorityValue") + QString::number(rules->topLevelItemCount()),
                 "91");

        // The keyboard picks a rule as a click does.
        QTest::keyClick(rules, Qt::Key_Down);
        QCOMPARE(text("nameEdit") + text("priorityValue"), "Absent16");

        click("deleteButton");
        QCOMPARE(shown.last(), texts.message(118) + "Absent" + texts.message(119));
        QCOMPARE(rule("Txt"), "absent;");
        answer = true;
        click("deleteButton");
        QCOMPARE(rule("Txt") + QString::number(settings.list("Filters").size() + rules->topLevelItemCount()),
                 "0");

        // A rule listed under the name of the program's own section leaves that section in place.
        QVERIFY(settings.write("Parameters", "Language", "English") &&
                settings.write("Filters", "parameters", ""));
        QTest::keyClicks(widget("nameEdit"), "Parameters");
        click("deleteButton");
        QCOMPARE(settings.read("Parameters", "Language", "") + settings.read("Filters", "parameters", "gone"),
                 "Englishgone");
    }
};

QTEST_MAIN(TestFilterDialog)
#include "tst_filterdialog.moc"
