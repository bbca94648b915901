#include "bench/mailboxgenerator.h"
#include "mailbox/contactsfolder.h"
#include "mailbox/foldermailbox.h"
#include "mailbox/mailboxerror.h"
#include "planning/teamgroups.h"

#include <QSet>
#include <QTemporaryDir>
#include <QTest>

// The benchmarks' mailbox generator writes what the program reads: a small department, read back by the
// program's own folder mailbox without an item error, every card and calendar file it wrote, and its teams.
class TestMailboxGenerator : public QObject {
    Q_OBJECT

private slots:
    void generatedMailboxIsRead()
    {
        QTemporaryDir root;
        MailboxGeneratorOptions options;
        options.people = 24;
        options.firstDay = QDate(2026, 3, 1);
        options.lastDay = QDate(2026, 4, 30);
        const MailboxGeneratorResult result = generateMailbox(root.path(), options);
        QVERIFY2(result.error.isEmpty(), qPrintable(result.error));
        QCOMPARE(result.people, options.people);

        FolderMailbox::Options folderOptions;
        folderOptions.root = root.path();
        FolderMailbox mailbox(folderOptions);
        const auto people =
            std::dynamic_pointer_cast<ContactsFolder>(mailbox.defaultFolder(Mailbox::kContactsFolder));
        const auto teamFolder = std::dynamic_pointer_cast<ContactsFolder>(openTeamFolder(mailbox));
        const auto persons = people->storedItems();
        const auto lists = teamFolder->storedItems();
        QVERIFY(people->errors().isEmpty() && teamFolder->errors().isEmpty());
        QCOMPARE(persons.size(), options.people);
        int read = int(persons.size() + lists.size());

        // Everyone, and one team per department that together hold every person once; the committee is no
        // team.
        int everyone = 0, inDepartments = 0, others = 0;
        for (const auto& list : lists) {
            if (!isTeamGroup(*list))
                ++others;
            else if (list->subject == "Everyone")
                everyone = list->memberCount();
            else
                inDepartments += list->memberCount();
            for (int member = 1; member <= list->memberCount(); ++member)
                QVERIFY2(mailbox.resolveName(list->member(member)), qPrintable(list->member(member)));
        }
        QCOMPARE(everyone, options.people);
        QCOMPARE(inDepartments, options.people);
        QCOMPARE(others, 1);
        QVERIFY(lists.size() >= 4);

        const TimeWindow window{QDateTime(options.lastDay, QTime(23, 59)),
                                QDateTime(options.firstDay, QTime(0, 0))};
        for (const auto& person : persons) {
            Recipient recipient = mailbox.createRecipient(person->subject);
            QVERIFY2(recipient.resolve(), qPrintable(person->subject));
            const auto calendar = mailbox.sharedDefaultFolder(recipient, Mailbox::kCalendarFolder);
            const Folder::Scan scan = calendar->occurrences(window);
            for (const MailboxError& error : scan.errors)
                QFAIL(qPrintable(error.description()));
            QVERIFY(scan.occurrences.size() > 50);
            QSet<QString> files;
            for (const auto& item : calendar->storedItems())
                files.insert(item->source.location);
            read += int(files.size());
        }
        QCOMPARE(read, result.files);
    }
};

QTEST_GUILESS_MAIN(TestMailboxGenerator)
#include "tst_mailboxgenerator.moc"
