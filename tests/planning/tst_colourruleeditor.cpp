#include "planning/colourruleeditor.h"

#include "base/languagetexts.h"
#include "base/settingsstore.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using Kind = ColourRuleEditor::Kind;

namespace {

constexpr int kRounds = 12;

const LanguageTexts english = LanguageTexts::load(ROTAVINE_SOURCE_DATA "/Language", "English");

QString names(SettingsStore& store)
{
    QStringList names;
    for (const ColourRuleEditor::Rule& rule : ColourRuleEditor(store, english).rules())
        names << rule.name;
    return names.join(',');
}

// One of the processes that save at once: rules <prefix>0..7 at priorities first..first+7, saved again and
// again with new keywords.
int saveRules(const QString& path, const QString& prefix, int first)
{
    SettingsStore store(path);
    ColourRuleEditor editor(store, english);
    for (int save = 0; save < 8 * kRounds; ++save) {
        const ColourRuleEditor::Draft rule{prefix + QString::number(save % 8),
                                           QStringLiteral("r%1").arg(save / 8 + 1), Kind::Subject, 0x123456,
                                           first + save % 8};
        if (!editor.save(rule).done())
            return 1;
    }
    return 0;
}

} // namespace

class TestColourRuleEditor : public QObject {
    Q_OBJECT

private slots:
    void savingChecksTheRule_data()
    {
        QTest::addColumn<QStringList>("input"); // stored, name, keywords, kind, priority
        for (const char* column : {"message", "rules", "written"})
            QTest::addColumn<QString>(column);
        QFile file(ROTAVINE_TEST_DATA "/filters/saves.txt");
        QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
        for (const QString& line : QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts)) {
            QStringList fields = line.trimmed().split(QRegularExpression(R"(\s*\|\s*)"));
            if (line.startsWith('#') || fields.size() != 9)
                continue;
            fields[2] = QJsonDocument::fromJson("[" + fields[2].toUtf8() + "]").array().at(0).toString();
            QString message;
            for (const QString& part : fields[6].split('+', Qt::SkipEmptyParts))
                message += part.toInt() ? english.message(part.toInt()) : part;
            QTest::newRow(qPrintable(fields[0])) << fields.mid(1, 5) << message << fields[7] << fields[8];
        }
    }
    void savingChecksTheRule()
    {
        QFETCH(QStringList, input);
        const QString& name = input[1];
        QTemporaryDir dir;
        SettingsStore store(dir.filePath("Rotavine.ini"));
        for (const QString& rule : input[0].split(',', Qt::SkipEmptyParts)) {
            QVERIFY(store.write("Filters", rule.section(':', 0, 0), ""));
            QVERIFY(store.write(rule.section(':', 0, 0), "Prior", rule.section(':', 1)));
        }
        const Kind kind = input[3] == "C" ? Kind::Categories : input[3] == "S" ? Kind::Subject : Kind::None;
        const ColourRuleEditor::Outcome outcome =
            ColourRuleEditor(store, english).save({name, input[2], kind, 0x0080FF, input[4].toInt()});
        QTEST(outcome.message, "message");
        QTEST(names(store), "rules");
        QStringList written;
        for (const char* key : {"Txt", "Prior", "Type", "ColorHtml", "Color"})
            written << store.read(name, key, "");
        QTEST(written.join('/'), "written");
    }

    void twoProcessesSavingAtOnceLoseNothing()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("Rotavine.ini");
        QProcess first, second;
        first.start(QCoreApplication::applicationFilePath(), {"--save-rules", path, "A", "1"});
        second.start(QCoreApplication::applicationFilePath(), {"--save-rules", path, "B", "9"});
        QVERIFY(first.waitForFinished(120000) && second.waitForFinished(120000));
        QCOMPARE(first.exitCode() + second.exitCode(), 0);
        SettingsStore store(path);
        QCOMPARE(names(store), "A0,A1,A2,A3,A4,A5,A6,A7,B0,B1,B2,B3,B4,B5,B6,B7");
        for (const ColourRuleEditor::Rule& rule : ColourRuleEditor(store, english).rules())
            QCOMPARE(rule.keywords + store.read(rule.name, "ColorHtml", ""),
                     QStringLiteral("r%1;563412").arg(kRounds));
    }
};

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc == 5 && qstrcmp(argv[1], "--save-rules") == 0)
        return saveRules(argv[2], argv[3], std::atoi(argv[4]));
    TestColourRuleEditor test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_colourruleeditor.moc"
