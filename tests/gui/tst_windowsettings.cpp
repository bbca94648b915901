#include "base/programstate.h"
#include "base/settingsstore.h"
#include "gui/windowsettings.h"
#include "planning/filterlist.h"
#include "tests/support/fixtures.h"

#include <QTemporaryDir>
#include <QTest>

// What the main window's load step reads from a settings file, in one line.
static QString loaded(const QString& path)
{
    const SettingsStore settings(path);
    ProgramState program;
    EngineState engine;
    QString boxes;
    for (bool checked : loadWindowSettings(settings, program, engine))
        boxes += checked ? '1' : '0';
    QStringList filters;
    for (const FilterListEntry& filter : loadFilterList(settings))
        filters << filter.name + (filter.selected ? "*" : "");
    const auto number = [](double value) { return QString::number(value); };
    return QString("colour=%1 html=[%2] width=%3 start=%4 hours=%5-%6 delay=%7 checked=%8 filters=%9")
        .arg(number(engine.defaultColour), engine.defaultColourHtml, number(program.reportColumnWidth),
             number(program.startAction), number(program.dayStartHour), number(program.dayEndHour),
             number(program.refreshDelay), boxes, filters.join(','));
}

class TestWindowSettings : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    // Each settings file of the corpus says on its first line what the window reads from it.
    void load_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        for (const QFileInfo& file : QDir(ROTAVINE_TEST_DATA "/settings/window").entryInfoList(QDir::Files)) {
            QFile content(file.filePath());
            QVERIFY(content.open(QIODevice::ReadOnly));
            const QString first = QString::fromUtf8(content.readLine()).trimmed();
            QTest::newRow(qPrintable(file.fileName()))
                << file.filePath() << first.mid(first.indexOf(':') + 2);
        }
        // More filters than a byte counts.
        QByteArray content = "[Filters]\n";
        QStringList names;
        for (int i = 0; i < 300; ++i) {
            names << QString("Filter %1").arg(i);
            content += names.last().toUtf8() + "=\n";
        }
        writeFile(m_dir.filePath("many-filters.ini"), content + "[Filter 299]\nSelected=1\n");
        QTest::newRow("300 filters") << m_dir.filePath("many-filters.ini")
                                     << "colour=50372 html=[C4C400] width=60 start=0 hours=8-17 delay=0 "
                                        "checked=000000 filters=" +
                                            names.join(',') + '*';
    }
    void load()
    {
        QFETCH(QString, path);
        QTEST(loaded(path), "expected");
    }
};

QTEST_GUILESS_MAIN(TestWindowSettings)
#include "tst_windowsettings.moc"
