#include "mailbox/addressbook.h"
#include "mailbox/contactsfolder.h"
#include "mailbox/itemcollection.h"
#include "mailbox/mailbox.h"
#include "mailbox/vcard.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kFixtures = QStringLiteral(ROTAVINE_TEST_DATA "/vcard/");

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeAll(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

QByteArray person(const QString& uid, const QString& name, const QStringList& emails)
{
    QByteArray card =
        "BEGIN:VCARD\r\nVERSION:4.0\r\nUID:" + uid.toUtf8() + "\r\nFN:" + name.toUtf8() + "\r\n";
    for (const QString& email : emails)
        card += "EMAIL;TYPE=work:" + email.toUtf8() + "\r\n";
    return card + "END:VCARD\r\n";
}

mode_t modeOf(const QString& path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode : 0;
}

// The file without its CATEGORIES lines and their continuation lines.
QByteArray withoutCategories(const QByteArray& bytes)
{
    QByteArray out;
    bool skipping = false;
    qsizetype position = 0;
    while (position < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', position);
        end = end < 0 ? bytes.size() : end + 1;
        const QByteArray line = bytes.mid(position, end - position);
        if (!line.startsWith(' ') && !line.startsWith('\t'))
            skipping = line.left(line.indexOf(':')).toUpper() == "CATEGORIES";
        if (!skipping)
            out += line;
        position = end;
    }
    return out;
}

// A folder mailbox with the fixture persons in its contacts folder and the fixture lists in its team folder.
class MailboxFiles {
public:
    MailboxFiles()
    {
        QDir(m_dir.path()).mkpath("contacts/Rotavine");
        for (const char* name :
             {"apple-contacts-3.0-person.vcf", "nextcloud-4.0-person.vcf", "google-export-folded.vcf"})
            QFile::copy(kFixtures + name, contacts(name));
        for (const char* name :
             {"apple-contacts-3.0-group.vcf", "thunderbird-list.vcf", "hand-written-lf-group.vcf"})
            QFile::copy(kFixtures + name, team(name));
        // Copies are read-only when the sources are; the tests change them.
        for (const QString& folder : {contacts(), team()}) {
            for (const QString& name : QDir(folder).entryList(QDir::Files))
                QFile::setPermissions(folder + '/' + name, QFile::ReadOwner | QFile::WriteOwner);
        }
    }

    QString root() const { return m_dir.path(); }
    QString contacts(const QString& name = QString()) const
    {
        return m_dir.path() + "/contacts" + (name.isEmpty() ? QString() : '/' + name);
    }
    QString team(const QString& name = QString()) const
    {
        return contacts("Rotavine") + (name.isEmpty() ? QString() : '/' + name);
    }

private:
    QTemporaryDir m_dir;
};

// The mailbox the calendar side will provide, reduced to the address book: enough to reach the contacts
// folder the way the team windows do, and to see what they ask the desktop to open.
class ContactsOnlyMailbox : public Mailbox {
public:
    explicit ContactsOnlyMailbox(const QString& contactsPath)
        : m_book(std::make_shared<AddressBook>(contactsPath))
    {
        setDisplayHandler([this](const DisplayRequest& request) { requests.append(request); });
    }

    std::shared_ptr<Folder> sharedDefaultFolder(const Recipient& recipient, int) override
    {
        throw MailboxError(MailboxError::NotFound, "No calendars in this mailbox: " + recipient.name());
    }
    std::shared_ptr<Folder> defaultFolder(int folderType) override
    {
        if (folderType != kContactsFolder)
            throw MailboxError(MailboxError::Unsupported, "Only the contacts folder");
        return std::make_shared<ContactsFolder>(*this, m_book, m_book->path(), "Contacts");
    }
    std::optional<ResolvedPerson> resolveName(const QString& name) override
    {
        const std::optional<AddressBook::Contact> found = m_book->resolve(name);
        if (!found)
            return std::nullopt;
        return ResolvedPerson{found->name, found->emails.value(0), found->calendarUri};
    }

    std::shared_ptr<Folder> teamFolder() { return defaultFolder(kContactsFolder)->folder("Rotavine"); }

    QList<DisplayRequest> requests;

private:
    std::shared_ptr<AddressBook> m_book;
};

int errorNumber(const std::function<void()>& operation, QString* description = nullptr)
{
    try {
        operation();
    }
    catch (const MailboxError& error) {
        if (description)
            *description = error.description();
        return error.number();
    }
    return 0;
}

} // namespace

class TestAddressBook : public QObject {
    Q_OBJECT

private slots:
    void mapsCards_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("group");
        QTest::addColumn<QString>("uid");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("emails");
        QTest::addColumn<QString>("calendar");
        QTest::addColumn<QStringList>("categories");
        QTest::addColumn<QStringList>("members");

        QTest::newRow("apple person: grouped emails, type=pref first")
            << "apple-contacts-3.0-person.vcf" << false << "5B0D1C7E-3A2F-4E8B-9C61-0D2E7F4A9B13"
            << "Élodie Marchand" << QStringList{"elodie.marchand@example.org", "e.marchand@home.example"}
            << "" << QStringList{"Support"} << QStringList{};
        QTest::newRow("nextcloud person: PREF=1 first, CALURI")
            << "nextcloud-4.0-person.vcf" << false << "urn:uuid:1f0e9c7a-6b2d-4c3e-8f5a-2d7b9e0c4a61"
            << "Jean Martin" << QStringList{"jmartin@perso.example", "jean.martin@example.org"}
            << "https://cloud.example.org/remote.php/dav/calendars/jmartin/personal/"
            << QStringList{"Développement", "Équipe A"} << QStringList{};
        QTest::newRow("google person: no UID")
            << "google-export-folded.vcf" << false << ""
            << "Sofia Rossi" << QStringList{"sofia.rossi@example.org", "sofia.r@home.example"} << ""
            << QStringList{"myContacts",   "Équipe support",     "Astreinte, week-end",
                           "Projets 2024", "Clients importants", "Fournisseurs"}
            << QStringList{};
        QTest::newRow("apple group: X-ADDRESSBOOKSERVER-KIND and -MEMBER")
            << "apple-contacts-3.0-group.vcf" << true << "9E3C0B4D-2F71-4A8C-B6D0-5E1A7C3F9D28"
            << "Équipe Support" << QStringList{} << "" << QStringList{}
            << QStringList{"urn:uuid:5b0d1c7e-3a2f-4e8b-9c61-0d2e7f4a9b13",
                           "urn:uuid:1F0E9C7A-6B2D-4C3E-8F5A-2D7B9E0C4A61",
                           "urn:uuid:0D6F2B9A-71C4-4E0B-A3D5-8C19F2E7B640"};
        QTest::newRow("thunderbird list: KIND:group, MEMBER by uuid and mailto")
            << "thunderbird-list.vcf" << true << "7c2e4f90-1b3a-4d6e-9f08-a5c7d3e1b2f4"
            << "Projet Orion" << QStringList{} << "" << QStringList{"Projets", "<rotavine>"}
            << QStringList{"urn:uuid:1f0e9c7a-6b2d-4c3e-8f5a-2d7b9e0c4a61", "mailto:sofia.rossi@example.org",
                           "mailto:partner%2Bplanning@other.example"};
        QTest::newRow("hand-written list: kind in other letter case")
            << "hand-written-lf-group.vcf" << true << "urn:uuid:3d9a6c1e-8b40-4f2d-a7e5-c0b19f68d2a3"
            << "Astreinte" << QStringList{} << "" << QStringList{"<Rotavine>", "Week-end"}
            << QStringList{"mailto:Jean.Martin@Example.ORG", "urn:uuid:5B0D1C7E-3A2F-4E8B-9C61-0D2E7F4A9B13"};
    }
    void mapsCards()
    {
        QFETCH(QString, file);
        QFETCH(bool, group);
        QFETCH(QString, uid);
        QFETCH(QString, name);
        QFETCH(QStringList, emails);
        QFETCH(QString, calendar);
        QFETCH(QStringList, categories);
        QFETCH(QStringList, members);

        const VCard card = VCard::parse(readAll(kFixtures + file));
        QVERIFY2(card.isValid(), qPrintable(card.errorString()));
        const AddressBook::Contact contact = AddressBook::contactFromCard(card);
        QCOMPARE(contact.isGroup(), group);
        QCOMPARE(contact.uid, uid);
        QCOMPARE(contact.name, name);
        QCOMPARE(contact.emails, emails);
        QCOMPARE(contact.calendarUri, calendar);
        QCOMPARE(contact.categories, categories);
        QCOMPARE(contact.memberRefs, members);
    }

    void resolvesNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("displayName"); // empty: not resolved
        QTest::addColumn<QString>("address");

        QTest::newRow("display name") << "Jean Martin"
                                      << "Jean Martin"
                                      << "jmartin@perso.example";
        QTest::newRow("display name, other case") << "jEAN mARTIN"
                                                  << "Jean Martin"
                                                  << "jmartin@perso.example";
        QTest::newRow("accented display name in capitals") << "ÉLODIE MARCHAND"
                                                           << "Élodie Marchand"
                                                           << "elodie.marchand@example.org";
        QTest::newRow("blanks around") << "  Sofia Rossi "
                                       << "Sofia Rossi"
                                       << "sofia.rossi@example.org";
        QTest::newRow("full address, other case") << "JEAN.MARTIN@EXAMPLE.ORG"
                                                  << "Jean Martin"
                                                  << "jean.martin@example.org";
        QTest::newRow("second address") << "sofia.r@home.example"
                                        << "Sofia Rossi"
                                        << "sofia.r@home.example";
        QTest::newRow("local part") << "jean.martin"
                                    << "Jean Martin"
                                    << "jean.martin@example.org";
        QTest::newRow("local part, other case") << "E.Marchand"
                                                << "Élodie Marchand"
                                                << "e.marchand@home.example";
        QTest::newRow("mailto address") << "mailto:sofia.rossi@example.org"
                                        << "Sofia Rossi"
                                        << "sofia.rossi@example.org";
        QTest::newRow("same card in both folders is one person") << "Paul Lemaire"
                                                                 << "Paul Lemaire"
                                                                 << "paul.lemaire@example.org";
        QTest::newRow("two persons share the name") << "Anne Petit"
                                                    << ""
                                                    << "";
        QTest::newRow("two persons share the local part") << "marc"
                                                          << ""
                                                          << "";
        QTest::newRow("a local part and another's name") << "Lucie"
                                                         << ""
                                                         << "";
        QTest::newRow("full address where local parts clash") << "marc@example.org"
                                                              << "Marc Durand"
                                                              << "marc@example.org";
        QTest::newRow("a list is no person") << "Projet Orion"
                                             << ""
                                             << "";
        QTest::newRow("domain only") << "example.org"
                                     << ""
                                     << "";
        QTest::newRow("unknown") << "Nobody"
                                 << ""
                                 << "";
        QTest::newRow("empty") << ""
                               << ""
                               << "";
    }
    void resolvesNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, displayName);
        QFETCH(QString, address);

        MailboxFiles files;
        const QByteArray paul = person("urn:uuid:aa11", "Paul Lemaire", {"paul.lemaire@example.org"});
        QVERIFY(writeAll(files.contacts("paul.vcf"), paul));
        QVERIFY(writeAll(files.team("paul-copy.vcf"), QByteArray(paul).replace("urn:uuid:aa11", "AA11")));
        QVERIFY(
            writeAll(files.contacts("anne1.vcf"), person("a1", "Anne Petit", {"anne.petit@example.org"})));
        QVERIFY(writeAll(files.contacts("anne2.vcf"), person("a2", "anne petit", {"apetit@other.example"})));
        QVERIFY(writeAll(files.contacts("marc1.vcf"), person("m1", "Marc Durand", {"marc@example.org"})));
        QVERIFY(writeAll(files.contacts("marc2.vcf"), person("m2", "Marc Leroy", {"marc@other.example"})));
        QVERIFY(writeAll(files.contacts("lucie1.vcf"), person("l1", "Lucie", {"lucie.bernard@example.org"})));
        QVERIFY(writeAll(files.contacts("lucie2.vcf"), person("l2", "Lucie Garnier", {"lucie@example.org"})));

        ContactsOnlyMailbox mailbox(files.contacts());
        Recipient recipient = mailbox.createRecipient(name);
        QCOMPARE(recipient.resolve(), !displayName.isEmpty());
        QCOMPARE(recipient.isResolved(), !displayName.isEmpty());
        if (displayName.isEmpty())
            return;
        QCOMPARE(recipient.name(), displayName);
        QCOMPARE(recipient.address(), address);
    }

    void memberDisplayNames_data()
    {
        QTest::addColumn<QString>("reference");
        QTest::addColumn<QString>("displayName");

        QTest::newRow("uuid, other letter case than the UID")
            << "urn:uuid:5b0d1c7e-3a2f-4e8b-9c61-0d2e7f4a9b13"
            << "Élodie Marchand";
        QTest::newRow("uuid of a UID written as urn:uuid") << "urn:uuid:1F0E9C7A-6B2D-4C3E-8F5A-2D7B9E0C4A61"
                                                           << "Jean Martin";
        QTest::newRow("bare UID") << "5B0D1C7E-3A2F-4E8B-9C61-0D2E7F4A9B13"
                                  << "Élodie Marchand";
        QTest::newRow("uuid of a list") << "urn:uuid:7c2e4f90-1b3a-4d6e-9f08-a5c7d3e1b2f4"
                                        << "Projet Orion";
        QTest::newRow("mailto") << "mailto:sofia.rossi@example.org"
                                << "Sofia Rossi";
        QTest::newRow("mailto, other letter case") << "mailto:Jean.Martin@Example.ORG"
                                                   << "Jean Martin";
        QTest::newRow("MAILTO in capitals, second address") << "MAILTO:sofia.r@home.example"
                                                            << "Sofia Rossi";
        QTest::newRow("bare address") << "elodie.marchand@example.org"
                                      << "Élodie Marchand";
        QTest::newRow("address the book lacks") << "mailto:someone@other.example"
                                                << "someone@other.example";
        QTest::newRow("percent-encoded address the book lacks") << "mailto:partner%2Bplanning@other.example"
                                                                << "partner+planning@other.example";
        QTest::newRow("address with a query") << "mailto:someone@other.example?subject=Rota"
                                              << "someone@other.example";
        QTest::newRow("uuid the book lacks") << "urn:uuid:0D6F2B9A-71C4-4E0B-A3D5-8C19F2E7B640"
                                             << "urn:uuid:0D6F2B9A-71C4-4E0B-A3D5-8C19F2E7B640";
    }
    void memberDisplayNames()
    {
        QFETCH(QString, reference);
        QFETCH(QString, displayName);
        MailboxFiles files;
        AddressBook book(files.contacts());
        QCOMPARE(book.memberDisplayName(reference), displayName);
    }

    void teamFolderItems_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("messageClass");
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("categories");
        QTest::addColumn<QStringList>("members");

        // In file-name order.
        QTest::newRow("apple group") << 1 << "IPM.DistList"
                                     << "Équipe Support"
                                     << ""
                                     << QStringList{"Élodie Marchand", "Jean Martin",
                                                    "urn:uuid:0D6F2B9A-71C4-4E0B-A3D5-8C19F2E7B640"};
        QTest::newRow("hand-written list")
            << 2 << "IPM.DistList"
            << "Astreinte"
            << "<Rotavine>;Week-end" << QStringList{"Jean Martin", "Élodie Marchand"};
        QTest::newRow("a person in the team folder") << 3 << "IPM.Contact"
                                                     << "Paul Lemaire"
                                                     << "Support;<rotavine>" << QStringList{};
        QTest::newRow("thunderbird list")
            << 4 << "IPM.DistList"
            << "Projet Orion"
            << "Projets;<rotavine>"
            << QStringList{"Jean Martin", "Sofia Rossi", "partner+planning@other.example"};
    }
    void teamFolderItems()
    {
        QFETCH(int, index);
        QFETCH(QString, messageClass);
        QFETCH(QString, subject);
        QFETCH(QString, categories);
        QFETCH(QStringList, members);

        MailboxFiles files;
        QVERIFY(writeAll(files.team("paul.vcf"),
                         "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Paul Lemaire\r\nEMAIL:paul@example.org\r\n"
                         "CATEGORIES:Support,<rotavine>\r\nEND:VCARD\r\n"));
        QVERIFY(writeAll(files.team("notes.txt"), "not a card"));
        QVERIFY(writeAll(files.team(".hidden-sync-state.vcf"), "BEGIN:VCARD\r\nFN:Hidden\r\nEND:VCARD\r\n"));
        ContactsOnlyMailbox mailbox(files.contacts());

        ItemCollection items = mailbox.defaultFolder(Mailbox::kContactsFolder)->folder("ROTAVINE")->items();
        QCOMPARE(items.count(), 4);
        const std::shared_ptr<MailboxItem> item = items.item(index);
        QCOMPARE(item->messageClass, messageClass);
        QCOMPARE(item->subject, subject);
        QCOMPARE(item->categories, categories);
        QStringList shown;
        for (int i = 1; i <= item->memberCount(); ++i)
            shown.append(item->member(i));
        QCOMPARE(shown, members);
        QCOMPARE(items.item(subject.toUpper()), item);
    }

    void teamFolderCreatedWhenMissing_data()
    {
        QTest::addColumn<QString>("existing"); // empty: none
        QTest::addColumn<QString>("expected");
        QTest::newRow("missing") << ""
                                 << "Rotavine";
        QTest::newRow("present") << "Rotavine"
                                 << "Rotavine";
        QTest::newRow("present in other letter case") << "rotavine"
                                                      << "rotavine";
    }
    void teamFolderCreatedWhenMissing()
    {
        QFETCH(QString, existing);
        QFETCH(QString, expected);
        QTemporaryDir root;
        const QString contacts = root.filePath("contacts");
        QVERIFY(QDir().mkpath(contacts));
        if (!existing.isEmpty())
            QVERIFY(QDir(contacts).mkdir(existing));
        ContactsOnlyMailbox mailbox(contacts);
        const std::shared_ptr<Folder> contactsFolder = mailbox.defaultFolder(Mailbox::kContactsFolder);
        QCOMPARE(contactsFolder->name(), "Contacts");

        QString description;
        QCOMPARE(errorNumber([&] { contactsFolder->folder("Rotavine"); }, &description),
                 existing.isEmpty() ? int(MailboxError::NotFound) : 0);
        if (existing.isEmpty())
            QVERIFY2(description.contains("Rotavine"), qPrintable(description));

        const std::shared_ptr<Folder> team = contactsFolder->addFolder("Rotavine");
        QCOMPARE(team->name(), expected);
        QCOMPARE(team->kind(), Folder::Contacts);
        QCOMPARE(team->items().count(), 0);
        QCOMPARE(QDir(contacts).entryList(QDir::Dirs | QDir::NoDotAndDotDot), QStringList{expected});
        if (existing.isEmpty())
            QCOMPARE(modeOf(contacts + "/Rotavine") & 07777, mode_t(0700));
        QCOMPARE(contactsFolder->folder("rOTAVINE")->name(), expected);
        QCOMPARE(contactsFolder->addFolder("Rotavine")->name(), expected);
    }

    void subfolderLetterCase_data()
    {
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("asked");
        QTest::addColumn<QString>("found");
        QTest::addColumn<QString>("teamFolder"); // the one the address book reads
        QTest::newRow("only in capitals") << QStringList{"ROTAVINE"} << "Rotavine"
                                          << "ROTAVINE"
                                          << "ROTAVINE";
        QTest::newRow("exact name preferred") << QStringList{"Rotavine", "rotavine"} << "rotavine"
                                              << "rotavine"
                                              << "Rotavine";
        QTest::newRow("neither exact") << QStringList{"rotavine", "Rotavine"} << "ROTAVINE"
                                       << "Rotavine"
                                       << "Rotavine";
    }
    void subfolderLetterCase()
    {
        QFETCH(QStringList, existing);
        QFETCH(QString, asked);
        QFETCH(QString, found);
        QFETCH(QString, teamFolder);
        QTemporaryDir root;
        const QString contacts = root.filePath("contacts");
        for (const QString& name : existing) {
            QVERIFY(QDir().mkpath(contacts + '/' + name));
            QVERIFY(writeAll(contacts + '/' + name + "/list.vcf",
                             "BEGIN:VCARD\r\nVERSION:4.0\r\nKIND:group\r\nFN:" + name.toUtf8() +
                                 "\r\nMEMBER:mailto:x@example.org\r\nEND:VCARD\r\n"));
        }
        ContactsOnlyMailbox mailbox(contacts);
        const std::shared_ptr<Folder> folder = mailbox.defaultFolder(Mailbox::kContactsFolder)->folder(asked);
        QCOMPARE(folder->name(), found);
        QCOMPARE(folder->items().item(1)->subject, found);

        AddressBook book(contacts);
        QCOMPARE(book.groups().size(), 1);
        QCOMPARE(book.groups().first().name, teamFolder);
        QCOMPARE(book.teamFolderPath(), contacts + '/' + teamFolder);
    }

    void badSubfolderNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("empty") << "";
        QTest::newRow("parent") << "..";
        QTest::newRow("path") << "../elsewhere";
    }
    void badSubfolderNames()
    {
        QFETCH(QString, name);
        MailboxFiles files;
        ContactsOnlyMailbox mailbox(files.contacts());
        QCOMPARE(errorNumber([&] { mailbox.teamFolder()->addFolder(name); }), int(MailboxError::Unsupported));
        QVERIFY(!QFileInfo::exists(files.team("elsewhere")));
        QVERIFY(!QFileInfo::exists(files.contacts("elsewhere")));
    }

    void missingContactsFolder_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("number");
        QTest::newRow("missing") << "missing" << int(MailboxError::NotFound);
        QTest::newRow("a file in its place") << "file" << int(MailboxError::NotFound);
        QTest::newRow("unreadable") << "unreadable" << int(MailboxError::AccessDenied);
    }
    void missingContactsFolder()
    {
        QFETCH(QString, kind);
        QFETCH(int, number);
        if (kind == "unreadable" && ::geteuid() == 0)
            QSKIP("the superuser reads every folder");
        QTemporaryDir root;
        const QString contacts = root.filePath("contacts");
        if (kind == "file")
            QVERIFY(writeAll(contacts, "x"));
        if (kind == "unreadable") {
            QVERIFY(QDir().mkpath(contacts + "/Rotavine"));
            QVERIFY(QFile::setPermissions(contacts, QFileDevice::Permissions()));
        }
        ContactsOnlyMailbox mailbox(contacts);
        const std::shared_ptr<Folder> folder = mailbox.defaultFolder(Mailbox::kContactsFolder);

        QString description;
        QCOMPARE(errorNumber([&] { folder->items().count(); }, &description), number);
        QVERIFY2(description.contains(contacts), qPrintable(description));
        QCOMPARE(errorNumber([&] { folder->folder("Rotavine"); }, &description), number);
        QVERIFY2(description.contains(contacts), qPrintable(description));
        QCOMPARE(errorNumber([&] { folder->addFolder("Rotavine"); }, &description), number);
        QVERIFY2(description.contains(contacts), qPrintable(description));
        QVERIFY(!mailbox.createRecipient("Jean Martin").resolve());

        AddressBook book(contacts);
        const QList<MailboxError> errors = book.errors();
        QCOMPARE(errors.size(), 1);
        QCOMPARE(errors.first().number(), number);
        QVERIFY(errors.first().description().contains(contacts));
        QFile::setPermissions(contacts,
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QVERIFY(!QFileInfo::exists(contacts + "/Rotavine") || kind == "unreadable");
    }

    void unreadableFilesAreSkipped_data()
    {
        QTest::addColumn<QString>("damaged");
        for (const QString& name : QDir(kFixtures + "damaged").entryList(QDir::Files))
            QTest::newRow(qPrintable(name)) << name;
        QTest::newRow("FIFO") << "fifo";
        QTest::newRow("folder named like a card") << "folder";
        QTest::newRow("dangling link") << "dangling";
        QTest::newRow("no read permission") << "unreadable";
    }
    void unreadableFilesAreSkipped()
    {
        QFETCH(QString, damaged);
        if (damaged == "unreadable" && ::geteuid() == 0)
            QSKIP("the superuser reads every file");
        MailboxFiles files;
        const QString path = files.team("broken.vcf");
        if (damaged == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (damaged == "folder")
            QVERIFY(QDir().mkdir(path));
        else if (damaged == "dangling")
            QVERIFY(QFile::link(files.root() + "/nowhere.vcf", path));
        else if (damaged == "unreadable") {
            QVERIFY(QFile::copy(kFixtures + "thunderbird-list.vcf", path));
            QVERIFY(QFile::setPermissions(path, QFileDevice::Permissions()));
        }
        else
            QVERIFY(QFile::copy(kFixtures + "damaged/" + damaged, path));

        AddressBook book(files.contacts());
        QCOMPARE(book.persons().size(), 3);
        QCOMPARE(book.groups().size(), 3);
        QList<MailboxError> errors = book.errors();
        QCOMPARE(errors.size(), 1);
        QCOMPARE(errors.first().number(), int(MailboxError::ItemUnreadable));
        QVERIFY2(errors.first().description().contains(path), qPrintable(errors.first().description()));

        ContactsOnlyMailbox mailbox(files.contacts());
        const std::shared_ptr<Folder> team = mailbox.teamFolder();
        QCOMPARE(team->items().count(), 3);
        errors = std::static_pointer_cast<ContactsFolder>(team)->errors();
        QCOMPARE(errors.size(), 1);
        QVERIFY(errors.first().description().contains(path));
    }

    void savesCategories_data()
    {
        QTest::addColumn<QString>("subject");
        QTest::addColumn<QString>("categories");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("rewritten");

        QTest::newRow("marker added where there was no category") << "Équipe Support"
                                                                  << "<rotavine>"
                                                                  << "<rotavine>" << true;
        QTest::newRow("marker appended") << "Astreinte"
                                         << "<Rotavine>;Week-end;<rotavine>"
                                         << "<Rotavine>;Week-end;<rotavine>" << true;
        QTest::newRow("blanks around values") << "Projet Orion"
                                              << " Projets ; ;<rotavine> ; Urgent"
                                              << "Projets;<rotavine>;Urgent" << true;
        QTest::newRow("all removed") << "Projet Orion"
                                     << ""
                                     << "" << true;
        QTest::newRow("a contact's folded line") << "Sofia Rossi"
                                                 << "myContacts;<rotavine>"
                                                 << "myContacts;<rotavine>" << true;
        QTest::newRow("same values: file left as it was") << "Projet Orion"
                                                          << "Projets; <rotavine>"
                                                          << "Projets;<rotavine>" << false;
    }
    void savesCategories()
    {
        QFETCH(QString, subject);
        QFETCH(QString, categories);
        QFETCH(QString, stored);
        QFETCH(bool, rewritten);
        MailboxFiles files;
        QVERIFY(QFile::rename(files.contacts("google-export-folded.vcf"),
                              files.team("google-export-folded.vcf")));
        for (const QString& name : QDir(files.team()).entryList(QDir::Files))
            QVERIFY(QFile::setPermissions(files.team(name),
                                          QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        ContactsOnlyMailbox mailbox(files.contacts());

        const std::shared_ptr<MailboxItem> item = mailbox.teamFolder()->items().item(subject);
        const QString path = item->source.location;
        const QByteArray before = readAll(path);
        const QString tagBefore = AddressBook::fileTag(path);
        item->categories = categories;
        item->save();

        const QByteArray after = readAll(path);
        QCOMPARE(after != before, rewritten);
        QCOMPARE(AddressBook::fileTag(path) != tagBefore, rewritten);
        QCOMPARE(withoutCategories(after), withoutCategories(before));
        QCOMPARE(modeOf(path) & 07777, mode_t(0640));
        QVERIFY(S_ISREG(modeOf(path)));
        QCOMPARE(QDir(files.team()).entryList(QDir::Files | QDir::Hidden).size(),
                 4); // no temporary file left
        QCOMPARE(mailbox.teamFolder()->items().item(subject)->categories, stored);

        // The item now knows the version it wrote, so a second change is no conflict.
        item->categories = "Autre";
        item->save();
        QCOMPARE(mailbox.teamFolder()->items().item(subject)->categories, "Autre");
    }

    void saveRefusesWhatItMustNotWrite_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("number");
        QTest::newRow("rewritten in place") << "rewritten" << int(MailboxError::Conflict);
        QTest::newRow("replaced by a file of the same size") << "replaced" << int(MailboxError::Conflict);
        QTest::newRow("deleted") << "deleted" << int(MailboxError::NotFound);
        QTest::newRow("replaced by a link") << "link" << int(MailboxError::WriteFailed);
        QTest::newRow("name changed on the item") << "subject" << int(MailboxError::Unsupported);
        QTest::newRow("item of another folder") << "elsewhere" << int(MailboxError::Unsupported);
    }
    void saveRefusesWhatItMustNotWrite()
    {
        QFETCH(QString, change);
        QFETCH(int, number);
        MailboxFiles files;
        ContactsOnlyMailbox mailbox(files.contacts());
        const std::shared_ptr<MailboxItem> item = mailbox.teamFolder()->items().item("Projet Orion");
        const QString path = item->source.location;
        QByteArray onDisk = readAll(path);
        const QString outside = files.root() + "/outside.vcf";
        QVERIFY(writeAll(outside, onDisk));

        if (change == "rewritten") {
            onDisk.replace("CATEGORIES:Projets", "CATEGORIES:Projets,Urgent");
            QVERIFY(writeAll(path, onDisk));
        }
        else if (change == "replaced") {
            onDisk.replace("Projets", "Projetz");
            QVERIFY(writeAll(path + ".new", onDisk));
            QVERIFY(::rename(QFile::encodeName(path + ".new").constData(),
                             QFile::encodeName(path).constData()) == 0);
        }
        else if (change == "deleted") {
            QVERIFY(QFile::remove(path));
            onDisk.clear();
        }
        else if (change == "link") {
            QVERIFY(QFile::remove(path));
            QVERIFY(QFile::link(outside, path));
        }
        else if (change == "subject") {
            item->subject = "Projet Orion 2";
        }
        else if (change == "elsewhere") {
            item->source.location = outside;
        }
        item->categories = "Projets;Changé";
        QCOMPARE(errorNumber([&] { item->save(); }), number);
        QCOMPARE(readAll(path), onDisk);
        QCOMPARE(readAll(outside), readAll(kFixtures + "thunderbird-list.vcf"));
    }

    void deleteRemovesTheFile()
    {
        MailboxFiles files;
        ContactsOnlyMailbox mailbox(files.contacts());
        const std::shared_ptr<MailboxItem> item = mailbox.teamFolder()->items().item("Projet Orion");
        QVERIFY(QFileInfo::exists(files.team("thunderbird-list.vcf")));
        item->remove();
        QVERIFY(!QFileInfo::exists(files.team("thunderbird-list.vcf")));
        QCOMPARE(mailbox.teamFolder()->items().count(), 2);
        QCOMPARE(errorNumber([&] { mailbox.teamFolder()->items().item("Projet Orion"); }),
                 int(MailboxError::NotFound));
        QCOMPARE(errorNumber([&] { item->remove(); }), int(MailboxError::NotFound));
    }

    void displayOpensFileOrFolder_data()
    {
        QTest::addColumn<bool>("modal");
        QTest::newRow("modal") << true;
        QTest::newRow("not modal") << false;
    }
    void displayOpensFileOrFolder()
    {
        QFETCH(bool, modal);
        MailboxFiles files;
        ContactsOnlyMailbox mailbox(files.contacts());
        const std::shared_ptr<Folder> team = mailbox.teamFolder();
        team->items().item("Astreinte")->display(modal);
        team->display(modal);
        QCOMPARE(mailbox.requests.size(), 2);
        QCOMPARE(mailbox.requests.at(0).kind, DisplayRequest::Open);
        QCOMPARE(mailbox.requests.at(0).url, QUrl::fromLocalFile(files.team("hand-written-lf-group.vcf")));
        QCOMPARE(mailbox.requests.at(0).modal, modal);
        QCOMPARE(mailbox.requests.at(1).url, QUrl::fromLocalFile(files.team()));
        QCOMPARE(mailbox.requests.at(1).modal, modal);
    }

    void cacheFollowsTheFiles_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("gone");     // no longer resolves
        QTest::addColumn<QString>("resolved"); // resolves now
        QTest::addColumn<int>("persons");
        QTest::newRow("changed file") << "changed"
                                      << "Jean Martin"
                                      << "Jean-Marc Martin" << 3;
        QTest::newRow("removed file") << "removed"
                                      << "Sofia Rossi"
                                      << "Élodie Marchand" << 2;
        QTest::newRow("added file") << "added"
                                    << ""
                                    << "Nina Weber" << 4;
        QTest::newRow("renamed file") << "renamed"
                                      << ""
                                      << "Sofia Rossi" << 3;
        QTest::newRow("team folder removed") << "team folder removed"
                                             << ""
                                             << "Jean Martin" << 3;
    }
    void cacheFollowsTheFiles()
    {
        QFETCH(QString, change);
        QFETCH(QString, gone);
        QFETCH(QString, resolved);
        QFETCH(int, persons);
        MailboxFiles files;
        AddressBook book(files.contacts());
        book.setMaximumAge(60 * 60 * 1000); // only refresh() reads again
        QVERIFY(book.resolve("Jean Martin"));
        QVERIFY(book.resolve("Sofia Rossi"));
        QCOMPARE(book.groups().size(), 3);

        const QString jean = files.contacts("nextcloud-4.0-person.vcf");
        if (change == "changed")
            QVERIFY(writeAll(jean, readAll(jean).replace("FN:Jean Martin", "FN:Jean-Marc Martin")));
        else if (change == "removed")
            QVERIFY(QFile::remove(files.contacts("google-export-folded.vcf")));
        else if (change == "added")
            QVERIFY(writeAll(files.contacts("nina.vcf"), person("n1", "Nina Weber", {"nina@example.org"})));
        else if (change == "renamed")
            QVERIFY(QFile::rename(files.contacts("google-export-folded.vcf"), files.contacts("sofia.vcf")));
        else
            QVERIFY(QDir(files.team()).removeRecursively());

        if (!gone.isEmpty())
            QVERIFY(book.resolve(gone)); // nothing is read again before the refresh
        book.refresh();
        if (!gone.isEmpty())
            QVERIFY(!book.resolve(gone));
        QVERIFY(book.resolve(resolved));
        QCOMPARE(book.persons().size(), persons);
        QCOMPARE(book.groups().size(), change == "team folder removed" ? 0 : 3);
        QVERIFY(book.errors().isEmpty());
    }

    void cacheReadsOnlyChangedFiles()
    {
        MailboxFiles files;
        AddressBook book(files.contacts());
        book.setMaximumAge(0); // every look-up refreshes
        QCOMPARE(book.memberDisplayName("mailto:jean.martin@example.org"), "Jean Martin");

        // Same size, same inode, same modification time: the cached card stands.
        const QString jean = files.contacts("nextcloud-4.0-person.vcf");
        struct stat before {};
        QCOMPARE(::stat(QFile::encodeName(jean).constData(), &before), 0);
        QVERIFY(writeAll(jean, readAll(jean).replace("FN:Jean Martin", "FN:Jean Mortin")));
        const struct timespec times[2] = {before.st_atim, before.st_mtim};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(jean).constData(), times, 0), 0);
        QCOMPARE(book.memberDisplayName("mailto:jean.martin@example.org"), "Jean Martin");

        // A new modification time is enough to read it again.
        const struct timespec later[2] = {before.st_atim,
                                          {before.st_mtim.tv_sec + 2, before.st_mtim.tv_nsec}};
        QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(jean).constData(), later, 0), 0);
        QCOMPARE(book.memberDisplayName("mailto:jean.martin@example.org"), "Jean Mortin");
    }

    void brokenFileHealedIsReadAgain()
    {
        MailboxFiles files;
        AddressBook book(files.contacts());
        const QString path = files.contacts("nina.vcf");
        const QByteArray good = person("n1", "Nina Weber", {"nina@example.org"});
        QVERIFY(writeAll(path, good.left(good.size() - 12))); // cut before END:VCARD
        book.refresh();
        QCOMPARE(book.errors().size(), 1);
        QVERIFY(!book.resolve("nina"));
        QVERIFY(writeAll(path, good));
        book.refresh();
        QVERIFY(book.errors().isEmpty());
        QVERIFY(book.resolve("nina"));
    }
};

QTEST_GUILESS_MAIN(TestAddressBook)
#include "tst_addressbook.moc"
