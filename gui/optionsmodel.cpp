#include "gui/optionsmodel.h"

#include "base/languagetexts.h"
#include "base/programstate.h"
#include "base/settingsstore.h"
#include "mailbox/mailbox.h"
#include "mailbox/mailboxerror.h"
#include "planning/enginestate.h"
#include "planning/planningmatrix.h"
#include "planning/teamgroups.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QSet>
#include <QTemporaryDir>

#include <cmath>

namespace OptionsModel {

namespace {

const auto kParameters = QStringLiteral("Parameters");
const auto kSource = QStringLiteral("Source");

SourceValues loadSource(const SettingsStore& settings)
{
    const auto read = [&](const char* key) {
        return settings.read(kSource, QLatin1StringView(key), QString()).trimmed();
    };
    SourceValues source;
    source.path = read("Path");
    source.url = read("CalDavUrl");
    source.server = !source.url.isEmpty();
    source.user = read("CalDavUser");
    source.passwordCommand = read("PasswordCommand");
    source.checkCertificate = settings.readInt(kSource, QStringLiteral("InsecureTls"), 0, 0, 1) == 0;
    source.timeoutSeconds = settings.readInt(kSource, QStringLiteral("TimeoutSeconds"), 30, 1, 3600);
    source.ownerName = read("OwnerName");
    source.ownerAddress = read("OwnerAddress");
    return source;
}

} // namespace

Values load(const SettingsStore& settings, const ProgramState& program, const EngineState& engine)
{
    Values values;
    values.language = LanguageTexts::languageName(settings);
    values.dayStartHour = settings.readInt(kParameters, QStringLiteral("StartDayHour"), 8, 0, 24);
    values.dayEndHour = settings.readInt(kParameters, QStringLiteral("enddayhour"), 17, 0, 24);
    values.reportColumnWidth = settings.read(kParameters, QStringLiteral("HeightCol"), QStringLiteral("60"));
    values.startAction = program.startAction < kStartViewCount ? program.startAction : 0;
    values.defaultColour = resolveOleColour(qint64(engine.defaultColour));
    values.refreshDelay = settings.readInt(kParameters, QStringLiteral("AutomaticDelay"), 0, 0, kMaxDelay);
    values.source = loadSource(settings);
    return values;
}

std::optional<int> columnWidth(const QString& text)
{
    bool numeric = false;
    double number = QLocale::c().toDouble(text.trimmed(), &numeric);
    if (!numeric)
        number = QLocale().toDouble(text.trimmed(), &numeric);
    if (!numeric || !std::isfinite(number))
        return std::nullopt;
    return int(std::min(std::trunc(std::fabs(number)), 255.0));
}

int steppedDelay(int delay, int direction)
{
    const int stepped = delay + direction * kDelayStep;
    if (stepped <= 0)
        return 0;
    return stepped > kMaxDelay ? delay : stepped;
}

MailboxSource mailboxSource(const SourceValues& source)
{
    if (!source.server && source.path.trimmed().isEmpty()) {
        MailboxSource none;
        none.error = QStringLiteral("no folder chosen");
        return none;
    }
    // The values go through the same choice as at start-up, from a store of their own.
    QTemporaryDir folder;
    SettingsStore settings(folder.filePath(QStringLiteral("source.ini")));
    const std::pair<const char*, QString> entries[] = {
        {"Path", source.path.trimmed()},
        {"CalDavUrl", source.server ? source.url.trimmed() : QString()},
        {"CalDavUser", source.user.trimmed()},
        {"PasswordCommand", source.passwordCommand.trimmed()},
        {"InsecureTls", source.checkCertificate ? QStringLiteral("0") : QStringLiteral("1")},
        {"TimeoutSeconds", QString::number(source.timeoutSeconds)},
        {"OwnerName", source.ownerName.trimmed()},
        {"OwnerAddress", source.ownerAddress.trimmed()}};
    for (const auto& [key, value] : entries) {
        if (!settings.write(kSource, QLatin1StringView(key), value)) {
            MailboxSource failed;
            failed.error = settings.errorString();
            return failed;
        }
    }
    return chooseMailboxSource(settings, {}, QString(), QString());
}

QString sourceProblem(const SourceValues& source)
{
    // An empty folder means the demo mailbox, as at the first start.
    if (!source.server && source.path.trimmed().isEmpty())
        return QString();
    return mailboxSource(source).error;
}

SaveResult save(SettingsStore& settings, const Values& values, ProgramState& program, EngineState& engine)
{
    SaveResult result;
    const auto write = [&](const QString& section, const char* key, const QString& value) {
        if (!result.storeError.isEmpty())
            return false;
        if (!settings.write(section, QLatin1StringView(key), value))
            result.storeError = settings.errorString();
        return result.storeError.isEmpty();
    };

    if (!write(kParameters, "Language", values.language))
        return result;

    if (values.dayEndHour <= values.dayStartHour) {
        result.hoursRefused = true;
        return result;
    }
    if (!write(kParameters, "StartDayHour", QString::number(values.dayStartHour)) ||
        !write(kParameters, "EndDayHour", QString::number(values.dayEndHour)))
        return result;
    program.dayStartHour = std::uint8_t(values.dayStartHour);
    program.dayEndHour = std::uint8_t(values.dayEndHour);

    if (const std::optional<int> width = columnWidth(values.reportColumnWidth)) {
        if (!write(kParameters, "HeightCol", QString::number(*width)))
            return result;
        program.reportColumnWidth = std::uint8_t(*width);
    }

    if (!write(kParameters, "AtRunAction", QString::number(values.startAction)))
        return result;
    program.startAction = std::uint8_t(values.startAction);

    const QString html = oleColourToHtml(values.defaultColour);
    if (!write(kParameters, "DefaultColor", QString::number(values.defaultColour)) ||
        !write(kParameters, "DefaultColorHTML", html))
        return result;
    engine.defaultColour = double(values.defaultColour);
    engine.defaultColourHtml = html;

    if (!write(kParameters, "AutomaticDelay", QString::number(values.refreshDelay)))
        return result;
    program.refreshDelay = std::int16_t(values.refreshDelay);

    if (values.source == loadSource(settings))
        return result;
    result.sourceProblem = sourceProblem(values.source);
    if (!result.sourceProblem.isEmpty())
        return result;
    const SourceValues& source = values.source;
    // The address goes last: until it is written, a half-saved server source still opens the folder.
    const std::pair<const char*, QString> entries[] = {
        {"Path", source.path.trimmed()},
        {"CalDavUser", source.user.trimmed()},
        {"PasswordCommand", source.passwordCommand.trimmed()},
        {"InsecureTls", source.checkCertificate ? QStringLiteral("0") : QStringLiteral("1")},
        {"TimeoutSeconds", QString::number(source.timeoutSeconds)},
        {"OwnerName", source.ownerName.trimmed()},
        {"OwnerAddress", source.ownerAddress.trimmed()},
        {"CalDavUrl", source.server ? source.url.trimmed() : QString()}};
    for (const auto& [key, value] : entries) {
        if (!write(kSource, key, value))
            return result;
    }
    result.sourceChanged = true;
    return result;
}

SourceReport checkSource(const MailboxSource& source)
{
    SourceReport report;
    try {
        const std::unique_ptr<Mailbox> mailbox = openMailbox(source);
        std::shared_ptr<Folder> teamFolder;
        try {
            teamFolder = openTeamFolder(*mailbox);
        }
        catch (const MailboxError& error) {
            if (error.number() != MailboxError::NotFound)
                throw;
        }
        QStringList members;
        QSet<QString> seen;
        for (const std::shared_ptr<MailboxItem>& item :
             teamFolder ? teamFolder->storedItems() : QList<std::shared_ptr<MailboxItem>>()) {
            if (!isTeamGroup(*item))
                continue;
            ++report.teams;
            for (int index = 1; index <= item->memberCount(); ++index) {
                const QString member = item->member(index);
                if (!seen.contains(member.toCaseFolded())) {
                    seen.insert(member.toCaseFolded());
                    members << member;
                }
            }
        }
        report.members = int(members.size());
        const QDateTime today = QDateTime(QDate::currentDate(), QTime(0, 0));
        const TimeWindow week{today.addDays(7), today};
        for (const QString& member : members) {
            Recipient recipient = mailbox->createRecipient(member);
            if (!recipient.resolve())
                continue;
            ++report.resolved;
            try {
                mailbox->sharedDefaultFolder(recipient, Mailbox::kCalendarFolder)->occurrences(week);
                ++report.readable;
            }
            catch (const MailboxError&) {
                // Counted as unreadable; the other calendars are still tried.
            }
        }
    }
    catch (const MailboxError& error) {
        report.error = error.description();
    }
    catch (const std::exception& error) {
        report.error = QString::fromLocal8Bit(error.what());
    }
    return report;
}

} // namespace OptionsModel
