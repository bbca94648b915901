#include "gui/printplanning.h"

#include "base/languagetexts.h"
#include "base/settingsstore.h"
#include "base/textids.h"
#include "gui/captions.h"
#include "gui/messageboxes.h"
#include "output/htmlreport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QLabel>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include <optional>

namespace {

const QString kSection = QStringLiteral("Print");

template <typename Widget>
Widget* tagged(Widget* widget, const char* name, int screenText)
{
    widget->setObjectName(QLatin1StringView(name));
    Captions::setTag(widget, screenText);
    return widget;
}

PagedPlanning::Texts pageTexts(const PrintRequest& request)
{
    PagedPlanning::Texts texts = request.pages;
    texts.pageOf = pageOfText(request.texts);
    return texts;
}

void tell(QWidget* parent, const PrintDialogs& dialogs, const QString& text)
{
    if (dialogs.message)
        dialogs.message(MessageIcon::Critical, text);
    else
        MessageBoxes::show(parent, MessageIcon::Critical, text);
}

} // namespace

QString pageOfText(const LanguageTexts& texts)
{
    const QString pageOf = texts.screen(ScreenText::PrintPageOf).caption;
    // A language file without the entry still numbers its pages.
    if (pageOf.contains(QLatin1StringView("%1")) && pageOf.contains(QLatin1StringView("%2")))
        return pageOf;
    return PagedPlanning::Texts().pageOf;
}

PagedPlanning::Layout loadPrintLayout(const SettingsStore& settings)
{
    PagedPlanning::Layout layout;
    layout.paper = PagedPlanning::paperFromName(settings.read(kSection, QStringLiteral("Paper"), QString()))
                       .value_or(PagedPlanning::Paper::A4);
    layout.orientation =
        settings.read(kSection, QStringLiteral("Orientation"), QString()) == QLatin1StringView("Portrait")
            ? QPageLayout::Portrait
            : QPageLayout::Landscape;
    layout.fit = settings.read(kSection, QStringLiteral("Fit"), QString()) == QLatin1StringView("Tile")
                     ? PagedPlanning::Fit::Tile
                     : PagedPlanning::Fit::Width;
    layout.legendOnEveryPage = settings.readInt(kSection, QStringLiteral("LegendEveryPage"), 0, 0, 1) != 0;
    return layout;
}

void savePrintLayout(SettingsStore& settings, const PagedPlanning::Layout& layout)
{
    settings.write(kSection, QStringLiteral("Paper"), PagedPlanning::paperName(layout.paper));
    settings.write(kSection, QStringLiteral("Orientation"),
                   layout.orientation == QPageLayout::Portrait ? QStringLiteral("Portrait")
                                                               : QStringLiteral("Landscape"));
    settings.write(kSection, QStringLiteral("Fit"),
                   layout.fit == PagedPlanning::Fit::Tile ? QStringLiteral("Tile") : QStringLiteral("Width"));
    settings.write(kSection, QStringLiteral("LegendEveryPage"),
                   layout.legendOnEveryPage ? QStringLiteral("1") : QStringLiteral("0"));
}

PrintLayoutDialog::PrintLayoutDialog(const LanguageTexts& texts, const PagedPlanning::Layout& layout,
                                     QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("printLayoutDialog"));
    Captions::setTag(this, ScreenText::PrintLayoutCaption);
    auto* form = new QFormLayout;
    m_paperCombo = new QComboBox(this);
    m_paperCombo->setObjectName(QStringLiteral("paperCombo"));
    for (const int text : {ScreenText::PrintPaperA4, ScreenText::PrintPaperA3, ScreenText::PrintPaperLetter})
        m_paperCombo->addItem(texts.screen(text).caption);
    m_paperCombo->setCurrentIndex(int(layout.paper));
    form->addRow(tagged(new QLabel(this), "paperLabel", ScreenText::PrintPaperLabel), m_paperCombo);
    m_orientationCombo = new QComboBox(this);
    m_orientationCombo->setObjectName(QStringLiteral("orientationCombo"));
    m_orientationCombo->addItem(texts.screen(ScreenText::PrintLandscape).caption);
    m_orientationCombo->addItem(texts.screen(ScreenText::PrintPortrait).caption);
    m_orientationCombo->setCurrentIndex(layout.orientation == QPageLayout::Portrait ? 1 : 0);
    form->addRow(tagged(new QLabel(this), "orientationLabel", ScreenText::PrintOrientationLabel),
                 m_orientationCombo);
    m_fitWidthButton = tagged(new QRadioButton(this), "fitWidthButton", ScreenText::PrintFitWidth);
    m_tileButton = tagged(new QRadioButton(this), "tileButton", ScreenText::PrintTile);
    (layout.fit == PagedPlanning::Fit::Tile ? m_tileButton : m_fitWidthButton)->setChecked(true);
    auto* fit = new QVBoxLayout;
    fit->addWidget(m_fitWidthButton);
    fit->addWidget(m_tileButton);
    form->addRow(tagged(new QLabel(this), "fitLabel", ScreenText::PrintFitLabel), fit);
    m_legendEveryPageBox =
        tagged(new QCheckBox(this), "legendEveryPageBox", ScreenText::PrintLegendEveryPage);
    m_legendEveryPageBox->setChecked(layout.legendOnEveryPage);
    form->addRow(m_legendEveryPageBox);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    tagged(buttons->button(QDialogButtonBox::Ok), "okButton", ScreenText::PrintOk);
    tagged(buttons->button(QDialogButtonBox::Cancel), "cancelButton", ScreenText::PrintCancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layoutBox = new QVBoxLayout(this);
    layoutBox->addLayout(form);
    layoutBox->addWidget(buttons);
    Captions::applyCaptions(this, texts);
}

PagedPlanning::Layout PrintLayoutDialog::layout() const
{
    PagedPlanning::Layout layout;
    layout.paper = PagedPlanning::Paper(m_paperCombo->currentIndex());
    layout.orientation =
        m_orientationCombo->currentIndex() == 1 ? QPageLayout::Portrait : QPageLayout::Landscape;
    layout.fit = m_tileButton->isChecked() ? PagedPlanning::Fit::Tile : PagedPlanning::Fit::Width;
    layout.legendOnEveryPage = m_legendEveryPageBox->isChecked();
    return layout;
}

namespace {

// The layout dialog on the last choices; what was chosen is kept for next time. Nothing when cancelled.
std::optional<PagedPlanning::Layout> chooseLayout(QWidget* parent, const PrintRequest& request,
                                                  const PrintDialogs& dialogs)
{
    PrintLayoutDialog layoutDialog(request.texts, loadPrintLayout(request.settings), parent);
    if (dialogs.run(layoutDialog) != QDialog::Accepted)
        return std::nullopt;
    const PagedPlanning::Layout layout = layoutDialog.layout();
    savePrintLayout(request.settings, layout);
    return layout;
}

} // namespace

bool printPlanning(QWidget* parent, const PrintRequest& request, const PrintDialogs& dialogs)
{
    // Fitting and the legend's place are chosen here; the printer dialog may still change the paper.
    const std::optional<PagedPlanning::Layout> layout = chooseLayout(parent, request, dialogs);
    if (!layout)
        return false;
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageLayout(PagedPlanning::pageLayout(*layout));
    printer.setDocName(request.pages.team);
    QPrintDialog dialog(&printer, parent);
    if (dialogs.run(dialog) != QDialog::Accepted)
        return false;
    if (PagedPlanning::print(printer, request.painter, *layout, pageTexts(request)))
        return true;
    tell(parent, dialogs, request.texts.message(Message::ReportFailed) + printer.printerName());
    return false;
}

bool savePlanningPdf(QWidget* parent, const PrintRequest& request, const PrintDialogs& dialogs)
{
    const std::optional<PagedPlanning::Layout> layout = chooseLayout(parent, request, dialogs);
    if (!layout)
        return false;
    const QString suggested = QDir::home().filePath(QStringLiteral("planning.pdf"));
    const QString filter = request.texts.screen(ScreenText::PrintPdfFilter).caption;
    const QString caption = request.texts.screen(ScreenText::SavePdfMenu).caption;
    const QString fileName = dialogs.pdfFileName
                                 ? dialogs.pdfFileName(parent, suggested, filter)
                                 : QFileDialog::getSaveFileName(parent, caption, suggested, filter);
    if (fileName.isEmpty())
        return false;
    try {
        PagedPlanning::savePdf(fileName, request.painter, *layout, pageTexts(request));
    }
    catch (const ReportError& error) {
        tell(parent, dialogs, request.texts.message(Message::ReportFailed) + error.description());
        return false;
    }
    return true;
}
