#pragma once

#include "gui/captionstriplabel.h"
#include "gui/teameditor.h"

#include <QDialog>

#include <functional>
#include <memory>

class ComboBoxTeamList;
class LanguageTexts;
class ListWidgetMemberList;
class Mailbox;
class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
struct EngineState;
struct TeamWindow;

// The group maintenance window: the teams of the team folder and the chosen one's members; a distribution
// list of that folder is made a team and opened for editing, a team deleted, a new one made. Every change
// emits teamsChanged, after which the main window reads its teams and members again.
class TeamDialog : public QDialog {
    Q_OBJECT

public:
    TeamDialog(Mailbox& mailbox, const LanguageTexts& texts, EngineState& engine, QWidget* parent = nullptr);
    ~TeamDialog() override;

    void setMessageHandler(TeamMessageHandler handler);
    // How a team is opened for editing (an empty name: a new team); returns the team's name once saved, empty
    // when it was not. By default a modal TeamEditor, which gets this window's message handler.
    using EditorOpener = std::function<QString(const QString& team)>;
    void setEditorOpener(EditorOpener opener) { m_openEditor = std::move(opener); }

    // True once something was changed since the window opened.
    bool changedTeams() const { return m_changed; }

    // The window's commands, as its buttons run them.
    void markAndOpen();
    void deleteTeam();
    void newTeam();
    // The member double-click: opens the team named in the combo box when a member is chosen.
    void editMembers();
    // Reads the teams again: the named team's members when the combo box names one, else the list of teams.
    void reload();

signals:
    void teamsChanged();

protected:
    void changeEvent(QEvent* event) override;

private:
    void buildWidgets();
    void teamChosen();
    void openEditor(const QString& team);
    void markChanged();
    bool tell(MessageIcon icon, const QString& text, bool question = false);

    Mailbox& m_mailbox;
    const LanguageTexts& m_texts;
    EngineState& m_engine;
    TeamMessageHandler m_message;
    EditorOpener m_openEditor;
    bool m_changed = false;
    bool m_loading = false;

    CaptionStripLabel* m_captionStrip = nullptr;
    QComboBox* m_teamCombo = nullptr;
    QListWidget* m_memberList = nullptr;
    QPushButton* m_markButton = nullptr;
    QPushButton* m_deleteButton = nullptr;
    QPushButton* m_newButton = nullptr;
    QPushButton* m_editButton = nullptr;
    QPushButton* m_closeButton = nullptr;
    std::unique_ptr<ComboBoxTeamList> m_teams;
    std::unique_ptr<ListWidgetMemberList> m_members;
    std::unique_ptr<TeamWindow> m_window;
};
