#include "mailbox/dav/davmailbox.h"

#include "mailbox/calendarindex.h"
#include "mailbox/contactsfolder.h"
#include "mailbox/dav/davcalendarfolder.h"
#include "mailbox/dav/davcontactsfolder.h"
#include "mailbox/expandedcalendar.h"
#include "mailbox/parallelwork.h"
#include "mailbox/restriction.h"
#include "mailbox/vcard.h"

#include <QLocale>
#include <QScopeGuard>
#include <QSet>
#include <QUuid>

#include <algorithm>
#include <chrono>
#include <map>
#include <thread>

using DavXml::kCalDav;
using DavXml::kCardDav;
using DavXml::kDav;

namespace {

bool isTeamBook(const DavCollection& book)
{
    return book.displayName.compare(AddressBook::kTeamFolderName, Qt::CaseInsensitive) == 0 ||
           book.segment.compare(AddressBook::kTeamFolderName, Qt::CaseInsensitive) == 0;
}

// The same error with the operation it interrupted in front of its description.
MailboxError rephrased(const MailboxError& error, const QString& prefix)
{
    return MailboxError(error.number(), prefix + error.description());
}

DavClient::Request request(const QByteArray& method, const QUrl& url, const QString& what)
{
    DavClient::Request request;
    request.method = method;
    request.url = url;
    request.what = what;
    return request;
}

// A request whose body is a WebDAV XML document; `depth` empty for none.
DavClient::Request xmlRequest(const QByteArray& method, const QUrl& url, const QString& what,
                              const QByteArray& depth, QByteArray body)
{
    DavClient::Request xml = request(method, url, what);
    xml.depth = depth;
    xml.contentType = "application/xml; charset=utf-8";
    xml.body = std::move(body);
    return xml;
}

// A sync-collection refused because the token is unknown to the server. RFC 6578 says 403 or 409 with
// DAV:valid-sync-token (Radicale answers 403 so); Xandikos fails with 500. A refusal of the user or of the
// collection comes again from an empty token, and is reported then.
bool isInvalidToken(const DavClient::Reply& reply)
{
    return reply.status >= 400 && reply.status != 401 && reply.status != 404 && reply.status != 410;
}

// A server that does not offer sync-collection on this collection.
bool isSyncRefused(const DavClient::Reply& reply)
{
    return reply.status == 400 || reply.status == 405 || reply.status == 501 ||
           (reply.status == 403 && reply.body.contains("supported-report"));
}

} // namespace

struct DavMailbox::CalendarState {
    struct Resource {
        QUrl url;
        QString key;
        QByteArray etag;
        QByteArray bytes; // kept for the mirror
        Parse parse;
    };
    QUrl url;
    QString ctag;
    QString syncToken;
    // Read from the server since it was last mirrored.
    bool unsaved = false;
    // The resources are the whole calendar as last read, from the server or from the mirror.
    bool loaded = false;
    std::vector<Resource> resources; // by key
    // The last expansion, handed out again while nothing changed.
    ExpandedCalendar expanded;
    // Set by a read prepared ahead: used once, without asking the server again.
    bool fresh = false;
    std::optional<MailboxError> pendingError;

    // Adds the objects that must be parsed before `window` is expanded to `unparsed`.
    void wantedParses(const std::optional<ICalendarFile::Window>& window,
                      std::vector<std::pair<Parse*, const QByteArray*>>& unparsed)
    {
        for (Resource& resource : resources) {
            if (resource.parse.wantedFor(window))
                unparsed.emplace_back(&resource.parse, &resource.bytes);
        }
    }

    // Parsed later, all together (settleCalendars), not while replies wait.
    static Resource resource(const QUrl& url, const QByteArray& etag, const QByteArray& bytes)
    {
        return Resource{url, DavDiscovery::urlKey(url), etag, bytes, {}};
    }
};

struct DavMailbox::Book {
    struct Card {
        QUrl url;
        QString key;
        QByteArray etag;
        QByteArray bytes;
        std::optional<AddressBook::Contact> contact;
        QString error;
    };
    DavCollection collection;
    bool team = false;
    bool loaded = false;
    QString loadedCtag;
    std::vector<Card> cards; // by key
    std::optional<MailboxError> error;

    static Card card(const QUrl& url, const QByteArray& etag, const QByteArray& bytes)
    {
        Card card{url, DavDiscovery::urlKey(url), etag, bytes, std::nullopt, {}};
        const VCard parsed = VCard::parse(bytes);
        if (parsed.isValid()) {
            card.contact = AddressBook::contactFromCard(parsed);
            card.contact->file = url.toString();
            card.contact->etag = QString::fromUtf8(etag);
        }
        else {
            card.error = parsed.errorString();
        }
        return card;
    }
    // The cards as mirrored, when nothing was read yet.
    void loadMirror(const DavMirror& mirror)
    {
        if (loaded)
            return;
        const std::optional<DavMirror::Collection> mirrored = mirror.loadCollection(collection.url);
        if (!mirrored)
            return;
        for (const DavMirror::Item& item : mirrored->items)
            cards.push_back(card(item.url, item.etag, item.bytes));
        std::sort(cards.begin(), cards.end(), [](const auto& a, const auto& b) { return a.key < b.key; });
        loadedCtag = mirrored->ctag;
        loaded = true;
    }
};

// One member's calendar: where it is (by the server's conventions, when the card names none), whether it
// changed since it was last read (getctag), and what changed (sync-collection with the token of the last
// read; else the ETags of every object and a multiget of those that changed).
class DavMailbox::CalendarRead : public DavClient::Task {
public:
    CalendarRead(DavMailbox& mailbox, QString owner) : m_mailbox(mailbox), m_owner(std::move(owner)) {}

    void locate(QList<QUrl> homes, bool thenRead)
    {
        m_homes = std::move(homes);
        m_thenRead = thenRead;
        m_stage = Locate;
    }
    // `homesIfGone`: where to look for the calendar should it be gone from `calendar`.
    void read(const QUrl& calendar, QList<QUrl> homesIfGone = {})
    {
        m_calendar = calendar;
        m_thenRead = true;
        m_homes = std::move(homesIfGone);
        m_relocate = !m_homes.isEmpty();
        m_located = m_relocate; // a place found before is kept as found
        startReading();
    }

    std::optional<DavClient::Request> next() override
    {
        switch (m_stage) {
        case Locate: {
            if (m_home >= m_homes.size()) {
                fail(
                    MailboxError(MailboxError::NotFound,
                                 m_homes.isEmpty()
                                     ? QStringLiteral("%1 has no calendar on the server: the card names none "
                                                      "(CALURI) and the server's addresses are unknown")
                                           .arg(m_owner)
                                     : QStringLiteral("%1 has no calendar on the server (looked at %2)")
                                           .arg(m_owner, m_homes.first().toDisplayString())));
                return std::nullopt;
            }
            return DavDiscovery::listCollections(m_homes.at(m_home), what(), false);
        }
        case Check:
            // getctag only: servers that compute it and the sync token from every item would do it twice.
            return xmlRequest("PROPFIND", *m_calendar, what(), "0",
                              DavXml::propfind({{DavXml::kCalendarServer, QStringLiteral("getctag")}}));
        case Sync:
            return xmlRequest("REPORT", *m_calendar, what(), "0", DavXml::syncCollection(true, m_token));
        case List:
            // The collection's own getctag comes with the listing, so that the next read can check it.
            return xmlRequest("PROPFIND", *m_calendar, what(), "1",
                              DavXml::propfind({{kDav, QStringLiteral("getetag")},
                                                {kDav, QStringLiteral("resourcetype")},
                                                {DavXml::kCalendarServer, QStringLiteral("getctag")}}));
        case Fetch:
            return xmlRequest("REPORT", *m_calendar, what(), "1", DavXml::multiget(true, m_wanted));
        case Done:
            break;
        }
        return std::nullopt;
    }

    void take(const DavClient::Reply& reply) override
    {
        // The server is out of reach: the mirror answers for it, and the mailbox says since when.
        if (reply.unreachable && m_state && m_state->loaded) {
            m_offline = true;
            m_stage = Done;
            return;
        }
        if (reply.status != 0)
            m_reached = true;
        if (m_relocate && m_stage != Locate && (reply.status == 404 || reply.status == 410)) {
            // Not where it was found last time: looked for again, and read from nothing where it is now.
            m_relocate = false;
            m_calendar.reset();
            m_calendarFound = false;
            m_located = false;
            m_state.reset();
            m_home = 0;
            m_stage = Locate;
            return;
        }
        m_relocate = m_relocate && !reply.ok();
        try {
            switch (m_stage) {
            case Locate:
                takeLocation(reply);
                break;
            case Check:
                takeCheck(reply);
                break;
            case Sync:
                takeSync(reply);
                break;
            case List:
                takeList(reply);
                break;
            case Fetch:
                takeFetch(reply);
                break;
            case Done:
                break;
            }
        }
        catch (const MailboxError& error) {
            fail(error);
        }
    }

    // Where the calendar is, to be kept: found by this read, or found by an earlier process and not gone.
    bool located() const { return m_located; }
    const std::optional<QUrl>& calendar() const { return m_calendar; }
    const std::optional<MailboxError>& error() const { return m_error; }
    bool failedLocating() const { return m_error && !m_calendarFound; }
    // Whether the server answered, and whether the mirror stood in for it.
    bool reached() const { return m_reached; }
    bool offline() const { return m_offline; }

private:
    enum Stage { Locate, Check, Sync, List, Fetch, Done };
    using Resource = CalendarState::Resource;

    QString what() const { return QStringLiteral("the calendar of %1").arg(m_owner); }

    void fail(const MailboxError& error)
    {
        m_error = error;
        m_stage = Done;
    }

    void startReading()
    {
        m_calendarFound = true;
        if (!m_thenRead) {
            m_stage = Done;
            return;
        }
        m_state = m_mailbox.calendarState(*m_calendar);
        m_state->fresh = false;
        m_state->pendingError.reset();
        // Nothing to compare a getctag with, or a token to sync from: either way one request tells what
        // changed, where a check would cost the server as much again.
        if (!m_state->loaded || (!m_state->syncToken.isEmpty() && !m_mailbox.m_syncRefused))
            decide(QString(), true);
        else
            m_stage = Check;
    }

    void takeLocation(const DavClient::Reply& reply)
    {
        if (reply.status == 404 || reply.status == 410) {
            ++m_home;
            return;
        }
        if (!reply.ok())
            throw *reply.error;
        const std::optional<QUrl> calendar =
            DavDiscovery::chooseCalendar(DavXml::parseMultistatus(reply.body, what()), reply.url);
        if (!calendar)
            throw MailboxError(MailboxError::NotFound,
                               QStringLiteral("%1 has no calendar for appointments at %2")
                                   .arg(m_owner, reply.url.toDisplayString()));
        m_calendar = calendar;
        m_located = true;
        startReading();
    }

    void takeCheck(const DavClient::Reply& reply)
    {
        if (!reply.ok())
            throw *reply.error;
        const QList<DavXml::Response> responses = DavXml::parseMultistatus(reply.body, what());
        decide(responses.isEmpty() ? QString() : DavDiscovery::ctagOf(responses.first()));
    }

    // Asks what changed unless the server's getctag is the one the calendar was read at, or `unchecked`.
    void decide(const QString& ctag, bool unchecked = false)
    {
        m_newCtag = ctag;
        if (!unchecked && !m_newCtag.isEmpty() && m_newCtag == m_state->ctag && m_state->loaded) {
            m_stage = Done;
            return;
        }
        m_working.clear();
        for (const Resource& resource : m_state->resources)
            m_working.emplace(resource.key, resource);
        m_token = m_state->loaded ? m_state->syncToken : QString();
        m_stage = m_mailbox.m_syncRefused ? List : Sync;
    }

    void takeSync(const DavClient::Reply& reply)
    {
        if (!reply.ok()) {
            if (!m_token.isEmpty() && isInvalidToken(reply)) {
                m_token.clear(); // everything again, from an empty token
                return;
            }
            if (isSyncRefused(reply)) {
                m_mailbox.m_syncRefused = true;
                m_stage = List;
                return;
            }
            throw *reply.error;
        }
        QString token;
        const QList<DavXml::Response> responses = DavXml::parseMultistatus(reply.body, what(), &token);
        // From an empty token the reply is the whole calendar: what it leaves out is gone.
        std::map<QString, Resource> known;
        if (m_token.isEmpty())
            std::swap(known, m_working);
        m_wanted.clear();
        bool changed = m_token.isEmpty();
        for (const DavXml::Response& response : responses) {
            const QUrl url = DavDiscovery::resolve(reply.url, response.href);
            const QString key = DavDiscovery::urlKey(url);
            if (key == DavDiscovery::urlKey(reply.url))
                continue;
            changed = true;
            if (response.status == 404 || response.status == 410) {
                m_working.erase(key);
                continue;
            }
            const QByteArray etag = response.text(kDav, QStringLiteral("getetag")).toUtf8();
            const auto old = known.find(key);
            if (old != known.end() && !etag.isEmpty() && old->second.etag == etag) {
                m_working.insert_or_assign(key, std::move(old->second));
                continue;
            }
            if (const DavXml::Property* data = response.property(kCalDav, QStringLiteral("calendar-data")))
                m_working.insert_or_assign(key, CalendarState::resource(url, etag, data->text.toUtf8()));
            else
                m_wanted.append(response.href);
        }
        if (!changed) {
            // The calendar as read stands, and so do its expansions; a new token is kept for next time.
            m_working.clear();
            if (!token.isEmpty() && token != m_state->syncToken) {
                m_state->syncToken = token;
                m_state->unsaved = true;
            }
            m_stage = Done;
            return;
        }
        m_newToken = token;
        fetchOrFinish();
    }

    void takeList(const DavClient::Reply& reply)
    {
        if (!reply.ok())
            throw *reply.error;
        std::map<QString, Resource> known;
        std::swap(known, m_working);
        m_wanted.clear();
        for (const DavXml::Response& response : DavXml::parseMultistatus(reply.body, what())) {
            const QUrl url = DavDiscovery::resolve(reply.url, response.href);
            const QString key = DavDiscovery::urlKey(url);
            if (key == DavDiscovery::urlKey(reply.url)) {
                if (m_newCtag.isEmpty())
                    m_newCtag = DavDiscovery::ctagOf(response);
                continue;
            }
            if (response.isCollectionOf(kDav, QStringLiteral("collection")))
                continue;
            const QByteArray etag = response.text(kDav, QStringLiteral("getetag")).toUtf8();
            const auto old = known.find(key);
            if (old != known.end() && !etag.isEmpty() && old->second.etag == etag)
                m_working.emplace(key, std::move(old->second));
            else
                m_wanted.append(response.href);
        }
        m_newToken.clear();
        fetchOrFinish();
    }

    void takeFetch(const DavClient::Reply& reply)
    {
        if (!reply.ok())
            throw *reply.error;
        for (const DavXml::Response& response : DavXml::parseMultistatus(reply.body, what())) {
            const DavXml::Property* data = response.property(kCalDav, QStringLiteral("calendar-data"));
            const QUrl url = DavDiscovery::resolve(reply.url, response.href);
            if (data)
                m_working.insert_or_assign(
                    DavDiscovery::urlKey(url),
                    CalendarState::resource(url, response.text(kDav, QStringLiteral("getetag")).toUtf8(),
                                            data->text.toUtf8()));
            else if (response.status == 404 || response.status == 410)
                m_working.erase(DavDiscovery::urlKey(url)); // gone since it was listed
        }
        m_wanted.clear();
        fetchOrFinish();
    }

    void fetchOrFinish()
    {
        if (!m_wanted.isEmpty()) {
            m_stage = Fetch;
            return;
        }
        std::vector<Resource> resources;
        resources.reserve(m_working.size());
        for (auto& [key, resource] : m_working)
            resources.push_back(std::move(resource));
        m_working.clear();
        m_state->resources = std::move(resources);
        m_state->ctag = m_newCtag;
        m_state->syncToken = m_newToken;
        m_state->loaded = true;
        m_state->expanded.forget();
        m_state->unsaved = true;
        m_mailbox.parseAhead(m_state);
        m_stage = Done;
    }

    DavMailbox& m_mailbox;
    QString m_owner;
    Stage m_stage = Done;
    QList<QUrl> m_homes;
    qsizetype m_home = 0;
    bool m_thenRead = false;
    bool m_relocate = false;
    std::optional<QUrl> m_calendar;
    bool m_located = false;
    bool m_calendarFound = false;
    bool m_reached = false;
    bool m_offline = false;
    std::shared_ptr<CalendarState> m_state;
    QString m_newCtag;
    QString m_token;                       // the one asked from
    QString m_newToken;                    // the one the server gave
    std::map<QString, Resource> m_working; // the calendar as the read goes, by key
    QStringList m_wanted;                  // hrefs to fetch
    std::optional<MailboxError> m_error;
};

DavMailbox::DavMailbox(Options options)
    : m_options(std::move(options)), m_mirror(m_options.server, m_options.user)
{
    if (!m_options.server.isValid() || m_options.server.host().isEmpty() ||
        (m_options.server.scheme() != QLatin1StringView("http") &&
         m_options.server.scheme() != QLatin1StringView("https")))
        throw MailboxError(MailboxError::NotFound,
                           QStringLiteral("\"%1\" is not the address of a calendar server (http or https)")
                               .arg(m_options.server.toDisplayString()));
    if (!m_options.now)
        m_options.now = [] { return QDateTime::currentDateTimeUtc(); };
    if (!m_options.newUid)
        m_options.newUid = [] { return QUuid::createUuid().toString(QUuid::WithoutBraces); };
    DavClient::Options client;
    client.server = m_options.server;
    client.user = m_options.user;
    client.password = m_options.password;
    client.insecureTls = m_options.insecureTls;
    client.timeoutMs = std::max(1, m_options.timeoutSeconds) * 1000;
    client.maxInFlight = std::max(1, m_options.maxInFlight);
    m_client = std::make_unique<DavClient>(client);
    m_addressBook = std::make_shared<AddressBook>();
    try {
        m_account = DavDiscovery::discover(*m_client, m_options.server, m_options.user);
        refreshBooks(true);
    }
    catch (const MailboxError&) {
        if (!m_client->unreachable() || !startOffline())
            throw;
        return;
    }
    m_lastReached = m_client->lastReached();
    if (const std::optional<DavMirror::Account> mirrored = m_mirror.loadAccount();
        mirrored && mirrored->homes.calendarHome == m_account.calendarHome)
        m_mirroredLocations = mirrored->located;
    mirrorAccount();
}

DavMailbox::~DavMailbox() = default;

// ---- the mirror

std::optional<QDateTime> DavMailbox::offlineSince() const
{
    if (!m_offline)
        return std::nullopt;
    return m_lastReached;
}

bool DavMailbox::startOffline()
{
    const std::optional<DavMirror::Account> account = m_mirror.loadAccount();
    if (!account)
        return false;
    m_offline = true;
    m_account = account->homes;
    m_lastReached = account->lastReached;
    for (auto it = account->located.cbegin(); it != account->located.cend(); ++it)
        m_located.insert(it.key(), Located{it.value(), std::nullopt});
    for (const DavCollection& collection : account->addressBooks) {
        auto book = std::make_unique<Book>();
        book->collection = collection;
        book->team = isTeamBook(collection);
        m_books.push_back(std::move(book));
    }
    refreshBooks(false); // from the mirror: the server is not asked while offline
    return true;
}

void DavMailbox::noteReads(bool reached, bool offline)
{
    if (m_client->lastReached().isValid())
        m_lastReached = m_client->lastReached();
    if (reached && m_offline) {
        m_offline = false;
        try {
            refreshBooks(true);
        }
        catch (const MailboxError&) {
            // The books as mirrored still resolve names.
        }
    }
    else if (offline && !reached) {
        m_offline = true;
    }
    if (!m_offline && reached)
        mirrorAccount();
}

void DavMailbox::mirrorAccount()
{
    DavMirror::Account account;
    // Other processes ask for other members: where their calendars are is kept too.
    if (const std::optional<DavMirror::Account> before = m_mirror.loadAccount())
        account.located = before->located;
    account.homes = m_account;
    for (const auto& book : m_books)
        account.addressBooks.append(book->collection);
    for (const QString& key : std::as_const(m_moved))
        account.located.remove(key);
    for (auto it = m_located.cbegin(); it != m_located.cend(); ++it) {
        if (!it->error)
            account.located.insert(it.key(), it->url);
        else
            account.located.remove(it.key());
    }
    account.lastReached = m_lastReached.isValid() ? m_lastReached : QDateTime::currentDateTimeUtc();
    m_mirror.saveAccount(account);
}

std::shared_ptr<DavMailbox::CalendarState> DavMailbox::calendarState(const QUrl& calendar)
{
    std::shared_ptr<CalendarState>& state = m_calendars[DavDiscovery::urlKey(calendar)];
    if (state)
        return state;
    state = std::make_shared<CalendarState>();
    state->url = calendar;
    if (std::optional<DavMirror::Collection> mirrored = m_mirror.loadCollection(calendar)) {
        state->ctag = mirrored->ctag;
        state->syncToken = mirrored->syncToken;
        state->loaded = true;
        state->resources.reserve(mirrored->items.size());
        for (const DavMirror::Item& item : mirrored->items)
            state->resources.push_back(CalendarState::resource(item.url, item.etag, item.bytes));
        std::sort(state->resources.begin(), state->resources.end(),
                  [](const auto& a, const auto& b) { return a.key < b.key; });
    }
    return state;
}

void DavMailbox::Parse::run(const QByteArray& bytes, const std::optional<ICalendarFile::Window>& window)
{
    if (window) {
        if (!reach)
            reach = CalendarPrefilter::reachOf(bytes);
        if (reach && !reach->meets(*window))
            return;
    }
    parsed = ICalendarFile::parse(bytes, &error);
    done = true;
}

void DavMailbox::parseAll(const std::vector<std::pair<Parse*, const QByteArray*>>& objects,
                          const std::optional<ICalendarFile::Window>& window)
{
    if (objects.empty())
        return;
    ICalendarFile::initialiseLibrary();
    ParallelWork::forEach(
        objects.size(),
        std::min<std::size_t>(std::max(1u, std::thread::hardware_concurrency()), objects.size() / 16 + 1),
        [&](std::size_t i) { objects[i].first->run(*objects[i].second, window); });
}

void DavMailbox::parseAhead(const std::shared_ptr<CalendarState>& state)
{
    const auto busy = std::count_if(m_parsing.begin(), m_parsing.end(), [](const Parsing& parsing) {
        return parsing.items.wait_for(std::chrono::seconds(0)) != std::future_status::ready;
    });
    if (busy >= std::max(1u, std::thread::hardware_concurrency()))
        return; // the rest waits for settleCalendars
    std::vector<ParsedItem> unparsed;
    for (const CalendarState::Resource& resource : state->resources) {
        if (resource.parse.wantedFor(m_readWindow))
            unparsed.push_back({resource.key, resource.bytes, resource.parse});
    }
    if (unparsed.empty())
        return;
    ICalendarFile::initialiseLibrary();
    m_parsing.push_back({state, std::async(std::launch::async,
                                           [items = std::move(unparsed), window = m_readWindow]() mutable {
                                               for (ParsedItem& item : items)
                                                   item.parse.run(item.bytes, window);
                                               return std::move(items);
                                           })});
}

void DavMailbox::settleCalendars(const std::optional<ICalendarFile::Window>& window)
{
    // What was parsed ahead counts for the items that are still those bytes.
    for (Parsing& parsing : m_parsing) {
        std::vector<ParsedItem> items = parsing.items.get();
        std::vector<CalendarState::Resource>& resources = parsing.state->resources;
        for (ParsedItem& item : items) {
            const auto found = std::lower_bound(resources.begin(), resources.end(), item.key,
                                                [](const CalendarState::Resource& resource,
                                                   const QString& key) { return resource.key < key; });
            if (found == resources.end() || found->key != item.key || found->parse.done ||
                found->bytes != item.bytes)
                continue;
            found->parse = std::move(item.parse);
        }
    }
    m_parsing.clear();
    std::vector<std::pair<Parse*, const QByteArray*>> unparsed;
    for (const auto& state : std::as_const(m_calendars))
        state->wantedParses(window, unparsed);
    parseAll(unparsed, window);
    for (auto it = m_calendars.cbegin(); it != m_calendars.cend(); ++it) {
        if (it.value()->unsaved)
            mirrorCalendar(it.value()->url, *it.value());
        it.value()->unsaved = false;
    }
}

void DavMailbox::mirrorCalendar(const QUrl& calendar, const CalendarState& state)
{
    DavMirror::Collection contents;
    contents.ctag = state.ctag;
    contents.syncToken = state.syncToken;
    contents.items.reserve(state.resources.size());
    for (const CalendarState::Resource& resource : state.resources)
        contents.items.push_back({resource.url, resource.etag, resource.bytes});
    m_mirror.saveCollection(calendar, contents);
}

void DavMailbox::mirrorBook(const Book& book)
{
    DavMirror::Collection contents;
    contents.ctag = book.loadedCtag;
    contents.items.reserve(book.cards.size());
    for (const Book::Card& card : book.cards)
        contents.items.push_back({card.url, card.etag, card.bytes});
    m_mirror.saveCollection(book.collection.url, contents);
}

void DavMailbox::refuseWhenOffline(const QString& subject) const
{
    if (m_offline)
        throw MailboxError(
            MailboxError::WriteFailed,
            QStringLiteral("\"%1\" was not saved: the calendar server cannot be reached (the "
                           "calendars shown are those of %2)")
                .arg(subject, QLocale().toString(m_lastReached.toLocalTime(), QLocale::ShortFormat)));
}

// ---- address books

QList<DavCollection> DavMailbox::addressBookCollections()
{
    QList<DavCollection> books;
    const auto mirrored = [&] {
        for (const auto& book : m_books)
            books.append(book->collection);
        return books;
    };
    if (m_offline)
        return mirrored();
    const DavClient::Reply reply = m_client->run(
        DavDiscovery::listCollections(m_account.addressBookHome, QStringLiteral("the address books")));
    if (reply.unreachable && !m_books.empty() && m_books.front()->loaded) {
        m_offline = true;
        return mirrored();
    }
    if (!reply.ok())
        throw *reply.error;
    books = DavDiscovery::addressBooks(
        DavXml::parseMultistatus(reply.body, QStringLiteral("the address books")), reply.url);
    std::stable_partition(books.begin(), books.end(),
                          [](const DavCollection& book) { return !isTeamBook(book); });
    return books;
}

DavMailbox::Book* DavMailbox::bookAt(const QUrl& url)
{
    const QString key = DavDiscovery::urlKey(url);
    for (const auto& book : m_books) {
        if (DavDiscovery::urlKey(book->collection.url) == key)
            return book.get();
    }
    return nullptr;
}

void DavMailbox::refreshBooks(bool force)
{
    if (!m_offline && !force && m_booksChecked.isValid() &&
        m_booksChecked.elapsed() < m_options.addressBookMaxAgeMs)
        return;
    const QList<DavCollection> collections = addressBookCollections();
    if (m_offline) {
        for (const auto& book : m_books)
            book->loadMirror(m_mirror);
        rebuildAddressBook();
        return;
    }
    std::vector<std::unique_ptr<Book>> books;
    for (const DavCollection& collection : collections) {
        std::unique_ptr<Book> book;
        for (auto& old : m_books) {
            if (old && DavDiscovery::urlKey(old->collection.url) == DavDiscovery::urlKey(collection.url))
                book = std::move(old);
        }
        if (!book)
            book = std::make_unique<Book>();
        book->collection = collection;
        book->team = isTeamBook(collection);
        book->loadMirror(m_mirror);
        books.push_back(std::move(book));
    }
    m_books = std::move(books);
    QList<Book*> stale;
    for (const auto& book : m_books) {
        if (!book->loaded || book->collection.ctag.isEmpty() || book->collection.ctag != book->loadedCtag)
            stale.append(book.get());
    }
    loadBooks(stale);
    rebuildAddressBook();
    m_booksChecked.start();
}

void DavMailbox::loadBooks(const QList<Book*>& books)
{
    if (books.isEmpty())
        return;
    // First the ETags of every card, then the cards that are new or changed, each step for all books at once.
    QList<DavClient::Request> listings;
    for (Book* book : books) {
        listings.append(xmlRequest(
            "PROPFIND", book->collection.url,
            QStringLiteral("the address book \"%1\"").arg(book->collection.displayName), "1",
            DavXml::propfind({{kDav, QStringLiteral("getetag")}, {kDav, QStringLiteral("resourcetype")}})));
    }
    const QList<DavClient::Reply> listed = m_client->runAll(listings);

    QList<DavClient::Request> fetches;
    QList<Book*> fetching;
    QList<std::vector<Book::Card>> kept;
    for (qsizetype i = 0; i < books.size(); ++i) {
        Book* book = books.at(i);
        const DavClient::Reply& reply = listed.at(i);
        std::vector<Book::Card> cards;
        QStringList wanted;
        try {
            if (!reply.ok())
                throw *reply.error;
            QHash<QString, const Book::Card*> known;
            for (const Book::Card& card : book->cards)
                known.insert(card.key, &card);
            const QString self = DavDiscovery::urlKey(book->collection.url);
            for (const DavXml::Response& response :
                 DavXml::parseMultistatus(reply.body, listings.at(i).what)) {
                const QUrl url = DavDiscovery::resolve(reply.url, response.href);
                const QString key = DavDiscovery::urlKey(url);
                if (key == self || response.isCollectionOf(kDav, QStringLiteral("collection")))
                    continue;
                const QByteArray etag = response.text(kDav, QStringLiteral("getetag")).toUtf8();
                const auto old = known.constFind(key);
                if (old != known.cend() && !etag.isEmpty() && old.value()->etag == etag)
                    cards.push_back(*old.value());
                else
                    wanted.append(response.href);
            }
            book->error.reset();
        }
        catch (const MailboxError& error) {
            book->error = error;
            book->loaded = false;
            continue;
        }
        kept.append(std::move(cards));
        fetching.append(book);
        DavClient::Request fetch = xmlRequest("REPORT", book->collection.url, listings.at(i).what, "1",
                                              DavXml::multiget(false, wanted));
        if (wanted.isEmpty())
            fetch.method.clear(); // nothing to fetch: the request is left out below
        fetches.append(fetch);
    }
    QList<DavClient::Request> sent;
    for (const DavClient::Request& fetch : std::as_const(fetches)) {
        if (!fetch.method.isEmpty())
            sent.append(fetch);
    }
    const QList<DavClient::Reply> fetched = m_client->runAll(sent);
    qsizetype next = 0;
    for (qsizetype i = 0; i < fetching.size(); ++i) {
        Book* book = fetching.at(i);
        std::vector<Book::Card> cards = std::move(kept[i]);
        if (!fetches.at(i).method.isEmpty()) {
            const DavClient::Reply& reply = fetched.at(next++);
            try {
                if (!reply.ok())
                    throw *reply.error;
                for (const DavXml::Response& response :
                     DavXml::parseMultistatus(reply.body, fetches.at(i).what)) {
                    const DavXml::Property* data =
                        response.property(kCardDav, QStringLiteral("address-data"));
                    if (!data)
                        continue;
                    cards.push_back(Book::card(DavDiscovery::resolve(reply.url, response.href),
                                               response.text(kDav, QStringLiteral("getetag")).toUtf8(),
                                               data->text.toUtf8()));
                }
            }
            catch (const MailboxError& error) {
                book->error = error;
                book->loaded = false;
                continue;
            }
        }
        std::sort(cards.begin(), cards.end(), [](const auto& a, const auto& b) { return a.key < b.key; });
        book->cards = std::move(cards);
        book->loaded = true;
        book->loadedCtag = book->collection.ctag;
        mirrorBook(*book);
    }
}

void DavMailbox::rebuildAddressBook()
{
    QList<AddressBook::Contact> contacts;
    QList<MailboxError> errors;
    for (const auto& book : m_books) {
        if (book->error)
            errors.append(*book->error);
        for (const Book::Card& card : book->cards) {
            if (card.contact)
                contacts.append(*card.contact);
            else
                errors.append(MailboxError(MailboxError::ItemUnreadable,
                                           QStringLiteral("The contact %1 cannot be read: %2")
                                               .arg(card.url.toDisplayString(), card.error)));
        }
    }
    m_addressBook->setContacts(std::move(contacts), std::move(errors));
}

QList<AddressBook::Contact> DavMailbox::bookContacts(const QUrl& url, QList<MailboxError>* errors)
{
    refreshBooks(true);
    Book* book = bookAt(url);
    if (!book)
        throw MailboxError(
            MailboxError::NotFound,
            QStringLiteral("The address book %1 does not exist any more").arg(url.toDisplayString()));
    if (book->error)
        throw *book->error;
    QList<AddressBook::Contact> contacts;
    for (const Book::Card& card : book->cards) {
        if (card.contact)
            contacts.append(*card.contact);
        else if (errors)
            errors->append(
                MailboxError(MailboxError::ItemUnreadable, QStringLiteral("The contact %1 cannot be read: %2")
                                                               .arg(card.url.toDisplayString(), card.error)));
    }
    return contacts;
}

DavCollection DavMailbox::createAddressBook(const QString& name)
{
    refuseWhenOffline(name);
    QUrl url = m_account.addressBookHome;
    url.setPath(url.path(QUrl::FullyDecoded) + name + u'/', QUrl::DecodedMode);
    const DavClient::Reply reply =
        m_client->run(xmlRequest("MKCOL", url, QStringLiteral("the address book \"%1\"").arg(name), {},
                                 DavXml::makeAddressBook(name)));
    // 405: made meanwhile by someone else.
    if (!reply.ok() && reply.status != 405) {
        const MailboxError& error = *reply.error;
        throw MailboxError(
            error.number() == MailboxError::AccessDenied ? MailboxError::AccessDenied
                                                         : MailboxError::WriteFailed,
            QStringLiteral("The address book \"%1\" cannot be created: %2").arg(name, error.description()));
    }
    expireAddressBooks();
    for (const DavCollection& book : addressBookCollections()) {
        if (DavDiscovery::urlKey(book.url) == DavDiscovery::urlKey(url))
            return book;
    }
    throw MailboxError(
        MailboxError::WriteFailed,
        QStringLiteral("The address book \"%1\" was not created at %2").arg(name, url.toDisplayString()));
}

void DavMailbox::saveCard(MailboxItem& item, const QUrl& book)
{
    refuseWhenOffline(item.subject);
    if (item.source.location.isEmpty()) {
        createCard(item, book);
        return;
    }
    const QUrl url(item.source.location);
    const QString key = DavDiscovery::urlKey(url);
    Book::Card* card = nullptr;
    for (const auto& candidateBook : m_books) {
        for (Book::Card& candidate : candidateBook->cards) {
            if (candidate.key == key)
                card = &candidate;
        }
    }
    if (!card)
        throw MailboxError(
            MailboxError::NotFound,
            QStringLiteral("The item \"%1\" no longer exists (%2)").arg(item.subject, url.toDisplayString()));
    if (item.source.etag.isEmpty() || QString::fromUtf8(card->etag) != item.source.etag)
        throw MailboxError(
            MailboxError::Conflict,
            QStringLiteral("The item \"%1\" was changed on the server since it was read; nothing was saved")
                .arg(item.subject));
    const VCard parsed = VCard::parse(card->bytes);
    if (!parsed.isValid())
        throw MailboxError(MailboxError::ItemUnreadable,
                           QStringLiteral("The contact %1 cannot be read: %2")
                               .arg(url.toDisplayString(), parsed.errorString()));
    const QByteArray bytes = ContactsFolder::cardWith(parsed, item);
    if (bytes == card->bytes)
        return;
    DavClient::Request put = request("PUT", url, QStringLiteral("the contact \"%1\"").arg(item.subject));
    put.contentType = "text/vcard; charset=utf-8";
    put.body = bytes;
    put.headers.append(std::pair<QByteArray, QByteArray>("If-Match", card->etag));
    const DavClient::Reply reply = m_client->run(put);
    if (!reply.ok())
        throw rephrased(*reply.error, QStringLiteral("\"%1\" was not saved: ").arg(item.subject));
    card->bytes = bytes;
    card->etag = reply.etag.isEmpty() ? currentEtag(url, put.what) : reply.etag;
    if (card->contact) {
        const QString file = card->contact->file;
        card->contact = AddressBook::contactFromCard(VCard::parse(bytes));
        card->contact->file = file;
        card->contact->etag = QString::fromUtf8(card->etag);
    }
    item.source.etag = QString::fromUtf8(card->etag);
    rebuildAddressBook();
}

void DavMailbox::createCard(MailboxItem& item, const QUrl& bookUrl)
{
    Book* book = bookAt(bookUrl);
    if (!book)
        throw MailboxError(
            MailboxError::NotFound,
            QStringLiteral("The address book %1 does not exist any more").arg(bookUrl.toDisplayString()));
    const QString uid = m_options.newUid();
    Book::Card card;
    QUrl folder = bookUrl;
    if (!folder.path().endsWith(u'/'))
        folder.setPath(folder.path() + u'/');
    card.url = folder.resolved(QUrl(eventFileName(uid).chopped(4) + QStringLiteral(".vcf")));
    card.key = DavDiscovery::urlKey(card.url);
    card.bytes = ContactsFolder::newGroupCard(item, uid);
    DavClient::Request put = request("PUT", card.url, QStringLiteral("the contact \"%1\"").arg(item.subject));
    put.contentType = "text/vcard; charset=utf-8";
    put.body = card.bytes;
    // A new card never replaces one that is there already.
    put.headers.append(std::pair<QByteArray, QByteArray>("If-None-Match", "*"));
    const DavClient::Reply reply = m_client->run(put);
    if (!reply.ok())
        throw rephrased(*reply.error, QStringLiteral("\"%1\" was not saved: ").arg(item.subject));
    card.etag = reply.etag.isEmpty() ? currentEtag(card.url, put.what) : reply.etag;
    AddressBook::Contact contact = AddressBook::contactFromCard(VCard::parse(card.bytes));
    contact.file = card.url.toString();
    contact.etag = QString::fromUtf8(card.etag);
    card.contact = std::move(contact);
    item.source.location = card.url.toString();
    item.source.etag = QString::fromUtf8(card.etag);
    item.source.uid = uid;
    const auto position =
        std::lower_bound(book->cards.begin(), book->cards.end(), card.key,
                         [](const Book::Card& a, const QString& key) { return a.key < key; });
    book->cards.insert(position, std::move(card));
    rebuildAddressBook();
}

QByteArray DavMailbox::currentEtag(const QUrl& url, const QString& what)
{
    const DavClient::Reply reply = m_client->run(
        xmlRequest("PROPFIND", url, what, "0", DavXml::propfind({{kDav, QStringLiteral("getetag")}})));
    if (!reply.ok())
        return {};
    const QList<DavXml::Response> responses = DavXml::parseMultistatus(reply.body, what);
    return responses.isEmpty() ? QByteArray()
                               : responses.first().text(kDav, QStringLiteral("getetag")).toUtf8();
}

// ---- names and calendars

std::optional<ResolvedPerson> DavMailbox::resolveName(const QString& name)
{
    try {
        refreshBooks(false);
    }
    catch (const MailboxError&) {
        // The books as last read still resolve names; the calendars will tell what is wrong.
    }
    const std::optional<AddressBook::Contact> contact = m_addressBook->resolve(name);
    if (!contact)
        return std::nullopt;
    ResolvedPerson person;
    person.displayName = contact->name;
    person.address = contact->emails.value(0);
    if (!contact->calendarUri.isEmpty()) {
        const QUrl calendar = DavDiscovery::resolve(m_options.server, contact->calendarUri);
        if (calendar.isValid() && (calendar.scheme() == QLatin1StringView("http") ||
                                   calendar.scheme() == QLatin1StringView("https")))
            person.calendar = calendar.toString();
    }
    return person;
}

QString DavMailbox::calendarKey(const ResolvedPerson& person) const
{
    if (!person.calendar.isEmpty())
        return QStringLiteral("uri:") + DavDiscovery::urlKey(QUrl(person.calendar));
    return QStringLiteral("address:") +
           (person.address.isEmpty() ? person.displayName : person.address).toCaseFolded();
}

QUrl DavMailbox::locateCalendar(const ResolvedPerson& person)
{
    if (!person.calendar.isEmpty())
        return QUrl(person.calendar);
    const QString key = calendarKey(person);
    const auto known = m_located.find(key);
    if (known != m_located.end()) {
        if (known->error) {
            const MailboxError error = *known->error;
            m_located.erase(known);
            throw error;
        }
        return known->url;
    }
    CalendarRead locate(*this, person.displayName);
    locate.locate(DavDiscovery::conventionalHomes(m_account, m_options.user, {person.address}), false);
    m_client->runTasks({&locate});
    if (locate.error())
        throw *locate.error();
    m_located.insert(key, Located{*locate.calendar(), std::nullopt});
    return *locate.calendar();
}

std::shared_ptr<Folder> DavMailbox::sharedDefaultFolder(const Recipient& recipient, int folderType)
{
    const ResolvedPerson& person = calendarOwner(recipient, folderType);
    return std::make_shared<DavCalendarFolder>(*this, locateCalendar(person), person.displayName);
}

std::shared_ptr<Folder> DavMailbox::defaultFolder(int folderType)
{
    if (folderType != kContactsFolder)
        throw MailboxError(
            MailboxError::Unsupported,
            QStringLiteral("Only the contacts folder (10) is offered, not type %1").arg(folderType));
    QUrl contacts;
    for (const DavCollection& book : addressBookCollections()) {
        if (!isTeamBook(book)) {
            contacts = book.url;
            break;
        }
    }
    return std::make_shared<DavContactsFolder>(*this, contacts, QStringLiteral("Contacts"));
}

void DavMailbox::prepareCalendars(const QStringList& names, const QString& restriction)
{
    try {
        m_readWindow = CalendarIndex::expansionWindow(Restriction::parse(restriction).window());
    }
    catch (const MailboxError&) {
        return; // the query will meet the same error where it reports it
    }
    const auto done = qScopeGuard([this] { m_readWindow.reset(); });
    std::vector<std::unique_ptr<CalendarRead>> reads;
    QList<QString> keys;
    QSet<QString> seen;
    for (const QString& name : names) {
        const std::optional<ResolvedPerson> person = resolveName(name);
        if (!person)
            continue;
        const QString key = calendarKey(*person);
        if (seen.contains(key))
            continue;
        seen.insert(key);
        auto read = std::make_unique<CalendarRead>(*this, person->displayName);
        const auto known = m_located.constFind(key);
        const auto mirrored = m_mirroredLocations.constFind(key);
        const auto homes = [&] {
            return DavDiscovery::conventionalHomes(m_account, m_options.user, {person->address});
        };
        if (!person->calendar.isEmpty())
            read->read(QUrl(person->calendar));
        else if (known != m_located.cend() && !known->error)
            read->read(known->url);
        else if (mirrored != m_mirroredLocations.cend())
            read->read(*mirrored, homes());
        else
            read->locate(homes(), true);
        reads.push_back(std::move(read));
        keys.append(key);
    }
    QList<DavClient::Task*> tasks;
    for (const auto& read : reads)
        tasks.append(read.get());
    m_client->runTasks(tasks);
    settleCalendars(m_readWindow);

    bool reached = false;
    bool offline = false;
    for (std::size_t i = 0; i < reads.size(); ++i) {
        const CalendarRead& read = *reads[i];
        reached = reached || read.reached();
        offline = offline || read.offline();
        if (read.failedLocating()) {
            m_located.insert(keys.at(qsizetype(i)), Located{QUrl(), read.error()});
            continue;
        }
        if (read.located())
            m_located.insert(keys.at(qsizetype(i)), Located{*read.calendar(), std::nullopt});
        const std::shared_ptr<CalendarState> state =
            m_calendars.value(DavDiscovery::urlKey(*read.calendar()));
        if (!state)
            continue;
        state->fresh = !read.error();
        state->pendingError = read.error();
    }
    noteReads(reached, offline);
}

Folder::Scan DavMailbox::readCalendar(const QUrl& calendar, const QString& owner, const TimeWindow& window)
{
    // A calendar that moved or went is looked for again next time.
    const auto forgetIfGone = [&](const MailboxError& error) {
        if (error.number() != MailboxError::NotFound)
            return;
        for (auto it = m_located.begin(); it != m_located.end();) {
            if (DavDiscovery::urlKey(it->url) == DavDiscovery::urlKey(calendar)) {
                m_moved.insert(it.key());
                it = m_located.erase(it);
            }
            else {
                ++it;
            }
        }
    };
    std::shared_ptr<CalendarState> state = m_calendars.value(DavDiscovery::urlKey(calendar));
    if (state && state->pendingError) {
        const MailboxError error = *state->pendingError;
        state->pendingError.reset();
        state->fresh = false;
        forgetIfGone(error);
        throw error;
    }
    const ICalendarFile::Window wanted = CalendarIndex::expansionWindow(window);
    if (!state || !state->fresh) {
        m_readWindow = wanted;
        const auto done = qScopeGuard([this] { m_readWindow.reset(); });
        CalendarRead read(*this, owner);
        read.read(calendar);
        m_client->runTasks({&read});
        settleCalendars(wanted);
        noteReads(read.reached(), read.offline());
        if (read.error()) {
            forgetIfGone(*read.error());
            throw *read.error();
        }
        state = m_calendars.value(DavDiscovery::urlKey(calendar));
    }
    state->fresh = false;
    return expand(*state, wanted);
}

Folder::Scan DavMailbox::expand(CalendarState& state, const ICalendarFile::Window& window)
{
    if (!state.expanded.holds(window)) {
        std::vector<std::pair<Parse*, const QByteArray*>> unparsed;
        state.wantedParses(window, unparsed);
        parseAll(unparsed, window);
        // Objects are taken in address order, so equal starts keep that order. One left unparsed has no
        // occurrence in the window.
        std::vector<ExpandedCalendar::Object> objects;
        objects.reserve(state.resources.size());
        for (const CalendarState::Resource& resource : state.resources) {
            if (resource.parse.done)
                objects.push_back({resource.url.toString(), QString::fromUtf8(resource.etag),
                                   resource.parse.parsed, resource.parse.error});
        }
        state.expanded.expand(window, objects);
    }
    return state.expanded.scan();
}

QList<std::shared_ptr<MailboxItem>> DavMailbox::storedCalendarItems(const QUrl& calendar,
                                                                    const QString& owner)
{
    CalendarRead read(*this, owner);
    read.read(calendar);
    m_client->runTasks({&read});
    settleCalendars(std::nullopt);
    noteReads(read.reached(), read.offline());
    if (read.error())
        throw *read.error();
    QList<std::shared_ptr<MailboxItem>> items;
    for (const CalendarState::Resource& resource : calendarState(calendar)->resources) {
        if (!resource.parse.parsed)
            continue;
        for (MailboxItem& item : resource.parse.parsed->storedItems()) {
            item.source.location = resource.url.toString();
            item.source.etag = QString::fromUtf8(resource.etag);
            items.append(std::make_shared<MailboxItem>(std::move(item)));
        }
    }
    return items;
}

// ---- writes

QUrl DavMailbox::putEvent(const QUrl& calendar, const MailboxItem& item,
                          const QList<ResolvedPerson>& attendees, QString* uid, QByteArray* etag)
{
    refuseWhenOffline(item.subject);
    if (uid->isEmpty())
        *uid = m_options.newUid();
    const NewEvent event =
        eventFor(item, *uid, m_options.now(), m_options.ownerName, m_options.ownerAddress, attendees);

    const QUrl url = calendar.resolved(QUrl(eventFileName(*uid)));
    DavClient::Request put = request("PUT", url, QStringLiteral("the appointment \"%1\"").arg(item.subject));
    put.contentType = "text/calendar; charset=utf-8";
    put.body = writeICalendar(event);
    // A new item never replaces one that is there already.
    put.headers.append(std::pair<QByteArray, QByteArray>("If-None-Match", "*"));
    const DavClient::Reply reply = m_client->run(put);
    if (!reply.ok()) {
        if (reply.status == 412)
            throw MailboxError(
                MailboxError::Conflict,
                QStringLiteral("\"%1\" was not saved: an item with the UID %2 exists already in %3")
                    .arg(item.subject, *uid, calendar.toDisplayString()));
        throw rephrased(*reply.error, QStringLiteral("\"%1\" was not saved: ").arg(item.subject));
    }
    *etag = reply.etag;
    return url;
}

void DavMailbox::deleteResource(const QUrl& url, const QString& etag, const QString& subject)
{
    refuseWhenOffline(subject);
    DavClient::Request remove = request("DELETE", url, QStringLiteral("\"%1\"").arg(subject));
    if (!etag.isEmpty())
        remove.headers.append(std::pair<QByteArray, QByteArray>("If-Match", etag.toUtf8()));
    const DavClient::Reply reply = m_client->run(remove);
    if (!reply.ok()) {
        if (reply.status == 404 || reply.status == 410)
            throw MailboxError(
                MailboxError::NotFound,
                QStringLiteral("The item \"%1\" no longer exists (%2)").arg(subject, url.toDisplayString()));
        throw rephrased(*reply.error, QStringLiteral("\"%1\" was not deleted: ").arg(subject));
    }
    const QString key = DavDiscovery::urlKey(url);
    for (const auto& book : m_books) {
        const auto gone = std::remove_if(book->cards.begin(), book->cards.end(),
                                         [&](const Book::Card& card) { return card.key == key; });
        if (gone != book->cards.end()) {
            book->cards.erase(gone, book->cards.end());
            rebuildAddressBook();
        }
    }
}

void DavMailbox::sendItem(MailboxItem& item)
{
    refuseWhenOffline(item.subject);
    // The request goes straight into each attendee's calendar, as the folder mailbox does: servers differ
    // too much in what they deliver themselves.
    QList<ResolvedPerson> attendees;
    QList<QUrl> calendars;
    QStringList unreachable;
    for (const MailboxItem::Recipient& recipient : item.recipients) {
        const std::optional<ResolvedPerson> person = resolveName(recipient.name);
        if (!person) {
            unreachable << recipient.name;
            continue;
        }
        try {
            calendars.append(locateCalendar(*person));
            attendees.append(*person);
        }
        catch (const MailboxError& error) {
            unreachable << QStringLiteral("%1 (%2)").arg(person->displayName, error.description());
        }
    }
    QList<std::pair<QString, QUrl>> targets;
    for (qsizetype i = 0; i < attendees.size(); ++i)
        targets.append({attendees.at(i).displayName, calendars.at(i)});
    if (!m_options.ownerAddress.isEmpty()) {
        if (const std::optional<ResolvedPerson> owner = resolveName(m_options.ownerAddress)) {
            try {
                const QUrl own = locateCalendar(*owner);
                const bool invited = std::any_of(calendars.cbegin(), calendars.cend(), [&](const QUrl& url) {
                    return DavDiscovery::urlKey(url) == DavDiscovery::urlKey(own);
                });
                if (!invited)
                    targets.append({owner->displayName, own});
            }
            catch (const MailboxError&) {
                // The organizer's own copy is a courtesy; the attendees matter.
            }
        }
    }
    QString uid;
    for (const auto& [name, calendar] : std::as_const(targets)) {
        try {
            QByteArray etag;
            putEvent(calendar, item, attendees, &uid, &etag);
        }
        catch (const MailboxError& error) {
            unreachable << QStringLiteral("%1 (%2)").arg(name, error.description());
        }
    }
    item.source.uid = uid;
    if (!unreachable.isEmpty())
        throw MailboxError(MailboxError::NotResolved,
                           QStringLiteral("The meeting request \"%1\" could not be delivered to: %2")
                               .arg(item.subject, unreachable.join(QStringLiteral(", "))));
}
