#pragma once

#include <QObject>

// Entry numbers of the language files, so that code names a text instead of a bare number.
// ScreenText numbers index <Language>Scr.txt (window and control captions and tooltips; a
// window or control carries its number as its tag); Message numbers index <Language>Msg.txt.
// The numbers are part of the file format: users write their own OtherLanguage files against
// them, so an existing number never changes meaning. Both lists are registered with the meta-object system,
// so that every number the program uses can be listed (the language files must give them all).

namespace ScreenText {
Q_NAMESPACE
enum Id : int {
    // Main window: caption, grid, date range, team, members, filters
    MainWindowCaption = 1,
    PlanningGrid = 2,
    DateRangeLabel = 3,
    DateFrom = 4,
    DateTo = 5,
    TeamLabel = 10,
    TeamList = 11,
    MembersLabel = 12,
    MemberList = 13,
    FiltersLabel = 14,
    FilterList = 15,

    // Main window: the six display check boxes
    FlagShowDetails = 20,
    FlagHidePrivate = 21,
    FlagUseFilters = 22,
    FlagFilteredOnly = 23,
    FlagHideWeekends = 24,
    FlagShowTimes = 25,

    // Main window: cancel button, size buttons and zoom pictures
    CancelQuery = 30,
    RestoreWidth = 31,
    ColumnsNarrower = 32,
    ColumnsWider = 33,
    RowsTaller = 34,
    RowsShorter = 35,

    // Main window: detail panel and its action buttons
    DetailsPanel = 40,
    DetailsSendMail = 41,
    DetailsOpenCalendar = 42,
    DetailsNewAppointment = 43,
    DetailsClose = 44,

    // Main window: status bar and pop-up menu
    StatusBarState = 50,
    StatusBarRunTime = 51,
    PopupMenu = 60,
    PopupMenuShow = 61,

    // Toolbar: day views button and its menu
    ToolbarDaily = 100,
    ToolbarDailyToday = 101,
    ToolbarDailyTomorrow = 102,
    ToolbarDailyChosenDay = 103,

    // Toolbar: period button and its menu
    ToolbarPeriod = 110,
    ToolbarPeriodThisWeek = 111,
    ToolbarPeriodNextWeek = 112,
    ToolbarPeriodThisMonth = 113,
    ToolbarPeriodNextMonth = 114,
    ToolbarPeriodDates = 115,
    ToolbarPeriodColour = 116,

    // Toolbar: refresh, compact layout, copy and loupe buttons
    ToolbarRefresh = 120,
    ToolbarMaxMin = 130,
    ToolbarCopy = 140,
    ToolbarLoupe = 150,

    // Toolbar: report button and its menu
    ToolbarReport = 160,
    ToolbarReportDetailed = 161,
    ToolbarReportColour = 162,
    ToolbarReportImage = 163,

    // Toolbar: tools button and its menu
    ToolbarTools = 170,
    ToolbarToolsGroups = 171,
    ToolbarToolsFilters = 172,
    ToolbarToolsOptions = 173,

    // Filter dialog
    FilterDialogCaption = 200,
    FilterGrid = 201,
    FilterGridHeaderType = 202,
    FilterGridHeaderName = 203,
    FilterGridHeaderKeywords = 204,
    FilterGridHeaderPriority = 205,
    FilterNameLabel = 210,
    FilterName = 211,
    FilterKeywordsLabel = 212,
    FilterKeywords = 213,
    FilterKindLabel = 214,
    FilterMatchCategories = 215,
    FilterMatchSubject = 216,
    FilterColourLabel = 217,
    FilterColour = 218,
    FilterPriorityLabel = 219,
    FilterPriorityUp = 220,
    FilterPriorityDown = 221,
    FilterSave = 222,
    FilterDelete = 223,
    FilterClose = 224,

    // Group dialog
    GroupDialogCaption = 300,
    GroupDialogHelp = 301,
    GroupTeamLabel = 302,
    GroupTeamList = 303,
    GroupMembersLabel = 304,
    GroupMemberList = 305,
    GroupMarkAndOpen = 306,
    GroupDelete = 307,
    GroupNewTeam = 308,
    GroupEditMembers = 309,
    GroupClose = 310,

    // Team editor
    TeamEditorCaption = 320,
    TeamEditorNameLabel = 321,
    TeamEditorName = 322,
    TeamEditorMembersLabel = 323,
    TeamEditorMemberList = 324,
    TeamEditorSearchLabel = 325,
    TeamEditorSearch = 326,
    TeamEditorPersonList = 327,
    TeamEditorAdd = 328,
    TeamEditorRemove = 329,
    TeamEditorSave = 330,
    TeamEditorCancel = 331,

    // Options dialog: caption, page selector and page frames
    OptionsDialogCaption = 400,
    OptionsPageHours = 401,
    OptionsPageStartView = 402,
    OptionsPageRefresh = 403,
    OptionsPageMisc = 404,
    OptionsPageLanguage = 405,
    OptionsFrameHours = 411,
    OptionsFrameStartView = 412,
    OptionsFrameRefresh = 413,
    OptionsFrameMisc = 414,
    OptionsFrameLanguage = 415,

    // Options dialog: language buttons (captions are the language file names)
    OptionsLanguageEnglish = 421,
    OptionsLanguageFrench = 422,
    OptionsLanguageSpanish = 423,
    OptionsLanguageItalian = 424,
    OptionsLanguageOther = 425,

    // Options dialog: working hours, start view, refresh and miscellaneous pages
    OptionsDayStartLabel = 430,
    OptionsDayStart = 431,
    OptionsDayEndLabel = 432,
    OptionsDayEnd = 433,
    OptionsStartViewLabel = 440,
    OptionsStartView = 441,
    OptionsRefreshLabel = 450,
    OptionsRefreshUp = 451,
    OptionsRefreshDown = 452,
    OptionsReportWidthLabel = 460,
    OptionsReportWidth = 461,
    OptionsDefaultColourLabel = 462,
    OptionsDefaultColour = 463,
    OptionsApply = 470,
    OptionsVersionLabel = 471,

    // Options dialog: calendar source page
    OptionsPageSource = 472,
    OptionsFrameSource = 473,
    OptionsSourceFolder = 474,
    OptionsSourcePath = 475,
    OptionsSourceBrowse = 476,
    OptionsSourceServer = 477,
    OptionsServerUrlLabel = 478,
    OptionsServerUrl = 479,
    OptionsServerUserLabel = 480,
    OptionsServerUser = 481,
    OptionsPasswordCommandLabel = 482,
    OptionsPasswordCommand = 483,
    OptionsPasswordLabel = 484,
    OptionsPassword = 485,
    OptionsCheckCertificate = 486,
    OptionsTimeoutLabel = 487,
    OptionsTimeout = 488,
    OptionsOwnerNameLabel = 489,
    OptionsOwnerName = 490,
    OptionsOwnerAddressLabel = 491,
    OptionsOwnerAddress = 492,
    OptionsTestSource = 493,

    // Appointment dialog
    AppointmentDialogCaption = 500,
    AppointmentCalendar = 501,
    AppointmentHoursLabel = 502,
    AppointmentHours = 503,
    AppointmentMinutesLabel = 504,
    AppointmentMinutes = 505,
    AppointmentStartSelector = 510,
    AppointmentEndSelector = 511,
    AppointmentStartTime = 512,
    AppointmentEndTime = 513,
    AppointmentSubjectLabel = 520,
    AppointmentSubject = 521,
    AppointmentAllDay = 522,
    AppointmentModeLabel = 530,
    AppointmentMode = 531,
    AppointmentCreate = 540,
    AppointmentCancel = 541,
    AppointmentStartWhen = 542,
    AppointmentEndWhen = 543,

    // Printing and the PDF of the planning
    PrintMenu = 600,
    SavePdfMenu = 601,
    PrintLayoutCaption = 602,
    PrintPaperLabel = 603,
    PrintOrientationLabel = 604,
    PrintLandscape = 605,
    PrintPortrait = 606,
    PrintFitLabel = 607,
    PrintFitWidth = 608,
    PrintTile = 609,
    PrintLegendEveryPage = 610,
    PrintOk = 611,
    PrintCancel = 612,
    PrintPageOf = 613,
    PrintPaperA4 = 614,
    PrintPaperA3 = 615,
    PrintPaperLetter = 616,
    PrintPdfFilter = 617,
};
Q_ENUM_NS(Id)
} // namespace ScreenText

namespace Message {
Q_NAMESPACE
enum Id : int {
    FilterKindCategories = 1, // stored in each filter's settings
    FilterKindSubject = 2,    // stored in each filter's settings
    ReportTeamTitle = 3,      // "PLANNING " + text + ":  " + team
    ReportLegendTitle = 4,
    ReportPeriodFrom = 5,    // text + first day
    ReportPeriodTo = 6,      // text + last day
    CalendarUnreachable = 7, // text + member name, or text + line break + error
    NoTempFolder = 8,
    NoTeamMembers = 9,
    PictureCopied = 10,
    WeekPrefix = 11, // text + week number
    NoTeamName = 14,
    TeamDeleteFailed = 15,
    ConfirmDeleteTeam = 16, // text + team name + "?"
    ConfirmMarkTeam = 18,   // team name + text
    OptionsSaved = 20,
    HoursNotSaved = 21,
    OptionsCaptionPrefix = 24, // text + program title
    TooManyFilters = 25,
    FilterIncomplete = 26,
    DayHeaderPattern = 29, // date pattern
    MailBodyIntro = 30,    // text + line break + date and time
    PrivateAppointment = 31,
    ReportViewRefused = 32,
    HoursOutOfOrder = 33,
    StartViewNone = 34,
    StartViewToday = 35,
    StartViewTomorrow = 36,
    StartViewThisWeek = 37,
    StartViewNextWeek = 38,
    StartViewThisMonth = 39,
    StartViewNextMonth = 40,
    LastRunPrefix = 41,       // text + date + " " + time
    PriorityTakenBefore = 43, // text + filter name + message 44
    PriorityTakenAfter = 44,
    QueryCancelled = 45,
    ItemUnreadable = 46, // shown after the member, subject and start
    AppointmentModeMember = 47,
    AppointmentModeEveryMember = 48,
    AppointmentModeMeeting = 49,
    TrayShow = 50,
    TrayRefresh = 51,
    TraySeparator = 52, // separator
    TrayWeb = 53,
    TrayClose = 54,
    TooManyMembers = 100,
    ReportFailed = 101,
    PeriodTooLong = 102,
    DemoDataShown = 103, // text + the folder of the demo mailbox
    NothingToCopy = 104,
    FilteredOnlyNeedsFilters = 105, // text + the caption of the "apply filters" box
    ReportNotOpened = 106,          // text + the page's path
    LegendTitle = 107,
    DesktopCannotOpen = 108, // text + why
    AppointmentEndBeforeStart = 110,
    AppointmentTimeInvalid = 111, // text + the time as typed
    AppointmentOthersCreated = 112,
    FilterNameReserved = 115, // text + filter name
    FilterNameUnsafe = 116,
    FilterNotSaved = 117,            // text + the store's error description
    ConfirmDeleteFilterBefore = 118, // text + filter name + message 119
    ConfirmDeleteFilterAfter = 119,
    TeamNameTaken = 120, // text + name
    TeamChangedElsewhere = 121,
    TeamNotSaved = 122,          // text + line break + error
    TeamNotMarked = 123,         // text + line break + error
    TeamNotOpened = 124,         // text + line break + error
    AddressBookUnreadable = 125, // text + line break + error
    DiscardTeamChanges = 126,
    NotAnAddress = 127,     // text + what was typed
    OptionsNotSaved = 130,  // text + the store's error description
    SourceNotChanged = 131, // text + why
    PasswordNotKept = 132,
    SourceOpened = 133,
    SourceTeams = 134,             // text + count
    SourceMembersResolved = 135,   // text + found + " / " + members
    SourceCalendarsReadable = 136, // text + count
    SourceNotOpened = 137,         // text + line break + error
    SourceNotChosen = 138,
    OfflineSince = 140, // text + " " + when the server was last reached (the mirrored calendars' time)
};
Q_ENUM_NS(Id)
} // namespace Message
