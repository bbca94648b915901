#include "base/languagetexts.h"
#include "base/textids.h"
#include "gui/teamdialog.h"
#include "gui/teameditor.h"
#include "mailbox/foldermailbox.h"
#include "planning/enginestate.h"
#include "tests/support/fixtures.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

// The team windows on the offscreen platform, over a folder mailbox and the shipped English texts.

namespace {

struct Harness {
    QTemporaryDir dir;
    LanguageTexts texts = LanguageTexts::load(ROTAVINE_SOURCE_DATA "/Language", "English");
    EngineState engine;
    std::unique_ptr<FolderMailbox> mailbox;
    QStringList messages;
    bool answer = true;
    TeamMessageHandler handler = [this](MessageIcon, const QString& text, bool) {
        messages << text;
        return answer;
    };

    Harness()
    {
        const QString teams = dir.filePath("contacts/Rotavine/");
        writeFile(dir.filePath("contacts/elodie.vcf"), person("p1", "Élodie Martin", "elodie@example.org"));
        writeFile(dir.filePath("contacts/jose.vcf"), person("p2", "José Álvarez", "jose@example.org"));
        writeFile(teams + "alpha.vcf", group("Alpha", "<rotavine>", {"urn:uuid:p1"}));
        writeFile(teams + "gamma.vcf", group("Gamma", "Projects"));
        QDir().mkpath(dir.filePath("calendars"));
        mailbox = std::make_unique<FolderMailbox>(FolderMailbox::Options{dir.path(), {}, {}, {}, {}});
    }
    QString message(int number) const { return texts.message(number); }
};

template <typename T>
T* child(QWidget& window, const char* name)
{
    T* found = window.findChild<T*>(QLatin1StringView(name));
    if (!found)
        qFatal("no %s", name);
    return found;
}

} // namespace

class TestTeamEditor : public QObject {
    Q_OBJECT

private slots:
    // Persons found by a search and by a typed address are added; the save writes them and the new name.
    void searchAddSave()
    {
        Harness harness;
        TeamEditor editor(*harness.mailbox, harness.texts, "alpha");
        editor.setMessageHandler(harness.handler);
        editor.show();
        QSignalSpy changed(&editor, &TeamEditor::teamsChanged);
        auto* search = child<QLineEdit>(editor, "searchEdit");
        auto* persons = child<QListWidget>(editor, "personList");
        QCOMPARE(persons->count(), 2);

        search->setFocus();
        QTest::keyClicks(search, "JOSE@ex");
        QCOMPARE(persons->count(), 1);
        QTest::keyClick(search, Qt::Key_Return);
        QTest::keyClicks(search, "guest@partner.example");
        QCOMPARE(persons->count(), 0);
        QTest::keyClick(search, Qt::Key_Return);
        QTest::keyClicks(search, "nobody");
        QTest::keyClick(search, Qt::Key_Return);
        QCOMPARE(harness.messages, QStringList{harness.message(Message::NotAnAddress) + "nobody"});
        QCOMPARE(editor.members().size(), 3);

        child<QLineEdit>(editor, "nameEdit")->setText("Night shift");
        QTest::mouseClick(child<QPushButton>(editor, "saveButton"), Qt::LeftButton);
        QCOMPARE(editor.result(), int(QDialog::Accepted));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(editor.teamName(), "Night shift");
        QFile file(harness.dir.filePath("contacts/Rotavine/alpha.vcf"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray card = file.readAll();
        QVERIFY2(card.contains("FN:Night shift\r\n") &&
                     card.contains("MEMBER:urn:uuid:p1\r\nMEMBER:urn:uuid:p2\r\n"
                                   "MEMBER:mailto:guest@partner.example\r\n"),
                 card);
    }

    // A team changed elsewhere meanwhile: the save is refused with a message, the window keeps the changes.
    void conflictKeepsChanges()
    {
        Harness harness;
        TeamEditor editor(*harness.mailbox, harness.texts, "Alpha");
        editor.setMessageHandler(harness.handler);
        editor.show();
        child<QListWidget>(editor, "memberList")->selectAll();
        editor.removeChosen();
        const QByteArray theirs = group("Alpha", "<rotavine>", {"urn:uuid:p2", "urn:uuid:p1"});
        writeFile(harness.dir.filePath("contacts/Rotavine/alpha.vcf"), theirs);
        QVERIFY(!editor.save());
        QCOMPARE(harness.messages, QStringList{harness.message(Message::TeamChangedElsewhere)});
        QCOMPARE(editor.members(), QList<TeamMember>());
        // Leaving now asks first, as the changes would be lost.
        harness.answer = false;
        editor.reject();
        QVERIFY(editor.isVisible());
        QCOMPARE(harness.messages.last(), harness.message(Message::DiscardTeamChanges));
    }

    // Mark and open asks for an unmarked list, opens the editor on Yes, and tells the main window.
    void markAndOpen_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QStringList>("messages");
        QTest::addColumn<QStringList>("opened");
        QTest::newRow("marked") << "Alpha" << true << QStringList{} << QStringList{"Alpha"};
        QTest::newRow("unmarked, yes") << "Gamma" << true << QStringList{"Gamma"} << QStringList{"Gamma"};
        QTest::newRow("unmarked, no") << "Gamma" << false << QStringList{"Gamma"} << QStringList{};
        QTest::newRow("no such list") << "Nobody" << true << QStringList{} << QStringList{};
        QTest::newRow("no name") << "" << true << QStringList{""} << QStringList{};
    }
    void markAndOpen()
    {
        QFETCH(QString, name);
        QFETCH(bool, answer);
        QFETCH(QStringList, messages);
        QFETCH(QStringList, opened);
        Harness harness;
        harness.answer = answer;
        TeamDialog dialog(*harness.mailbox, harness.texts, harness.engine);
        dialog.setMessageHandler(harness.handler);
        QStringList editors;
        dialog.setEditorOpener([&](const QString& team) { return editors << team, QString(); });
        QSignalSpy changed(&dialog, &TeamDialog::teamsChanged);
        QCOMPARE(child<QComboBox>(dialog, "teamCombo")->count(), 1);
        child<QComboBox>(dialog, "teamCombo")->setEditText(name);
        dialog.markAndOpen();
        for (QString& message : messages)
            message = message.isEmpty() ? harness.message(Message::NoTeamName)
                                        : message + harness.message(Message::ConfirmMarkTeam);
        QCOMPARE(harness.messages, messages);
        QCOMPARE(editors, opened);
        QCOMPARE(changed.count(), name.isEmpty() || !answer ? 0 : 1);
        QCOMPARE(child<QComboBox>(dialog, "teamCombo")->count(), name == "Gamma" && answer ? 2 : 1);
    }
};

QTEST_MAIN(TestTeamEditor)
#include "tst_teameditor.moc"
