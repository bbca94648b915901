#include "base/languagetexts.h"
#include "base/settingsstore.h"
#include "bench/benchplanning.h"
#include "gui/printplanning.h"
#include "output/gridpainter.h"
#include "planning/planninggrid.h"

#include <QCheckBox>
#include <QComboBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QProcess>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>

using namespace PagedPlanning;

namespace {

QString run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(60000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

QString pageText(const QString& pdf, int page)
{
    const QString number = QString::number(page);
    return run("pdftotext", {"-layout", "-f", number, "-l", number, pdf, "-"});
}

Texts pageTexts()
{
    Texts texts;
    texts.team = "Support desk";
    texts.period = "From 1 Jul 2026 to 31 Dec 2026";
    texts.legendTitle = "Legend";
    texts.legend = {{"Holidays", Qt::green}, {"Training", QColor(255, 128, 0)}};
    return texts;
}

} // namespace

class TestPrintPlanning : public QObject {
    Q_OBJECT

private slots:
    void pages_data()
    {
        QTest::addColumn<int>("paper");
        QTest::addColumn<int>("orientation");
        QTest::addColumn<int>("fit");
        QTest::addColumn<QString>("size"); // as pdfinfo gives it
        const QStringList sizes{"842 x 595", "1191 x 842", "792 x 612"};
        for (int paper = 0; paper < 3; ++paper)
            for (int orientation = 0; orientation < 2; ++orientation)
                for (int fit = 0; fit < 2; ++fit) {
                    QString size = sizes[paper];
                    if (orientation == QPageLayout::Portrait)
                        size = size.section(" x ", 1) + " x " + size.section(" x ", 0, 0);
                    QTest::addRow("%s %s %s", qPrintable(paperName(Paper(paper))),
                                  orientation ? "landscape" : "portrait", fit ? "tile" : "width")
                        << paper << orientation << fit << size;
                }
    }
    // Every page is of the paper chosen, repeats the header and the names of its own rows, and says which
    // page it is; the legend stands on the last page only.
    void pages()
    {
        QFETCH(int, paper);
        QFETCH(int, orientation);
        QFETCH(int, fit);
        QFETCH(QString, size);
        PlanningGrid grid;
        // Twelve days fit the width of any page, forty no page at full size.
        fillBenchPlanning(grid, nullptr, 30, fit == int(Fit::Tile) ? 40 : 12);
        const GridPainter painter(grid);
        const Layout layout{Paper(paper), QPageLayout::Orientation(orientation), Fit(fit), false};
        const QString pdf = m_folder.filePath("pages.pdf");
        savePdf(pdf, painter, layout, pageTexts());
        const Plan plan = PagedPlanning::plan(painter, pageLayout(layout), layout, pageTexts());
        const int count = int(plan.pages.size());
        const QString info = run("pdfinfo", {pdf});
        QVERIFY2(info.contains(QRegularExpression(QString("Pages: +%1\n").arg(count))), qPrintable(info));
        QVERIFY2(info.contains("Page size:       " + size), qPrintable(info));
        QCOMPARE(plan.across > 1, fit == int(Fit::Tile));
        for (int index = 0; index < count; ++index) {
            const Page& page = plan.pages[size_t(index)];
            const QString text = pageText(pdf, index + 1);
            QVERIFY2(text.contains("Support desk") && text.contains("31 Dec 2026"), qPrintable(text));
            QVERIFY(text.contains(QString("page %1 of %2").arg(index + 1).arg(count)));
            QCOMPARE(text.contains("Training"), index == count - 1);
            for (int row = page.firstRow; row < page.endRow; ++row)
                QVERIFY2(text.contains(grid.text(row, 0)), qPrintable(grid.text(row, 0) + "\n" + text));
            if (page.endRow > page.firstRow) // the fixed header rows, with the page's own first day
                QVERIFY2(text.contains(grid.text(3, page.firstColumn)), qPrintable(text));
        }
    }

    // The pages cut between rows and columns and together hold each cell once; too wide to be read at the
    // page's width, the biggest planning is tiled, and every page carries the names of its rows.
    void bigPlanningIsTiled()
    {
        PlanningGrid grid;
        fillBenchPlanning(grid, nullptr, 127, 187);
        const GridPainter painter(grid);
        const Layout layout;
        Texts texts = pageTexts();
        const Plan plan = PagedPlanning::plan(painter, pageLayout(layout), layout, texts);
        QVERIFY(plan.across > 1);
        QVERIFY(plan.scale * GridPainter::kDefaultPointSize >= kMinimumTextPoints);
        std::vector<int> cells(size_t(grid.rows() * grid.columns()), 0);
        for (const Page& page : plan.pages)
            for (int row = page.firstRow; row < page.endRow; ++row)
                for (int column = page.firstColumn; column < page.endColumn; ++column)
                    ++cells[size_t(row * grid.columns() + column)];
        for (int row = grid.fixedRows(); row < grid.rows(); ++row)
            for (int column = grid.fixedColumns(); column < grid.columns(); ++column)
                QCOMPARE(cells[size_t(row * grid.columns() + column)], 1);

        const QString pdf = m_folder.filePath("big.pdf");
        savePdf(pdf, painter, layout, texts);
        const int count = int(plan.pages.size());
        for (int index : {0, count / 2, count - 1}) {
            const Page& page = plan.pages[size_t(index)];
            const QString text = pageText(pdf, index + 1);
            if (page.endRow > page.firstRow) {
                for (const int row : {page.firstRow, page.endRow - 1})
                    QVERIFY2(text.contains(QRegularExpression(grid.text(row, 0) + "\\b")), qPrintable(text));
            }
        }
        // Kept for a look: the first and the last page.
        const QString artifacts = qEnvironmentVariable("ROTAVINE_ARTIFACTS", QDir::currentPath());
        for (const int page : {1, count})
            run("pdftoppm", {"-png", "-r", "72", "-singlefile", "-f", QString::number(page), "-l",
                             QString::number(page), pdf, artifacts + QString("/planning-page-%1").arg(page)});
        QVERIFY(QFileInfo(artifacts + "/planning-page-1.png").size() > 0);
    }

    void legendOnEveryPage()
    {
        PlanningGrid grid;
        fillBenchPlanning(grid, nullptr, 40, 60);
        const Layout layout{Paper::A4, QPageLayout::Portrait, Fit::Tile, true};
        const QString pdf = m_folder.filePath("legend.pdf");
        savePdf(pdf, GridPainter(grid), layout, pageTexts());
        for (int page = 1; page <= 3; ++page)
            QVERIFY(pageText(pdf, page).contains("Holidays"));
    }

    // The layout dialog's choices are remembered; the PDF goes where the file dialog says, and a name that
    // cannot be written is said, not crashed on.
    void savePdfThroughDialogs()
    {
        SettingsStore settings(m_folder.filePath("settings.ini"));
        const LanguageTexts texts = LanguageTexts::load(ROTAVINE_SOURCE_DATA "/Language", "Francais");
        PlanningGrid grid;
        fillBenchPlanning(grid, nullptr, 5, 10);
        const GridPainter painter(grid);
        PrintRequest request{painter, texts, settings, pageTexts()};
        QString fileName = m_folder.filePath("saved.pdf");
        QStringList messages;
        PrintDialogs dialogs;
        dialogs.run = [](QDialog& dialog) {
            dialog.findChild<QComboBox*>("paperCombo")->setCurrentIndex(1);
            dialog.findChild<QComboBox*>("orientationCombo")->setCurrentIndex(1);
            dialog.findChild<QRadioButton*>("tileButton")->setChecked(true);
            dialog.findChild<QCheckBox*>("legendEveryPageBox")->setChecked(true);
            return int(QDialog::Accepted);
        };
        dialogs.pdfFileName = [&](QWidget*, const QString&, const QString&) { return fileName; };
        dialogs.message = [&](MessageIcon, const QString& text) { messages << text; };
        QVERIFY(savePlanningPdf(nullptr, request, dialogs));
        QVERIFY(run("pdfinfo", {fileName}).contains("842 x 1191"));
        QVERIFY(pageText(fileName, 1).contains("page 1 sur 1"));
        const Layout saved = loadPrintLayout(SettingsStore(m_folder.filePath("settings.ini")));
        QCOMPARE(saved.paper, Paper::A3);
        QCOMPARE(saved.orientation, QPageLayout::Portrait);
        QCOMPARE(saved.fit, Fit::Tile);
        QVERIFY(saved.legendOnEveryPage);

        fileName = m_folder.filePath("no/such/folder/saved.pdf");
        QVERIFY(!savePlanningPdf(nullptr, request, dialogs));
        QCOMPARE(messages.size(), 1);

        // Printing goes to the printer the dialog set up; here a PDF file.
        const QString printed = m_folder.filePath("printed.pdf");
        dialogs.run = [&](QDialog& dialog) {
            if (auto* print = qobject_cast<QPrintDialog*>(&dialog)) {
                print->printer()->setOutputFormat(QPrinter::PdfFormat);
                print->printer()->setOutputFileName(printed);
            }
            return int(QDialog::Accepted);
        };
        QVERIFY(printPlanning(nullptr, request, dialogs));
        QVERIFY(pageText(printed, 1).contains("Support desk"));
    }

private:
    QTemporaryDir m_folder;
};

QTEST_MAIN(TestPrintPlanning)
#include "tst_printplanning.moc"
