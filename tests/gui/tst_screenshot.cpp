// Runs the main window on a real X server (the test is started under xvfb-run), shows the demo team's month
// planning and saves what the screen shows, so that a person can look at it after a build.

#include "base/languagetexts.h"
#include "base/programstate.h"
#include "base/settingsstore.h"
#include "gui/mainwindow.h"
#include "mailbox/foldermailbox.h"
#include "planning/enginestate.h"
#include "planning/planningmatrix.h"
#include "tests/support/fixtures.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

class TestScreenshot : public QObject {
    Q_OBJECT

private slots:
    void monthViewOfTheDemoTeam()
    {
        QCOMPARE(QGuiApplication::platformName(), QString("xcb"));
        QTemporaryDir dir;
        copyTree(ROTAVINE_SOURCE_DATA "/demo-mailbox", dir.filePath("mailbox"));
        SettingsStore settings(dir.filePath("Rotavine.ini"));
        settings.write("Parameters", "SelectedTeam", "Customer Experience");
        settings.write("Parameters", "Checked0", "1");
        settings.write("Parameters", "AtRunAction", "5"); // this month
        const LanguageTexts texts = LanguageTexts::load(ROTAVINE_SOURCE_DATA "/Language", "English");
        FolderMailbox::Options options;
        options.root = dir.filePath("mailbox");
        FolderMailbox mailbox(options);
        ProgramState program;
        EngineState engine;
        PlanningMatrix matrix;
        MainWindow window(program, engine, matrix, settings, texts, mailbox);
        window.setMessageHandler([](MessageIcon, const QString& text) { QFAIL(qPrintable(text)); });
        window.resize(1500, 900);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_VERIFY_WITH_TIMEOUT(engine.headersValid && !engine.queryRunning, 20000);
        QCOMPARE(window.grid().rows(), 4 + 12);
        QTest::qWait(300); // let the window system show the last paint

        const QPixmap shot = window.screen()->grabWindow(window.winId());
        const QString artifact = ROTAVINE_ARTIFACTS "/month-view-demo-team.png";
        QVERIFY(QDir().mkpath(ROTAVINE_ARTIFACTS) && shot.save(artifact));
        qInfo("screenshot: %s", qPrintable(artifact));

        // What the X server shows holds the default appointment colour and the weekend header colour.
        const QImage image = shot.toImage();
        bool appointment = false;
        bool weekend = false;
        for (int y = 0; y < image.height(); y += 3) {
            for (int x = 0; x < image.width(); x += 3) {
                appointment |= image.pixel(x, y) == qRgb(0xC4, 0xC4, 0x00);
                weekend |= image.pixel(x, y) == qRgb(0x80, 0x80, 0xFF);
            }
        }
        QVERIFY(appointment && weekend);
    }
};

QTEST_MAIN(TestScreenshot)
#include "tst_screenshot.moc"
