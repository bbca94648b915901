#include "mailbox/contactsfolder.h"

#include "mailbox/mailbox.h"
#include "mailbox/newfile.h"
#include "mailbox/vcard.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QUuid>

#include <algorithm>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString systemError(int number)
{
    return QString::fromLocal8Bit(std::strerror(number));
}

[[noreturn]] void throwFolderError(const QString& path, int number)
{
    if (number == ENOENT || number == ENOTDIR)
        throw MailboxError(MailboxError::NotFound,
                           QStringLiteral("The contacts folder %1 does not exist").arg(path));
    throw MailboxError(
        MailboxError::AccessDenied,
        QStringLiteral("The contacts folder %1 cannot be read: %2").arg(path, systemError(number)));
}

QStringList subdirectories(const QString& path)
{
    DIR* listing = ::opendir(QFile::encodeName(path).constData());
    if (!listing)
        throwFolderError(path, errno);
    QStringList names;
    while (const dirent* entry = ::readdir(listing)) {
        const QString name = QFile::decodeName(entry->d_name);
        if (name.startsWith(u'.') || entry->d_type == DT_REG)
            continue; // the contacts folder holds thousands of cards: stat only what may be a folder
        struct stat info {};
        if (entry->d_type == DT_DIR ||
            (::stat(QFile::encodeName(path + u'/' + name).constData(), &info) == 0 && S_ISDIR(info.st_mode)))
            names.append(name);
    }
    ::closedir(listing);
    std::sort(names.begin(), names.end());
    return names;
}

// Replaces `path` by a new file holding `bytes`, or leaves it as it was. The new file is made beside it under
// a new name (opened exclusively, so a planted link is never followed) and renamed over it: a rename replaces
// the directory entry itself, where QSaveFile would write through a link to wherever it points.
void replaceFile(const QString& path, const QByteArray& bytes, const struct stat& old)
{
    const auto failed = [&](const QString& reason) {
        return MailboxError(MailboxError::WriteFailed,
                            QStringLiteral("The contact file %1 cannot be written: %2").arg(path, reason));
    };
    QTemporaryFile file(QFileInfo(path).absolutePath() + QStringLiteral("/.rotavine-XXXXXX.tmp"));
    if (!file.open())
        throw failed(file.errorString());
    const int descriptor = file.handle();
    if (file.write(bytes) != bytes.size() || !file.flush())
        throw failed(file.errorString());
    if (::fchmod(descriptor, old.st_mode & 07777) != 0)
        throw failed(systemError(errno));
    // Keeps the owner when we may (a shared folder written by an administrator); failing is no harm.
    if (::fchown(descriptor, old.st_uid, old.st_gid) != 0 && errno != EPERM)
        throw failed(systemError(errno));
    if (::fsync(descriptor) != 0)
        throw failed(systemError(errno));
    if (::rename(QFile::encodeName(file.fileName()).constData(), QFile::encodeName(path).constData()) != 0)
        throw failed(systemError(errno));
    file.setAutoRemove(false);
}

} // namespace

ContactsFolder::ContactsFolder(Mailbox& mailbox, std::shared_ptr<AddressBook> book, const QString& path,
                               QString name)
    : m_mailbox(mailbox), m_book(std::move(book)),
      m_path(QDir::cleanPath(QFileInfo(path).absoluteFilePath())), m_name(std::move(name))
{
}

QString ContactsFolder::subfolderName(const QString& name) const
{
    const QStringList names = subdirectories(m_path);
    if (names.contains(name))
        return name;
    for (const QString& candidate : names) {
        if (candidate.compare(name, Qt::CaseInsensitive) == 0)
            return candidate;
    }
    return QString();
}

std::shared_ptr<Folder> ContactsFolder::folder(const QString& name)
{
    const QString found = subfolderName(name);
    if (found.isEmpty())
        throw MailboxError(MailboxError::NotFound,
                           QStringLiteral("The folder \"%1\" has no subfolder \"%2\"").arg(m_name, name));
    return std::make_shared<ContactsFolder>(m_mailbox, m_book, m_path + u'/' + found, found);
}

std::shared_ptr<Folder> ContactsFolder::addFolder(const QString& name)
{
    if (!subfolderName(name).isEmpty())
        return folder(name);
    if (name.isEmpty() || name == QLatin1StringView(".") || name == QLatin1StringView("..") ||
        name.contains(u'/') || name.contains(QChar(0)))
        throw MailboxError(
            MailboxError::Unsupported,
            QStringLiteral("\"%1\" cannot be the name of a folder in \"%2\"").arg(name, m_name));
    const QString path = m_path + u'/' + name;
    // Only the user reads the team folder: it holds the names and addresses of colleagues.
    if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0) {
        const int number = errno;
        if (number == EEXIST && QFileInfo(path).isDir())
            return folder(name); // made by another program meanwhile
        throw MailboxError(
            number == EACCES || number == EPERM ? MailboxError::AccessDenied : MailboxError::WriteFailed,
            QStringLiteral("The folder %1 cannot be created: %2").arg(path, systemError(number)));
    }
    return std::make_shared<ContactsFolder>(m_mailbox, m_book, path, name);
}

QList<std::shared_ptr<MailboxItem>> ContactsFolder::storedItems()
{
    QList<MailboxError> errors;
    const QList<AddressBook::Contact> contacts = m_book->readFolder(m_path, &errors);
    m_errors = errors;
    return itemsOf(contacts, *m_book, shared_from_this());
}

void ContactsFolder::requireContact(const MailboxItem& item, const QString& folderName)
{
    if (item.messageClass.compare(MailboxItem::kContact, Qt::CaseInsensitive) != 0 &&
        item.messageClass.compare(MailboxItem::kDistList, Qt::CaseInsensitive) != 0)
        throw MailboxError(MailboxError::Unsupported,
                           QStringLiteral("An item of class \"%1\" cannot be saved in the folder \"%2\"")
                               .arg(item.messageClass, folderName));
}

QStringList ContactsFolder::splitCategories(const QString& categories)
{
    QStringList values;
    for (const QString& value : categories.split(u';')) {
        const QString trimmed = value.trimmed();
        if (!trimmed.isEmpty())
            values.append(trimmed);
    }
    return values;
}

QList<std::shared_ptr<MailboxItem>> ContactsFolder::itemsOf(const QList<AddressBook::Contact>& contacts,
                                                            AddressBook& book,
                                                            const std::shared_ptr<ItemHost>& host)
{
    QList<std::shared_ptr<MailboxItem>> items;
    items.reserve(contacts.size());
    for (const AddressBook::Contact& contact : contacts) {
        auto item = std::make_shared<MailboxItem>();
        item->messageClass = contact.isGroup() ? MailboxItem::kDistList : MailboxItem::kContact;
        item->subject = contact.name;
        item->categories = contact.categories.join(u';');
        item->source.location = contact.file;
        item->source.etag = contact.etag;
        item->source.uid = contact.uid;
        item->source.address = contact.emails.value(0);
        if (contact.isGroup()) {
            item->source.memberRefs = contact.memberRefs;
            item->setMembers(book.memberDisplayNames(contact), book.memberAddresses(contact));
        }
        item->attach(host);
        items.append(std::move(item));
    }
    return items;
}

QString ContactsFolder::fileOf(const MailboxItem& item) const
{
    const QString& file = item.source.location;
    if (file.isEmpty() || QDir::cleanPath(QFileInfo(file).absolutePath()) != m_path)
        throw MailboxError(
            MailboxError::Unsupported,
            QStringLiteral("The item \"%1\" is not stored in the folder \"%2\"").arg(item.subject, m_name));
    return file;
}

void ContactsFolder::saveItem(MailboxItem& item)
{
    requireContact(item, m_name);
    if (item.source.location.isEmpty() &&
        item.messageClass.compare(MailboxItem::kDistList, Qt::CaseInsensitive) == 0) {
        createItem(item);
        return;
    }
    const QString file = fileOf(item);

    // The file is opened without following a link, and the version checked is the one read.
    const int descriptor =
        ::open(QFile::encodeName(file).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (descriptor < 0) {
        const int number = errno;
        if (number == ENOENT)
            throw MailboxError(
                MailboxError::NotFound,
                QStringLiteral("The item \"%1\" no longer exists (%2)").arg(item.subject, file));
        if (number == ELOOP)
            throw MailboxError(
                MailboxError::WriteFailed,
                QStringLiteral("The contact file %1 is a symbolic link; it was not changed").arg(file));
        throw MailboxError(
            number == EACCES ? MailboxError::AccessDenied : MailboxError::WriteFailed,
            QStringLiteral("The contact file %1 cannot be read: %2").arg(file, systemError(number)));
    }
    struct stat info {};
    QByteArray bytes;
    QString problem;
    if (::fstat(descriptor, &info) != 0)
        problem = systemError(errno);
    else if (!S_ISREG(info.st_mode))
        problem = QStringLiteral("it is not a regular file");
    else {
        QFile reader;
        if (reader.open(descriptor, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
            bytes = reader.read(VCard::kMaxFileOctets + 1);
        else
            problem = reader.errorString();
    }
    const QString tag = problem.isEmpty() ? AddressBook::fileTag(descriptor) : QString();
    ::close(descriptor);
    if (!problem.isEmpty())
        throw MailboxError(MailboxError::WriteFailed,
                           QStringLiteral("The contact file %1 cannot be changed: %2").arg(file, problem));
    if (item.source.etag.isEmpty() || tag != item.source.etag)
        throw MailboxError(MailboxError::Conflict,
                           QStringLiteral("The item \"%1\" was changed by another program since it was read; "
                                          "nothing was saved")
                               .arg(item.subject));

    const VCard card = VCard::parse(bytes);
    if (!card.isValid())
        throw MailboxError(
            MailboxError::ItemUnreadable,
            QStringLiteral("The contact file %1 cannot be read: %2").arg(file, card.errorString()));
    const QByteArray changed = cardWith(card, item);
    if (changed == bytes)
        return; // nothing changed: the file keeps its date
    replaceFile(file, changed, info);
    item.source.etag = AddressBook::fileTag(file);
}

void ContactsFolder::createItem(MailboxItem& item)
{
    const QString uid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QString fileName = uid + QStringLiteral(".vcf");
    const QString failure = writeNewFile(m_path, fileName, newGroupCard(item, uid));
    if (!failure.isEmpty())
        throw MailboxError(MailboxError::WriteFailed,
                           QStringLiteral("\"%1\" was not saved: %2").arg(item.subject, failure));
    item.source.location = m_path + u'/' + fileName;
    item.source.etag = AddressBook::fileTag(item.source.location);
    item.source.uid = uid;
}

std::shared_ptr<MailboxItem> ContactsFolder::newItem(const QString& messageClass)
{
    if (messageClass.compare(MailboxItem::kDistList, Qt::CaseInsensitive) != 0)
        return Folder::newItem(messageClass);
    auto item = std::make_shared<MailboxItem>();
    item->messageClass = MailboxItem::kDistList;
    item->attach(shared_from_this());
    return item;
}

QByteArray ContactsFolder::cardWith(const VCard& card, const MailboxItem& item)
{
    const bool list = item.messageClass.compare(MailboxItem::kDistList, Qt::CaseInsensitive) == 0;
    const QString name = item.subject.trimmed();
    QByteArray bytes = card.bytes();
    if (card.value(QStringLiteral("FN")).trimmed() != name) {
        if (!list || name.isEmpty())
            throw MailboxError(
                MailboxError::Unsupported,
                list ? QStringLiteral("A distribution list needs a name")
                     : QStringLiteral("Only the categories of \"%1\" can be changed").arg(item.subject));
        bytes = VCard::parse(bytes).replaceProperties({QStringLiteral("FN")},
                                                      {"FN:" + VCard::escapeText(name).toUtf8()});
    }
    const QStringList categories = splitCategories(item.categories);
    if (categories != card.categories())
        bytes = VCard::parse(bytes).setCategories(categories);
    if (list && item.source.memberRefs != AddressBook::contactFromCard(card).memberRefs) {
        // Members go back into the property the card uses (Apple's for its 3.0 groups), never into both.
        const bool apple = !card.contains(QStringLiteral("MEMBER")) &&
                           card.contains(QStringLiteral("X-ADDRESSBOOKSERVER-MEMBER"));
        const QByteArray property = apple ? "X-ADDRESSBOOKSERVER-MEMBER:" : "MEMBER:";
        QList<QByteArray> lines;
        for (const QString& reference : item.source.memberRefs) {
            // A URI, not text: no escapes, but nothing that would end the line or the property either.
            QString clean = reference.trimmed();
            clean.removeIf([](QChar c) { return c.unicode() < 0x20 || c.unicode() == 0x7f; });
            if (!clean.isEmpty())
                lines.append(property + clean.toUtf8());
        }
        bytes = VCard::parse(bytes).replaceProperties(
            {QStringLiteral("MEMBER"), QStringLiteral("X-ADDRESSBOOKSERVER-MEMBER")}, lines);
    }
    return bytes;
}

QByteArray ContactsFolder::newGroupCard(const MailboxItem& item, const QString& uid)
{
    const QByteArray skeleton = "BEGIN:VCARD\r\nVERSION:4.0\r\nPRODID:-//Rotavine//Rotavine//EN\r\n" +
                                VCard::fold("UID:" + uid.toUtf8()) + "KIND:group\r\nEND:VCARD\r\n";
    return cardWith(VCard::parse(skeleton), item);
}

void ContactsFolder::deleteItem(MailboxItem& item)
{
    const QString file = fileOf(item);
    // unlink removes a link itself, never what it points to.
    if (::unlink(QFile::encodeName(file).constData()) != 0) {
        const int number = errno;
        if (number == ENOENT)
            throw MailboxError(
                MailboxError::NotFound,
                QStringLiteral("The item \"%1\" no longer exists (%2)").arg(item.subject, file));
        throw MailboxError(
            number == EACCES || number == EPERM ? MailboxError::AccessDenied : MailboxError::WriteFailed,
            QStringLiteral("The item \"%1\" cannot be deleted: %2").arg(item.subject, systemError(number)));
    }
}

void ContactsFolder::displayItem(const MailboxItem& item, bool modal)
{
    const QString file = fileOf(item);
    if (!QFileInfo::exists(file))
        throw MailboxError(MailboxError::NotFound,
                           QStringLiteral("The item \"%1\" no longer exists (%2)").arg(item.subject, file));
    DisplayRequest request;
    request.kind = DisplayRequest::Open;
    request.url = QUrl::fromLocalFile(file);
    request.modal = modal;
    m_mailbox.display(request);
}

QUrl ContactsFolder::location() const
{
    return QUrl::fromLocalFile(m_path);
}
