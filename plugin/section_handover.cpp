#include "plugin/section_handover.h"

#include "plugin/caption_handover.h"
#include "plugin/guide_store.h"
#include "plugin/messages.h"
#include "plugin/plugin_state.h"
#include "ts/packet.h"
#include "ts/section.h"
#include "ts/section_assembler.h"
#include "ts/section_follower.h"

namespace {

// Shortest section_length accepted. An EIT section needs at least one byte
// so that its change key (the four bytes at section_length - 1) lies inside
// it; the SDT and PMT minimums leave room for their fixed fields.
const int32_t kEitMinimumLength = 1;
const int32_t kSdtMinimumLength = 9;
const int32_t kPmtMinimumLength = 14;

// Copies the complete section into the window's mailbox and posts the
// message; the window reads a whole section even after the assembler has
// gone on to the next one.
void HandOver(PluginState& state, const uint8_t* section, int32_t size, SectionMailbox& mailbox, uint32_t message) {
    PutSectionInMailbox(mailbox, section, size);
    state.platform->PostToWindow(message);
}

// Where the sections an assembler completes go. `layer`: a lower layer's,
// whose sections are handed over only once it has been quiet long enough
// (its present sections are counted); null for the H-EIT, the SDT and the
// PMT.
struct Target {
    PluginState& state;
    LowerLayerEit* layer;
};

// A present or following section of the current service. Both go to the
// guide (the present event is current there, and a receiver of the
// one-segment layer alone has no schedule at all), the following one
// whichever view the viewer shows, so that the guide never keeps a stale
// following event; the viewer's mailbox takes the following section only in
// the following view.
void PresentFollowingSink(void* context, const uint8_t* section, int32_t size) {
    Target& t = *static_cast<Target*>(context);
    const bool present = section[6] == 0;  // the filter keeps section_number 0 and 1 only
    if (present && t.layer != nullptr && t.layer->quietSections < kLowerEitQuietSections) ++t.layer->quietSections;
    if (t.layer != nullptr && t.layer->quietSections < kLowerEitQuietSections) return;
    if (present) {
        HandOver(t.state, section, size, t.state.presentMailbox, WM_EIT_PRESENT_READY);
        GuidePresentFollowing(t.state, section, size);
        return;
    }
    GuidePresentFollowing(t.state, section, size);
    if (t.state.view == View::kFollowing) {
        HandOver(t.state, section, size, t.state.followingMailbox, WM_EIT_FOLLOWING_READY);
    }
}

void SdtSink(void* context, const uint8_t* section, int32_t size) {
    Target& t = *static_cast<Target*>(context);
    HandOver(t.state, section, size, t.state.sdtMailbox, WM_SDT_READY);
}

void PmtSink(void* context, const uint8_t* section, int32_t size) {
    UpdateProgrammeMap(static_cast<Target*>(context)->state, section, size);
}

void AssemblePresentFollowing(PluginState& state, SectionAssembler& assembler, LowerLayerEit* layer,
                              const uint8_t* packet) {
    Target target = {state, layer};
    const SectionFilter filter =
        EventSectionFilter(static_cast<uint16_t>(state.currentService), kEitMinimumLength);
    AssembleSections(assembler, filter, packet, PresentFollowingSink, &target);
}

// PID 0x0012 (the viewer's present/following, the guide's sections of
// every service) and PID 0x0011 (the viewer's SDT actual, the guide's SDT
// actual and other) are each followed once for the viewer and the guide, so
// their packets are followed once and a section both keep is copied once.
// The keep test asks each and remembers who kept the section for its end.
typedef bool (*GuideKeep)(PluginState& state, const uint8_t* header, int32_t size);
typedef void (*GuideHandOver)(PluginState& state, const uint8_t* section, int32_t size);

struct SharedPid {
    Target target;
    SectionFilter viewer;
    SectionSink viewerSink;
    GuideKeep guideKeep;
    GuideHandOver guideHandOver;
    uint8_t& keptFor;  // in PluginState: a section may end packets later
};

const uint8_t kKeptForViewer = 0x01;
const uint8_t kKeptForGuide = 0x02;

bool KeepShared(const void* context, const uint8_t* header, int32_t size) {
    const SharedPid& p = *static_cast<const SharedPid*>(context);
    const bool viewer = SectionFilterKeeps(p.viewer, header, size);
    const bool guide = p.guideKeep(p.target.state, header, size);
    p.keptFor = static_cast<uint8_t>((viewer ? kKeptForViewer : 0) | (guide ? kKeptForGuide : 0));
    return viewer || guide;
}

void SharedSink(void* context, const uint8_t* section, int32_t size) {
    SharedPid& p = *static_cast<SharedPid*>(context);
    if ((p.keptFor & kKeptForViewer) != 0) p.viewerSink(&p.target, section, size);
    if ((p.keptFor & kKeptForGuide) != 0) p.guideHandOver(p.target.state, section, size);
}

// The viewer's shortest section_length: a guide keeps longer ones only.
void FollowShared(SectionAssembler& assembler, SharedPid& pid, const uint8_t* packet) {
    const FollowPolicy policy = {KeepShared, &pid, kFollowHeaderSize, pid.viewer.minimumLength};
    FollowSections(assembler.follower, policy, packet, SharedSink, &pid);
}

}  // namespace

void AssembleEit(PluginState& state, const uint8_t* packet) {
    SharedPid pid = {{state, nullptr},
                     EventSectionFilter(static_cast<uint16_t>(state.currentService), kEitMinimumLength),
                     PresentFollowingSink,
                     KeepGuideSection,
                     HandOverGuideSection,
                     state.eitKeptFor};
    FollowShared(state.eitAssembler, pid, packet);
}

void AssembleLowerLayerEit(PluginState& state, LowerLayerEit& layer, const uint8_t* packet) {
    AssemblePresentFollowing(state, layer.assembler, &layer, packet);
}

void NoteLayerEitPacket(PluginState& state, uint16_t pid) {
    // H-EIT silences both lower layers, M-EIT the L-EIT.
    if (pid == kEitPid) state.mediumEit.quietSections = 0;
    if (pid == kEitPid || pid == kMediumEitPid) state.lowEit.quietSections = 0;
}

void ResetLowerLayerEit(LowerLayerEit& layer) {
    ResetSectionAssembler(layer.assembler);
    layer.quietSections = 0;
}

void AssembleSdt(PluginState& state, const uint8_t* packet) {
    SharedPid pid = {{state, nullptr},
                     TableSectionFilter(kSdtActualTableId, kSdtMinimumLength),
                     SdtSink,
                     KeepGuideSdtSection,
                     HandOverGuideSdt,
                     state.sdtKeptFor};
    FollowShared(state.sdtAssembler, pid, packet);
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
