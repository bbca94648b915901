#pragma once

#include "gui/captionstriplabel.h"
#include "gui/optionsmodel.h"
#include "planning/querycontext.h"

#include <QDialog>

#include <array>
#include <functional>

class LanguageTexts;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QStackedWidget;
class SettingsStore;
struct EngineState;
struct ProgramState;

// The program's options: working hours, start view, automatic refresh, report column width and default
// colour, language, and where the calendars come from. Apply saves; closing the window saves again. The
// program and engine state follow at once, except the language, which is used from the next start.
class OptionsDialog : public QDialog {
    Q_OBJECT

public:
    using MessageHandler = std::function<void(MessageIcon, const QString&)>;

    OptionsDialog(SettingsStore& settings, const LanguageTexts& texts, ProgramState& program,
                  EngineState& engine, QWidget* parent = nullptr);

    // Message boxes by default.
    void setMessageHandler(MessageHandler handler) { m_messageHandler = std::move(handler); }

    // Saves what the window shows; false when the hours refused it or the store could not write.
    bool apply();

signals:
    // The calendar source was saved changed: the mailbox is to be opened again.
    void sourceChanged();
    // Saved delay in minutes; 0 stops the automatic refresh.
    void refreshDelayChanged(int minutes);

public slots:
    void done(int result) override;

protected:
private:
    void buildWidgets();
    QWidget* buildHoursPage();
    QWidget* buildStartViewPage();
    QWidget* buildRefreshPage();
    QWidget* buildMiscPage();
    QWidget* buildLanguagePage();
    QWidget* buildSourcePage();
    void showValues();
    OptionsModel::Values shownValues() const;
    OptionsModel::SourceValues shownSource() const;
    void checkHours();
    void stepDelay(int direction);
    void setColour(qint64 colour);
    void pickColour();
    void chooseFolder();
    void updateSourceFields();
    void testSource();
    void message(MessageIcon icon, const QString& text);

    SettingsStore& m_settings;
    const LanguageTexts& m_texts;
    ProgramState& m_program;
    EngineState& m_engine;
    MessageHandler m_messageHandler;
    OptionsModel::Values m_loaded;
    qint64 m_colour = 0;
    int m_delay = 0;

    CaptionStripLabel* m_captionStrip = nullptr;
    QListWidget* m_pageList = nullptr;
    QStackedWidget* m_pages = nullptr;
    std::array<QListWidget*, 2> m_hourLists{};
    QComboBox* m_startViewCombo = nullptr;
    QLabel* m_delayLabel = nullptr;
    QLineEdit* m_columnWidthEdit = nullptr;
    QPushButton* m_colourButton = nullptr;
    QButtonGroup* m_languageGroup = nullptr;
    QRadioButton* m_folderButton = nullptr;
    QRadioButton* m_serverButton = nullptr;
    QLineEdit* m_pathEdit = nullptr;
    QPushButton* m_browseButton = nullptr;
    QLineEdit* m_urlEdit = nullptr;
    QLineEdit* m_userEdit = nullptr;
    QLineEdit* m_passwordCommandEdit = nullptr;
    QLineEdit* m_passwordEdit = nullptr;
    QCheckBox* m_certificateBox = nullptr;
    QSpinBox* m_timeoutSpin = nullptr;
    QLineEdit* m_ownerNameEdit = nullptr;
    QLineEdit* m_ownerAddressEdit = nullptr;
    QLabel* m_testResult = nullptr;
};
