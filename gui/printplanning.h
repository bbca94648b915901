#pragma once

#include "output/pagedplanning.h"
#include "planning/querycontext.h"

#include <QDialog>

#include <functional>

class GridPainter;
class LanguageTexts;
class QCheckBox;
class QComboBox;
class QRadioButton;
class SettingsStore;

// "page %1 of %2" in the language in use.
QString pageOfText(const LanguageTexts& texts);

// The page layout of a printed planning or its PDF, as the settings store's [Print] section remembers it.
PagedPlanning::Layout loadPrintLayout(const SettingsStore& settings);
void savePrintLayout(SettingsStore& settings, const PagedPlanning::Layout& layout);

// Chooses the paper, the orientation, fitting to the page's width or tiling, and where the legend goes.
class PrintLayoutDialog : public QDialog {
    Q_OBJECT

public:
    PrintLayoutDialog(const LanguageTexts& texts, const PagedPlanning::Layout& layout,
                      QWidget* parent = nullptr);

    PagedPlanning::Layout layout() const;

private:
    QComboBox* m_paperCombo;
    QComboBox* m_orientationCombo;
    QRadioButton* m_fitWidthButton;
    QRadioButton* m_tileButton;
    QCheckBox* m_legendEveryPageBox;
};

// What the window prints: the grid as its painter draws it, and what the pages say beside it (team, period,
// legend). The footer's "page i of n" is taken from the language texts.
struct PrintRequest {
    const GridPainter& painter;
    const LanguageTexts& texts;
    SettingsStore& settings;
    PagedPlanning::Texts pages;
};

// The dialogs and messages printing goes through; the defaults show them to the user, tests work them.
struct PrintDialogs {
    std::function<int(QDialog&)> run = [](QDialog& dialog) { return dialog.exec(); };
    // The PDF's name, empty when the user cancels.
    std::function<QString(QWidget* parent, const QString& suggested, const QString& filter)> pdfFileName;
    std::function<void(MessageIcon, const QString&)> message;
};

// The printer dialog on a printer set up from the remembered layout, then the pages. False when cancelled or
// when the printer could not be painted on (a message says so).
bool printPlanning(QWidget* parent, const PrintRequest& request, const PrintDialogs& dialogs = {});
// The layout dialog, then the file's name, then the PDF. False when cancelled or not written (a message says
// why; nothing that stood at the name is lost).
bool savePlanningPdf(QWidget* parent, const PrintRequest& request, const PrintDialogs& dialogs = {});
