#pragma once

#include "gui/captionstriplabel.h"
#include "planning/colourruleeditor.h"
#include "planning/querycontext.h"

#include <QDialog>

#include <functional>

class LanguageTexts;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTreeWidget;
class QTreeWidgetItem;
class SettingsStore;

// The window that lists, adds, changes and deletes the colour rules (filters). Every save and delete goes to
// the settings store at once; the caller reloads its filter list when rulesChanged() says so.
class FilterDialog : public QDialog {
    Q_OBJECT

public:
    // Shows a message; for a question, the answer: true for yes.
    using MessageHandler = std::function<bool(MessageIcon icon, const QString& text, bool question)>;

    FilterDialog(SettingsStore& settings, const LanguageTexts& texts, QWidget* parent = nullptr);

    // Message boxes by default.
    void setMessageHandler(MessageHandler handler) { m_messageHandler = std::move(handler); }

    // Whether a rule was saved or deleted since the window opened.
    bool rulesChanged() const { return m_rulesChanged; }

signals:
    void changed();

protected:
private:
    void buildWidgets();
    void listRules();
    void showRule(const QTreeWidgetItem* item);
    void clearFields();
    void setPriority(int priority);
    void setColour(qint64 colour);
    void pickColour();
    void saveRule();
    void deleteRule();
    void markChanged();

    const LanguageTexts& m_texts;
    ColourRuleEditor m_editor;
    MessageHandler m_messageHandler;
    bool m_rulesChanged = false;
    int m_priority = 9;
    qint64 m_colour = 0xFFFFFF;

    CaptionStripLabel* m_captionStrip = nullptr;
    QTreeWidget* m_ruleList = nullptr;
    QLineEdit* m_nameEdit = nullptr;
    QLineEdit* m_keywordsEdit = nullptr;
    QRadioButton* m_categoriesButton = nullptr;
    QRadioButton* m_subjectButton = nullptr;
    QPushButton* m_colourButton = nullptr;
    QLabel* m_priorityValue = nullptr;
};
