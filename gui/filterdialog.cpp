#include "gui/filterdialog.h"

#include "base/languagetexts.h"
#include "base/textids.h"
#include "gui/captions.h"
#include "gui/messageboxes.h"
#include "planning/planningmatrix.h"

#include <QButtonGroup>
#include <QColorDialog>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QToolButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

enum Column { SwatchColumn, TypeColumn, NameColumn, KeywordsColumn, PriorityColumn, ColumnCount };

constexpr qint64 kWhite = 0xFFFFFF;
constexpr int kNewRulePriority = 9;

QColor colourOf(qint64 oleColour)
{
    const qint64 rgb = resolveOleColour(oleColour);
    return QColor(int(rgb & 0xFF), int((rgb >> 8) & 0xFF), int((rgb >> 16) & 0xFF));
}

qint64 oleColourOf(const QColor& colour)
{
    return qint64(colour.red()) | qint64(colour.green()) << 8 | qint64(colour.blue()) << 16;
}

QPixmap swatch(const QColor& colour, const QSize& size)
{
    QPixmap pixmap(size);
    pixmap.fill(colour);
    QPainter painter(&pixmap);
    painter.setPen(Qt::gray);
    painter.drawRect(pixmap.rect().adjusted(0, 0, -1, -1));
    return pixmap;
}

QLabel* tagged(QLabel* label, int screenText)
{
    Captions::setTag(label, screenText);
    return label;
}

} // namespace

FilterDialog::FilterDialog(SettingsStore& settings, const LanguageTexts& texts, QWidget* parent)
    : QDialog(parent), m_texts(texts), m_editor(settings, texts)
{
    m_messageHandler = [this](MessageIcon icon, const QString& text, bool question) {
        // Its questions show the question mark whatever they are about.
        if (question)
            return MessageBoxes::ask(this, MessageIcon::None, text);
        MessageBoxes::show(this, icon, text);
        return true;
    };
    buildWidgets();
    Captions::applyCaptions(this, m_texts);
    m_ruleList->setHeaderLabels({QString(), m_texts.screen(ScreenText::FilterGridHeaderType).caption,
                                 m_texts.screen(ScreenText::FilterGridHeaderName).caption,
                                 m_texts.screen(ScreenText::FilterGridHeaderKeywords).caption,
                                 m_texts.screen(ScreenText::FilterGridHeaderPriority).caption});
    m_ruleList->headerItem()->setToolTip(PriorityColumn,
                                         m_texts.screen(ScreenText::FilterGridHeaderPriority).tooltip);
    m_captionStrip->setCaption(windowTitle());
    clearFields();
    listRules();
}

void FilterDialog::buildWidgets()
{
    setObjectName(QStringLiteral("filterDialog"));
    Captions::setTag(this, ScreenText::FilterDialogCaption);

    auto* layout = new QVBoxLayout;
    layout->setContentsMargins(8, 8, 8, 8);
    m_captionStrip = CaptionStripLabel::frame(this, layout);

    m_ruleList = new QTreeWidget(this);
    m_ruleList->setObjectName(QStringLiteral("ruleList"));
    Captions::setTag(m_ruleList, ScreenText::FilterGrid);
    m_ruleList->setColumnCount(ColumnCount);
    m_ruleList->setRootIsDecorated(false);
    m_ruleList->setUniformRowHeights(true);
    m_ruleList->setAllColumnsShowFocus(true);
    m_ruleList->setSelectionMode(QAbstractItemView::SingleSelection);
    const int twips[] = {500, 1000, 1500, 4000, 400};
    for (int column = 0; column < ColumnCount; ++column)
        m_ruleList->setColumnWidth(column, twips[column] * logicalDpiX() / 1440);
    // The keyboard's current row fills the fields as a click does.
    connect(m_ruleList, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem* item) { showRule(item); });
    connect(m_ruleList, &QTreeWidget::itemClicked, this, [this](QTreeWidgetItem* item) { showRule(item); });
    layout->addWidget(m_ruleList, 1);

    auto* form = new QFormLayout;
    layout->addLayout(form);
    m_nameEdit = new QLineEdit(this);
    m_nameEdit->setObjectName(QStringLiteral("nameEdit"));
    Captions::setTag(m_nameEdit, ScreenText::FilterName);
    form->addRow(tagged(new QLabel(this), ScreenText::FilterNameLabel), m_nameEdit);

    m_keywordsEdit = new QLineEdit(this);
    m_keywordsEdit->setObjectName(QStringLiteral("keywordsEdit"));
    Captions::setTag(m_keywordsEdit, ScreenText::FilterKeywords);
    form->addRow(tagged(new QLabel(this), ScreenText::FilterKeywordsLabel), m_keywordsEdit);

    auto* kindRow = new QHBoxLayout;
    auto* kindGroup = new QButtonGroup(this);
    m_categoriesButton = new QRadioButton(this);
    m_categoriesButton->setObjectName(QStringLiteral("categoriesButton"));
    Captions::setTag(m_categoriesButton, ScreenText::FilterMatchCategories);
    m_subjectButton = new QRadioButton(this);
    m_subjectButton->setObjectName(QStringLiteral("subjectButton"));
    Captions::setTag(m_subjectButton, ScreenText::FilterMatchSubject);
    for (QRadioButton* button : {m_categoriesButton, m_subjectButton}) {
        kindGroup->addButton(button);
        kindRow->addWidget(button);
    }
    kindRow->addStretch();
    form->addRow(tagged(new QLabel(this), ScreenText::FilterKindLabel), kindRow);

    m_colourButton = new QPushButton(this);
    m_colourButton->setObjectName(QStringLiteral("colourButton"));
    Captions::setTag(m_colourButton, ScreenText::FilterColour);
    m_colourButton->setIconSize(QSize(48, 16));
    connect(m_colourButton, &QPushButton::clicked, this, &FilterDialog::pickColour);
    auto* colourRow = new QHBoxLayout;
    colourRow->addWidget(m_colourButton);
    colourRow->addStretch();
    form->addRow(tagged(new QLabel(this), ScreenText::FilterColourLabel), colourRow);

    auto* priorityRow = new QHBoxLayout;
    m_priorityValue = new QLabel(this);
    m_priorityValue->setObjectName(QStringLiteral("priorityValue"));
    m_priorityValue->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("00")) + 8);
    m_priorityValue->setAlignment(Qt::AlignCenter);
    priorityRow->addWidget(m_priorityValue);
    const struct {
        const char* name;
        Qt::ArrowType arrow;
        int tag;
        int step;
    } steps[] = {{"priorityUpButton", Qt::UpArrow, ScreenText::FilterPriorityUp, +1},
                 {"priorityDownButton", Qt::DownArrow, ScreenText::FilterPriorityDown, -1}};
    for (const auto& step : steps) {
        auto* button = new QToolButton(this);
        button->setObjectName(QLatin1StringView(step.name));
        Captions::setTag(button, step.tag);
        button->setArrowType(step.arrow);
        button->setFocusPolicy(Qt::StrongFocus);
        button->setAutoRepeat(true);
        connect(button, &QToolButton::clicked, this, [this, delta = step.step] {
            setPriority(ColourRuleEditor::steppedPriority(m_priority, delta));
        });
        priorityRow->addWidget(button);
    }
    priorityRow->addStretch();
    auto* priorityLabel = tagged(new QLabel(this), ScreenText::FilterPriorityLabel);
    form->addRow(priorityLabel, priorityRow);

    auto* buttons = new QDialogButtonBox(this);
    const struct {
        const char* name;
        int tag;
        QDialogButtonBox::ButtonRole role;
        void (FilterDialog::*action)();
    } actions[] = {
        {"saveButton", ScreenText::FilterSave, QDialogButtonBox::ActionRole, &FilterDialog::saveRule},
        {"deleteButton", ScreenText::FilterDelete, QDialogButtonBox::DestructiveRole,
         &FilterDialog::deleteRule},
        {"closeButton", ScreenText::FilterClose, QDialogButtonBox::RejectRole, &QDialog::reject}};
    for (const auto& action : actions) {
        QPushButton* button = buttons->addButton(QString(), action.role);
        button->setObjectName(QLatin1StringView(action.name));
        Captions::setTag(button, action.tag);
        connect(button, &QPushButton::clicked, this, action.action);
    }
    // Enter in a field saves the rule.
    buttons->findChild<QPushButton*>(QStringLiteral("saveButton"))->setDefault(true);
    layout->addWidget(buttons);
    resize(640, 480);
}

void FilterDialog::listRules()
{
    const QSignalBlocker blocker(m_ruleList);
    m_ruleList->clear();
    for (const ColourRuleEditor::Rule& rule : m_editor.rules()) {
        auto* item = new QTreeWidgetItem(m_ruleList);
        item->setBackground(SwatchColumn, colourOf(rule.colour));
        item->setData(SwatchColumn, Qt::UserRole, rule.colour);
        item->setText(TypeColumn, rule.type);
        item->setText(NameColumn, rule.name);
        item->setText(KeywordsColumn, rule.keywords);
        item->setText(PriorityColumn, QString::number(rule.priority));
    }
    m_ruleList->setCurrentItem(nullptr);
    m_ruleList->resizeColumnToContents(TypeColumn);
}

void FilterDialog::showRule(const QTreeWidgetItem* item)
{
    if (!item || item->text(TypeColumn).isEmpty())
        return;
    ColourRuleEditor::Rule rule;
    rule.name = item->text(NameColumn);
    rule.type = item->text(TypeColumn);
    (m_editor.kindOf(rule) == ColourRuleEditor::Kind::Categories ? m_categoriesButton : m_subjectButton)
        ->setChecked(true);
    setColour(item->data(SwatchColumn, Qt::UserRole).toLongLong());
    m_keywordsEdit->setText(item->text(KeywordsColumn));
    // A hand-edited priority outside 1 to 16 is brought back within them.
    setPriority(ColourRuleEditor::steppedPriority(item->text(PriorityColumn).toInt(), 0));
    if (!rule.name.isEmpty())
        m_nameEdit->setText(rule.name);
}

void FilterDialog::clearFields()
{
    m_nameEdit->clear();
    m_keywordsEdit->clear();
    setPriority(kNewRulePriority);
    setColour(kWhite);
}

void FilterDialog::setPriority(int priority)
{
    m_priority = priority;
    m_priorityValue->setText(QString::number(priority));
}

void FilterDialog::setColour(qint64 colour)
{
    m_colour = colour;
    m_colourButton->setIcon(swatch(colourOf(colour), m_colourButton->iconSize()));
}

void FilterDialog::pickColour()
{
    QColorDialog picker(colourOf(m_colour), this);
    for (int index = 0; index < QColorDialog::customCount(); ++index)
        QColorDialog::setCustomColor(index, Qt::white);
    if (picker.exec() == QDialog::Accepted && picker.selectedColor().isValid())
        setColour(oleColourOf(picker.selectedColor()));
}

void FilterDialog::saveRule()
{
    ColourRuleEditor::Draft draft;
    draft.name = m_nameEdit->text();
    draft.keywords = m_keywordsEdit->text();
    draft.kind = m_categoriesButton->isChecked() ? ColourRuleEditor::Kind::Categories
                 : m_subjectButton->isChecked()  ? ColourRuleEditor::Kind::Subject
                                                 : ColourRuleEditor::Kind::None;
    draft.colour = m_colour;
    draft.priority = m_priority;
    const ColourRuleEditor::Outcome outcome = m_editor.save(draft);
    if (!outcome.done()) {
        m_messageHandler(outcome.icon, outcome.message, false);
        // A failed write may have stored part of the rule; the list shows what the store holds.
        if (outcome.icon == MessageIcon::Critical) {
            markChanged();
            listRules();
        }
        return;
    }
    clearFields();
    markChanged();
    listRules();
}

void FilterDialog::deleteRule()
{
    const QString name = m_nameEdit->text();
    if (!m_editor.contains(name))
        return;
    // A deleted rule cannot be brought back, so the user confirms it first.
    if (!m_messageHandler(MessageIcon::Exclamation,
                          m_texts.message(Message::ConfirmDeleteFilterBefore) + name +
                              m_texts.message(Message::ConfirmDeleteFilterAfter),
                          true))
        return;
    const ColourRuleEditor::Outcome outcome = m_editor.remove(name);
    if (!outcome.done())
        m_messageHandler(outcome.icon, outcome.message, false);
    else
        clearFields();
    markChanged();
    listRules();
}

void FilterDialog::markChanged()
{
    m_rulesChanged = true;
    emit changed();
}
