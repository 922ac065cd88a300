// The window-thread handlers of the three private messages (present event,
// following event, service name) on arbitrary sections put into their
// mailboxes (with the event text's tooltip made of their extended event and
// content descriptors), interleaved with view switches, recording requests, service
// changes and arbitrary broadcast clock values.
//
// The mailbox bytes behind the handed-over length are poisoned for
// AddressSanitizer: a handler that reads past the section it was given is
// caught even though the mailbox array itself is larger.
//
// Input: a sequence of records, each an operation byte c and its operands.
//   c & 3 == 0, 1, 2   a section for the present, following or SDT mailbox:
//                      two bytes n (big-endian), then n section bytes; the
//                      handed-over length is section_length + 3 as the
//                      packet path hands it, filled up with 0xFF when the
//                      record carries fewer bytes; then the message
//   c & 3 == 3         (c >> 2) & 7 picks: 0 view switch (with bit 5 set
//                      instead: the additional symbols as bracketed text
//                      from now on, as [DISPLAY] Symbols=1), 1 recording
//                      request, 2 service change (two bytes), 3 broadcast
//                      clock (three BCD bytes and a tick byte), 4 the last
//                      message again without a new section, 5 an empty
//                      mailbox and its message, 6 the present and SDT
//                      messages with whatever the mailboxes hold, 7 a
//                      channel change with the same service
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fuzz/fuzz_checks.h"
#include "plugin/messages.h"
#include "plugin/plugin_core.h"
#include "plugin/plugin_state.h"
#include "tests/support/test_plugin.h"
#include "ts/packet.h"
#include "ts/section.h"
#include "ui/channel_buttons.h"
#include "ui/resource.h"
#include "ui/viewer.h"

namespace {

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
    bool Done() const { return p_ == end_; }
    size_t Left() const { return static_cast<size_t>(end_ - p_); }
    uint8_t Next() { return p_ < end_ ? *p_++ : 0; }
    const uint8_t* Take(size_t n) {
        const uint8_t* at = p_;
        p_ += n;
        return at;
    }

private:
    const uint8_t* p_;
    const uint8_t* end_;
};

uint8_t Bcd(uint8_t b) { return static_cast<uint8_t>((b >> 4) * 10 + (b & 0x0F)); }

// Puts a section into a mailbox as the packet path would (under the lock)
// and poisons everything behind it.
void Deliver(PluginState& s, SectionMailbox& box, const uint8_t* bytes, size_t n) {
    UNPOISON(box.data, sizeof box.data);
    uint8_t head[3] = {0xFF, 0xFF, 0xFF};
    std::memcpy(head, bytes, n < 3 ? n : 3);
    const int32_t length = SectionLength(head) + 3;  // at most kMaxSectionSize
    const size_t copied = n < static_cast<size_t>(length) ? n : static_cast<size_t>(length);
    {
        std::lock_guard<std::mutex> guard(s.lock);
        std::memcpy(box.data, bytes, copied);
        if (copied < 3) std::memcpy(box.data, head, 3);
        std::memset(box.data + (copied < 3 ? 3 : copied), 0xFF,
                    static_cast<size_t>(length) - (copied < 3 ? 3 : copied));
        box.length = length;
    }
    POISON(box.data + length, sizeof box.data - static_cast<size_t>(length));
}

void Empty(PluginState& s, SectionMailbox& box) {
    UNPOISON(box.data, sizeof box.data);
    std::lock_guard<std::mutex> guard(s.lock);
    box.length = 0;
    POISON(box.data, sizeof box.data);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TestPlugin t;
    PluginState& s = t.s();
    InvariantChecker checker;
    SectionMailbox* boxes[3] = {&s.presentMailbox, &s.followingMailbox, &s.sdtMailbox};
    const uint32_t messages[3] = {WM_EIT_PRESENT_READY, WM_EIT_FOLLOWING_READY, WM_SDT_READY};
    for (SectionMailbox* box : boxes) POISON(box->data, sizeof box->data);

    PluginOnChannelChange(s, 27, 0x0400);
    uint32_t lastMessage = WM_EIT_PRESENT_READY;
    Reader in(data, size);
    while (!in.Done()) {
        const uint8_t c = in.Next();
        const int kind = c & 3;
        if (kind < 3) {
            size_t n = static_cast<size_t>(in.Next()) << 8;
            n |= in.Next();
            if (n > in.Left()) n = in.Left();
            if (n > static_cast<size_t>(kMaxSectionSize)) n = kMaxSectionSize;
            Deliver(s, *boxes[kind], in.Take(n), n);
            lastMessage = messages[kind];
            ViewerPrivateMessage(s, lastMessage);
        } else {
            switch ((c >> 2) & 7) {
                case 0:
                    if (c & 0x20) {
                        std::lock_guard<std::mutex> guard(s.lock);
                        s.symbolStyle = SymbolStyle::kBracketed;
                    } else {
                        ViewerCommand(s, IDC_PRESENT_FOLLOWING);
                    }
                    break;
                case 1:
                    ViewerCommand(s, IDC_RECORD_REQUEST);
                    break;
                case 2: {
                    int32_t service = in.Next() << 8;
                    service |= in.Next();
                    PluginOnChannelChange(s, 27, service);
                    break;
                }
                case 3: {
                    std::lock_guard<std::mutex> guard(s.lock);
                    s.clockHour = Bcd(in.Next());
                    s.clockMinute = Bcd(in.Next());
                    s.clockSecond = Bcd(in.Next());
                    // Up to about three days of ticks without a TOT.
                    s.tickCount = static_cast<int32_t>(in.Next()) * 1000 - 100;
                    break;
                }
                case 4:
                    ViewerPrivateMessage(s, lastMessage);
                    break;
                case 5: {
                    const int k = (c >> 5) % 3;
                    Empty(s, *boxes[k]);
                    lastMessage = messages[k];
                    ViewerPrivateMessage(s, lastMessage);
                    break;
                }
                case 6:
                    ViewerPrivateMessage(s, WM_EIT_PRESENT_READY);
                    ViewerPrivateMessage(s, WM_SDT_READY);
                    break;
                case 7:
                    PluginOnChannelChange(s, in.Next(), s.currentService);
                    break;
            }
        }
        checker.Check(t.platform, s);
    }
    for (SectionMailbox* box : boxes) UNPOISON(box->data, sizeof box->data);
    return 0;
}
