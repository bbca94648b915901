#include "app/demosettings.h"

#include "base/languagetexts.h"
#include "base/settingsstore.h"
#include "base/textids.h"
#include "mailbox/folder.h"
#include "mailbox/itemcollection.h"
#include "mailbox/mailbox.h"
#include "planning/planningmatrix.h"
#include "planning/teamgroups.h"

namespace {

struct DemoRule {
    const char* name;
    Message::Id kind;
    const char* keywords;
    qint64 colour; // OLE: blue, green, red
};

// Light colours, so that the appointments' text stays readable on them; the keywords are the demo
// calendars' categories.
constexpr DemoRule kRules[] = {
    {"Holidays", Message::FilterKindCategories, "Holiday;Sick leave;", 0x9BE29B},
    {"On call", Message::FilterKindCategories, "On call;Queue;", 0x70B8FF},
    {"Customer visits", Message::FilterKindCategories, "Customer;", 0xFFC58E},
    {"Training", Message::FilterKindCategories, "Training;Learning;", 0xFFB5D3},
    {"Travel", Message::FilterKindCategories, "Travel;", 0x80E6FF},
    {"Releases", Message::FilterKindCategories, "Release;", 0x9E9EFF},
};

// The marked team with the most members; empty when there is none.
QString largestTeam(Mailbox& mailbox)
{
    QString largest;
    int most = 0;
    try {
        ItemCollection items = openTeamFolder(mailbox)->items();
        for (int index = 1; index <= items.count(); ++index) {
            const std::shared_ptr<MailboxItem> item = items.item(index);
            if (item && isTeamGroup(*item) && item->memberCount() > most) {
                most = item->memberCount();
                largest = item->subject;
            }
        }
    }
    catch (const MailboxError&) {
        // Without teams the window starts without one, as it would for any new mailbox.
    }
    return largest;
}

} // namespace

void writeDemoSettings(SettingsStore& settings, const LanguageTexts& texts, Mailbox& mailbox)
{
    const QString parameters = QStringLiteral("Parameters");
    const auto writeNew = [&](const QString& section, const QString& key, const QString& value) {
        if (settings.read(section, key, {}).isEmpty())
            settings.write(section, key, value);
    };
    if (settings.list(QStringLiteral("Filters")).isEmpty()) {
        int priority = 0;
        for (const DemoRule& rule : kRules) {
            const QString name = QLatin1StringView(rule.name);
            settings.write(QStringLiteral("Filters"), name, QString());
            settings.write(name, QStringLiteral("Type"), texts.message(rule.kind));
            settings.write(name, QStringLiteral("Txt"), QLatin1StringView(rule.keywords));
            settings.write(name, QStringLiteral("Color"), QString::number(rule.colour));
            settings.write(name, QStringLiteral("ColorHtml"), oleColourToHtml(rule.colour));
            settings.write(name, QStringLiteral("Prior"), QString::number(++priority));
            settings.write(name, QStringLiteral("Selected"), QStringLiteral("1"));
        }
    }
    writeNew(parameters, QStringLiteral("Checked0"), QStringLiteral("1"));    // details shown
    writeNew(parameters, QStringLiteral("Checked2"), QStringLiteral("1"));    // rules applied
    writeNew(parameters, QStringLiteral("AtRunAction"), QStringLiteral("3")); // this week
    const QString team = largestTeam(mailbox);
    if (!team.isEmpty())
        writeNew(parameters, QStringLiteral("SelectedTeam"), team);
}
