#include "gui/optionsdialog.h"

#include "base/languagetexts.h"
#include "base/programstate.h"
#include "base/textids.h"
#include "gui/captions.h"
#include "gui/messageboxes.h"
#include "planning/enginestate.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

const auto kProgramTitle = QStringLiteral("Rotavine");

QColor colourOf(qint64 oleColour)
{
    return QColor(int(oleColour & 0xFF), int((oleColour >> 8) & 0xFF), int((oleColour >> 16) & 0xFF));
}

template <typename Widget>
Widget* named(Widget* widget, const char* name, int screenText)
{
    widget->setObjectName(QLatin1StringView(name));
    Captions::setTag(widget, screenText);
    return widget;
}

QLabel* taggedLabel(QWidget* parent, int screenText)
{
    auto* label = new QLabel(parent);
    Captions::setTag(label, screenText);
    return label;
}

} // namespace

OptionsDialog::OptionsDialog(SettingsStore& settings, const LanguageTexts& texts, ProgramState& program,
                             EngineState& engine, QWidget* parent)
    : QDialog(parent), m_settings(settings), m_texts(texts), m_program(program), m_engine(engine)
{
    m_messageHandler = [this](MessageIcon icon, const QString& text) {
        MessageBoxes::show(this, icon, text);
    };
    buildWidgets();
    Captions::applyCaptions(this, m_texts);
    setWindowTitle(m_texts.message(Message::OptionsCaptionPrefix) + kProgramTitle);
    m_captionStrip->setCaption(windowTitle());
    const int pageTexts[] = {ScreenText::OptionsPageHours,    ScreenText::OptionsPageStartView,
                             ScreenText::OptionsPageRefresh,  ScreenText::OptionsPageMisc,
                             ScreenText::OptionsPageLanguage, ScreenText::OptionsPageSource};
    for (int page = 0; page < m_pageList->count(); ++page) {
        m_pageList->item(page)->setText(m_texts.screen(pageTexts[page]).caption);
        m_pageList->item(page)->setToolTip(m_texts.screen(pageTexts[page]).tooltip);
    }
    for (int view = 0; view < OptionsModel::kStartViewCount; ++view)
        m_startViewCombo->addItem(m_texts.message(Message::StartViewNone + view));
    m_loaded = OptionsModel::load(m_settings, m_program, m_engine);
    showValues();
    m_pageList->setCurrentRow(0);
}

void OptionsDialog::buildWidgets()
{
    setObjectName(QStringLiteral("optionsDialog"));
    Captions::setTag(this, ScreenText::OptionsDialogCaption);

    auto* layout = new QVBoxLayout;
    layout->setContentsMargins(8, 8, 8, 8);
    m_captionStrip = CaptionStripLabel::frame(this, layout);

    auto* body = new QHBoxLayout;
    layout->addLayout(body, 1);
    m_pageList = new QListWidget(this);
    m_pageList->setObjectName(QStringLiteral("pageList"));
    m_pageList->setMaximumWidth(170);
    m_pages = new QStackedWidget(this);
    m_pages->setObjectName(QStringLiteral("pages"));
    for (QWidget* page : {buildHoursPage(), buildStartViewPage(), buildRefreshPage(), buildMiscPage(),
                          buildLanguagePage(), buildSourcePage()}) {
        m_pages->addWidget(page);
        m_pageList->addItem(QString());
    }
    connect(m_pageList, &QListWidget::currentRowChanged, m_pages, &QStackedWidget::setCurrentIndex);
    body->addWidget(m_pageList);
    body->addWidget(m_pages, 1);

    auto* footer = new QHBoxLayout;
    auto* versionLabel = named(new QLabel(this), "versionLabel", ScreenText::OptionsVersionLabel);
    auto* version = new QLabel(QStringLiteral(ROTAVINE_VERSION), this);
    version->setObjectName(QStringLiteral("versionValue"));
    auto* title = new QLabel(kProgramTitle, this);
    title->setObjectName(QStringLiteral("titleLabel"));
    footer->addWidget(title);
    footer->addSpacing(8);
    footer->addWidget(versionLabel);
    footer->addWidget(version);
    footer->addStretch();
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    auto* applyButton = named(buttons->addButton(QString(), QDialogButtonBox::ApplyRole), "applyButton",
                              ScreenText::OptionsApply);
    connect(applyButton, &QPushButton::clicked, this, &OptionsDialog::apply);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    footer->addWidget(buttons);
    layout->addLayout(footer);
    resize(680, 460);
}

QWidget* OptionsDialog::buildHoursPage()
{
    auto* frame = named(new QGroupBox(this), "hoursPage", ScreenText::OptionsFrameHours);
    auto* grid = new QGridLayout(frame);
    const struct {
        const char* name;
        int label;
        int list;
    } lists[] = {{"dayStartList", ScreenText::OptionsDayStartLabel, ScreenText::OptionsDayStart},
                 {"dayEndList", ScreenText::OptionsDayEndLabel, ScreenText::OptionsDayEnd}};
    for (int side = 0; side < 2; ++side) {
        auto* list = named(new QListWidget(frame), lists[side].name, lists[side].list);
        for (int hour = 0; hour <= 24; ++hour)
            list->addItem(QStringLiteral("%1").arg(hour, 2, 10, QLatin1Char('0')));
        connect(list, &QListWidget::itemClicked, this, &OptionsDialog::checkHours);
        m_hourLists[side] = list;
        grid->addWidget(taggedLabel(frame, lists[side].label), 0, side);
        grid->addWidget(list, 1, side);
    }
    return frame;
}

QWidget* OptionsDialog::buildStartViewPage()
{
    auto* frame = named(new QGroupBox(this), "startViewPage", ScreenText::OptionsFrameStartView);
    auto* layout = new QVBoxLayout(frame);
    m_startViewCombo = named(new QComboBox(frame), "startViewCombo", ScreenText::OptionsStartView);
    layout->addWidget(taggedLabel(frame, ScreenText::OptionsStartViewLabel));
    layout->addWidget(m_startViewCombo);
    layout->addStretch();
    return frame;
}

QWidget* OptionsDialog::buildRefreshPage()
{
    auto* frame = named(new QGroupBox(this), "refreshPage", ScreenText::OptionsFrameRefresh);
    auto* layout = new QVBoxLayout(frame);
    layout->addWidget(taggedLabel(frame, ScreenText::OptionsRefreshLabel));
    auto* row = new QHBoxLayout;
    m_delayLabel = new QLabel(frame);
    m_delayLabel->setObjectName(QStringLiteral("delayLabel"));
    m_delayLabel->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 8);
    m_delayLabel->setAlignment(Qt::AlignCenter);
    row->addWidget(m_delayLabel);
    const struct {
        const char* name;
        Qt::ArrowType arrow;
        int tag;
        int direction;
    } steps[] = {{"delayUpButton", Qt::UpArrow, ScreenText::OptionsRefreshUp, +1},
                 {"delayDownButton", Qt::DownArrow, ScreenText::OptionsRefreshDown, -1}};
    for (const auto& step : steps) {
        auto* button = named(new QToolButton(frame), step.name, step.tag);
        button->setArrowType(step.arrow);
        button->setFocusPolicy(Qt::StrongFocus);
        connect(button, &QToolButton::clicked, this,
                [this, direction = step.direction] { stepDelay(direction); });
        row->addWidget(button);
    }
    row->addStretch();
    layout->addLayout(row);
    layout->addStretch();
    return frame;
}

QWidget* OptionsDialog::buildMiscPage()
{
    auto* frame = named(new QGroupBox(this), "miscPage", ScreenText::OptionsFrameMisc);
    auto* form = new QFormLayout(frame);
    m_columnWidthEdit = named(new QLineEdit(frame), "columnWidthEdit", ScreenText::OptionsReportWidth);
    form->addRow(taggedLabel(frame, ScreenText::OptionsReportWidthLabel), m_columnWidthEdit);
    m_colourButton = named(new QPushButton(frame), "colourButton", ScreenText::OptionsDefaultColour);
    m_colourButton->setIconSize(QSize(48, 16));
    connect(m_colourButton, &QPushButton::clicked, this, &OptionsDialog::pickColour);
    form->addRow(taggedLabel(frame, ScreenText::OptionsDefaultColourLabel), m_colourButton);
    return frame;
}

QWidget* OptionsDialog::buildLanguagePage()
{
    auto* frame = named(new QGroupBox(this), "languagePage", ScreenText::OptionsFrameLanguage);
    auto* layout = new QVBoxLayout(frame);
    m_languageGroup = new QButtonGroup(this);
    for (int index = 0; index < OptionsModel::kLanguages.size(); ++index) {
        auto* button = new QRadioButton(frame);
        button->setObjectName(OptionsModel::kLanguages[index]);
        Captions::setTag(button, ScreenText::OptionsLanguageEnglish + index);
        m_languageGroup->addButton(button, index);
        layout->addWidget(button);
    }
    layout->addStretch();
    return frame;
}

QWidget* OptionsDialog::buildSourcePage()
{
    auto* frame = named(new QGroupBox(this), "sourcePage", ScreenText::OptionsFrameSource);
    auto* layout = new QVBoxLayout(frame);
    auto* kind = new QButtonGroup(frame);
    m_folderButton = named(new QRadioButton(frame), "folderButton", ScreenText::OptionsSourceFolder);
    m_serverButton = named(new QRadioButton(frame), "serverButton", ScreenText::OptionsSourceServer);
    kind->addButton(m_folderButton);
    kind->addButton(m_serverButton);
    connect(m_folderButton, &QRadioButton::toggled, this, &OptionsDialog::updateSourceFields);

    layout->addWidget(m_folderButton);
    auto* folderRow = new QHBoxLayout;
    m_pathEdit = named(new QLineEdit(frame), "pathEdit", ScreenText::OptionsSourcePath);
    m_browseButton = named(new QPushButton(frame), "browseButton", ScreenText::OptionsSourceBrowse);
    connect(m_browseButton, &QPushButton::clicked, this, &OptionsDialog::chooseFolder);
    folderRow->addWidget(m_pathEdit, 1);
    folderRow->addWidget(m_browseButton);
    layout->addLayout(folderRow);

    layout->addWidget(m_serverButton);
    auto* server = new QFormLayout;
    const auto addEdit = [&](QLineEdit*& edit, const char* name, int label, int tag) {
        edit = named(new QLineEdit(frame), name, tag);
        server->addRow(taggedLabel(frame, label), edit);
    };
    addEdit(m_urlEdit, "urlEdit", ScreenText::OptionsServerUrlLabel, ScreenText::OptionsServerUrl);
    addEdit(m_userEdit, "userEdit", ScreenText::OptionsServerUserLabel, ScreenText::OptionsServerUser);
    addEdit(m_passwordCommandEdit, "passwordCommandEdit", ScreenText::OptionsPasswordCommandLabel,
            ScreenText::OptionsPasswordCommand);
    addEdit(m_passwordEdit, "passwordEdit", ScreenText::OptionsPasswordLabel, ScreenText::OptionsPassword);
    m_passwordEdit->setEchoMode(QLineEdit::Password);
    m_certificateBox = named(new QCheckBox(frame), "certificateBox", ScreenText::OptionsCheckCertificate);
    server->addRow(m_certificateBox);
    m_timeoutSpin = named(new QSpinBox(frame), "timeoutSpin", ScreenText::OptionsTimeout);
    m_timeoutSpin->setRange(1, 3600);
    server->addRow(taggedLabel(frame, ScreenText::OptionsTimeoutLabel), m_timeoutSpin);
    layout->addLayout(server);

    auto* owner = new QFormLayout;
    m_ownerNameEdit = named(new QLineEdit(frame), "ownerNameEdit", ScreenText::OptionsOwnerName);
    owner->addRow(taggedLabel(frame, ScreenText::OptionsOwnerNameLabel), m_ownerNameEdit);
    m_ownerAddressEdit = named(new QLineEdit(frame), "ownerAddressEdit", ScreenText::OptionsOwnerAddress);
    owner->addRow(taggedLabel(frame, ScreenText::OptionsOwnerAddressLabel), m_ownerAddressEdit);
    layout->addLayout(owner);

    auto* testRow = new QHBoxLayout;
    auto* testButton = named(new QPushButton(frame), "testButton", ScreenText::OptionsTestSource);
    connect(testButton, &QPushButton::clicked, this, &OptionsDialog::testSource);
    m_testResult = new QLabel(frame);
    m_testResult->setObjectName(QStringLiteral("testResult"));
    m_testResult->setWordWrap(true);
    m_testResult->setTextInteractionFlags(Qt::TextSelectableByMouse);
    testRow->addWidget(testButton, 0, Qt::AlignTop);
    testRow->addWidget(m_testResult, 1);
    layout->addLayout(testRow);
    layout->addStretch();
    return frame;
}

void OptionsDialog::showValues()
{
    const OptionsModel::Values& values = m_loaded;
    const int language = OptionsModel::kLanguages.indexOf(values.language);
    // No ticked button when the language in use is none of them.
    m_languageGroup->setExclusive(false);
    for (QAbstractButton* button : m_languageGroup->buttons())
        button->setChecked(m_languageGroup->id(button) == language);
    m_languageGroup->setExclusive(true);
    m_hourLists[0]->setCurrentRow(values.dayStartHour);
    m_hourLists[1]->setCurrentRow(values.dayEndHour);
    m_columnWidthEdit->setText(values.reportColumnWidth);
    m_startViewCombo->setCurrentIndex(values.startAction);
    setColour(values.defaultColour);
    m_delay = values.refreshDelay;
    m_delayLabel->setText(QString::number(m_delay));

    const OptionsModel::SourceValues& source = values.source;
    (source.server ? m_serverButton : m_folderButton)->setChecked(true);
    m_pathEdit->setText(QDir::toNativeSeparators(source.path));
    m_urlEdit->setText(source.url);
    m_userEdit->setText(source.user);
    m_passwordCommandEdit->setText(source.passwordCommand);
    m_certificateBox->setChecked(source.checkCertificate);
    m_timeoutSpin->setValue(source.timeoutSeconds);
    m_ownerNameEdit->setText(source.ownerName);
    m_ownerAddressEdit->setText(source.ownerAddress);
    updateSourceFields();
}

OptionsModel::Values OptionsDialog::shownValues() const
{
    OptionsModel::Values values;
    const int language = m_languageGroup->checkedId();
    values.language = language >= 0 ? OptionsModel::kLanguages[language] : QString();
    values.dayStartHour = m_hourLists[0]->currentRow();
    values.dayEndHour = m_hourLists[1]->currentRow();
    values.reportColumnWidth = m_columnWidthEdit->text();
    values.startAction = std::max(0, m_startViewCombo->currentIndex());
    values.defaultColour = m_colour;
    values.refreshDelay = m_delay;
    values.source = shownSource();
    return values;
}

OptionsModel::SourceValues OptionsDialog::shownSource() const
{
    OptionsModel::SourceValues source;
    source.server = m_serverButton->isChecked();
    source.path = m_pathEdit->text().trimmed();
    source.url = m_urlEdit->text().trimmed();
    source.user = m_userEdit->text().trimmed();
    source.passwordCommand = m_passwordCommandEdit->text().trimmed();
    source.checkCertificate = m_certificateBox->isChecked();
    source.timeoutSeconds = m_timeoutSpin->value();
    source.ownerName = m_ownerNameEdit->text().trimmed();
    source.ownerAddress = m_ownerAddressEdit->text().trimmed();
    // A folder shown as loaded keeps its stored spelling, so that opening and closing changes nothing.
    if (QDir::toNativeSeparators(m_loaded.source.path) == source.path)
        source.path = m_loaded.source.path;
    return source;
}

void OptionsDialog::checkHours()
{
    if (m_hourLists[1]->currentRow() <= m_hourLists[0]->currentRow())
        message(MessageIcon::Exclamation, m_texts.message(Message::HoursOutOfOrder));
}

void OptionsDialog::stepDelay(int direction)
{
    m_delay = OptionsModel::steppedDelay(m_delay, direction);
    m_delayLabel->setText(QString::number(m_delay));
}

void OptionsDialog::setColour(qint64 colour)
{
    m_colour = colour;
    QPixmap swatch(m_colourButton->iconSize());
    swatch.fill(colourOf(colour));
    QPainter(&swatch).drawRect(swatch.rect().adjusted(0, 0, -1, -1));
    m_colourButton->setIcon(swatch);
}

void OptionsDialog::pickColour()
{
    QColorDialog picker(colourOf(m_colour), this);
    if (picker.exec() != QDialog::Accepted)
        return;
    const QColor chosen = picker.currentColor();
    setColour(qint64(chosen.red()) | qint64(chosen.green()) << 8 | qint64(chosen.blue()) << 16);
}

void OptionsDialog::chooseFolder()
{
    const QString folder =
        QFileDialog::getExistingDirectory(this, m_folderButton->text(), m_pathEdit->text());
    if (!folder.isEmpty())
        m_pathEdit->setText(QDir::toNativeSeparators(folder));
}

void OptionsDialog::updateSourceFields()
{
    const bool server = m_serverButton->isChecked();
    m_pathEdit->setEnabled(!server);
    m_browseButton->setEnabled(!server);
    for (QWidget* field : std::initializer_list<QWidget*>{m_urlEdit, m_userEdit, m_passwordCommandEdit,
                                                          m_passwordEdit, m_certificateBox, m_timeoutSpin})
        field->setEnabled(server);
}

void OptionsDialog::testSource()
{
    const OptionsModel::SourceValues values = shownSource();
    if (!values.server && values.path.isEmpty()) {
        message(MessageIcon::Information, m_texts.message(Message::SourceNotChosen));
        return;
    }
    MailboxSource source = OptionsModel::mailboxSource(values);
    source.sessionPassword = m_passwordEdit->text();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const OptionsModel::SourceReport report = OptionsModel::checkSource(source);
    QApplication::restoreOverrideCursor();
    QString text;
    if (report.error.isEmpty()) {
        text = m_texts.message(Message::SourceOpened) + u'\n' + m_texts.message(Message::SourceTeams) +
               QString::number(report.teams) + u'\n' + m_texts.message(Message::SourceMembersResolved) +
               QStringLiteral("%1 / %2").arg(report.resolved).arg(report.members) + u'\n' +
               m_texts.message(Message::SourceCalendarsReadable) +
               QStringLiteral("%1 / %2").arg(report.readable).arg(report.resolved);
    }
    else {
        text = m_texts.message(Message::SourceNotOpened) + u'\n' + report.error;
    }
    m_testResult->setText(text);
    message(report.error.isEmpty() ? MessageIcon::Information : MessageIcon::Exclamation, text);
}

bool OptionsDialog::apply()
{
    const OptionsModel::SaveResult result =
        OptionsModel::save(m_settings, shownValues(), m_program, m_engine);
    if (!result.storeError.isEmpty()) {
        message(MessageIcon::Critical, m_texts.message(Message::OptionsNotSaved) + result.storeError);
        return false;
    }
    if (result.hoursRefused) {
        message(MessageIcon::Exclamation, m_texts.message(Message::HoursNotSaved));
        return false;
    }
    m_loaded.source = OptionsModel::load(m_settings, m_program, m_engine).source;
    emit refreshDelayChanged(m_program.refreshDelay);
    if (!result.sourceProblem.isEmpty())
        message(MessageIcon::Exclamation, m_texts.message(Message::SourceNotChanged) + result.sourceProblem);
    // The typed password is never written; say so once, then forget it.
    if (!m_passwordEdit->text().isEmpty()) {
        m_passwordEdit->clear();
        message(MessageIcon::Information, m_texts.message(Message::PasswordNotKept));
    }
    QApplication::beep();
    message(MessageIcon::Information, m_texts.message(Message::OptionsSaved));
    if (result.sourceChanged)
        emit sourceChanged();
    return true;
}

void OptionsDialog::done(int result)
{
    apply();
    QDialog::done(result);
}

void OptionsDialog::message(MessageIcon icon, const QString& text)
{
    if (m_messageHandler)
        m_messageHandler(icon, text);
}
