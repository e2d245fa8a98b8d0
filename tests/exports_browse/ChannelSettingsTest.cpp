// The host's callback and the receive piece size on an open channel.
#include <mutex>

#include "BrowseFixture.h"
#include "connection/CTransport.h"

namespace {

// Counts the events that reach it, and the contexts they came with.
class EventRecorder {
public:
    static int32_t Callback(uintptr_t context, uint32_t code, const char16_t*, uint64_t)
    {
        auto* self = reinterpret_cast<EventRecorder*>(context);
        if (self == nullptr) {
            ++strayEvents;
            return 0;
        }
        if (code == CTransport::kCodeMessageSent)
            ++self->messagesSent;
        ++self->events;
        return 0;
    }

    void* Context() { return this; }

    size_t events = 0;
    size_t messagesSent = 0;
    // Events that came without a recorder as context.
    static inline size_t strayEvents = 0;
};

class ChannelSettingsTest : public BrowseFixture {};

} // namespace

TEST_F(ChannelSettingsTest, CallbackSeesTheChannelsEventsUntilItIsReset)
{
    FillOffice();
    EventRecorder recorder;
    EXPECT_EQ(exports.SetCallBack(channel, recorder.Context(), EventRecorder::Callback), 1);
    { HostBuffer volumes = Volumes(); }
    EXPECT_GE(recorder.messagesSent, 1u);
    size_t seen = recorder.events;
    EXPECT_EQ(exports.ResetCallBack(channel), 1);
    { HostBuffer volumes = Volumes(); }
    EXPECT_EQ(recorder.events, seen);
    EXPECT_EQ(EventRecorder::strayEvents, 0u);
}

TEST_F(ChannelSettingsTest, ASecondCallbackReplacesTheFirst)
{
    FillOffice();
    EventRecorder first;
    EventRecorder second;
    EXPECT_EQ(exports.SetCallBack(channel, first.Context(), EventRecorder::Callback), 1);
    EXPECT_EQ(exports.SetCallBack(channel, second.Context(), EventRecorder::Callback), 1);
    { HostBuffer machines = Machines(); }
    EXPECT_EQ(first.events, 0u);
    EXPECT_GE(second.messagesSent, 1u);

    // A NULL function switches the callback off like a reset.
    EXPECT_EQ(exports.SetCallBack(channel, second.Context(), nullptr), 1);
    size_t seen = second.events;
    { HostBuffer machines = Machines(); }
    EXPECT_EQ(second.events, seen);
}

TEST_F(ChannelSettingsTest, NullHandlesAreRefused)
{
    EventRecorder recorder;
    EXPECT_EQ(exports.SetCallBack(nullptr, recorder.Context(), EventRecorder::Callback), 0);
    EXPECT_EQ(exports.ResetCallBack(nullptr), 0);
    EXPECT_EQ(exports.SetGetPacketSize(nullptr, 4096), 0);
}

TEST_F(ChannelSettingsTest, ListsArriveWholeInTinyReceivePieces)
{
    for (ULONGLONG id = 1; id <= 50; ++id) {
        StoredMachine machine;
        machine.id = id;
        machine.name = u"Machine number " + std::u16string(id % 7 + 1, u'x');
        machine.hostName = u"host";
        AddMachine(machine);
    }
    HostBuffer whole = Machines();
    ASSERT_NE(whole.get(), nullptr);
    for (uint32_t piece : {1u, 7u, 4096u}) {
        SCOPED_TRACE(piece);
        EXPECT_EQ(exports.SetGetPacketSize(channel, piece), 1);
        HostBuffer pieces = Machines();
        ASSERT_NE(pieces.get(), nullptr);
        EXPECT_EQ(pieces.count(), 50u);
        EXPECT_EQ(pieces.Bytes(), whole.Bytes());
    }
}
