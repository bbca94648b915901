#pragma once

#include "base/languagetexts.h"
#include "base/programstate.h"
#include "base/settingsstore.h"
#include "mailbox/dav/davmailbox.h"
#include "mailbox/foldermailbox.h"
#include "planning/colourrules.h"
#include "planning/enginestate.h"
#include "planning/filterlist.h"
#include "planning/memberrow.h"
#include "planning/planninggrid.h"
#include "planning/planningmatrix.h"
#include "planning/querycontext.h"
#include "tests/support/davserver.h"
#include "tests/support/fixtures.h"

#include <QTemporaryDir>
#include <QTest>

#include <memory>

// A mailbox folder and everything a query needs, in a temporary folder; the messages the queries show are
// recorded. Under the global data row "dav" the folder is uploaded to a Radicale on 127.0.0.1 and the
// mailbox reads it from there.
class QueryFixture {
public:
    // The global data of a test class that runs on both back ends, and the back end of the running test.
    static void addSources()
    {
        QTest::addColumn<bool>("server");
        QTest::newRow("folder") << false;
        QTest::newRow("dav") << true;
    }
    static bool onServer()
    {
        QFETCH_GLOBAL(bool, server);
        return server;
    }

    QueryFixture()
    {
        if (onServer())
            DavServer::shared().reset();
        QDir().mkpath(path("contacts/Rotavine"));
        QDir().mkpath(path("calendars"));
        writeFile(m_dir.filePath("lang/TestMsg.txt"), "001Categories\n002Subject\n009No members\n011Week \n"
                                                      "029dd/mm\n031Private\n100Too many\n102Too long\n");
        writeFile(m_dir.filePath("lang/TestScr.txt"), "001Rotavine\n");
        m_texts = LanguageTexts::load(m_dir.filePath("lang"), "Test");
    }

    QString path(const QString& relative = {}) const { return m_dir.filePath("mailbox/" + relative); }
    // A file of the mailbox folder, written anew; the server gets it before the next query.
    void write(const QString& relative, const QByteArray& bytes)
    {
        m_uploaded = false;
        writeFile(path(relative), bytes);
    }

    // A VEVENT body: an all-day event when the start is a date. The subject may bring more lines after "|".
    static QByteArray event(const QByteArray& start, const QByteArray& end, const QByteArray& subject)
    {
        const QByteArray kind = start.size() == 8 ? ";VALUE=DATE:" : ";TZID=Europe/Paris:";
        return "SUMMARY:" + subject + "|DTSTART" + kind + start + "|DTEND" + kind + end;
    }
    // A person with a calendar of those events.
    void addPerson(const QString& name, const QString& email, const QList<QByteArray>& events = {})
    {
        write("contacts/" + email + ".vcf", person(email, name, email));
        QDir().mkpath(path("calendars/" + email));
        for (int n = 1; n <= events.size(); ++n)
            write(QStringLiteral("calendars/%1/e%2.ics").arg(email).arg(n, 3, 10, QLatin1Char('0')),
                  calendar("BEGIN:VEVENT|UID:" + email.toUtf8() + QByteArray::number(n) + "|" +
                           events[n - 1] + "|END:VEVENT"));
    }
    // A selected colour rule, as the filter dialog stores it.
    void addRule(const QString& name, const QString& type, const QString& keywords, qint64 colour,
                 int priority)
    {
        SettingsStore& store = m_settings;
        QVERIFY(store.write("Filters", name, QString()) && store.write(name, "Type", type) &&
                store.write(name, "Txt", keywords) && store.write(name, "Color", QString::number(colour)) &&
                store.write(name, "ColorHtml", oleColourToHtml(colour)) &&
                store.write(name, "Prior", QString::number(priority)) && store.write(name, "Selected", "1"));
    }
    SettingsStore& settings() { return m_settings; }

    Mailbox& mailbox()
    {
        const bool server = onXandikos || onServer();
        if (server && !m_uploaded) {
            DavServer& server = onXandikos ? DavServer::xandikos() : DavServer::shared();
            const QString failed = server.isRunning() ? server.uploadMailbox(path()) : server.error();
            if (!failed.isEmpty())
                qFatal("no mailbox on the server: %s", qPrintable(failed));
            m_uploaded = true;
        }
        if (!m_mailbox && server) {
            DavMailbox::Options options;
            options.server = !davServer.isEmpty() ? davServer
                             : onXandikos         ? DavServer::xandikos().url()
                                                  : DavServer::shared().url();
            options.user = DavServer::kUser;
            options.password = DavServer::kPassword;
            options.timeoutSeconds = davTimeoutSeconds;
            m_mailbox = std::make_unique<DavMailbox>(options);
        }
        if (!m_mailbox) {
            FolderMailbox::Options options;
            options.root = path();
            m_mailbox = std::make_unique<FolderMailbox>(options);
        }
        return *m_mailbox;
    }

    QueryContext context() { return context(engine, matrix, grid, rules, &memory); }
    // A second window on the same mailbox: its own flags, grid, matrix and rules, and nothing remembered.
    struct Window {
        EngineState engine;
        PlanningMatrix matrix;
        PlanningGrid grid;
        ColourRules rules;
    };
    QueryContext context(Window& window)
    {
        return context(window.engine, window.matrix, window.grid, window.rules, nullptr);
    }

    // The cases of a corpus file of tests/data/planning, each its name and then its lines. "[name]" opens a
    // case, "#" starts a comment line.
    static QList<QStringList> corpus(const QString& file)
    {
        QFile in(QStringLiteral(ROTAVINE_TEST_DATA "/planning/") + file);
        if (!in.open(QIODevice::ReadOnly | QIODevice::Text))
            qFatal("cannot read %s", qPrintable(in.fileName()));
        QList<QStringList> cases;
        for (const QString& line : QString::fromUtf8(in.readAll()).split('\n')) {
            if (line.startsWith('['))
                cases.append({line.mid(1, line.indexOf(']') - 1)});
            else if (!line.trimmed().isEmpty() && !line.startsWith('#'))
                cases.last().append(line);
        }
        return cases;
    }
    // Sets a case up for a person of that name and address, from its "flags" line (letters: t times shown,
    // p private hidden, d details hidden, f filters on, o only filtered cells coloured), "rule" lines (name,
    // type, keywords, OLE colour and priority, "|" between them) and "event" lines (start, end and subject,
    // as event() takes them). Returns its other lines: what the test expects.
    QStringList apply(const QStringList& lines, const QString& name, const QString& email)
    {
        QStringList expected;
        QList<QByteArray> events;
        QString flags;
        for (const QString& line : lines.mid(1)) {
            const QStringList rule = line.section(' ', 1).split('|');
            if (line.startsWith("flags "))
                flags = line.mid(6);
            else if (line.startsWith("rule "))
                addRule(rule[0], rule[1], rule[2], rule[3].toLongLong(), rule[4].toInt());
            else if (line.startsWith("event "))
                events << event(line.section(' ', 1, 1).toUtf8(), line.section(' ', 2, 2).toUtf8(),
                                line.section(' ', 3).toUtf8());
            else
                expected << line.trimmed();
        }
        addPerson(name, email, events);
        engine.showTimes = flags.contains('t');
        engine.hidePrivate = flags.contains('p');
        engine.showDetails = !flags.contains('d');
        engine.useFilters = flags.contains('f');
        engine.filteredOnly = flags.contains('o');
        return expected;
    }

    // Where the mailbox reaches the server (a proxy of the test's), and how long it waits for an answer.
    QUrl davServer;
    int davTimeoutSeconds = 10;

    EngineState engine;
    ProgramState program;
    PlanningMatrix matrix;
    PlanningGrid grid;
    ColourRules rules;
    QueryMemory memory;
    QStringList messages;
    int yields = 0;
    std::function<void()> onYield;

private:
    QueryContext context(EngineState& engine, PlanningMatrix& matrix, PlanningGrid& grid, ColourRules& rules,
                         QueryMemory* memory)
    {
        QueryContext context{
            engine, program, matrix, grid, m_texts, mailbox(), rules, m_settings, loadFilterList(m_settings)};
        context.yield = [this] {
            ++yields;
            if (onYield)
                onYield();
        };
        context.showMessage = [this](MessageIcon, const QString& text) { messages << text; };
        context.gridHeight = [] { return 9000; };
        context.memory = memory;
        return context;
    }

    QTemporaryDir m_dir;
    SettingsStore m_settings{m_dir.filePath("Rotavine.ini")};
    LanguageTexts m_texts;
    bool m_uploaded = false;
    std::unique_ptr<Mailbox> m_mailbox;

public:
    // Read from Xandikos rather than the folder or Radicale, whatever the global data says.
    bool onXandikos = false;

private:
};
