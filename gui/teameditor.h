#pragma once

#include "gui/captionstriplabel.h"
#include "planning/querycontext.h"
#include "planning/teamwriter.h"

#include <QDialog>

#include <functional>
#include <memory>

class LanguageTexts;
class Mailbox;
class MailboxItem;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

// Shows a message, or asks a question (Yes/No, No the default) and returns whether the answer was Yes.
// The team windows show a QMessageBox unless the tests put their own handler in its place.
using TeamMessageHandler = std::function<bool(MessageIcon icon, const QString& text, bool question)>;

// The team's members beside the address book: persons are found by a search on name or address and added,
// members removed, the team renamed, and everything written in one save. With an empty team name it makes a
// new team. A save refused because the team changed elsewhere meanwhile keeps the window open with the
// user's changes, so that nothing typed is lost.
class TeamEditor : public QDialog {
    Q_OBJECT

public:
    TeamEditor(Mailbox& mailbox, const LanguageTexts& texts, const QString& team, QWidget* parent = nullptr);
    ~TeamEditor() override;

    void setMessageHandler(TeamMessageHandler handler) { m_message = std::move(handler); }

    // The team's name: the one saved last, else the one it was opened with.
    QString teamName() const { return m_name; }
    // True once a save went through.
    bool saved() const { return m_saved; }
    // The members as the window shows them now.
    QList<TeamMember> members() const;

    // The window's actions, as its buttons and keys run them.
    void addChosen();
    void removeChosen();
    bool save();

signals:
    // A team was written: the windows that list teams or members read them again.
    void teamsChanged();

public slots:
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildWidgets();
    void load(const QString& team);
    void showPersons();
    void addMember(const TeamMember& member);
    bool modified() const;
    bool tell(MessageIcon icon, const QString& text, bool question = false);

    Mailbox& m_mailbox;
    const LanguageTexts& m_texts;
    TeamWriter m_writer;
    TeamMessageHandler m_message;

    std::shared_ptr<MailboxItem> m_team; // as read or last written; null for a team not saved yet
    QString m_name;
    QList<TeamMember> m_savedMembers;
    QList<TeamMember> m_persons;
    bool m_saved = false;
    // Problems met while loading, told once the window shows (a message box needs a shown parent).
    QStringList m_loadProblems;
    bool m_closeWhenShown = false;

    CaptionStripLabel* m_captionStrip = nullptr;
    QLineEdit* m_nameEdit = nullptr;
    QListWidget* m_memberList = nullptr;
    QLineEdit* m_searchEdit = nullptr;
    QListWidget* m_personList = nullptr;
    QPushButton* m_addButton = nullptr;
    QPushButton* m_removeButton = nullptr;
    QPushButton* m_saveButton = nullptr;
    QPushButton* m_cancelButton = nullptr;
};

namespace TeamWindows {
// The message box the team windows show by default.
bool showMessageBox(QWidget* parent, MessageIcon icon, const QString& text, bool question);
} // namespace TeamWindows
