#include "mailbox/dav/davmailbox.h"

#include "mailbox/calendarindex.h"
#include "mailbox/contactsfolder.h"
#include "mailbox/dav/davcalendarfolder.h"
#include "mailbox/dav/davcontactsfolder.h"
#include "mailbox/expandedcalendar.h"
#include "mailbox/restriction.h"
#include "mailbox/vcard.h"

#include <QSet>
#include <QUuid>

#include <algorithm>

using DavXml::kCalDav;
using DavXml::kCardDav;
using DavXml::kDav;

namespace {

constexpr qint64 kDaySeconds = 86400;

bool isTeamBook(const DavCollection& book)
{
    return book.displayName.compare(AddressBook::kTeamFolderName, Qt::CaseInsensitive) == 0 ||
           book.segment.compare(AddressBook::kTeamFolderName, Qt::CaseInsensitive) == 0;
}

QString utcText(qint64 seconds)
{
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(QStringLiteral("yyyyMMdd'T'HHmmss'Z'"));
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

// Which part of time a calendar-query asked for, in seconds since the epoch; an empty side is open.
struct Range {
    std::optional<qint64> from;
    std::optional<qint64> to;

    // The query for a restriction's window, a day wider on each side: the server's idea of overlap and of
    // floating times need not be ours, and the restriction is evaluated here on what comes back.
    static Range of(const TimeWindow& window)
    {
        Range range;
        if (window.endAtLeast)
            range.from = window.endAtLeast->toSecsSinceEpoch() - kDaySeconds;
        if (window.startAtMost)
            range.to = window.startAtMost->toSecsSinceEpoch() + kDaySeconds;
        return range;
    }
    bool covers(const Range& other) const
    {
        const bool fromCovered = !from || (other.from && *from <= *other.from);
        const bool toCovered = !to || (other.to && *to >= *other.to);
        return fromCovered && toCovered;
    }
};

} // namespace

struct DavMailbox::CalendarState {
    struct Resource {
        QUrl url;
        QString key;
        QByteArray etag;
        std::shared_ptr<const ICalendarFile> parsed;
        QString error;
    };
    QString ctag;
    std::optional<Range> fetched;
    std::vector<Resource> resources; // by key
    // The last expansion, handed out again while nothing changed.
    ExpandedCalendar expanded;
    // Set by a read prepared ahead: used once, without asking the server again.
    bool fresh = false;
    std::optional<MailboxError> pendingError;
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
};

// One member's calendar: where it is (by the server's conventions, when the card names none), whether it
// changed since it was last read (getctag), and its events in the window (calendar-query).
class DavMailbox::CalendarRead : public DavClient::Task {
public:
    CalendarRead(DavMailbox& mailbox, QString owner) : m_mailbox(mailbox), m_owner(std::move(owner)) {}

    void locate(QList<QUrl> homes, std::optional<TimeWindow> thenRead)
    {
        m_homes = std::move(homes);
        m_window = std::move(thenRead);
        m_stage = Locate;
    }
    void read(const QUrl& calendar, const TimeWindow& window)
    {
        m_calendar = calendar;
        m_window = window;
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
        case Check: {
            DavClient::Request check = request("PROPFIND", *m_calendar, what());
            check.depth = "0";
            check.contentType = "application/xml; charset=utf-8";
            // getctag only: servers that compute it and the sync token from every item would do it twice.
            check.body = DavXml::propfind({{DavXml::kCalendarServer, QStringLiteral("getctag")}});
            return check;
        }
        case Report: {
            // The window's events, then every series, wherever it begins: a server's time-range filter is not
            // trusted for series (some leave out those that began before the range), which are expanded
            // here instead.
            const Range range = Range::of(*m_window);
            DavClient::Request report = request("REPORT", *m_calendar, what());
            report.depth = "1";
            report.contentType = "application/xml; charset=utf-8";
            static const QString kSeries[] = {QString(), QStringLiteral("RRULE"), QStringLiteral("RDATE")};
            report.body = m_query == 0
                              ? DavXml::calendarQuery(range.from ? utcText(*range.from) : QString(),
                                                      range.to ? utcText(*range.to) : QString(), true)
                              : DavXml::calendarQuery(QString(), QString(), true, kSeries[m_query]);
            return report;
        }
        case Done:
            break;
        }
        return std::nullopt;
    }

    void take(const DavClient::Reply& reply) override
    {
        try {
            switch (m_stage) {
            case Locate:
                takeLocation(reply);
                break;
            case Check:
                takeCheck(reply);
                break;
            case Report:
                takeReport(reply);
                break;
            case Done:
                break;
            }
        }
        catch (const MailboxError& error) {
            fail(error);
        }
    }

    bool located() const { return m_located; }
    const std::optional<QUrl>& calendar() const { return m_calendar; }
    const std::optional<MailboxError>& error() const { return m_error; }
    bool failedLocating() const { return m_error && !m_calendarFound; }

private:
    enum Stage { Locate, Check, Report, Done };

    QString what() const { return QStringLiteral("the calendar of %1").arg(m_owner); }

    void fail(const MailboxError& error)
    {
        m_error = error;
        m_stage = Done;
    }

    void startReading()
    {
        m_calendarFound = true;
        if (!m_window) {
            m_stage = Done;
            return;
        }
        m_state = m_mailbox.m_calendars[DavDiscovery::urlKey(*m_calendar)];
        if (!m_state) {
            m_state = std::make_shared<CalendarState>();
            m_mailbox.m_calendars.insert(DavDiscovery::urlKey(*m_calendar), m_state);
        }
        m_state->fresh = false;
        m_state->pendingError.reset();
        m_query = 0;
        m_responses.clear();
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
        QString ctag;
        const std::optional<QUrl> calendar =
            DavDiscovery::chooseCalendar(DavXml::parseMultistatus(reply.body, what()), reply.url, &ctag);
        if (!calendar)
            throw MailboxError(MailboxError::NotFound,
                               QStringLiteral("%1 has no calendar for appointments at %2")
                                   .arg(m_owner, reply.url.toDisplayString()));
        m_calendar = calendar;
        m_located = true;
        startReading();
        // The listing carried the calendar's getctag, taken before its items are: no separate check.
        if (m_stage == Check && !ctag.isEmpty())
            decide(ctag);
    }

    void takeCheck(const DavClient::Reply& reply)
    {
        if (!reply.ok())
            throw *reply.error;
        const QList<DavXml::Response> responses = DavXml::parseMultistatus(reply.body, what());
        decide(responses.isEmpty() ? QString() : DavDiscovery::ctagOf(responses.first()));
    }

    // Reads the calendar again unless what is kept covers the window and the server's getctag is the one
    // it was read at.
    void decide(const QString& ctag)
    {
        m_newCtag = ctag;
        if (!m_newCtag.isEmpty() && m_newCtag == m_state->ctag && m_state->fetched &&
            m_state->fetched->covers(Range::of(*m_window))) {
            m_stage = Done;
            return;
        }
        m_stage = Report;
    }

    void takeReport(const DavClient::Reply& reply)
    {
        if (!reply.ok())
            throw *reply.error;
        m_responses << DavXml::parseMultistatus(reply.body, what());
        if (++m_query < kQueries)
            return;
        const QList<DavXml::Response> responses = std::exchange(m_responses, {});
        m_query = 0;
        // Objects that did not change keep their parsed form.
        QHash<QString, const CalendarState::Resource*> known;
        for (const CalendarState::Resource& resource : m_state->resources)
            known.insert(resource.key, &resource);
        std::vector<CalendarState::Resource> resources;
        for (const DavXml::Response& response : responses) {
            const DavXml::Property* data = response.property(kCalDav, QStringLiteral("calendar-data"));
            if (!data)
                continue;
            CalendarState::Resource resource;
            resource.url = DavDiscovery::resolve(reply.url, response.href);
            resource.key = DavDiscovery::urlKey(resource.url);
            resource.etag = response.text(kDav, QStringLiteral("getetag")).toUtf8();
            const auto old = known.constFind(resource.key);
            if (old != known.cend() && !resource.etag.isEmpty() && old.value()->etag == resource.etag) {
                resource.parsed = old.value()->parsed;
                resource.error = old.value()->error;
            }
            else {
                resource.parsed = ICalendarFile::parse(data->text.toUtf8(), &resource.error);
            }
            resources.push_back(std::move(resource));
        }
        // An object found by more than one query is kept once.
        std::stable_sort(resources.begin(), resources.end(),
                         [](const auto& a, const auto& b) { return a.key < b.key; });
        resources.erase(std::unique(resources.begin(), resources.end(),
                                    [](const auto& a, const auto& b) { return a.key == b.key; }),
                        resources.end());
        m_state->resources = std::move(resources);
        m_state->fetched = Range::of(*m_window);
        m_state->ctag = m_newCtag;
        m_state->expanded.forget();
        m_stage = Done;
    }

    DavMailbox& m_mailbox;
    QString m_owner;
    Stage m_stage = Done;
    QList<QUrl> m_homes;
    qsizetype m_home = 0;
    std::optional<TimeWindow> m_window;
    std::optional<QUrl> m_calendar;
    bool m_located = false;
    bool m_calendarFound = false;
    std::shared_ptr<CalendarState> m_state;
    QString m_newCtag;
    std::optional<MailboxError> m_error;
    // The reports a read takes: the window's events, then the series of rules and of extra dates.
    static constexpr int kQueries = 3;
    int m_query = 0;
    QList<DavXml::Response> m_responses;
};

DavMailbox::DavMailbox(Options options) : m_options(std::move(options))
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
    m_account = DavDiscovery::discover(*m_client, m_options.server, m_options.user);
    m_addressBook = std::make_shared<AddressBook>();
    refreshBooks(true);
}

DavMailbox::~DavMailbox() = default;

// ---- address books

QList<DavCollection> DavMailbox::addressBookCollections()
{
    const DavClient::Reply reply = m_client->run(
        DavDiscovery::listCollections(m_account.addressBookHome, QStringLiteral("the address books")));
    if (!reply.ok())
        throw *reply.error;
    QList<DavCollection> books = DavDiscovery::addressBooks(
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
    if (!force && m_booksChecked.isValid() && m_booksChecked.elapsed() < m_options.addressBookMaxAgeMs)
        return;
    const QList<DavCollection> collections = addressBookCollections();
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
        DavClient::Request listing =
            request("PROPFIND", book->collection.url,
                    QStringLiteral("the address book \"%1\"").arg(book->collection.displayName));
        listing.depth = "1";
        listing.contentType = "application/xml; charset=utf-8";
        listing.body =
            DavXml::propfind({{kDav, QStringLiteral("getetag")}, {kDav, QStringLiteral("resourcetype")}});
        listings.append(listing);
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
        DavClient::Request fetch = request("REPORT", book->collection.url, listings.at(i).what);
        fetch.depth = "1";
        fetch.contentType = "application/xml; charset=utf-8";
        fetch.body = DavXml::multiget(false, wanted);
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
                    Book::Card card;
                    card.url = DavDiscovery::resolve(reply.url, response.href);
                    card.key = DavDiscovery::urlKey(card.url);
                    card.etag = response.text(kDav, QStringLiteral("getetag")).toUtf8();
                    card.bytes = data->text.toUtf8();
                    const VCard parsed = VCard::parse(card.bytes);
                    if (parsed.isValid()) {
                        AddressBook::Contact contact = AddressBook::contactFromCard(parsed);
                        contact.file = card.url.toString();
                        contact.etag = QString::fromUtf8(card.etag);
                        card.contact = std::move(contact);
                    }
                    else {
                        card.error = parsed.errorString();
                    }
                    cards.push_back(std::move(card));
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
    QUrl url = m_account.addressBookHome;
    url.setPath(url.path(QUrl::FullyDecoded) + name + u'/', QUrl::DecodedMode);
    DavClient::Request make = request("MKCOL", url, QStringLiteral("the address book \"%1\"").arg(name));
    make.contentType = "application/xml; charset=utf-8";
    make.body = DavXml::makeAddressBook(name);
    const DavClient::Reply reply = m_client->run(make);
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
    DavClient::Request ask = request("PROPFIND", url, what);
    ask.depth = "0";
    ask.contentType = "application/xml; charset=utf-8";
    ask.body = DavXml::propfind({{kDav, QStringLiteral("getetag")}});
    const DavClient::Reply reply = m_client->run(ask);
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
    locate.locate(DavDiscovery::conventionalHomes(m_account, m_options.user, {person.address}), std::nullopt);
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
    TimeWindow window;
    try {
        window = Restriction::parse(restriction).window();
    }
    catch (const MailboxError&) {
        return; // the query will meet the same error where it reports it
    }
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
        if (!person->calendar.isEmpty())
            read->read(QUrl(person->calendar), window);
        else if (known != m_located.cend() && !known->error)
            read->read(known->url, window);
        else
            read->locate(DavDiscovery::conventionalHomes(m_account, m_options.user, {person->address}),
                         window);
        reads.push_back(std::move(read));
        keys.append(key);
    }
    QList<DavClient::Task*> tasks;
    for (const auto& read : reads)
        tasks.append(read.get());
    m_client->runTasks(tasks);

    for (std::size_t i = 0; i < reads.size(); ++i) {
        const CalendarRead& read = *reads[i];
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
}

Folder::Scan DavMailbox::readCalendar(const QUrl& calendar, const QString& owner, const TimeWindow& window)
{
    std::shared_ptr<CalendarState> state = m_calendars.value(DavDiscovery::urlKey(calendar));
    if (state && state->pendingError) {
        const MailboxError error = *state->pendingError;
        state->pendingError.reset();
        state->fresh = false;
        throw error;
    }
    if (!state || !state->fresh || !state->fetched || !state->fetched->covers(Range::of(window))) {
        CalendarRead read(*this, owner);
        read.read(calendar, window);
        m_client->runTasks({&read});
        if (read.error()) {
            if (read.error()->number() == MailboxError::NotFound) {
                // The calendar moved or went: it is looked for again next time.
                for (auto it = m_located.begin(); it != m_located.end();) {
                    if (DavDiscovery::urlKey(it->url) == DavDiscovery::urlKey(calendar))
                        it = m_located.erase(it);
                    else
                        ++it;
                }
            }
            throw *read.error();
        }
        state = m_calendars.value(DavDiscovery::urlKey(calendar));
    }
    state->fresh = false;
    return expand(*state, CalendarIndex::expansionWindow(window));
}

Folder::Scan DavMailbox::expand(CalendarState& state, const ICalendarFile::Window& window)
{
    if (!state.expanded.holds(window)) {
        // Objects are taken in address order, so equal starts keep that order.
        std::vector<ExpandedCalendar::Object> objects;
        objects.reserve(state.resources.size());
        for (const CalendarState::Resource& resource : state.resources)
            objects.push_back(
                {resource.url.toString(), QString::fromUtf8(resource.etag), resource.parsed, resource.error});
        state.expanded.expand(window, objects);
    }
    return state.expanded.scan();
}

QList<std::shared_ptr<MailboxItem>> DavMailbox::storedCalendarItems(const QUrl& calendar,
                                                                    const QString& owner)
{
    const QString what = QStringLiteral("the calendar of %1").arg(owner);
    DavClient::Request report = request("REPORT", calendar, what);
    report.depth = "1";
    report.contentType = "application/xml; charset=utf-8";
    report.body = DavXml::calendarQuery(QString(), QString(), true);
    const DavClient::Reply reply = m_client->run(report);
    if (!reply.ok())
        throw *reply.error;
    QList<DavXml::Response> responses = DavXml::parseMultistatus(reply.body, what);
    std::sort(responses.begin(), responses.end(), [&](const auto& a, const auto& b) {
        return DavDiscovery::urlKey(DavDiscovery::resolve(reply.url, a.href)) <
               DavDiscovery::urlKey(DavDiscovery::resolve(reply.url, b.href));
    });
    QList<std::shared_ptr<MailboxItem>> items;
    for (const DavXml::Response& response : std::as_const(responses)) {
        const DavXml::Property* data = response.property(kCalDav, QStringLiteral("calendar-data"));
        if (!data)
            continue;
        QString error;
        const std::shared_ptr<const ICalendarFile> parsed = ICalendarFile::parse(data->text.toUtf8(), &error);
        if (!parsed)
            continue;
        const QString location = DavDiscovery::resolve(reply.url, response.href).toString();
        for (MailboxItem& item : parsed->storedItems()) {
            item.source.location = location;
            item.source.etag = response.text(kDav, QStringLiteral("getetag"));
            items.append(std::make_shared<MailboxItem>(std::move(item)));
        }
    }
    return items;
}

// ---- writes

QUrl DavMailbox::putEvent(const QUrl& calendar, const MailboxItem& item,
                          const QList<ResolvedPerson>& attendees, QString* uid, QByteArray* etag)
{
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
