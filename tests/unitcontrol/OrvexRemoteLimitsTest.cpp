// The remote link at and past its fixed sizes: the 8,192-byte receive ring,
// messages of 4,095 bytes and longer, and names of 255 characters and longer.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>

#include "common/Log.h"
#include "platform/Platform.h"
#include "tests/support/TempDir.h"
#include "unitcontrol/OrvexRemote.h"

namespace {

using orvex::COrvexRemote;
using Bytes = std::vector<uint8_t>;

// Hands over one queued block per Read, an empty read for each pause.
class BlockTransport : public orvex::COrvexInterface {
public:
    std::deque<Bytes> reads;  // an empty block ends the pump's reading
    std::string filter = "(none)";
    uint16_t Open() override { return 0; }
    uint16_t Close() override { return 0; }
    void SetPortNameFilter(const char* text) override { filter = text; }
    bool IsOpen() override { return true; }
    uint16_t GetNumConnections(uint16_t* count) override { return *count = 1, 0; }
    uint16_t SelectConnection(uint16_t) override { return 0; }
    uint16_t GetCurrentConnection(uint16_t* n) override { return *n = 0, 0; }
    uint16_t GetConnectionDescription(uint16_t, char* text, uint32_t size) override {
        std::snprintf(text, size, "%s", std::string(300, 'p').c_str());  // longer than any port name
        return 0;
    }
    uint16_t Write(const uint8_t*, int32_t) override { return 0; }
    uint16_t Read(uint8_t* buffer, int32_t size, int32_t* received) override {
        *received = 0;
        if (reads.empty()) return 0;
        Bytes block = std::move(reads.front());
        reads.pop_front();
        EXPECT_LE(block.size(), size_t(size));
        std::copy(block.begin(), block.end(), buffer);
        *received = int32_t(block.size());
        return 0;
    }
};

class LimitsTest : public ::testing::Test {
protected:
    TempDir dir;
    ChangeDir cd{dir.path};
    BlockTransport* transport = nullptr;
    std::unique_ptr<COrvexRemote> remote;

    void SetUp() override {
        plat::UseVirtualClock(true);
        COrvexRemote::Transports t;
        t.midi = [this] {
            auto p = std::make_unique<BlockTransport>();
            transport = p.get();
            return p;
        };
        remote = std::make_unique<COrvexRemote>(t);
        remote->SetPortName(std::string(300, 'n').c_str());
        ASSERT_EQ(remote->Open(), 0u);
        remote->SetMode(3);  // the unit reports by itself: no requests, no loss by silence
    }
    void TearDown() override {
        remote.reset();
        orvex::LogClose();
    }
    // One pump over these blocks; answers whether the response for registers
    // 700-703 that the test put among them was stored.
    bool Pump(std::vector<Bytes> blocks) {
        std::memset(remote->RegisterImageForTest() + 700, 0, 4);
        for (Bytes& b : blocks) transport->reads.push_back(std::move(b));
        remote->Poll();
        return remote->RegisterImage()[700] == 0xA1 && remote->RegisterImage()[703] == 0xA4;
    }
};

const Bytes kValues = {0xA1, 0xA2, 0xA3, 0xA4};
Bytes Good() { return orvex::EncodeStatusResponse(700, kValues.data(), 4, false); }
Bytes Garbage(size_t n) { return Bytes(n, 0x42); }  // no F0, no F7

// The ring takes a block only while it is shorter than the free space, so it
// holds at most 8,191 bytes; a block that does not fit is dropped whole and
// the next one is taken again.
TEST_F(LimitsTest, TheRingHoldsAtMost8191Bytes) {
    const size_t g = Good().size();
    ASSERT_EQ(COrvexRemote::kRingCapacity, 8192u);
    struct Case {
        const char* what;
        size_t total;  // bytes of the pump, the good response last
        bool lands;
    } cases[] = {
        {"8,190 bytes", 8190, true},
        {"8,191 bytes: full", 8191, true},
        {"8,192 bytes: the last block does not fit", 8192, false},
        {"8,193 bytes", 8193, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Pump({Garbage(4095), Garbage(c.total - 4095 - g), Good()}), c.lands) << c.what;
        EXPECT_TRUE(Pump({Good()})) << c.what << ": the ring takes blocks again";
    }
}

// A message is at most 4,095 bytes; the longest response a unit can send
// (3,573 values) is exactly that long and lands; a message without an end is
// cut at 4,095 bytes so the ring cannot fill up with it, and the message after
// it still lands.
TEST_F(LimitsTest, MessagesOf4095BytesLandAndLongerOnesAreCut) {
    Bytes values(3573);
    for (size_t i = 0; i < values.size(); ++i) values[i] = uint8_t(i * 7 + 1);
    const Bytes longest = orvex::EncodeStatusResponse(0, values.data(), 3573, true);
    ASSERT_EQ(longest.size(), 4095u);
    std::memset(remote->RegisterImageForTest(), 0, 2048);
    transport->reads.push_back(longest);
    remote->Poll();
    EXPECT_EQ(remote->RegisterImage()[2047], values[2047]) << "stored up to the last register";
    EXPECT_EQ(remote->RegisterImage()[1000], values[1000]);

    values.push_back(0x99);
    const Bytes tooLong = orvex::EncodeStatusResponse(0, values.data(), 3574, true);
    ASSERT_EQ(tooLong.size(), 4096u);
    const uint32_t before = remote->ResponseCount();
    std::memset(remote->RegisterImageForTest(), 0, 2048);
    EXPECT_TRUE(Pump({Bytes(tooLong.begin(), tooLong.begin() + 4000), Bytes(tooLong.begin() + 4000, tooLong.end()),
                      Good()}));
    EXPECT_EQ(remote->RegisterImage()[1000], 0) << "the 4,096-byte message is not decoded";
    EXPECT_EQ(remote->ResponseCount() - before, 1u) << "only the good one counts";

    // An F0 and 8,000 bytes without an end, then a good response, in one pump;
    // and the same spread over pumps.
    Bytes endless = {0xF0, 0x00, 0x01, 0x6B, 0x70};
    endless.resize(4095, 0x11);
    EXPECT_TRUE(Pump({endless, Garbage(3905), Good()}));
    EXPECT_FALSE(Pump({endless}));
    EXPECT_FALSE(Pump({Garbage(3905)}));
    EXPECT_TRUE(Pump({Good()}));
}

// Names are kept to 255 characters; longer ones are cut, never overrun, and a
// description is written within the caller's size.
TEST_F(LimitsTest, NamesAreCutTo255CharactersAndDescriptionsToTheCallersSize) {
    EXPECT_EQ(transport->filter, std::string(255, 'n')) << "the port name handed to the transport";
    for (uint32_t size : {0u, 1u, 8u, 255u, 256u, 400u}) {
        std::string text(512, '#');
        uint8_t id = 0;
        EXPECT_EQ(remote->GetConnectionDescription(0, text.data(), size, &id), 0u) << size;
        if (size == 0) {
            EXPECT_EQ(text, std::string(512, '#'));
            continue;
        }
        const size_t length = text.find('\0');
        ASSERT_NE(length, std::string::npos) << size;
        EXPECT_LT(length, size);
        EXPECT_EQ(text.find_first_not_of('#', length + 1), std::string::npos) << "nothing written past the size";
        // The port's part is cut to the 254 characters of the link's own buffer.
        EXPECT_LE(length, std::string("Unknown! connected via ").size() + 254) << size;
    }
}

}  // namespace
