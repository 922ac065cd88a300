#include "plugin/section_handover.h"

#include "plugin/caption_handover.h"
#include "plugin/guide_store.h"
#include "plugin/messages.h"
#include "plugin/plugin_state.h"
#include "ts/packet.h"
#include "ts/section.h"

namespace {

// Shortest section_length accepted. An EIT section needs at least one byte
// so that its change key (the four bytes at section_length - 1) lies inside
// it; the SDT and PMT minimums leave room for their fixed fields.
const int32_t kEitMinimumLength = 1;
const int32_t kSdtMinimumLength = 9;
const int32_t kPmtMinimumLength = 14;

SectionFilter EventFilter(const PluginState& state, uint8_t sectionNumber) {
    SectionFilter f;
    f.tableId = kEitPfActualTableId;
    f.minimumLength = kEitMinimumLength;
    f.matchEvent = true;
    f.serviceId = static_cast<uint16_t>(state.currentService);
    f.sectionNumber = sectionNumber;
    return f;
}

// Copies the complete section into the window's mailbox and posts the
// message; the window reads a whole section even after the assembler has
// started the next one.
void HandOver(PluginState& state, const SectionAssembler& a, SectionMailbox& mailbox, uint32_t message) {
    PutSectionInMailbox(mailbox, a.buffer, SectionLength(a.buffer) + kSectionHeaderSize);
    state.platform->PostToWindow(message);
    // The present event goes to the guide too: it is current there, and a
    // receiver of the one-segment layer alone has no schedule at all. (The
    // following event reaches the guide through the guide's own assembler.)
    if (message == WM_EIT_PRESENT_READY) {
        GuidePresentFollowing(state, a.buffer, SectionLength(a.buffer) + kSectionHeaderSize);
    }
}

// The following event for the guide, whichever view the viewer shows: the
// viewer's own following assembler runs only in the following view, and a
// guide that heard of the following event only then would keep a stale one
// for good. `layer` indexes GuideStore::followingAssemblers.
void AssembleGuideFollowing(PluginState& state, int32_t layer, const uint8_t* packet, bool handOver) {
    SectionAssembler& a = state.guide.followingAssemblers[layer];
    if (AssembleEventSection(a, EventFilter(state, 1), packet) == AssemblyResult::kComplete && handOver) {
        GuidePresentFollowing(state, a.buffer, SectionLength(a.buffer) + kSectionHeaderSize);
    }
}

}  // namespace

void AssembleEit(PluginState& state, const uint8_t* packet) {
    const AssemblyResult present =
        AssembleEventSection(state.presentAssembler, EventFilter(state, 0), packet);
    if (present == AssemblyResult::kComplete) {
        HandOver(state, state.presentAssembler, state.presentMailbox, WM_EIT_PRESENT_READY);
    }
    AssembleGuideFollowing(state, 0, packet, true);
    // A break in the present section ends the packet for both.
    if (present == AssemblyResult::kBreak || state.view != View::kFollowing) return;
    if (AssembleEventSection(state.followingAssembler, EventFilter(state, 1), packet) ==
        AssemblyResult::kComplete) {
        HandOver(state, state.followingAssembler, state.followingMailbox, WM_EIT_FOLLOWING_READY);
    }
}

void AssembleLowerLayerEit(PluginState& state, LowerLayerEit& layer, const uint8_t* packet) {
    const AssemblyResult present = AssembleEventSection(layer.presentAssembler, EventFilter(state, 0), packet);
    if (present == AssemblyResult::kComplete) {
        if (layer.quietSections < kLowerEitQuietSections) ++layer.quietSections;
        if (layer.quietSections >= kLowerEitQuietSections) {
            HandOver(state, layer.presentAssembler, state.presentMailbox, WM_EIT_PRESENT_READY);
        }
    }
    AssembleGuideFollowing(state, &layer == &state.lowEit ? 2 : 1, packet,
                           layer.quietSections >= kLowerEitQuietSections);
    if (present == AssemblyResult::kBreak || state.view != View::kFollowing) return;
    if (AssembleEventSection(layer.followingAssembler, EventFilter(state, 1), packet) == AssemblyResult::kComplete &&
        layer.quietSections >= kLowerEitQuietSections) {
        HandOver(state, layer.followingAssembler, state.followingMailbox, WM_EIT_FOLLOWING_READY);
    }
}

void NoteLayerEitPacket(PluginState& state, uint16_t pid) {
    // H-EIT silences both lower layers, M-EIT the L-EIT.
    if (pid == kEitPid) state.mediumEit.quietSections = 0;
    if (pid == kEitPid || pid == kMediumEitPid) state.lowEit.quietSections = 0;
}

void ResetLowerLayerEit(LowerLayerEit& layer) {
    ResetSectionAssembler(layer.presentAssembler);
    ResetSectionAssembler(layer.followingAssembler);
    layer.quietSections = 0;
}

void AssembleSdt(PluginState& state, const uint8_t* packet) {
    if (AssembleTableSection(state.sdtAssembler, TableSectionFilter(kSdtActualTableId, kSdtMinimumLength), packet) ==
        AssemblyResult::kComplete) {
        HandOver(state, state.sdtAssembler, state.sdtMailbox, WM_SDT_READY);
    }
}

void AssemblePmt(PluginState& state, const uint8_t* packet) {
    if (AssembleTableSection(state.pmtAssembler, TableSectionFilter(kPmtTableId, kPmtMinimumLength), packet) ==
        AssemblyResult::kComplete) {
        UpdateProgrammeMap(state);
    }
}

void UpdateProgrammeMap(PluginState& state) {
    const SectionAssembler& a = state.pmtAssembler;
    if (a.bytesCollected < kSectionHeaderSize) return;
    const int32_t size = SectionLength(a.buffer) + kSectionHeaderSize;
    // The PMT assembler calls this only for a whole section of at least the
    // minimum length, so the key's four bytes were collected.
    if (size < kCrcSize + kSectionHeaderSize || a.bytesCollected < size) return;
    const uint32_t key = SectionChangeKey(a.buffer);
    if (key == state.pmtKey) return;
    state.esPidTable.count = ParsePmt(a.buffer, size, state.esPidTable, state.programNumber);
    state.pmtKey = key;
    NoteOneSegPmt(state, a.buffer, size);
}
