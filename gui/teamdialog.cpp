#include "gui/teamdialog.h"

#include "base/languagetexts.h"
#include "base/textids.h"
#include "gui/captions.h"
#include "gui/comboboxteamlist.h"
#include "gui/listwidgetmemberlist.h"
#include "mailbox/mailbox.h"
#include "planning/enginestate.h"
#include "planning/teamgroups.h"
#include "planning/teamwriter.h"

#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

TeamDialog::TeamDialog(Mailbox& mailbox, const LanguageTexts& texts, EngineState& engine, QWidget* parent)
    : QDialog(parent), m_mailbox(mailbox), m_texts(texts), m_engine(engine)
{
    m_message = [this](MessageIcon icon, const QString& text, bool question) {
        return TeamWindows::showMessageBox(this, icon, text, question);
    };
    m_openEditor = [this](const QString& team) {
        TeamEditor editor(m_mailbox, m_texts, team, this);
        editor.setMessageHandler(m_message);
        editor.exec();
        return editor.saved() ? editor.teamName() : QString();
    };
    buildWidgets();
    reload();
}

TeamDialog::~TeamDialog() = default;

void TeamDialog::buildWidgets()
{
    setObjectName(QStringLiteral("teamDialog"));
    Captions::setTag(this, ScreenText::GroupDialogCaption);
    auto* layout = new QVBoxLayout;
    layout->setContentsMargins(8, 8, 8, 8);

    auto* help = new QLabel(this);
    help->setWordWrap(true);
    Captions::setTag(help, ScreenText::GroupDialogHelp);
    layout->addWidget(help);

    m_teamCombo = new QComboBox(this);
    m_teamCombo->setObjectName(QStringLiteral("teamCombo"));
    // A list not yet marked as a team is named by typing it.
    m_teamCombo->setEditable(true);
    m_teamCombo->setInsertPolicy(QComboBox::NoInsert);
    Captions::setTag(m_teamCombo, ScreenText::GroupTeamList);
    connect(m_teamCombo, &QComboBox::activated, this, &TeamDialog::teamChosen);
    auto* teamLabel = new QLabel(this);
    Captions::setTag(teamLabel, ScreenText::GroupTeamLabel);
    teamLabel->setBuddy(m_teamCombo);
    layout->addWidget(teamLabel);
    layout->addWidget(m_teamCombo);

    m_memberList = new QListWidget(this);
    m_memberList->setObjectName(QStringLiteral("memberList"));
    Captions::setTag(m_memberList, ScreenText::GroupMemberList);
    connect(m_memberList, &QListWidget::itemActivated, this, &TeamDialog::editMembers);
    auto* membersLabel = new QLabel(this);
    Captions::setTag(membersLabel, ScreenText::GroupMembersLabel);
    membersLabel->setBuddy(m_memberList);
    layout->addWidget(membersLabel);
    layout->addWidget(m_memberList, 1);

    auto button = [this](const char* name, int tag, void (TeamDialog::*action)()) {
        auto* button = new QPushButton(this);
        button->setObjectName(QLatin1StringView(name));
        button->setAutoDefault(false);
        Captions::setTag(button, tag);
        connect(button, &QPushButton::clicked, this, action);
        return button;
    };
    m_markButton = button("markButton", ScreenText::GroupMarkAndOpen, &TeamDialog::markAndOpen);
    m_editButton = button("editButton", ScreenText::GroupEditMembers, &TeamDialog::editMembers);
    m_newButton = button("newButton", ScreenText::GroupNewTeam, &TeamDialog::newTeam);
    m_deleteButton = button("deleteButton", ScreenText::GroupDelete, &TeamDialog::deleteTeam);
    m_closeButton = button("closeButton", ScreenText::GroupClose, &TeamDialog::accept);
    auto* buttons = new QGridLayout;
    buttons->addWidget(m_markButton, 0, 0);
    buttons->addWidget(m_editButton, 0, 1);
    buttons->addWidget(m_newButton, 1, 0);
    buttons->addWidget(m_deleteButton, 1, 1);
    buttons->addWidget(m_closeButton, 2, 1);
    layout->addLayout(buttons);

    Captions::applyCaptions(this, m_texts);
    m_captionStrip = CaptionStripLabel::frame(this, layout);

    m_teams = std::make_unique<ComboBoxTeamList>(*m_teamCombo);
    m_members = std::make_unique<ListWidgetMemberList>(*m_memberList);
    m_window = std::make_unique<TeamWindow>(TeamWindow{*m_teams, *m_members});
    resize(420, 460);
}

void TeamDialog::setMessageHandler(TeamMessageHandler handler)
{
    m_message = std::move(handler);
}

bool TeamDialog::tell(MessageIcon icon, const QString& text, bool question)
{
    return m_message ? m_message(icon, text, question) : false;
}

void TeamDialog::reload()
{
    // The listing lets events run, among them this window's own activation: one reading at a time.
    if (m_loading)
        return;
    m_loading = true;
    const TeamContext context{m_mailbox, m_engine, [] { QCoreApplication::processEvents(); },
                              [](bool busy) {
                                  if (busy)
                                      QApplication::setOverrideCursor(Qt::WaitCursor);
                                  else
                                      QApplication::restoreOverrideCursor();
                              },
                              [](const QString& line) { qWarning("%s", qPrintable(line)); }};
    // Listed first, so that a list marked or made here is offered before it is selected.
    QString name = m_teamCombo->currentText().trimmed();
    QString all;
    loadTeams(all, *m_window, context);
    if (!name.isEmpty())
        loadTeams(name, *m_window, context);
    m_loading = false;
}

void TeamDialog::teamChosen()
{
    const TeamContext context{
        m_mailbox, m_engine, {}, {}, [](const QString& line) { qWarning("%s", qPrintable(line)); }};
    showTeamMembers(*m_window, context);
}

void TeamDialog::openEditor(const QString& team)
{
    const QString saved = m_openEditor ? m_openEditor(team) : QString();
    if (saved.isEmpty())
        return;
    // A renamed or new team is the one shown afterwards.
    m_teamCombo->setEditText(saved);
    markChanged();
}

void TeamDialog::markChanged()
{
    m_changed = true;
    emit teamsChanged();
}

void TeamDialog::markAndOpen()
{
    const QString name = m_teamCombo->currentText().trimmed();
    if (name.isEmpty()) {
        tell(MessageIcon::Information, m_texts.message(Message::NoTeamName));
        return;
    }
    TeamWriter writer(m_mailbox);
    try {
        const TeamWriter::Marking marking = writer.markAsTeam(name, [&] {
            return tell(MessageIcon::None, name + m_texts.message(Message::ConfirmMarkTeam), true);
        });
        if (marking == TeamWriter::Marking::Declined)
            return;
        openEditor(name);
    }
    catch (const MailboxError& error) {
        // A name no list has only reloads the lists; a list that could not be written is said.
        if (error.number() != MailboxError::NotFound)
            tell(MessageIcon::Exclamation,
                 m_texts.message(Message::TeamNotMarked) + u'\n' + error.description());
    }
    reload();
    markChanged();
}

void TeamDialog::deleteTeam()
{
    const QString name = m_teamCombo->currentText().trimmed();
    if (name.isEmpty()) {
        tell(MessageIcon::Information, m_texts.message(Message::NoTeamName));
        return;
    }
    if (!tell(MessageIcon::Information, m_texts.message(Message::ConfirmDeleteTeam) + name + u'?', true))
        return;
    try {
        TeamWriter(m_mailbox).remove(name);
    }
    catch (const MailboxError& error) {
        qWarning("The team \"%s\" was not deleted: %s", qPrintable(name), qPrintable(error.description()));
        tell(MessageIcon::Exclamation, m_texts.message(Message::TeamDeleteFailed));
        return;
    }
    m_teamCombo->setCurrentIndex(-1);
    m_teamCombo->setEditText(QString());
    m_memberList->clear();
    reload();
    markChanged();
}

void TeamDialog::newTeam()
{
    openEditor(QString());
    reload();
}

void TeamDialog::editMembers()
{
    const QString name = m_teamCombo->currentText().trimmed();
    if (name.isEmpty())
        return;
    openEditor(name);
    reload();
}

void TeamDialog::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        reload();
}
