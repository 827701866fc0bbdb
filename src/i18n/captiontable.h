#pragma once

#include <QString>
#include <QStringList>

#include <array>

namespace oe {

// Entry numbers of the caption table that the program uses. Numbers not named here carry nothing the
// program shows, but a language file may still fill them.
namespace Caption {
enum Entry : int {
    RpmName = 0,              // Label1
    TinjName = 1,             // Label2
    PumpName = 2,             // Label3, also the pump lamp
    PauseName = 3,            // Label8
    ConnectionFrame = 4,      // Frame5
    Connect = 5,              // btnConnect while not connected
    Disconnect = 6,           // btnConnect while connected or connecting
    RpmMinFrame = 7,          // Frame2
    InjectionTimeFrame = 8,   // Frame3
    PumpTimeFrame = 9,        // Frame4
    PumpPauseFrame = 10,      // Frame6
    TinjMinName = 11,         // Label4
    TinjMaxName = 12,         // Label5
    PumpMinLoadName = 13,     // Label10
    PumpMaxLoadName = 14,     // Label7
    PauseMinLoadName = 15,    // Label6
    PauseMaxLoadName = 16,    // Label11
    ResetButton = 17,         // ResetCmd
    ConnectFailed = 26,       // message after a failed connection attempt
    MessageTitle = 27,        // title of every titled message box
    ResetNotConfirmed = 28,   // message: the reset command was not confirmed
    WriteNotConfirmed = 29,   // message: a parameter write was not confirmed
    About = 30,               // text of the About box
    RpmMultiplierFrame = 31,  // Frame7
    LoadMapButton = 32,       // cmdLoadMap
    SaveMapButton = 33,       // cmdSaveMap
    MapFrame = 34,            // Frame8
    LanguageMenu = 35,        // menuLinguaTop
    MapQuestion = 36,         // question before a map is sent (OK / Cancel)
    MapNotice = 37,           // notice after a map was sent and read back
    AfterReset = 38,          // message after every reset command
    PortLost = 39,            // message: the controller's port went away
    MapInvalid = 40,          // message: map file not valid; the reason is appended
    MapNotSaved = 41,         // message: the map file could not be saved
    SettingNotSaved = 42,     // message: config.ini could not be written
    // Why a map file was refused, after MapInvalid; %1 is the line, %2 the value or the system's reason.
    MapCannotRead = 43,
    MapTooLarge = 44,
    MapNotText = 45,
    MapTooFewLines = 46,
    MapTooManyLines = 47,
    MapBlankLine = 48,
    MapNoEquals = 49,
    MapNotANumber = 50,
    MapOutOfRange = 51,
    MapNoChanges = 52,        // in the question: the map holds the values the controller has
    MapAllMatch = 53,         // in the notice: the read-back found every value of the map
    MapDiffers = 54,          // in the notice: heads the list of parameters the read-back found different
    PartnerUnknown = 60,      // message: a commit's interlock partner could not be read; %1 names it
    NotAnswering = 61,        // LinkStateLabel: the status poll goes unanswered
    SaveUnknown = 62,         // message: no map saved while parameters are unknown; their names follow
    MapCrossedPair = 70,      // why a map was refused: %1 the pair's second line, %2 the pair and its values
    MapKeyNote = 71,          // in the question: %1 a line, %2 its key in the file, %3 the key it is read as
    ResetQuestion = 72,       // question before the reset command (OK / Cancel, Cancel the default)
    HelpNotOpened = 73,       // message: the desktop could not open the manual; %1 its full path
    FileNotFound = 74,        // why a file could not be read or saved: it, or its folder, does not exist
    FileNoPermission = 75,    // ... access is denied
    DiskFull = 76,            // ... the disk is full
    NotAFile = 77,            // ... a folder or device was chosen
    NoisyLine = 90,           // LinkStateLabel: %1 is the share of tries that failed over the last minute
    NoValidReply = 91,        // why a connect failed: bytes came, none made a reply; %1 is the device
    // Why a connect failed, below ConnectFailed; %1 is the device, %2 the system's words.
    PortNotFound = 100,
    PortInUse = 101,
    PortNoPermission = 102,
    PortNotATty = 103,
    PortOtherError = 104,
    NoIdentification = 105,   // the port opened, the controller stayed silent
    DataFolderNote = 215,     // in the About box when the files live elsewhere; %1 that folder
    NoPortSelected = 106,
    SearchPorts = 107,        // the failure box's button
    SearchProgress = 108,     // %1: the port being tried
    SearchFound = 109,        // question; %1 the port, %2 its device
    SearchNothing = 110,
    AdapterOffer = 111,       // question; %1 the device, %2 its description, %3 the port offered
    AdapterLinkFailed = 112,  // %1 the port, %2 why
    LinkDangling = 113,       // a port's tooltip; %1 the missing device, %2 the link
    MapsNotAFolder = 80,      // message: Maps in the program folder is not a folder
    MapReplace = 81,          // question: replace the map file %1?
    LanguageFileUnreadable = 82, // message: no language in Language.ini; the built-in texts are shown
    ToolsMenu = 120,          // menuToolsTop
    ChartItem = 121,          // menuTools_0, also opens the chart window
    RecordItem = 122,         // menuTools_1
    ReadItem = 123,           // menuTools_2
    ChartTitle = 124,         // the chart window's title
    ChartPause = 125,         // the chart's pause button
    ChartSave = 126,          // the chart's button that saves a picture
    RecordNotStarted = 127,   // message: the recording file could not be created; %1 the reason
    RecordStopped = 128,      // message: a recording stopped on a write failure; %1 the file
    PictureNotSaved = 129,    // message: the chart's picture could not be saved
    ReadSame = 130,           // after Read: the controller holds what the window shows
    ReadDiffers = 131,        // after Read: heads the list of parameters found different
    ReadUnanswered = 132,     // after Read: heads the list of parameters that got no answer
    BeyondSlider = 140,       // a parameter's tooltip: %1 the value held, %2 and %3 the slider's ends
    RereadAfterSilence = 141, // LinkStateLabel: unknown parameters are read again once the controller answers
    AnotherController = 142,  // LinkStateLabel: after a silence another controller, or other values, answered
    // What the value rule made of a value (valuetexts.h): %1 the value given or written, %2 and %3
    // parameter names or values.
    ValueNotANumber = 160,    // %1 the text
    ValueOutsideWire = 161,   // %1 the number
    ValueBeyondSlider = 162,  // %1 the number, %2 the slider's end it passes
    ValuePartnerUnknown = 163, // %1 the partner never read
    ValueRounded = 164,       // %1 the value given, %2 the whole number written
    ValueStepped = 165,       // %1 the value written, %2 the parameter, %3 the step
    ValueHeld = 166,          // %1 the value written, %2 the parameter, %3 its partner
    MapAlreadyMatches = 167,  // oe-cli load: nothing differs, nothing written
    PortNotOpened = 180,      // message after a connect whose port could not be opened; the reason follows
    ChoosePort = 181,         // below NoPortSelected: what to do
    PortNotYours = 182,       // no permission on a device outside dialout: %1 port, %2 device, %3 owner:group, %4 mode
    // What assistive technology says about the controls: names and descriptions.
    ValueAndRange = 183,      // a parameter: %1 its value with unit, %2 and %3 its range
    ValueNotKnown = 184,      // a parameter or reading the controller has not reported
    PumpOn = 185,             // the pump lamp, lit
    PumpOff = 186,            // the pump lamp, dark
    RpmReading = 187,         // %1 the engine speed
    TinjReading = 188,        // %1 the injection time
    ConnectHint = 189,        // btnConnect while not connected
    DisconnectHint = 190,     // btnConnect while connected or connecting
    ResetHint = 191,
    LoadMapHint = 192,
    SaveMapHint = 193,
    PortListName = 194,       // COMM_Combo
    LinkStateName = 195,      // the line over the logo
    VersionName = 196,        // Label9
    RecordingTo = 197,        // the REC mark; %1 the file
    LampHint = 198,
    PortListHint = 199,
    // Restore points, the map editor and the compare
    RestorePointSaved = 250,  // in a question or notice: %1 the restore point's file
    RestorePointUnknown = 251,  // %1 the values the controller did not tell
    RestorePointNotSaved = 252,  // %1 why the file could not be written
    UndoButton = 253,  // the notice's button that restores the values from before
    RestoreItem = 254,  // Tools menu
    EditMapItem = 255,  // Tools menu
    CompareItem = 256,  // Tools menu
    RestoreTitle = 257,  // the restore points window
    ColumnTime = 258,
    ColumnCause = 259,
    ColumnChanges = 260,  // what a restore point holds otherwise than the controller
    CauseReset = 261,
    CauseLoad = 262,
    CauseBackup = 263,  // a backup taken on request
    RestoreButton = 264,
    SameAsController = 265,
    NoRestorePoints = 266,
    CompareTitle = 267,  // %1 the file compared
    ColumnParameter = 268,
    ColumnFile = 269,
    ColumnController = 270,
    ColumnDiffers = 271,
    DiffersMark = 272,  // in the Differs column
    EditorTitle = 273,  // the map editor's window
    EditorOpen = 274,
    EditorSave = 275,
    EditorSaveAs = 276,
    EditorCompare = 277,
    EditorLoad = 278,
    EditorUnsaved = 279,  // question when the editor closes with unsaved changes
    // Where a map came from (its lines 9 to 11)
    OriginFirmware = 300,  // %1 the firmware the map was saved from
    OriginSaved = 301,     // %1 when it was saved; follows OriginFirmware after a comma
    OriginNote = 302,      // %1 the technician's note
    OtherFirmware = 303,   // in the load question: %1 the map's firmware, %2 the controller's
    NoteQuestion = 304,    // asked at Save: the note to keep in the map
    ColumnNote = 305,      // the Restore list's column
    EditorNote = 306,      // the editor's note field
    NoOrigin = 307,        // a map that does not say where it came from
    MapExtraOutOfRange = 308, // why a map was refused: %1 a line past the eighth, %2 its text
    // A recording opened in the chart
    OpenRecordingItem = 309,  // Tools menu
    RecordingTitle = 310,     // the recording window's title, before the file's name
    RecordingForeign = 311,   // %1 the file: not a recording of this program
    RecordingCutShort = 312,  // %1 the file, %2 the first line not shown
    RecordingNotRead = 313,   // %1 the file, %2 why
    ColumnPort = 320,     // the restore points window: the port the values were taken on
    ColumnFirmware = 321,
    CauseProgram = 322,   // a restore point of one controller of oe-cli's program
    OtherController = 323, // a restore point taken of another controller than the one connected
    EditorPairCrossed = 324, // %1 and %2: the pair the editor's fields hold crossed; %3 the rule
    EditorEmpty = 325,    // the editor's fields still empty: %1 their names
    // A lost port: what stopped, what to do, and the wait for the port to come back.
    PortLostPoll = 400,
    PortLostRecording = 401,  // %1 the recording's file
    PortLostSequence = 402,   // a map load or a reset cut off
    PortLostUnsent = 403,     // %1 the parameter and the value typed
    PortLostWhatToDo = 404,   // %1 the port, %2 the minutes the window waits for it
    ReconnectNow = 405,       // the box's button
    ReconnectWaiting = 406,   // the line over the logo; %1 the port
    Reconnected = 407,        // %1 the port
    ReconnectGaveUp = 408,    // %1 the port
    ReconnectStopped = 409,   // %1 the port
    ReadingsPaused = 410,     // the readings' word while a map dialog holds the poll
    MapSavedTo = 411,         // the line over the logo after Save Map; %1 the file
    // The menus with their access keys ("&" before the letter), in place of the plain captions.
    LanguageMenuKeyed = 412,
    InfoMenuKeyed = 413,
    ToolsMenuKeyed = 414,
    ItalianItemKeyed = 415,
    EnglishItemKeyed = 416,
    HelpItemKeyed = 417,
    AboutItemKeyed = 418,
    ChartItemKeyed = 419,
    RecordItemKeyed = 420,
    ReadItemKeyed = 421,
    RestoreItemKeyed = 422,
    EditMapItemKeyed = 423,
    CompareItemKeyed = 424,
};
} // namespace Caption

// The caption table: one text per entry number 0 to 1000, all empty until a language is loaded.
// Loading a language only ever overwrites entries, so an entry a language leaves out keeps the
// text of the language loaded before it.
class CaptionTable
{
public:
    static constexpr int kFirstEntry = 0;
    static constexpr int kLastEntry = 1000;
    static constexpr int kEntryCount = kLastEntry + 1;

    static constexpr bool isEntry(int entry) { return entry >= kFirstEntry && entry <= kLastEntry; }

    // Empty for a number outside 0 to 1000.
    QString text(int entry) const;
    // Ignored for a number outside 0 to 1000; returns whether the text was stored.
    bool set(int entry, const QString &text);

    bool operator==(const CaptionTable &other) const { return m_texts == other.m_texts; }

private:
    std::array<QString, kEntryCount> m_texts;
};

// A caption with %1 to %9 replaced by args in one pass, so a value such as "%1" read from a file, a
// device path or a system message is shown as it is, and a translation that leaves out a placeholder
// loses only that piece. A placeholder beyond args stays as written. Every caption with blanks to fill
// goes through here.
QString fillPlaceholders(const QString &text, const QStringList &args);

} // namespace oe
