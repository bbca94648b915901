#include "mailbox/addressbook.h"

#include "mailbox/vcard.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QUrl>

#include <algorithm>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString tagOf(const struct stat& info)
{
    return QStringLiteral("%1:%2:%3:%4.%5")
        .arg(quint64(info.st_dev))
        .arg(quint64(info.st_ino))
        .arg(qint64(info.st_size))
        .arg(qint64(info.st_mtim.tv_sec))
        .arg(qint64(info.st_mtim.tv_nsec), 9, 10, QLatin1Char('0'));
}

QString systemError(int number)
{
    return QString::fromLocal8Bit(std::strerror(number));
}

QString withoutPrefix(const QString& text, QLatin1StringView prefix)
{
    const QString trimmed = text.trimmed();
    return trimmed.startsWith(prefix, Qt::CaseInsensitive) ? trimmed.mid(prefix.size()).trimmed() : trimmed;
}

// UIDs are compared as the UUIDs they nearly always are: 4.0 writes "urn:uuid:…", 3.0 the bare UUID, and
// programs differ in the letter case of its hexadecimal digits.
QString uidKey(const QString& uid)
{
    return withoutPrefix(uid, QLatin1StringView("urn:uuid:")).toCaseFolded();
}

QString emailKey(const QString& address)
{
    return withoutPrefix(address, QLatin1StringView("mailto:")).toCaseFolded();
}

QString localPart(const QString& address)
{
    const qsizetype at = address.lastIndexOf(u'@');
    return at > 0 ? address.left(at) : QString();
}

// How much the card prefers an address: 4.0 PREF=1..100, 3.0 TYPE=pref; lower is better.
int preference(const VCard::Property& email)
{
    bool ok = false;
    const int pref = email.parameter(QStringLiteral("PREF")).value(0).toInt(&ok);
    if (ok && pref >= 1)
        return std::min(pref, 100);
    return email.hasParameterValue(QStringLiteral("TYPE"), QStringLiteral("pref")) ? 1 : 101;
}

bool isGroupKind(const QString& kind)
{
    return kind.trimmed().compare(QLatin1StringView("group"), Qt::CaseInsensitive) == 0;
}

MailboxError unreadableFile(const QString& file, const QString& reason)
{
    return MailboxError(MailboxError::ItemUnreadable,
                        QStringLiteral("The contact file %1 cannot be read: %2").arg(file, reason));
}

// Sets `error` and gives false when the descriptor cannot be read whole.
bool readAll(int descriptor, qsizetype limit, QByteArray& bytes, QString& error)
{
    char buffer[65536];
    while (true) {
        const ssize_t count = ::read(descriptor, buffer, sizeof buffer);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            error = systemError(errno);
            return false;
        }
        if (count == 0)
            return true;
        bytes.append(buffer, count);
        if (bytes.size() > limit)
            return true; // the parser names the size; no need to read a huge file to its end
    }
}

} // namespace

AddressBook::AddressBook(const QString& contactsPath)
    : m_path(QDir::cleanPath(QFileInfo(contactsPath).absoluteFilePath())),
      m_teamFolder(m_path + u'/' + kTeamFolderName)
{
}

AddressBook::AddressBook() : m_handed(true) {}

void AddressBook::setContacts(QList<Contact> contacts, QList<MailboxError> errors)
{
    m_handedContacts = std::move(contacts);
    m_handedErrors = std::move(errors);
    m_indexValid = false;
}

QString AddressBook::teamFolderPath() const
{
    return m_teamFolder;
}

QString AddressBook::fileTag(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return QString();
    return tagOf(info);
}

QString AddressBook::fileTag(int descriptor)
{
    struct stat info {};
    if (::fstat(descriptor, &info) != 0)
        return QString();
    return tagOf(info);
}

AddressBook::Contact AddressBook::contactFromCard(const VCard& card)
{
    Contact contact;
    if (isGroupKind(card.value(QStringLiteral("KIND"))) ||
        isGroupKind(card.value(QStringLiteral("X-ADDRESSBOOKSERVER-KIND"))))
        contact.kind = Contact::Group;
    contact.uid = card.value(QStringLiteral("UID")).trimmed();
    contact.name = card.value(QStringLiteral("FN")).trimmed();
    contact.calendarUri = card.value(QStringLiteral("CALURI")).trimmed();
    contact.categories = card.categories();

    QList<std::pair<int, QString>> emails;
    for (const VCard::Property& property : card.properties()) {
        if (property.name == QLatin1StringView("EMAIL")) {
            // 4.0 makes EMAIL text, but some programs write it as a mailto: URI.
            const QString address = withoutPrefix(property.text(), QLatin1StringView("mailto:"));
            if (!address.isEmpty())
                emails.append({preference(property), address});
        }
        else if (property.name == QLatin1StringView("MEMBER") ||
                 property.name == QLatin1StringView("X-ADDRESSBOOKSERVER-MEMBER")) {
            const QString member = property.text().trimmed();
            if (!member.isEmpty())
                contact.memberRefs.append(member);
        }
    }
    std::stable_sort(emails.begin(), emails.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& email : std::as_const(emails))
        contact.emails.append(email.second);
    return contact;
}

AddressBook::CachedFile AddressBook::read(const QString& file) const
{
    CachedFile result;
    // Not blocking: a FIFO planted in the folder must not stop the program.
    const int descriptor = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0) {
        result.error = systemError(errno);
        return result;
    }
    struct stat info {};
    QByteArray bytes;
    if (::fstat(descriptor, &info) != 0)
        result.error = systemError(errno);
    else if (!S_ISREG(info.st_mode))
        result.error = QStringLiteral("it is not a regular file");
    else if (info.st_size > VCard::kMaxFileOctets)
        result.error = QStringLiteral("it is larger than %1 MiB").arg(VCard::kMaxFileOctets / (1024 * 1024));
    else
        readAll(descriptor, VCard::kMaxFileOctets, bytes, result.error);
    ::close(descriptor);
    if (!result.error.isEmpty())
        return result;
    result.tag = tagOf(info);

    const VCard card = VCard::parse(bytes);
    if (!card.isValid()) {
        result.error = card.errorString();
        return result;
    }
    Contact contact = contactFromCard(card);
    contact.file = file;
    contact.etag = result.tag;
    result.contact = std::move(contact);
    return result;
}

QStringList AddressBook::scan(const QString& directory, bool& changed, QStringList* subfolders)
{
    DIR* listing = ::opendir(QFile::encodeName(directory).constData());
    if (!listing) {
        const int number = errno;
        if (number == ENOENT || number == ENOTDIR)
            throw MailboxError(MailboxError::NotFound,
                               QStringLiteral("The contacts folder %1 does not exist").arg(directory));
        throw MailboxError(
            MailboxError::AccessDenied,
            QStringLiteral("The contacts folder %1 cannot be read: %2").arg(directory, systemError(number)));
    }
    QStringList names;
    while (const dirent* entry = ::readdir(listing)) {
        const QString name = QFile::decodeName(entry->d_name);
        // Hidden files are the temporary files of synchronisation programs (and of our own saves).
        if (name.startsWith(u'.'))
            continue;
        if (name.endsWith(QLatin1StringView(".vcf"), Qt::CaseInsensitive))
            names.append(name);
        else if (subfolders && entry->d_type != DT_REG)
            subfolders->append(name); // a candidate; whether it is a folder is seen when it is used
    }
    ::closedir(listing);
    std::sort(names.begin(), names.end());

    QStringList files;
    files.reserve(names.size());
    for (const QString& name : std::as_const(names))
        files.append(directory + u'/' + name);

    const QStringList previous = m_listings.value(directory);
    for (const QString& file : previous) {
        if (!std::binary_search(files.cbegin(), files.cend(), file)) {
            m_files.remove(file);
            changed = true;
        }
    }
    for (const QString& file : std::as_const(files)) {
        const auto cached = m_files.constFind(file);
        // Files that could not be read are tried again each time: a change of their rights leaves their
        // size and time as they were.
        if (cached != m_files.cend() && cached->error.isEmpty() && cached->tag == fileTag(file))
            continue;
        CachedFile fresh = read(file);
        const bool sameFailure =
            cached != m_files.cend() && !cached->contact && !fresh.contact && cached->error == fresh.error;
        changed = changed || !sameFailure;
        m_files.insert(file, std::move(fresh));
    }
    m_listings.insert(directory, files);
    return files;
}

void AddressBook::refresh()
{
    if (m_handed) {
        rebuildIndex();
        return;
    }
    m_folderErrors.clear();
    bool changed = false;
    const auto forget = [&](const QString& directory) {
        const QStringList files = m_listings.take(directory);
        for (const QString& file : files)
            m_files.remove(file);
        changed = changed || !files.isEmpty();
    };
    QStringList subfolders;
    try {
        scan(m_path, changed, &subfolders);
    }
    catch (const MailboxError& error) {
        m_folderErrors.append(error);
        forget(m_path);
    }
    // The team folder is found without regard to letter case, as the contacts folder's Folders() finds it.
    QString team = m_path + u'/' + kTeamFolderName;
    if (!subfolders.contains(kTeamFolderName)) {
        std::sort(subfolders.begin(), subfolders.end());
        for (const QString& name : std::as_const(subfolders)) {
            if (name.compare(kTeamFolderName, Qt::CaseInsensitive) == 0 &&
                QFileInfo(m_path + u'/' + name).isDir()) {
                team = m_path + u'/' + name;
                break;
            }
        }
    }
    if (team != m_teamFolder) {
        forget(m_teamFolder);
        m_teamFolder = team;
    }
    // A missing team folder is no error: it is created when a team is first needed.
    if (QFileInfo(m_teamFolder).isDir()) {
        try {
            scan(m_teamFolder, changed);
        }
        catch (const MailboxError& error) {
            m_folderErrors.append(error);
            forget(m_teamFolder);
        }
    }
    else {
        forget(m_teamFolder);
    }
    // The errors are rebuilt every time, so that a file that is still unreadable stays listed.
    rebuildIndex();
    m_sinceRefresh.start();
}

void AddressBook::refreshIfStale()
{
    if (m_handed) {
        if (!m_indexValid)
            rebuildIndex();
        return;
    }
    if (!m_sinceRefresh.isValid() || m_sinceRefresh.elapsed() >= m_maximumAge)
        refresh();
    else if (!m_indexValid)
        rebuildIndex();
}

void AddressBook::rebuildIndex()
{
    m_contacts.clear();
    m_errors = m_folderErrors;
    m_byUid.clear();
    m_byEmail.clear();
    m_byName.clear();
    m_byLocalPart.clear();
    const auto add = [this](const Contact& contact) {
        const qsizetype index = m_contacts.size();
        m_contacts.append(contact);
        if (!contact.uid.isEmpty())
            m_byUid[uidKey(contact.uid)].append(index);
        if (!contact.name.isEmpty())
            m_byName[contact.name.toCaseFolded()].append(index);
        for (const QString& email : contact.emails) {
            const QString key = emailKey(email);
            m_byEmail[key].append(index);
            const QString local = localPart(key);
            if (!local.isEmpty())
                m_byLocalPart[local].append(index);
        }
    };
    if (m_handed) {
        m_errors = m_handedErrors;
        for (const Contact& contact : std::as_const(m_handedContacts))
            add(contact);
        m_indexValid = true;
        return;
    }
    for (const QString& directory : {m_path, m_teamFolder}) {
        for (const QString& file : m_listings.value(directory)) {
            const CachedFile cached = m_files.value(file);
            if (!cached.contact) {
                m_errors.append(unreadableFile(file, cached.error));
                continue;
            }
            add(*cached.contact);
        }
    }
    m_indexValid = true;
}

QList<AddressBook::Contact> AddressBook::persons()
{
    refreshIfStale();
    QList<Contact> result;
    for (const Contact& contact : std::as_const(m_contacts)) {
        if (!contact.isGroup())
            result.append(contact);
    }
    return result;
}

QList<AddressBook::Contact> AddressBook::groups()
{
    refreshIfStale();
    QList<Contact> result;
    for (const Contact& contact : std::as_const(m_contacts)) {
        if (contact.isGroup())
            result.append(contact);
    }
    return result;
}

QList<MailboxError> AddressBook::errors()
{
    refreshIfStale();
    return m_errors;
}

std::optional<AddressBook::Contact> AddressBook::resolve(const QString& name)
{
    // "Name <address>", as a team writes a member it knows the address of: the address tells people of one
    // name apart; a name alone still resolves as before.
    static const QRegularExpression kNamed(QStringLiteral("^(.*\\S)\\s*<([^<>\\s]+@[^<>\\s]+)>$"));
    if (const QRegularExpressionMatch named = kNamed.match(name.trimmed()); named.hasMatch()) {
        if (std::optional<Contact> person = resolve(named.captured(2)))
            return person;
        return resolve(named.captured(1));
    }
    refreshIfStale();
    const QString key = emailKey(name);
    if (key.isEmpty())
        return std::nullopt;
    QList<qsizetype> matches = m_byName.value(key) + m_byEmail.value(key) + m_byLocalPart.value(key);
    std::sort(matches.begin(), matches.end());
    matches.erase(std::unique(matches.begin(), matches.end()), matches.end());

    std::optional<qsizetype> chosen;
    for (const qsizetype index : std::as_const(matches)) {
        const Contact& contact = m_contacts.at(index);
        if (contact.isGroup())
            continue;
        if (!chosen) {
            chosen = index;
            continue;
        }
        // The same card in the contacts folder and in the team folder is one person, not two.
        const QString& uid = m_contacts.at(*chosen).uid;
        if (uid.isEmpty() || uidKey(uid) != uidKey(contact.uid))
            return std::nullopt;
    }
    if (!chosen)
        return std::nullopt;

    Contact person = m_contacts.at(*chosen);
    for (qsizetype i = 0; i < person.emails.size(); ++i) {
        const QString address = emailKey(person.emails.at(i));
        if (address == key || localPart(address) == key) {
            person.emails.move(i, 0);
            break;
        }
    }
    return person;
}

// The address of a "mailto:" reference: percent-decoded, without its query.
static QString mailtoAddress(const QString& reference)
{
    const QString address = QUrl::fromPercentEncoding(reference.mid(7).toUtf8());
    const qsizetype query = address.indexOf(u'?');
    return (query >= 0 ? address.left(query) : address).trimmed();
}

QString AddressBook::memberDisplayName(const QString& reference)
{
    refreshIfStale();
    const auto nameIn = [this](const QList<qsizetype>& indexes) -> QString {
        // A person before a list of the same address, for a list that names a person.
        for (const bool groups : {false, true}) {
            for (const qsizetype index : indexes) {
                const Contact& contact = m_contacts.at(index);
                if (contact.isGroup() == groups && !contact.name.isEmpty())
                    return contact.name;
            }
        }
        return QString();
    };
    const QString trimmed = reference.trimmed();
    const bool isMailto = trimmed.startsWith(QLatin1StringView("mailto:"), Qt::CaseInsensitive);
    if (!isMailto && (trimmed.startsWith(QLatin1StringView("urn:uuid:"), Qt::CaseInsensitive) ||
                      !trimmed.contains(u'@'))) {
        const QList<qsizetype> found = m_byUid.value(uidKey(trimmed));
        const QString name = nameIn(found);
        if (!name.isEmpty())
            return name;
        for (const qsizetype index : found) {
            if (!m_contacts.at(index).emails.isEmpty())
                return m_contacts.at(index).emails.first();
        }
        return trimmed;
    }
    const QString address = isMailto ? mailtoAddress(trimmed) : trimmed;
    const QString name = nameIn(m_byEmail.value(emailKey(address)));
    return name.isEmpty() ? address : name;
}

QString AddressBook::memberAddress(const QString& reference)
{
    refreshIfStale();
    const QString trimmed = reference.trimmed();
    if (trimmed.startsWith(QLatin1StringView("mailto:"), Qt::CaseInsensitive))
        return mailtoAddress(trimmed);
    if (trimmed.contains(u'@') && !trimmed.startsWith(QLatin1StringView("urn:"), Qt::CaseInsensitive))
        return trimmed;
    for (const qsizetype index : m_byUid.value(uidKey(trimmed))) {
        const Contact& contact = m_contacts.at(index);
        if (!contact.isGroup() && !contact.emails.isEmpty())
            return contact.emails.first();
    }
    return QString();
}

QStringList AddressBook::memberAddresses(const Contact& group)
{
    QStringList addresses;
    for (const QString& reference : group.memberRefs)
        addresses.append(memberAddress(reference));
    return addresses;
}

QStringList AddressBook::memberDisplayNames(const Contact& group)
{
    QStringList names;
    for (const QString& reference : group.memberRefs)
        names.append(memberDisplayName(reference));
    return names;
}

QList<AddressBook::Contact> AddressBook::readFolder(const QString& directory, QList<MailboxError>* errors)
{
    const QString folder = QDir::cleanPath(QFileInfo(directory).absoluteFilePath());
    bool changed = false;
    const QStringList files = scan(folder, changed);
    if (changed && (folder == m_path || folder == m_teamFolder))
        m_indexValid = false;
    QList<Contact> contacts;
    for (const QString& file : files) {
        const CachedFile cached = m_files.value(file);
        if (cached.contact)
            contacts.append(*cached.contact);
        else if (errors)
            errors->append(unreadableFile(file, cached.error));
    }
    return contacts;
}
