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

#include "plugin/platform.h"
#include "plugin/section_mailbox.h"
#include "text/event_formatter.h"
#include "text/service_name.h"
#include "ts/programme_map.h"
#include "ts/section_assembler.h"

const int32_t kChannelButtonCount = 12;
// Physical channels of UHF terrestrial broadcasting that a button can tune.
const int32_t kLowestChannel = 13;
const int32_t kHighestChannel = 62;
const int32_t kPathSize = 260;
const uint32_t kMinimumSdkVersion = 0x10400;

// Which event the window shows.
enum class View { kPresent, kFollowing };

struct PluginState {
    Platform* platform;

    // Guards every field shared between the packet path, the window thread
    // and the thread that reports channel changes: the assemblers, the
    // mailboxes, EsPidTable, the PMT key and program number, the clock, the
    // view selector, the event texts and keys, the SDT key, the service
    // name, and the recording flag and file. OnStreamData takes it once per
    // buffer, never per packet. Never held across SetControlText,
    // SetWindowTitle or SetToolTipText (see platform.h).
    std::mutex lock;

    // --- Plug-in object -------------------------------------------------------
    bool hasWindow;         // the dialog exists
    bool active;            // false after the user closed the window
    int32_t currentChannel; // -1 until the host reports one
    int32_t currentService; // service_id last reported

    // --- Settings ------------------------------------------------------------
    char settingsPath[kPathSize];
    int32_t templateChoice;                    // "Font" as read
    // "Symbols": ARIB additional symbols as the user-defined characters of
    // code page 932 (0, the default) or as bracketed text (1). Read before
    // the window is created and fixed from then on.
    SymbolStyle symbolStyle;
    int32_t channelTable[kChannelButtonCount]; // "CH1".."CH12"

    // --- Viewer window (module-level in the host's view: one object per
    // loaded library) ----------------------------------------------------------
    int32_t windowLeft;
    int32_t windowTop;
    bool windowInitialised;  // set by WM_INITDIALOG; moves before it are not saved

    // --- Section assembly ----------------------------------------------------
    SectionAssembler presentAssembler;
    SectionAssembler followingAssembler;
    SectionAssembler sdtAssembler;
    SectionAssembler pmtAssembler;
    SectionMailbox presentMailbox;
    SectionMailbox followingMailbox;
    SectionMailbox sdtMailbox;

    // --- Programme map -------------------------------------------------------
    EsPidTable esPidTable;
    uint16_t programNumber;
    uint32_t pmtKey;

    // --- Broadcast clock -----------------------------------------------------
    int32_t clockHour;
    int32_t clockMinute;
    int32_t clockSecond;
    int32_t tickCount;  // -100 until the first TOT

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

    // --- Service name --------------------------------------------------------
    char serviceName[kServiceNameSize];
    uint32_t lastSdtKey;

    // --- Recorder ------------------------------------------------------------
    bool recording;
    FileHandle recordingFile;
    // Set on the packet path when a failed write stopped the recording; the
    // button label is changed after the lock is released.
    bool recordLabelPending;
};

// Puts every field to its value after construction.
void InitPluginState(PluginState& state, Platform* platform);

#endif
