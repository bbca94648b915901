#pragma once

#include "base/languagetexts.h"
#include "base/programstate.h"
#include "base/settingsstore.h"
#include "mailbox/dav/davmailbox.h"
#include "mailbox/foldermailbox.h"
#include "planning/colourrules.h"
#include "planning/enginestate.h"
#include "planning/memberrow.h"
#include "planning/planninggrid.h"
#include "planning/planningmatrix.h"
#include "planning/querycontext.h"
#include "tests/support/radicaleserver.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

// A mailbox and everything a query needs, built in a temporary folder: people are added with their events as
// iCalendar lines, and the messages the queries show are recorded. Under the global data row "dav" the same
// folder is uploaded to a Radicale on 127.0.0.1 and the query reads it from there.
class QueryFixture {
public:
    // Only for tests whose class has the global data of addSources().
    static bool onServer()
    {
        QFETCH_GLOBAL(bool, server);
        return server;
    }
    // The global data of a test that runs on both sources.
    static void addSources()
    {
        QTest::addColumn<bool>("server");
        QTest::newRow("folder") << false;
        QTest::newRow("dav") << true;
    }

    QueryFixture()
        : m_root(m_dir.filePath(QStringLiteral("mailbox"))),
          m_settings(m_dir.filePath(QStringLiteral("Rotavine.ini")))
    {
        if (onServer())
            RadicaleServer::shared().reset();
        QDir().mkpath(m_root + QStringLiteral("/contacts"));
        QDir().mkpath(m_root + QStringLiteral("/calendars"));
        write(m_dir.filePath(QStringLiteral("lang/TestMsg.txt")),
              "001Categories\n002Subject\n009No members\n011Week \n029dd/mm\n031Private\n046Skipped\n100Too "
              "many\n"
              "102Too long\n");
        write(m_dir.filePath(QStringLiteral("lang/TestScr.txt")), "001Rotavine\n");
        m_texts = LanguageTexts::load(m_dir.filePath(QStringLiteral("lang")), QStringLiteral("Test"));
    }

    // A person with a calendar; `events` are VEVENT bodies (lines joined by "|"), times in Europe/Paris.
    void addPerson(const QString& name, const QString& email, const QList<QByteArray>& events = {})
    {
        m_uploaded = false;
        write(m_root + QStringLiteral("/contacts/%1.vcf").arg(email),
              "BEGIN:VCARD\r\nVERSION:4.0\r\nUID:" + email.toUtf8() + "\r\nFN:" + name.toUtf8() +
                  "\r\nEMAIL:" + email.toUtf8() + "\r\nEND:VCARD\r\n");
        const QString calendar = m_root + QStringLiteral("/calendars/") + email;
        QDir().mkpath(calendar);
        int n = 0;
        for (QByteArray event : events) {
            event.replace('|', "\r\n");
            ++n;
            write(calendar + QStringLiteral("/e%1.ics").arg(n, 3, 10, QLatin1Char('0')),
                  "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Test//EN\r\nBEGIN:VEVENT\r\nUID:" +
                      email.toUtf8() + QByteArray::number(n) + "\r\n" + event +
                      "\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
        }
    }

    void addRule(const QString& name, const QString& type, const QString& keywords, qint64 colour,
                 int priority)
    {
        m_settings.write(QStringLiteral("Filters"), name, QString());
        m_settings.write(name, QStringLiteral("Type"), type);
        m_settings.write(name, QStringLiteral("Txt"), keywords);
        m_settings.write(name, QStringLiteral("Color"), QString::number(colour));
        m_settings.write(name, QStringLiteral("ColorHtml"), oleColourToHtml(colour));
        m_settings.write(name, QStringLiteral("Prior"), QString::number(priority));
        m_filters.append({name, true});
    }

    void writeSetting(const QString& section, const QString& key, const QString& value)
    {
        m_settings.write(section, key, value);
    }

    // A second window on the same mailbox: its own flags, grid, matrix and rules, and nothing remembered.
    struct Window {
        EngineState engine;
        PlanningMatrix matrix;
        PlanningGrid grid;
        ColourRules rules;
    };
    QueryContext context(Window& window)
    {
        QueryContext context = this->context();
        QueryContext other{window.engine, program,      window.matrix, window.grid, m_texts,
                           *m_mailbox,    window.rules, m_settings,    m_filters};
        other.showMessage = context.showMessage;
        other.gridHeight = context.gridHeight;
        return other;
    }

    QueryContext context()
    {
        // What changed in the folder since the last query goes to the server too.
        if (onServer() && !m_uploaded) {
            RadicaleServer& server = RadicaleServer::shared();
            if (!server.isRunning())
                qFatal("%s", qPrintable(server.error()));
            const QString failed = server.uploadMailbox(m_root);
            if (!failed.isEmpty())
                qFatal("upload failed: %s", qPrintable(failed));
            m_uploaded = true;
        }
        if (!m_mailbox && onServer()) {
            RadicaleServer& server = RadicaleServer::shared();
            DavMailbox::Options options;
            options.server = davServer.isEmpty() ? server.url() : davServer;
            options.user = RadicaleServer::kUser;
            options.password = RadicaleServer::kPassword;
            options.timeoutSeconds = davTimeoutSeconds;
            m_mailbox = std::make_unique<DavMailbox>(options);
        }
        if (!m_mailbox) {
            FolderMailbox::Options options;
            options.root = m_root;
            m_mailbox = std::make_unique<FolderMailbox>(options);
        }
        QueryContext context{engine,     program, matrix,     grid,     m_texts,
                             *m_mailbox, rules,   m_settings, m_filters};
        context.yield = [this] {
            ++yields;
            if (onYield)
                onYield();
        };
        context.showMessage = [this](MessageIcon, const QString& text) { messages << text; };
        context.gridHeight = [] { return 9000; };
        context.memory = &memory;
        return context;
    }

    static QByteArray timed(const char* subject, const char* start, const char* end,
                            const QByteArray& extra = {})
    {
        return QByteArray("SUMMARY:") + subject + "|DTSTART;TZID=Europe/Paris:" + start +
               "|DTEND;TZID=Europe/Paris:" + end + (extra.isEmpty() ? QByteArray() : "|" + extra);
    }
    static QByteArray allDay(const char* subject, const char* first, const char* afterLast)
    {
        return QByteArray("SUMMARY:") + subject + "|DTSTART;VALUE=DATE:" + first +
               "|DTEND;VALUE=DATE:" + afterLast;
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
    static void write(const QString& path, const QByteArray& bytes)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            qFatal("cannot write %s", qPrintable(path));
        file.write(bytes);
    }

    QTemporaryDir m_dir;
    QString m_root;
    SettingsStore m_settings;
    LanguageTexts m_texts;
    QList<FilterListEntry> m_filters;
    bool m_uploaded = false;
    std::unique_ptr<Mailbox> m_mailbox;
};
