#include "mailbox/addressbook.h"
#include "mailbox/contactsfolder.h"
#include "mailbox/foldermailbox.h"
#include "mailbox/itemcollection.h"
#include "tests/mailbox/mailboxtest.h"
#include "tests/support/fixtures.h"

#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

mode_t modeOf(const QString& path)
{
    struct stat info {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode : 0;
}

} // namespace

// The folder back end's address book and contacts folders, on a copy of tests/data/vcard/book: persons in
// contacts/, lists (and a person again) in the team folder contacts/Rotavine.
class TestAddressBook : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_root;
    QList<DisplayRequest> m_displayed;

    QString contacts(const QString& name = {}) const
    {
        return m_root + "/contacts" + (name.isEmpty() ? "" : "/" + name);
    }
    std::unique_ptr<FolderMailbox> open()
    {
        auto mailbox = std::make_unique<FolderMailbox>(FolderMailbox::Options{m_root, {}, {}, {}, {}});
        mailbox->setDisplayHandler([this](const DisplayRequest& request) { m_displayed << request; });
        return mailbox;
    }
    static std::shared_ptr<Folder> team(Mailbox& mailbox)
    {
        return mailbox.defaultFolder(Mailbox::kContactsFolder)->folder("Rotavine");
    }

private slots:
    void init()
    {
        m_root = m_dir.filePath(QString(QTest::currentTestFunction()) + u'-' + QTest::currentDataTag());
        copyTree(dataPath("vcard/book"), m_root);
        m_displayed.clear();
    }

    void names_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        for (const QStringList& row : tableRows("vcard/book/names.txt"))
            QTest::newRow(qPrintable(row.value(0))) << row.value(1) << row.value(2) << row.mid(3).join(u'|');
    }
    void names()
    {
        QFETCH(QString, kind);
        QFETCH(QString, input);
        QFETCH(QString, expected);
        AddressBook book(contacts());
        if (kind == "member")
            QCOMPARE(book.memberDisplayName(input), expected);
        if (kind == "list") {
            ItemCollection items = team(*open())->items();
            QCOMPARE(items.count(), 4);
            const std::shared_ptr<MailboxItem> item = items.item(input);
            QStringList members;
            for (int member = 1; member <= item->memberCount(); ++member)
                members << item->member(member);
            QCOMPARE(QStringList({item->messageClass, item->categories, members.join(", ")}).join(" | "),
                     expected);
        }
        if (kind != "resolve")
            return;
        const std::optional<AddressBook::Contact> person = book.resolve(input);
        QCOMPARE(person ? person->name + " <" + person->emails.value(0) + u'>' : QString(), expected);
        QCOMPARE(open()->createRecipient(input).resolve(), person.has_value());
    }

    void unreadableFilesAreSkipped_data()
    {
        QTest::addColumn<QString>("damage");
        for (const QString& name : corpus("vcard/damaged", ".vcf"))
            QTest::newRow(qPrintable(name)) << name;
        for (const char* damage : {"fifo", "folder", "dangling link"})
            QTest::newRow(damage) << damage;
    }
    void unreadableFilesAreSkipped()
    {
        QFETCH(QString, damage);
        const QString path = contacts("Rotavine/broken.vcf");
        if (damage == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else if (damage == "folder")
            QVERIFY(QDir().mkdir(path));
        else if (damage == "dangling link")
            QVERIFY(QFile::link(m_root + "/nowhere.vcf", path));
        else
            writeFile(path, readBytes(dataPath("vcard/damaged/" + damage)));
        AddressBook book(contacts());
        QVERIFY(book.persons().size() == 11 && book.groups().size() == 3 && book.errors().size() == 1);
        QVERIFY(book.errors()[0].number() == MailboxError::ItemUnreadable &&
                book.errors()[0].description().contains(path));
        const std::shared_ptr<Folder> folder = team(*open());
        QCOMPARE(folder->items().count(), 4);
        QCOMPARE(std::static_pointer_cast<ContactsFolder>(folder)->errors().size(), 1);
    }

    // A list's categories and name are written in place of its file, keeping its mode, and never over a file
    // that changed, went or is not the list's own.
    void save_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("number");
        QTest::newRow("new categories") << "" << 0;
        QTest::newRow("the same: the file is left as it was") << "same" << 0;
        QTest::newRow("rewritten in place") << "rewritten" << int(MailboxError::Conflict);
        QTest::newRow("replaced by a file of the same size") << "replaced" << int(MailboxError::Conflict);
        QTest::newRow("deleted") << "deleted" << int(MailboxError::NotFound);
        QTest::newRow("replaced by a link") << "link" << int(MailboxError::WriteFailed);
        QTest::newRow("renamed") << "subject" << 0;
        QTest::newRow("item of another folder") << "elsewhere" << int(MailboxError::Unsupported);
    }
    void save()
    {
        QFETCH(QString, change);
        QFETCH(int, number);
        auto mailbox = open();
        const std::shared_ptr<MailboxItem> item = team(*mailbox)->items().item("Projet Orion");
        const QString path = item->source.location;
        QVERIFY(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        const QString outside = m_root + "/outside.vcf";
        QByteArray onDisk = readBytes(path);
        writeFile(outside, onDisk);
        if (change == "rewritten")
            writeFile(path, onDisk.replace("CATEGORIES:Projets", "CATEGORIES:Projets,Urgent"));
        if (change == "replaced") {
            writeFile(path + ".new", onDisk.replace("Projets", "Projetz"));
            QCOMPARE(
                ::rename(QFile::encodeName(path + ".new").constData(), QFile::encodeName(path).constData()),
                0);
        }
        if (change == "deleted" || change == "link")
            QVERIFY(QFile::remove(path));
        if (change == "deleted")
            onDisk.clear();
        if (change == "link")
            QVERIFY(QFile::link(outside, path));
        if (change == "subject")
            item->subject = "Projet Orion 2";
        if (change == "elsewhere")
            item->source.location = outside;
        const QString tag = AddressBook::fileTag(path);
        const QStringList listing = QDir(contacts("Rotavine")).entryList(QDir::Hidden | QDir::Files);
        item->categories = change == "same" ? "Projets; <rotavine>" : "Projets;Changé";
        QCOMPARE(errorOf([&] { item->save(); }), number);
        const bool written = change.isEmpty() || change == "subject";
        QCOMPARE(readBytes(path) == onDisk, !written);
        QCOMPARE(AddressBook::fileTag(path) == tag, !written);
        if (change == "subject")
            QVERIFY(readBytes(path).contains("\r\nFN:Projet Orion 2\r\n"));
        QCOMPARE(QDir(contacts("Rotavine")).entryList(QDir::Hidden | QDir::Files), listing); // nothing left
        QCOMPARE(readBytes(outside),
                 readBytes(dataPath("vcard/book/contacts/Rotavine/thunderbird-list.vcf")));
        if (number == 0)
            QCOMPARE(modeOf(path), mode_t(S_IFREG | 0640));
    }

    void deleteAndDisplay()
    {
        auto mailbox = open();
        std::shared_ptr<MailboxItem> item = team(*mailbox)->items().item("Astreinte");
        item->display(true);
        team(*mailbox)->display(false);
        QVERIFY(m_displayed.size() == 2 && m_displayed[0].modal && !m_displayed[1].modal);
        QCOMPARE(m_displayed[0].url, QUrl::fromLocalFile(contacts("Rotavine/hand-written-lf-group.vcf")));
        QCOMPARE(m_displayed[1].url, QUrl::fromLocalFile(contacts("Rotavine")));
        item->remove();
        QVERIFY(!QFileInfo::exists(contacts("Rotavine/hand-written-lf-group.vcf")));
        QCOMPARE(team(*mailbox)->items().count(), 3);
        QCOMPARE(errorOf([&] { team(*mailbox)->items().item("Astreinte"); }), int(MailboxError::NotFound));
        QCOMPARE(errorOf([&] { item->remove(); }), int(MailboxError::NotFound));
    }

    // The team folder is found whatever the letter case of its name, and made when there is none.
    void teamFolderLetterCase_data()
    {
        QTest::addColumn<QStringList>("row"); // folders there, the name asked, the one found, the one read
        QTest::newRow("none") << QStringList{"", "Rotavine", "Rotavine", "Rotavine"};
        QTest::newRow("only in capitals") << QStringList{"ROTAVINE", "Rotavine", "ROTAVINE", "ROTAVINE"};
        QTest::newRow("exact name preferred")
            << QStringList{"Rotavine rotavine", "rotavine", "rotavine", "Rotavine"};
        QTest::newRow("neither exact")
            << QStringList{"rotavine Rotavine", "ROTAVINE", "Rotavine", "Rotavine"};
    }
    void teamFolderLetterCase()
    {
        QFETCH(QStringList, row);
        const QStringList existing = row[0].split(u' ', Qt::SkipEmptyParts);
        const QString& asked = row[1];
        const QString& found = row[2];
        QVERIFY(QDir(contacts("Rotavine")).removeRecursively());
        for (const QString& name : existing)
            writeFile(contacts(name + "/list.vcf"), group(name, {}, {"mailto:x@example.org"}));
        auto mailbox = open();
        const std::shared_ptr<Folder> folder = mailbox->defaultFolder(Mailbox::kContactsFolder);
        if (existing.isEmpty()) {
            QCOMPARE(errorOf([&] { folder->folder(asked); }), int(MailboxError::NotFound));
            QCOMPARE(folder->addFolder(asked)->name(), found);
            QCOMPARE(modeOf(contacts(found)), mode_t(S_IFDIR | 0700));
        }
        QCOMPARE(folder->folder(asked)->name(), found);
        QCOMPARE(folder->addFolder(asked)->name(), found);
        QCOMPARE(folder->folder(asked)->items().count(), existing.isEmpty() ? 0 : 1);
        for (const char* bad : {"", "..", "../elsewhere"})
            QCOMPARE(errorOf([&] { folder->folder(asked)->addFolder(bad); }), int(MailboxError::Unsupported));
        QVERIFY(!QFileInfo::exists(contacts("elsewhere")));
        AddressBook book(contacts());
        QCOMPARE(book.groups().size(), existing.isEmpty() ? 0 : 1);
        QCOMPARE(book.teamFolderPath(), contacts(row[3]));
    }

    void noContactsFolder()
    {
        QVERIFY(QDir(contacts()).removeRecursively());
        writeFile(contacts(), "x");
        auto mailbox = open();
        const std::shared_ptr<Folder> folder = mailbox->defaultFolder(Mailbox::kContactsFolder);
        QCOMPARE(errorOf([&] { folder->items().count(); }), int(MailboxError::NotFound));
        QCOMPARE(errorOf([&] { folder->folder("Rotavine"); }), int(MailboxError::NotFound));
        QCOMPARE(errorOf([&] { folder->addFolder("Rotavine"); }), int(MailboxError::NotFound));
        QVERIFY(!mailbox->createRecipient("Jean Martin").resolve());
        const QList<MailboxError> errors = AddressBook(contacts()).errors();
        QVERIFY(errors.size() == 1 && errors[0].description().contains(contacts()));
    }

    void cacheFollowsTheFiles_data()
    {
        QTest::addColumn<QStringList>("row"); // the change, a name it takes away, a name it brings
        QTest::newRow("changed file") << QStringList{"changed, same size", "Jean Martin", "Jean Mortin"};
        QTest::newRow("removed file") << QStringList{"removed", "Sofia Rossi", "Élodie Marchand"};
        QTest::newRow("added file") << QStringList{"added", "", "Nina Weber"};
        QTest::newRow("renamed file") << QStringList{"renamed", "", "Sofia Rossi"};
        QTest::newRow("broken file healed") << QStringList{"healed", "", "Nina Weber"};
        QTest::newRow("team folder removed") << QStringList{"team", "", "Jean Martin"};
    }
    void cacheFollowsTheFiles()
    {
        QFETCH(QStringList, row);
        const QString change = row[0];
        const QString gone = row[1];
        const QByteArray nina = person("n1", "Nina Weber", "nina@example.org");
        if (change == "healed")
            writeFile(contacts("nina.vcf"), nina.left(nina.size() - 12)); // cut before END:VCARD
        AddressBook book(contacts());
        book.setMaximumAge(60 * 60 * 1000); // only refresh() reads again
        QVERIFY(book.resolve("Jean Martin") && book.resolve("Sofia Rossi"));
        QCOMPARE(book.errors().size(), change == "healed" ? 1 : 0);
        const QString jean = contacts("nextcloud-4.0-person.vcf");
        if (change == "changed, same size")
            writeFile(jean, readBytes(jean).replace("FN:Jean Martin", "FN:Jean Mortin"));
        if (change == "removed")
            QVERIFY(QFile::remove(contacts("google-export-folded.vcf")));
        if (change == "added" || change == "healed")
            writeFile(contacts("nina.vcf"), nina);
        if (change == "renamed")
            QVERIFY(QFile::rename(contacts("google-export-folded.vcf"), contacts("sofia.vcf")));
        if (change == "team")
            QVERIFY(QDir(contacts("Rotavine")).removeRecursively());
        if (!gone.isEmpty())
            QVERIFY(book.resolve(gone)); // nothing is read again before the refresh
        book.refresh();
        QVERIFY(gone.isEmpty() || !book.resolve(gone));
        QVERIFY(book.resolve(row[2]));
        QCOMPARE(book.groups().size(), change == "team" ? 0 : 3);
        QVERIFY(book.errors().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestAddressBook)
#include "tst_addressbook.moc"
