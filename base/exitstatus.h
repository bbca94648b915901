#pragma once

// How the program ends. An unattended run exits 0 only when its report reached the output; every other value
// says why not, so that a scheduler can tell. Listed in the README; the numbers never change meaning.
enum class ExitStatus : int {
    Delivered = 0,
    StartFailed = 1, // no temporary folder, or the program could not start
    UsageError = 2,  // unknown option or unreadable value
    ReportKeywordError = 3,
    ViewRefused = 4, // the report cannot show this view (message 32)
    ViewKeywordError = 5,
    UnknownTeam = 6,
    EmptyTeam = 7,
    MailboxNotOpened = 8,
    OutputNotWritable = 9,  // the page could not reach the output folder
    PictureFailed = 10,     // the planning picture could not be saved
    ReportFailed = 11,      // the page could not be written (template missing, temporary folder full)
    NothingRead = 12,       // no member's calendar could be read: nothing was published
    PartlyRead = 13,        // published, but some members' calendars could not be read (named on stderr)
    ServerUnreachable = 14, // the calendar server could not be reached: nothing was published
};

constexpr int exitCode(ExitStatus status)
{
    return static_cast<int>(status);
}
