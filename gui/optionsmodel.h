#pragma once

#include "mailbox/mailboxsource.h"

#include <QString>

#include <optional>

class SettingsStore;
struct EngineState;
struct ProgramState;

// What the options dialog shows and saves, without its widgets.
namespace OptionsModel {

inline const QStringList kLanguages = {QStringLiteral("English"), QStringLiteral("Francais"),
                                       QStringLiteral("Espanol"), QStringLiteral("Italiano"),
                                       QStringLiteral("OtherLanguage")};
constexpr int kStartViewCount = 7;
constexpr int kDelayStep = 5;
// The refresh delay is kept in 16 bits; stepping stops below that.
constexpr int kMaxDelay = 32765;

// The calendar source as section "Source" holds it. The password is not among them: it is never written.
struct SourceValues {
    bool server = false;
    QString path;
    QString url;
    QString user;
    QString passwordCommand;
    bool checkCertificate = true;
    int timeoutSeconds = 30;
    QString ownerName;
    QString ownerAddress;
    bool operator==(const SourceValues&) const = default;
};

struct Values {
    QString language; // "" when no language is ticked
    int dayStartHour = 8;
    int dayEndHour = 17;
    QString reportColumnWidth; // as typed
    int startAction = 0;
    qint64 defaultColour = 50372;
    int refreshDelay = 0;
    SourceValues source;
};

Values load(const SettingsStore& settings, const ProgramState& program, const EngineState& engine);

// The column width a text gives: its absolute value, whole part, at most 255; nothing for a text that is no
// number.
std::optional<int> columnWidth(const QString& text);
// One step of the refresh delay up (+1) or down (-1); never below 0.
int steppedDelay(int delay, int direction);

// Why the source cannot be used as given, or nothing.
QString sourceProblem(const SourceValues& source);
// The source the program opens with these values at its next start; `error` set when it cannot.
MailboxSource mailboxSource(const SourceValues& source);

struct SaveResult {
    bool hoursRefused = false;
    QString storeError;    // a write failed: why; what follows it was not saved
    QString sourceProblem; // the source was left as it was
    bool sourceChanged = false;
};
// Saves in this order: language, hours (refused when the end is not after the start, which stops the save),
// column width (skipped when it is no number), start view, colour, refresh delay, then the source when it
// changed and can be used. The program and engine state follow what was written.
SaveResult save(SettingsStore& settings, const Values& values, ProgramState& program, EngineState& engine);

// What opening a source found.
struct SourceReport {
    QString error; // empty when it opened
    int teams = 0;
    int members = 0;
    int resolved = 0;
    int readable = 0;
};
SourceReport checkSource(const MailboxSource& source);

} // namespace OptionsModel
