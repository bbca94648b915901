#include "base/languagetexts.h"
#include "base/programstate.h"
#include "base/settingsstore.h"
#include "base/textids.h"
#include "gui/optionsdialog.h"
#include "mailbox/mailboxsource.h"
#include "planning/enginestate.h"
#include "tests/support/davserver.h"

#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// The options window on the offscreen platform, with the shipped English texts, a real settings file, real
// folder mailboxes and a real Radicale.

namespace {

struct Harness {
    QTemporaryDir dir;
    SettingsStore settings{dir.filePath("Rotavine.ini")};
    LanguageTexts texts = LanguageTexts::load(ROTAVINE_SOURCE_DATA "/Language", "English");
    ProgramState program;
    EngineState engine;
    QStringList messages;
    std::unique_ptr<OptionsDialog> dialog;

    void open()
    {
        dialog = std::make_unique<OptionsDialog>(settings, texts, program, engine);
        dialog->setMessageHandler([this](MessageIcon, const QString& text) { messages << text; });
        dialog->show();
    }
    template <typename T = QWidget>
    T* child(const char* name)
    {
        T* found = dialog->findChild<T*>(QLatin1StringView(name));
        if (!found)
            qFatal("no %s", name);
        return found;
    }
    void click(const char* name) { QTest::mouseClick(child(name), Qt::LeftButton); }
    void type(const char* name, const QString& text)
    {
        child<QLineEdit>(name)->clear();
        QTest::keyClicks(child(name), text);
    }
    QString parameter(const char* key) { return settings.read("Parameters", key, "-"); }
    QString settingsFile()
    {
        QFile file(settings.filePath());
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
};

} // namespace

class TestOptionsDialog : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_mailbox = m_dir.filePath("demo");
        QCOMPARE(copyFolderTree(ROTAVINE_SOURCE_DATA "/demo-mailbox", m_mailbox), QString());
    }

    // Apply, then closing, each save once: the hours refuse the save after the language, the width is
    // clamped or left alone, the delay steps by 5 from 0.
    void save_data()
    {
        QTest::addColumn<QString>("hours");    // first/last
        QTest::addColumn<QString>("width");    // as typed
        QTest::addColumn<QString>("steps");    // delay buttons: + or -
        QTest::addColumn<QString>("expected"); // Language StartDayHour EndDayHour HeightCol AutomaticDelay
        QTest::addColumn<QList<int>>("shown"); // message numbers
        QTest::newRow("08/08: only the language") << "8/8"
                                                  << "70"
                                                  << "+"
                                                  << "Italiano - - - -" << QList{33, 21, 21};
        QTest::newRow("-12.7") << "9/18"
                               << "-12.7"
                               << ""
                               << "Italiano 9 18 12 0" << QList{20, 20};
        QTest::newRow("300") << "8/17"
                             << "300"
                             << ""
                             << "Italiano 8 17 255 0" << QList{20, 20};
        QTest::newRow("letters: width not saved") << "0/24"
                                                  << "wide"
                                                  << ""
                                                  << "Italiano 0 24 - 0" << QList{20, 20};
        QTest::newRow("0 down stays 0") << "8/17"
                                        << "60"
                                        << "-"
                                        << "Italiano 8 17 60 0" << QList{20, 20};
        QTest::newRow("three up") << "8/17"
                                  << "60"
                                  << "+++"
                                  << "Italiano 8 17 60 15" << QList{20, 20};
    }
    void save()
    {
        QFETCH(QString, hours);
        QFETCH(QString, width);
        QFETCH(QString, steps);
        QFETCH(QString, expected);
        QFETCH(QList<int>, shown);
        Harness harness;
        harness.open();
        QSignalSpy delays(harness.dialog.get(), &OptionsDialog::refreshDelayChanged);
        harness.click("Italiano");
        const QStringList hour = hours.split('/');
        harness.child<QListWidget>("dayStartList")->setCurrentRow(hour[0].toInt());
        auto* endList = harness.child<QListWidget>("dayEndList");
        endList->scrollToItem(endList->item(hour[1].toInt()));
        QTest::mouseClick(endList->viewport(), Qt::LeftButton, {},
                          endList->visualItemRect(endList->item(hour[1].toInt())).center());
        harness.type("columnWidthEdit", width);
        for (QChar step : steps)
            harness.click(step == '+' ? "delayUpButton" : "delayDownButton");

        harness.click("applyButton");
        // Written at once, though the texts in use stay until the next start.
        QCOMPARE(harness.parameter("Language"), "Italiano");
        harness.dialog->reject();
        const QString saved = QStringList{harness.parameter("Language"), harness.parameter("StartDayHour"),
                                          harness.parameter("EndDayHour"), harness.parameter("HeightCol"),
                                          harness.parameter("AutomaticDelay")}
                                  .join(' ');
        QCOMPARE(saved, expected);
        QStringList texts;
        for (int number : shown)
            texts << harness.texts.message(number);
        QCOMPARE(harness.messages, texts);
        if (shown.first() == 20) {
            QCOMPARE(QString::number(harness.program.reportColumnWidth) + ' ' +
                         QString::number(harness.program.refreshDelay),
                     saved.section(' ', 3, 4).replace('-', "60"));
            QCOMPARE(delays.count(), 2);
            QCOMPARE(delays.last().first().toInt(), harness.program.refreshDelay);
        }
    }

    // Test opens what the page shows, saves nothing, and says what it found or why it failed; the typed
    // password is used for it only.
    void testSource_data()
    {
        QTest::addColumn<QString>("where"); // folder, missing, server or wrong password
        QTest::addColumn<QString>("found"); // the lines after the first, or the error's words
        const QString demo =
            "Teams: 2\nMembers found in the address book: 12 / 12\nCalendars readable: 12 / 12";
        QTest::newRow("folder") << "folder" << demo;
        QTest::newRow("missing folder") << "missing"
                                        << "does not exist";
        QTest::newRow("server") << "server" << demo;
        QTest::newRow("wrong password") << "wrong password"
                                        << "401";
    }
    void testSource()
    {
        QFETCH(QString, where);
        QFETCH(QString, found);
        Harness harness;
        harness.open();
        if (where == "folder" || where == "missing") {
            harness.click("folderButton");
            harness.type("pathEdit", where == "folder" ? m_mailbox : m_mailbox + "/nowhere");
        }
        else {
            DavServer& server = DavServer::shared();
            QVERIFY2(server.isRunning(), qPrintable(server.error()));
            if (server.get("/" + DavServer::kUser + "/Rotavine/").status != 200)
                QCOMPARE(server.uploadMailbox(m_mailbox), QString());
            harness.click("serverButton");
            harness.type("urlEdit", server.url().toString());
            harness.type("userEdit", DavServer::kUser);
            harness.type("passwordEdit", where == "server" ? DavServer::kPassword : "not-the-password");
        }
        harness.click("testButton");
        QCOMPARE(harness.messages.size(), 1);
        const QString report = harness.messages.first();
        const bool opened = found.startsWith("Teams");
        QCOMPARE(report.section('\n', 0, 0),
                 harness.texts.message(opened ? Message::SourceOpened : Message::SourceNotOpened));
        if (opened)
            QCOMPARE(report.section('\n', 1), found);
        else
            QVERIFY2(report.contains(found) && !report.contains("not-the-password"), qPrintable(report));
        QVERIFY(!harness.settings.hasSection("Source"));
        if (where != "server")
            return;

        // Applied, the source is kept and the mailbox opened again; the password is not.
        QSignalSpy changed(harness.dialog.get(), &OptionsDialog::sourceChanged);
        harness.click("applyButton");
        QCOMPARE(changed.count(), 1);
        QVERIFY(harness.messages.contains(harness.texts.message(Message::PasswordNotKept)));
        QVERIFY(!harness.settingsFile().contains(DavServer::kPassword));
        const MailboxSource source = chooseMailboxSource(harness.settings, {}, {}, {});
        QCOMPARE(source.url, DavServer::shared().url());
        QCOMPARE(source.user, DavServer::kUser);
        harness.dialog->reject();
        QCOMPARE(changed.count(), 1);
    }

private:
    QTemporaryDir m_dir;
    QString m_mailbox;
};

QTEST_MAIN(TestOptionsDialog)
#include "tst_optionsdialog.moc"
