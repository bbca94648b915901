#include "gui/teameditor.h"

#include "base/languagetexts.h"
#include "base/textids.h"
#include "gui/captions.h"
#include "gui/messageboxes.h"
#include "mailbox/mailbox.h"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr int kReferenceRole = Qt::UserRole;
constexpr int kAddressRole = Qt::UserRole + 1;

QString shown(const TeamMember& member)
{
    return member.address.isEmpty() || member.address.compare(member.name, Qt::CaseInsensitive) == 0
               ? member.name
               : QStringLiteral("%1 <%2>").arg(member.name, member.address);
}

QListWidgetItem* entryFor(const TeamMember& member, QListWidget* list)
{
    auto* entry = new QListWidgetItem(shown(member), list);
    entry->setData(kReferenceRole, member.reference);
    entry->setData(kAddressRole, member.address);
    entry->setData(Qt::UserRole + 2, member.name);
    return entry;
}

TeamMember memberOf(const QListWidgetItem* entry)
{
    return {entry->data(Qt::UserRole + 2).toString(), entry->data(kAddressRole).toString(),
            entry->data(kReferenceRole).toString()};
}

QLabel* taggedLabel(int tag, QWidget* buddy, QWidget* parent)
{
    auto* label = new QLabel(parent);
    Captions::setTag(label, tag);
    label->setBuddy(buddy);
    return label;
}

} // namespace

namespace TeamWindows {

bool showMessageBox(QWidget* parent, MessageIcon icon, const QString& text, bool question)
{
    if (question)
        return MessageBoxes::ask(parent, icon, text);
    MessageBoxes::show(parent, icon, text);
    return false;
}

} // namespace TeamWindows

TeamEditor::TeamEditor(Mailbox& mailbox, const LanguageTexts& texts, const QString& team, QWidget* parent)
    : QDialog(parent), m_mailbox(mailbox), m_texts(texts), m_writer(mailbox), m_name(team)
{
    m_message = [this](MessageIcon icon, const QString& text, bool question) {
        return TeamWindows::showMessageBox(this, icon, text, question);
    };
    buildWidgets();
    load(team);
}

TeamEditor::~TeamEditor() = default;

void TeamEditor::buildWidgets()
{
    setObjectName(QStringLiteral("teamEditor"));
    Captions::setTag(this, ScreenText::TeamEditorCaption);
    auto* grid = new QGridLayout;
    grid->setContentsMargins(8, 8, 8, 8);

    m_nameEdit = new QLineEdit(this);
    m_nameEdit->setObjectName(QStringLiteral("nameEdit"));
    Captions::setTag(m_nameEdit, ScreenText::TeamEditorName);
    grid->addWidget(taggedLabel(ScreenText::TeamEditorNameLabel, m_nameEdit, this), 0, 0);
    grid->addWidget(m_nameEdit, 0, 1, 1, 2);

    m_memberList = new QListWidget(this);
    m_memberList->setObjectName(QStringLiteral("memberList"));
    m_memberList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    Captions::setTag(m_memberList, ScreenText::TeamEditorMemberList);
    m_memberList->installEventFilter(this);
    m_removeButton = new QPushButton(this);
    m_removeButton->setObjectName(QStringLiteral("removeButton"));
    m_removeButton->setAutoDefault(false);
    Captions::setTag(m_removeButton, ScreenText::TeamEditorRemove);
    connect(m_removeButton, &QPushButton::clicked, this, &TeamEditor::removeChosen);
    auto* members = new QVBoxLayout;
    members->addWidget(taggedLabel(ScreenText::TeamEditorMembersLabel, m_memberList, this));
    members->addWidget(m_memberList, 1);
    members->addWidget(m_removeButton);
    grid->addLayout(members, 1, 0, 1, 2);

    m_searchEdit = new QLineEdit(this);
    m_searchEdit->setObjectName(QStringLiteral("searchEdit"));
    m_searchEdit->setClearButtonEnabled(true);
    Captions::setTag(m_searchEdit, ScreenText::TeamEditorSearch);
    connect(m_searchEdit, &QLineEdit::textChanged, this, &TeamEditor::showPersons);
    // Enter in the search adds rather than saving: the save button is no default button.
    connect(m_searchEdit, &QLineEdit::returnPressed, this, &TeamEditor::addChosen);
    m_personList = new QListWidget(this);
    m_personList->setObjectName(QStringLiteral("personList"));
    m_personList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    Captions::setTag(m_personList, ScreenText::TeamEditorPersonList);
    connect(m_personList, &QListWidget::itemActivated, this, &TeamEditor::addChosen);
    m_addButton = new QPushButton(this);
    m_addButton->setObjectName(QStringLiteral("addButton"));
    m_addButton->setAutoDefault(false);
    Captions::setTag(m_addButton, ScreenText::TeamEditorAdd);
    connect(m_addButton, &QPushButton::clicked, this, &TeamEditor::addChosen);
    auto* book = new QVBoxLayout;
    book->addWidget(taggedLabel(ScreenText::TeamEditorSearchLabel, m_searchEdit, this));
    book->addWidget(m_searchEdit);
    book->addWidget(m_personList, 1);
    book->addWidget(m_addButton);
    grid->addLayout(book, 1, 2);

    m_saveButton = new QPushButton(this);
    m_saveButton->setObjectName(QStringLiteral("saveButton"));
    m_saveButton->setAutoDefault(false);
    Captions::setTag(m_saveButton, ScreenText::TeamEditorSave);
    connect(m_saveButton, &QPushButton::clicked, this, &TeamEditor::save);
    m_cancelButton = new QPushButton(this);
    m_cancelButton->setObjectName(QStringLiteral("cancelButton"));
    m_cancelButton->setAutoDefault(false);
    Captions::setTag(m_cancelButton, ScreenText::TeamEditorCancel);
    connect(m_cancelButton, &QPushButton::clicked, this, &TeamEditor::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_saveButton);
    buttons->addWidget(m_cancelButton);
    grid->addLayout(buttons, 2, 0, 1, 3);
    // The two lists share the width; the name's label takes what it needs from the members' side.
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(2, 1);
    grid->setHorizontalSpacing(12);

    Captions::applyCaptions(this, m_texts);
    // The search box says what it is for where the user types.
    m_searchEdit->setPlaceholderText(m_searchEdit->toolTip());
    m_captionStrip = CaptionStripLabel::frame(this, grid);

    setTabOrder(m_nameEdit, m_searchEdit);
    setTabOrder(m_searchEdit, m_personList);
    setTabOrder(m_personList, m_addButton);
    setTabOrder(m_addButton, m_memberList);
    setTabOrder(m_memberList, m_removeButton);
    setTabOrder(m_removeButton, m_saveButton);
    setTabOrder(m_saveButton, m_cancelButton);
    resize(800, 500);
}

void TeamEditor::load(const QString& team)
{
    try {
        m_persons = m_writer.persons();
    }
    catch (const MailboxError& error) {
        // The team can still be edited: members are kept and addresses can be typed.
        m_loadProblems << m_texts.message(Message::AddressBookUnreadable) + u'\n' + error.description();
    }
    if (!team.isEmpty()) {
        try {
            m_team = m_writer.list(team);
            m_name = m_team->subject;
            m_savedMembers = TeamWriter::members(*m_team);
        }
        catch (const MailboxError& error) {
            m_loadProblems << m_texts.message(Message::TeamNotOpened) + u'\n' + error.description();
            m_closeWhenShown = true;
        }
    }
    m_nameEdit->setText(m_name);
    for (const TeamMember& member : std::as_const(m_savedMembers))
        entryFor(member, m_memberList);
    showPersons();
}

void TeamEditor::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_loadProblems.isEmpty())
        return;
    // Told after the window is up, and after the tests had a chance to set their handler.
    QTimer::singleShot(0, this, [this] {
        const QStringList problems = std::exchange(m_loadProblems, {});
        for (const QString& problem : problems)
            tell(MessageIcon::Exclamation, problem);
        if (m_closeWhenShown)
            QDialog::reject();
    });
}

void TeamEditor::showPersons()
{
    m_personList->clear();
    for (const TeamMember& person : TeamWriter::matching(m_persons, m_searchEdit->text()))
        entryFor(person, m_personList);
    if (m_personList->count() > 0)
        m_personList->setCurrentRow(0, QItemSelectionModel::NoUpdate);
}

QList<TeamMember> TeamEditor::members() const
{
    QList<TeamMember> members;
    for (int row = 0; row < m_memberList->count(); ++row)
        members.append(memberOf(m_memberList->item(row)));
    return members;
}

void TeamEditor::addMember(const TeamMember& member)
{
    // One line per person: adding someone twice is never what was meant.
    for (const TeamMember& present : members()) {
        if (present.reference.compare(member.reference, Qt::CaseInsensitive) == 0)
            return;
    }
    m_memberList->setCurrentItem(entryFor(member, m_memberList));
}

void TeamEditor::addChosen()
{
    QList<QListWidgetItem*> chosen = m_personList->selectedItems();
    if (chosen.isEmpty() && m_personList->count() == 1)
        chosen.append(m_personList->item(0));
    if (!chosen.isEmpty()) {
        for (const QListWidgetItem* entry : std::as_const(chosen))
            addMember(memberOf(entry));
        m_searchEdit->clear();
        return;
    }
    const QString typed = m_searchEdit->text().trimmed();
    if (typed.isEmpty())
        return;
    if (const std::optional<TeamMember> member = TeamWriter::memberForAddress(m_persons, typed)) {
        addMember(*member);
        m_searchEdit->clear();
        return;
    }
    tell(MessageIcon::Information, m_texts.message(Message::NotAnAddress) + typed);
}

void TeamEditor::removeChosen()
{
    const QList<QListWidgetItem*> chosen = m_memberList->selectedItems();
    for (QListWidgetItem* entry : chosen)
        delete entry;
}

bool TeamEditor::modified() const
{
    return m_nameEdit->text().trimmed() != m_name.trimmed() || members() != m_savedMembers;
}

bool TeamEditor::save()
{
    const QString name = m_nameEdit->text().trimmed();
    const QList<TeamMember> wanted = members();
    try {
        switch (m_writer.save(m_team, name, wanted)) {
        case TeamWriter::Saving::NameMissing:
            tell(MessageIcon::Information, m_texts.message(Message::NoTeamName));
            m_nameEdit->setFocus();
            return false;
        case TeamWriter::Saving::NameTaken:
            tell(MessageIcon::Information, m_texts.message(Message::TeamNameTaken) + name);
            m_nameEdit->setFocus();
            return false;
        case TeamWriter::Saving::Saved:
            break;
        }
    }
    catch (const MailboxError& error) {
        if (error.number() == MailboxError::Conflict)
            tell(MessageIcon::Exclamation, m_texts.message(Message::TeamChangedElsewhere));
        else
            tell(MessageIcon::Exclamation,
                 m_texts.message(Message::TeamNotSaved) + u'\n' + error.description());
        return false;
    }
    m_name = name;
    m_savedMembers = wanted;
    m_saved = true;
    emit teamsChanged();
    accept();
    return true;
}

void TeamEditor::reject()
{
    if (modified() && !tell(MessageIcon::None, m_texts.message(Message::DiscardTeamChanges), true))
        return;
    QDialog::reject();
}

bool TeamEditor::tell(MessageIcon icon, const QString& text, bool question)
{
    return m_message ? m_message(icon, text, question) : false;
}

bool TeamEditor::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_memberList && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        removeChosen();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}
