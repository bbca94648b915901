// Runs the main window on a real X server (the test is started under xvfb-run) with a window manager and a
// system tray, as a new user starts it on the demo mailbox, and saves what the screen shows, so that a person
// can look at it after a build: the first start, a planning of 187 days, the detail panel and the dialogs.

#include "app/demosettings.h"
#include "base/languagetexts.h"
#include "base/programlanguage.h"
#include "base/programstate.h"
#include "base/settingsstore.h"
#include "base/textids.h"
#include "gui/detailpanel.h"
#include "gui/mainwindow.h"
#include "gui/planninggridview.h"
#include "gui/rulelegend.h"
#include "gui/trayicon.h"
#include "mailbox/foldermailbox.h"
#include "planning/enginestate.h"
#include "planning/planningmatrix.h"
#include "tests/support/fixtures.h"

#include <QDateEdit>
#include <QDialog>
#include <QGuiApplication>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QToolBar>
#include <QToolButton>
#include <QTranslator>

// The main window on a copy of the demo mailbox, started in a language as a new user starts it, at the size
// a new user gets.
struct DemoStart {
    QTemporaryDir dir;
    SettingsStore settings{dir.filePath("Rotavine.ini")};
    LanguageTexts texts;
    std::unique_ptr<FolderMailbox> mailbox;
    ProgramState program;
    EngineState engine;
    PlanningMatrix matrix;
    std::unique_ptr<MainWindow> window;

    bool start(const QString& language, MainWindow::MessageHandler messages = {})
    {
        copyTree(ROTAVINE_SOURCE_DATA "/demo-mailbox", dir.filePath("mailbox"));
        if (language != "English") {
            settings.write("Parameters", "Language", language);
            ProgramLanguage::apply(LanguageTexts::languageName(settings));
        }
        texts = LanguageTexts::load(ROTAVINE_SOURCE_DATA "/Language", language);
        FolderMailbox::Options options;
        options.root = dir.filePath("mailbox");
        mailbox = std::make_unique<FolderMailbox>(options);
        writeDemoSettings(settings, texts, *mailbox);
        window = std::make_unique<MainWindow>(program, engine, matrix, settings, texts, *mailbox);
        if (messages)
            window->setMessageHandler(std::move(messages));
        window->show();
        return QTest::qWaitForWindowExposed(window.get()) &&
               QTest::qWaitFor([this] { return program.activated && !engine.queryRunning; }, 20000);
    }
};

class TestScreenshot : public QObject {
    Q_OBJECT

    QList<QProcess*> m_desktop; // the window manager and the tray

    QString save(QWidget& window, const QString& name)
    {
        QTest::qWait(300); // let the window system show the last paint
        const QString artifact = ROTAVINE_ARTIFACTS "/" + name;
        if (!QDir().mkpath(ROTAVINE_ARTIFACTS) || !window.screen()->grabWindow(window.winId()).save(artifact))
            return {};
        qInfo("screenshot: %s", qPrintable(artifact));
        return artifact;
    }

private slots:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QString("xcb"));
        for (const QStringList& command : {QStringList{"openbox"}, QStringList{"trayer", "--edge", "top"}}) {
            if (QStandardPaths::findExecutable(command.first()).isEmpty())
                continue;
            auto* process = new QProcess(this);
            process->start(command.first(), command.mid(1));
            m_desktop << process;
        }
        QTest::qWait(500);
    }
    void cleanupTestCase()
    {
        for (QProcess* process : std::as_const(m_desktop))
            process->kill(), process->waitForFinished();
    }

    void firstStartOnTheDemo()
    {
        DemoStart demo;
        QVERIFY(demo.start("English", [](MessageIcon, const QString& text) { QFAIL(qPrintable(text)); }));
        MainWindow& window = *demo.window;
        EngineState& engine = demo.engine;
        QCOMPARE(window.grid().rows(), 4 + 12);
        QVERIFY(window.findChild<RuleLegend*>("ruleLegend")->isVisible());

        // The screen shows several of the demo rules' colours (a light green, orange, blue and lilac).
        const QImage image = QImage(save(window, "first-start-demo.png"));
        QSet<QRgb> seen;
        for (int y = 0; y < image.height(); y += 3)
            for (int x = 0; x < image.width(); x += 3)
                seen << image.pixel(x, y);
        int ruleColours = 0;
        for (QRgb colour :
             {qRgb(0x9B, 0xE2, 0x9B), qRgb(0xFF, 0xB8, 0x70), qRgb(0x8E, 0xC5, 0xFF), qRgb(0xD3, 0xB5, 0xFF)})
            ruleColours += seen.contains(colour);
        QVERIFY2(ruleColours >= 3, qPrintable(QString::number(ruleColours)));

        // The colour planning of a month settles at this size (the scroll bars once went on and off without
        // end), and a planning of 187 days scrolls sideways with readable columns.
        const auto entry = [&](const QString& key) {
            for (QAction* action : window.findChild<QToolBar*>("toolbar")->actions().at(1)->menu()->actions())
                if (action->property("key") == key)
                    return action;
            return static_cast<QAction*>(nullptr);
        };
        entry("ThisMonth")->trigger();
        entry("ColorPlanning")->trigger();
        auto* view = window.findChild<PlanningGridView*>("planningGrid");
        QTest::qWait(500);
        QVERIFY(!view->horizontalScrollBar()->isVisible());
        window.findChild<QDateEdit*>("toDate")->setDate(engine.startDate.addDays(186));
        entry("Planning")->trigger();
        QTRY_VERIFY(view->horizontalScrollBar()->isVisible());
        QVERIFY(!save(window, "planning-187-days.png").isEmpty());

        // A cell's details pinned over the week, and each dialog the window opens.
        window.findChild<QDateEdit*>("toDate")->setDate(engine.startDate.addDays(6));
        entry("Planning")->trigger();
        const QRect cell = view->painter().cellRect(6, 4, view->firstScrollColumn());
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, cell.center());
        QVERIFY(window.findChild<DetailPanel*>("detailPanel")->isVisible());
        QVERIFY(!save(window, "detail-panel.png").isEmpty());
        QStringList dialogs;
        window.setDialogRunner([&](QDialog& dialog) {
            dialog.show();
            if (QTest::qWaitForWindowExposed(&dialog))
                dialogs << save(dialog, dialog.objectName() + ".png");
            return int(QDialog::Rejected);
        });
        window.findChild<QToolButton*>("newAppointmentButton")->click();
        for (const char* tool : {"MaintainGroups", "MaintainFilters", "Options"})
            for (QAction* action : window.findChild<QToolBar*>("toolbar")->actions().at(7)->menu()->actions())
                if (action->property("key") == tool)
                    action->trigger();
        auto* members = window.findChild<QListWidget*>("memberList");
        emit members->itemActivated(members->item(0));
        QCOMPARE(dialogs.size(), 5);
        QVERIFY(!dialogs.contains(QString()));

        // The tray (trayer) holds the icon: minimised, the window hides, and a double click on the icon
        // brings it back; closed, the icon goes.
        auto* tray = window.findChild<TrayIcon*>();
        QVERIFY(tray && tray->isShown() && tray->systemIcon()->isVisible());
        window.showMinimized();
        QTRY_VERIFY(!window.isVisible());
        emit tray->systemIcon()->activated(QSystemTrayIcon::DoubleClick);
        QTRY_VERIFY(window.isVisible() && !window.isMinimized());
        window.close();
        QVERIFY(!tray->systemIcon()->isVisible());
    }
    // Started in French, the program speaks French in its grid and in Qt's own standard buttons.
    void frenchStart()
    {
        DemoStart demo;
        QVERIFY(demo.start("Francais"));
        MainWindow& window = *demo.window;
        const LanguageTexts& texts = demo.texts;
        const EngineState& engine = demo.engine;
        const QStringList days{window.grid().text(2, 1), window.grid().text(2, 2)};
        QMessageBox question(QMessageBox::Question, window.windowTitle(),
                             texts.message(Message::ConfirmDeleteTeam), QMessageBox::Yes | QMessageBox::No,
                             &window);
        question.show();
        QVERIFY(QTest::qWaitForWindowExposed(&question));
        QTest::qWait(300);
        QVERIFY(window.screen()->grabWindow(0).save(ROTAVINE_ARTIFACTS "/first-start-francais.png"));
        const QStringList buttons{question.button(QMessageBox::Yes)->text(),
                                  question.button(QMessageBox::No)->text()};
        QLocale::setDefault(QLocale::system());
        for (QTranslator* translator : qApp->findChildren<QTranslator*>())
            QCoreApplication::removeTranslator(translator);
        QCOMPARE(buttons, QStringList({"&Oui", "&Non"}));
        QVERIFY2(QLocale(QLocale::French).dayName(engine.startDate.dayOfWeek()) == days[0],
                 qPrintable(days.join(',')));
    }
};

QTEST_MAIN(TestScreenshot)
#include "tst_screenshot.moc"
