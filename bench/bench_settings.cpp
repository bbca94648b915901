// bench-settings: loading many colour rules from the settings file, as the queries do before they run. The
// time per rule must stay flat as the rules grow: a store that searched its sections one by one took 7 s for
// 5 000 rules and over a minute for 20 000.
//   bench-settings [--rules N,...]

#include "base/languagetexts.h"
#include "base/settingsstore.h"
#include "base/textids.h"
#include "planning/colourrules.h"
#include "planning/filterlist.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

using namespace Qt::StringLiterals;

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QList<int> counts{2500, 5000, 10000, 20000};
    const QStringList arguments = application.arguments();
    if (const qsizetype at = arguments.indexOf(u"--rules"_s); at >= 0 && at + 1 < arguments.size()) {
        counts.clear();
        for (const QString& count : arguments.at(at + 1).split(u','))
            counts << count.toInt();
    }
    QTemporaryDir dir;
    const LanguageTexts texts = LanguageTexts::load(dir.path(), u"English"_s); // the built-in English texts
    std::printf("%8s %12s %16s\n", "rules", "load (ms)", "per 1000 (ms)");
    for (const int count : std::as_const(counts)) {
        // Written as text, as a user's file holds them; the store reads it as it is.
        QByteArray file = "[Filters]\n";
        for (int rule = 0; rule < count; ++rule)
            file += "Rule " + QByteArray::number(rule) + "=\n";
        for (int rule = 0; rule < count; ++rule)
            file += "[Rule " + QByteArray::number(rule) +
                    "]\nType=" + texts.message(Message::FilterKindSubject).toUtf8() + "\nTxt=word" +
                    QByteArray::number(rule) +
                    ";\nColor=255\nColorHtml=FF0000\nPrior=" + QByteArray::number(1 + rule % 16) +
                    "\nSelected=1\n";
        const QString path = dir.filePath(u"rules-%1.ini"_s.arg(count));
        QFile out(path);
        if (!out.open(QIODevice::WriteOnly) || out.write(file) != file.size())
            return 1;
        out.close();

        QElapsedTimer timer;
        timer.start();
        const SettingsStore settings(path);
        ColourRules rules([](const QString&) {});
        rules.load(loadFilterList(settings), settings, texts);
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        std::printf("%8d %12.1f %16.2f\n", count, ms, ms * 1000.0 / count);
    }
    return 0;
}
