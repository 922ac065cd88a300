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
    return EventSectionFilter(static_cast<uint16_t>(state.currentService), sectionNumber, kEitMinimumLength);
}

// Copies the complete section into the window's mailbox and posts the
// message; the window reads a whole section even after the assembler has
// started the next one.
void HandOver(PluginState& state, const uint8_t* section, int32_t size, SectionMailbox& mailbox, uint32_t message) {
    PutSectionInMailbox(mailbox, section, size);
    state.platform->PostToWindow(message);
    // The present event goes to the guide too: it is current there, and a
    // receiver of the one-segment layer alone has no schedule at all. (The
    // following event reaches the guide through the guide's own assembler.)
    if (message == WM_EIT_PRESENT_READY) GuidePresentFollowing(state, section, size);
}

// Where the sections an assembler completes go. `layer`: a lower layer's,
// whose sections are handed over only once it has been quiet long enough
// (its present sections are counted); null for the H-EIT, the SDT and the
// PMT.
struct Target {
    PluginState& state;
    LowerLayerEit* layer;
};

bool LayerQuiet(const Target& t) { return t.layer == nullptr || t.layer->quietSections >= kLowerEitQuietSections; }

void PresentSink(void* context, const uint8_t* section, int32_t size) {
    Target& t = *static_cast<Target*>(context);
    if (t.layer != nullptr && t.layer->quietSections < kLowerEitQuietSections) ++t.layer->quietSections;
    if (LayerQuiet(t)) HandOver(t.state, section, size, t.state.presentMailbox, WM_EIT_PRESENT_READY);
}

void FollowingSink(void* context, const uint8_t* section, int32_t size) {
    Target& t = *static_cast<Target*>(context);
    if (LayerQuiet(t)) HandOver(t.state, section, size, t.state.followingMailbox, WM_EIT_FOLLOWING_READY);
}

void GuideFollowingSink(void* context, const uint8_t* section, int32_t size) {
    Target& t = *static_cast<Target*>(context);
    if (LayerQuiet(t)) GuidePresentFollowing(t.state, section, size);
}

void SdtSink(void* context, const uint8_t* section, int32_t size) {
    Target& t = *static_cast<Target*>(context);
    HandOver(t.state, section, size, t.state.sdtMailbox, WM_SDT_READY);
}

void PmtSink(void* context, const uint8_t* section, int32_t size) {
    UpdateProgrammeMap(static_cast<Target*>(context)->state, section, size);
}

// The present and following events of one EIT PID. The following event goes
// to the guide whichever view the viewer shows: the viewer's own following
// assembler runs only in the following view, and a guide that heard of the
// following event only then would keep a stale one for good. `guideLayer`
// indexes GuideStore::followingAssemblers.
void AssemblePresentFollowing(PluginState& state, SectionAssembler& present, SectionAssembler& following,
                              int32_t guideLayer, LowerLayerEit* layer, const uint8_t* packet) {
    Target target = {state, layer};
    AssembleSections(present, EventFilter(state, 0), packet, PresentSink, &target);
    AssembleSections(state.guide.followingAssemblers[guideLayer], EventFilter(state, 1), packet,
                     GuideFollowingSink, &target);
    if (state.view != View::kFollowing) return;
    AssembleSections(following, EventFilter(state, 1), packet, FollowingSink, &target);
}

}  // namespace

void AssembleEit(PluginState& state, const uint8_t* packet) {
    AssemblePresentFollowing(state, state.presentAssembler, state.followingAssembler, 0, nullptr, packet);
}

void AssembleLowerLayerEit(PluginState& state, LowerLayerEit& layer, const uint8_t* packet) {
    AssemblePresentFollowing(state, layer.presentAssembler, layer.followingAssembler,
                             &layer == &state.lowEit ? 2 : 1, &layer, packet);
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
    Target target = {state, nullptr};
    AssembleSections(state.sdtAssembler, TableSectionFilter(kSdtActualTableId, kSdtMinimumLength), packet, SdtSink,
                     &target);
}

void AssemblePmt(PluginState& state, const uint8_t* packet) {
    Target target = {state, nullptr};
    AssembleSections(state.pmtAssembler, TableSectionFilter(kPmtTableId, kPmtMinimumLength), packet, PmtSink,
                     &target);
}

void UpdateProgrammeMap(PluginState& state, const uint8_t* section, int32_t size) {
    // The PMT assembler hands over only whole sections of at least the
    // minimum length; the test keeps the change key's four bytes inside
    // whatever a caller passes.
    if (section == nullptr || size < kCrcSize + kSectionHeaderSize || size > kMaxSectionSize) return;
    if (SectionLength(section) + kSectionHeaderSize != size) return;
    const uint32_t key = SectionChangeKey(section);
    if (key == state.pmtKey) return;
    state.esPidTable.count = ParsePmt(section, size, state.esPidTable, state.programNumber);
    state.pmtKey = key;
    NoteOneSegPmt(state, section, size);
}
