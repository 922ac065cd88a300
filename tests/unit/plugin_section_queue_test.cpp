// The guide's hand-over ring: sections of any size go in and come out
// whole and in order, across the ring's end, until it has no room; a
// section that does not fit changes nothing.
#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <random>
#include <vector>

#include "plugin/section_queue.h"

namespace {

typedef std::vector<uint8_t> Bytes;

Bytes Section(int32_t length, uint8_t seed) {
    Bytes b(static_cast<size_t>(length));
    for (int32_t i = 0; i < length; ++i) b[static_cast<size_t>(i)] = static_cast<uint8_t>(seed + i * 7);
    return b;
}

struct Model {
    std::unique_ptr<SectionQueue> queue{new SectionQueue};
    std::deque<std::pair<SectionQueueTag, Bytes>> expected;

    Model() { ResetSectionQueue(*queue); }
    bool Push(int32_t length, uint32_t stamp) {
        const Bytes b = Section(length, static_cast<uint8_t>(stamp));
        const SectionQueueTag tag = {length, static_cast<int32_t>(stamp % 50), stamp * 3, stamp};
        const bool room = SectionQueueHasRoom(*queue, length);
        const bool pushed = PushSection(*queue, tag, b.data());
        EXPECT_EQ(room, pushed) << length;
        if (pushed) expected.emplace_back(tag, b);
        return pushed;
    }
    void Pop() {
        SectionQueueTag tag;
        const uint8_t* bytes = nullptr;
        ASSERT_TRUE(PeekSection(*queue, tag, bytes));
        ASSERT_FALSE(expected.empty());
        const auto& want = expected.front();
        EXPECT_EQ(tag.length, want.first.length);
        EXPECT_EQ(tag.service, want.first.service);
        EXPECT_EQ(tag.generation, want.first.generation);
        EXPECT_EQ(tag.stamp, want.first.stamp);
        EXPECT_EQ(Bytes(bytes, bytes + tag.length), want.second);
        PopSection(*queue);
        expected.pop_front();
        EXPECT_EQ(queue->count, static_cast<int32_t>(expected.size()));
    }
};

// Every size from the smallest to the largest section, pushed and taken in
// random runs, so that the ring wraps at every kind of place; the model
// says what must come out.
TEST(SectionQueue, SectionsComeOutWholeAndInOrderAcrossTheRingsEnd) {
    Model m;
    std::mt19937 random(7);
    uint32_t stamp = 0;
    int32_t refused = 0;
    for (int round = 0; round < 4000; ++round) {
        const int32_t pushes = static_cast<int32_t>(random() % 40);
        for (int32_t i = 0; i < pushes; ++i) {
            const int32_t length = 1 + static_cast<int32_t>(random() % kMaxSectionSize);
            if (!m.Push(length, stamp++)) ++refused;
        }
        const int32_t pops = static_cast<int32_t>(random() % 40);
        for (int32_t i = 0; i < pops && !m.expected.empty(); ++i) m.Pop();
    }
    while (!m.expected.empty()) m.Pop();
    EXPECT_GT(refused, 0) << "the ring was never full";
    SectionQueueTag tag;
    const uint8_t* bytes = nullptr;
    EXPECT_FALSE(PeekSection(*m.queue, tag, bytes));
}

// Full: nothing of any size goes in, and what waits is untouched; once the
// oldest is taken, a section of its size fits again (at the ring's start).
TEST(SectionQueue, AFullRingRefusesAndMakesRoomAsItIsTaken) {
    Model m;
    uint32_t stamp = 0;
    while (m.Push(kMaxSectionSize, stamp)) ++stamp;
    while (m.Push(1, stamp)) ++stamp;
    const int32_t waiting = m.queue->count;
    EXPECT_FALSE(SectionQueueHasRoom(*m.queue, 1));
    EXPECT_FALSE(m.Push(1, stamp));
    EXPECT_EQ(m.queue->count, waiting);
    m.Pop();
    EXPECT_TRUE(m.Push(kMaxSectionSize, stamp++));
    while (!m.expected.empty()) m.Pop();
}

TEST(SectionQueue, LengthsOutOfRangeAreRefused) {
    Model m;
    const Bytes b = Section(kMaxSectionSize + 1, 1);
    for (int32_t length : {0, -1, kMaxSectionSize + 1}) {
        const SectionQueueTag tag = {length, 0, 0, 0};
        EXPECT_FALSE(SectionQueueHasRoom(*m.queue, length)) << length;
        EXPECT_FALSE(PushSection(*m.queue, tag, b.data())) << length;
    }
    EXPECT_EQ(m.queue->count, 0);
}

}  // namespace
