// PluginState: all data of the one plug-in object, in one flat record.
//
// Allocated once by GetIface2 and never resized; nothing is allocated after
// construction. The packet path (OnStreamData, on a host thread) and the
// window thread share parts of it; `lock` guards every shared field (see the
// comment on it).
#ifndef KESTRIN_PLUGIN_PLUGIN_STATE_H
#define KESTRIN_PLUGIN_PLUGIN_STATE_H

#include <cstdint>
#include <mutex>

#include "plugin/caption_state.h"
#include "plugin/guide_keeper_state.h"
#include "plugin/guide_state.h"
#include "plugin/platform.h"
#include "plugin/section_mailbox.h"
#include "text/event_formatter.h"
#include "text/service_name.h"
#include "ts/packet.h"
#include "ts/programme_map.h"
#include "ts/section_assembler.h"

const int32_t kChannelButtonCount = 12;
// Physical channels of UHF terrestrial broadcasting that a button can tune.
const int32_t kLowestChannel = 13;
const int32_t kHighestChannel = 62;
const int32_t kPathSize = 260;
const uint32_t kMinimumSdkVersion = 0x10400;
// Packets the router can select for the recording before the packet thread
// writes them out: 48 KB, more than a host's buffer of one-segment packets.
const int32_t kStagedPackets = 256;

// A lower layer's EIT present/following is shown only after this many of
// its present sections of the service completed with no packet of a higher
// layer's EIT since: two whole repetition cycles of the lower layer without
// the higher one. A receiver of the whole multiplex keeps to the H-EIT
// (PID 0x0012), whose sections and change keys differ from the L-EIT's for
// the same event, so the window is not set from both in turn.
const int32_t kLowerEitQuietSections = 3;

// EIT present/following of one lower hierarchical layer (M-EIT on PID
// 0x0026, L-EIT on 0x0027): an assembler of its own, because continuity
// counters run per PID, and the count of its present sections completed
// since the last packet of a higher layer's EIT (saturating at
// kLowerEitQuietSections).
struct LowerLayerEit {
    SectionAssembler assembler;
    int32_t quietSections;
};

// Which event the window shows.
enum class View { kPresent, kFollowing };

struct PluginState {
    Platform* platform;

    // Guards every field shared between the packet path, the window thread
    // and the thread that reports channel changes: the assemblers, the
    // mailboxes, EsPidTable, the PMT key and program number, the clock, the
    // view selector, the event texts, keys, times and date, the pending
    // service view, the SDT key, the service name, the current channel and
    // service, the service generation, the active flag and the recorder's
    // fields. The channel table is written under it (by the window's thread,
    // which alone reads it without) because the reporting thread reads it
    // to decide whether the buttons change. OnStreamData
    // takes it once per buffer, never per packet (and again only to write
    // out a full staging buffer). Never held across a window call
    // (SetControlText, SetWindowTitle, SetToolTipText: see platform.h) nor a file call
    // (CreateRecordingFile, WriteFile, CloseFile, the settings file).
    std::mutex lock;

    // --- Lifetime (plugin_lifetime.h): guarded by that module's own lock,
    // not by `lock` ----------------------------------------------------------
    std::uintptr_t handle;         // 0 until listed and once released
    int32_t holds;                 // the owner's, and one per handler running
    PluginState* nextListed;       // the next listed state
    void (*freeFunction)(void*);   // frees it with its platform, given freeOwner
    void* freeOwner;

    // --- Plug-in object -------------------------------------------------------
    bool hasWindow;         // the dialog exists
    bool active;            // false after the user closed the window
    int32_t currentChannel; // -1 until the host reports one
    int32_t currentService; // service_id last reported
    // Bumped by every service change. A window handler commits what it
    // formatted only if the generation is still the one it saw when it
    // copied its section: a section of the old service never comes back
    // after the change.
    uint32_t serviceGeneration;

    // --- Settings ------------------------------------------------------------
    char settingsPath[kPathSize];
    int32_t templateChoice;                    // "Font" as read
    // "Symbols": ARIB additional symbols as the user-defined characters of
    // code page 932 (0, the default) or as bracketed text (1). Read before
    // the window is created and fixed from then on.
    SymbolStyle symbolStyle;
    int32_t channelTable[kChannelButtonCount]; // "CH1".."CH12" (see `lock`)

    // --- Viewer window (module-level in the host's view: one object per
    // loaded library) ----------------------------------------------------------
    int32_t windowLeft;
    int32_t windowTop;
    bool windowInitialised;  // set by WM_INITDIALOG; moves before it are not saved
    // The channel whose buttons show the circled number; the window's thread
    // alone reads and writes it (WM_CHANNEL_LABELS).
    int32_t circledChannel;
    // The view IDC_PRESENT_FOLLOWING names ("現" or "次"); the window's thread
    // alone reads and writes it. It differs from `view` only while a service
    // change waits for WM_SERVICE_VIEW (serviceViewPending).
    View shownView;

    // --- Section assembly ----------------------------------------------------
    // PID 0x0012: the viewer's present/following and the guide's sections;
    // PID 0x0011: the viewer's SDT actual and the guide's SDT actual and
    // other. One follower each for both, and who kept the section being
    // copied.
    SectionAssembler eitAssembler;
    uint8_t eitKeptFor = 0;
    SectionAssembler sdtAssembler;
    uint8_t sdtKeptFor = 0;
    SectionAssembler pmtAssembler;
    SectionMailbox presentMailbox;
    SectionMailbox followingMailbox;
    SectionMailbox sdtMailbox;
    // The present/following again from the lower layers, handed over through
    // the same mailboxes as the H-EIT's when that one is not received.
    LowerLayerEit mediumEit;
    LowerLayerEit lowEit;
    // The guide: the EIT schedule of every service received.
    GuideStore guide;
    // Its cache file (window thread only).
    GuideKeeper keeper;

    // --- Programme map -------------------------------------------------------
    EsPidTable esPidTable;
    uint16_t programNumber;
    uint32_t pmtKey;

    // --- Broadcast clock -----------------------------------------------------
    int32_t clockHour;
    int32_t clockMinute;
    int32_t clockSecond;
    int32_t tickCount;  // -100 until the first TOT
    int32_t clockMjd = -1;  // the TOT's date (MJD), -1 until the first TOT

    // --- Event information ---------------------------------------------------
    View view;
    char presentText[kEventTextSize];
    char followingText[kEventTextSize];
    // Extended event items and genres of the stored events.
    EventDetails presentDetails;
    EventDetails followingDetails;
    // The stored events' short descriptions whole, and whether their event
    // text shows them cut (EventOutcome::textCut): the tooltip adds them then.
    char presentDescription[kFullDescriptionSize];
    char followingDescription[kFullDescriptionSize];
    bool presentTextCut;
    bool followingTextCut;
    uint32_t lastPresentKey;
    uint32_t lastFollowingKey;
    int32_t eventYear;
    int32_t eventMonth;
    int32_t eventDay;
    int32_t presentEndHour;
    int32_t presentEndMinute;
    int32_t presentEndSecond;
    int32_t followingStartHour;
    int32_t followingStartMinute;
    int32_t followingStartSecond;
    int32_t followingDurationHours;
    int32_t followingDurationMinutes;

    // A service change emptied the stored events while the window may still
    // show the old service's (its event text, or the following view):
    // WM_SERVICE_VIEW is on its way to show the state again. Until then a
    // press acts on the view the window shows.
    bool serviceViewPending;

    // --- Service name --------------------------------------------------------
    char serviceName[kServiceNameSize];
    uint32_t lastSdtKey;

    // --- Recorder ------------------------------------------------------------
    bool recording;           // the recording flag: a recording is wanted
    FileHandle recordingFile; // the file the router selects packets for
    // Set on the packet path when a failed write stopped the recording;
    // OnStreamData then posts WM_RECORD_LABEL to the window.
    bool recordLabelPending;
    // The record button shows "1■" (true) or "1○". A press means what the
    // label shows, even when a failed write has already cleared the flag and
    // its WM_RECORD_LABEL is still on its way.
    bool recordLabelRecording;
    // Counts the presses of the record button: a start that created its
    // file installs it only if no press came meanwhile.
    uint32_t recordPresses;

    // Staging: under the lock the router copies the packets it selects into
    // stagedPackets; one thread at a time (writerBusy) writes them out, in
    // arrival order, with the lock released. Packets [0, claimedCount) are
    // handed to that writer for writerFile; the later ones wait for the
    // next round and belong to recordingFile. A stop while a write is in
    // flight leaves the closing of writerFile to the writer (writerCloses),
    // so no handle is closed under a write and nobody waits for one.
    uint8_t stagedPackets[kStagedPackets][kTsPacketSize];
    int32_t stagedCount;
    int32_t claimedCount;
    bool writerBusy;
    FileHandle writerFile;
    bool writerCloses;
    // A file the packet path took out of use while another thread's write
    // held the staging buffer; the next writer closes it.
    FileHandle orphanFile;

    // --- Captions ------------------------------------------------------------
    // The watched service's caption stream and the packets handed over to
    // the window's thread; under the lock.
    CaptionHandover captionHandover;
    // The window's thread alone: the packets taken out of the mailbox, their
    // decoding, the caption and the recent lines, and the view's flags.
    CaptionReader captionReader;
    bool captionViewOpen;    // the caption window is on screen
    bool captionLinesHeld;   // the recent lines are held still for copying
    bool captionViewWanted;  // "Captions" as read: open it with the viewer
    char captionRecentText[kCaptionRecentTextSize];
};

// Puts every field to its value after construction.
void InitPluginState(PluginState& state, Platform* platform);

#endif
