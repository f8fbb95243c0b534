// The remote control surface against a scripted transport: each unit is
// selected through real status responses, then the accessors are checked for
// their answers, the register image and the exact messages they send.
#include "unitcontrol/OrvexRemote.h"

#include <gtest/gtest.h>

#include <set>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/Platform.h"
#include "protocol/RemoteMessages.h"

namespace orvex {
namespace {

using Bytes = std::vector<uint8_t>;
using Regs = std::vector<std::pair<uint16_t, uint8_t>>;

// The far end of the transport: the unit's registers, what the host wrote, and
// blocks waiting to be read. A status request is answered from the registers.
struct FakeLink {
    std::array<uint8_t, 2048> unit{};
    bool answers = true;
    uint16_t answeredElsewhere = 0xFFFF;  // a request for this first register gets the next one's
    bool open = false;
    std::vector<Bytes> written;
    std::deque<Bytes> pending;

    void Queue(uint16_t first, uint16_t last) {
        Bytes values;
        for (uint32_t r = first; r <= last; ++r) values.push_back(r < unit.size() ? unit[r] : 0);
        pending.push_back(EncodeStatusResponse(first, values.data(), uint32_t(values.size()), first > 255));
    }
};

class FakeTransport : public COrvexInterface {
public:
    explicit FakeTransport(std::shared_ptr<FakeLink> link) : link_(std::move(link)) {}
    uint16_t Open() override {
        link_->open = true;
        return kTransportOk;
    }
    uint16_t Close() override {
        link_->open = false;
        return kTransportOk;
    }
    void SetPortNameFilter(const char*) override {}
    bool IsOpen() override { return link_->open; }
    uint16_t GetNumConnections(uint16_t* count) override {
        *count = 1;
        return kTransportOk;
    }
    uint16_t SelectConnection(uint16_t number) override { return number == 0 ? kTransportOk : kTransportFailed; }
    uint16_t GetCurrentConnection(uint16_t* number) override {
        *number = 0;
        return kTransportOk;
    }
    uint16_t GetConnectionDescription(uint16_t, char* text, uint32_t size) override {
        std::snprintf(text, size, "Port 1");
        return kTransportOk;
    }
    uint16_t Write(const uint8_t* bytes, int32_t length) override {
        link_->written.emplace_back(bytes, bytes + length);
        HostMessage m = ParseHostMessage(bytes, uint32_t(length));
        if (m.kind == HostMessage::kStatusRequest && link_->answers) {
            const uint16_t first = m.reg == link_->answeredElsewhere ? uint16_t(m.reg + 1) : m.reg;
            link_->Queue(first, uint16_t(std::min<uint32_t>(uint32_t(first) + m.count, 2047)));
        }
        return kTransportOk;
    }
    uint16_t Read(uint8_t* buffer, int32_t size, int32_t* received) override {
        *received = 0;
        if (link_->pending.empty()) return kTransportOk;
        Bytes& front = link_->pending.front();
        const size_t n = std::min<size_t>(front.size(), size_t(size));
        std::memcpy(buffer, front.data(), n);
        front.erase(front.begin(), front.begin() + long(n));
        if (front.empty()) link_->pending.pop_front();
        *received = int32_t(n);
        return kTransportOk;
    }

private:
    std::shared_ptr<FakeLink> link_;
};

struct UsbState {
    uint32_t setResult = 0;
    uint32_t getResult = 0;
    uint32_t currentRate = 48000;
    std::vector<uint32_t> setCalls;
};

class FakeUsbCard : public IUsbCardAccess {
public:
    explicit FakeUsbCard(std::shared_ptr<UsbState> state) : state_(std::move(state)) {}
    void Close() override {}
    uint32_t SetSampleRate(uint32_t hertz) override {
        state_->setCalls.push_back(hertz);
        return state_->setResult;
    }
    uint32_t GetSampleRate(uint32_t* hertz) override {
        if (state_->getResult == 0) *hertz = state_->currentRate;  // a failing driver leaves the rate alone
        return state_->getResult;
    }
    bool ProgramEEPROM(const uint8_t*, uint32_t, plat::IDialogSurface&, int) override { return false; }

private:
    std::shared_ptr<UsbState> state_;
};

struct UnitSetup {
    uint8_t deviceID;
    uint8_t revisionRegister;  // register 10: running revision, and bits 1-0 of the alternate one
    Regs regs = {};
};

const UnitSetup kOrvex8{39, 16};
const UnitSetup kOrvex16Ext{38, 17};  // revision 17: the extended mixer
const UnitSetup kTavi5{49, 5};
const UnitSetup kTavi6{49, 6};        // revision 6: the extended map

// A remote object with one unit selected over the fake transport.
struct Bench {
    std::shared_ptr<FakeLink> link = std::make_shared<FakeLink>();
    std::shared_ptr<UsbState> usb;
    std::unique_ptr<COrvexRemote> remote;

    explicit Bench(const UnitSetup& unit, std::shared_ptr<UsbState> usbCard = nullptr) : usb(std::move(usbCard)) {
        link->unit[1] = unit.deviceID;
        link->unit[10] = unit.revisionRegister;
        for (auto [r, v] : unit.regs) link->unit[r] = v;
        COrvexRemote::Transports t;
        t.midi = [l = link] { return std::make_unique<FakeTransport>(l); };
        if (usb) t.usbCard = [u = usb](uint16_t) { return std::make_unique<FakeUsbCard>(u); };
        remote = std::make_unique<COrvexRemote>(std::move(t));
        EXPECT_EQ(remote->Open(), kStatusSuccess);
        EXPECT_EQ(remote->SelectConnection(0), kStatusSuccess);
        link->written.clear();
    }
    // The unit reports registers first..last; the next Poll stores them.
    void Report(uint16_t first, uint16_t last) {
        link->Queue(first, last);
        remote->Poll();
        link->written.clear();  // the schedule's own requests are not the accessor's
    }
    std::vector<HostMessage> Sent() const {
        std::vector<HostMessage> out;
        for (const Bytes& b : link->written) out.push_back(ParseHostMessage(b.data(), uint32_t(b.size())));
        return out;
    }
    Bytes Image() const { return Bytes(remote->RegisterImage(), remote->RegisterImage() + 2048); }
};

// Expects exactly one register write in the given form.
void ExpectOneWrite(const Bench& b, uint16_t reg, uint8_t value, bool longForm = false) {
    auto sent = b.Sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].kind, HostMessage::kWrite);
    EXPECT_EQ(sent[0].reg, reg);
    EXPECT_EQ(sent[0].value, value);
    EXPECT_EQ(sent[0].longForm, longForm);
}

class RemoteSurfaceTest : public ::testing::Test {
protected:
    void SetUp() override { plat::UseVirtualClock(true); }
    void TearDown() override {
        plat::SetMessageBoxAnswerer(nullptr);
        plat::UseVirtualClock(false);
    }
};

// ---- clock source ----------------------------------------------------------

TEST_F(RemoteSurfaceTest, SyncSourceCodesFollowEachFamily) {
    struct Family {
        const char* name;
        UnitSetup unit;
        int codes[8];  // value -> code in register 3 bits 2-0; -1: no code
    };
    const Family families[] = {
        {"Orvex 8", kOrvex8, {5, 4, 3, 6, 2, 1, 0, -1}},
        {"Orvex(n)", {38, 16, {{6, 96}}}, {5, 4, 0, 1, 2, 6, 7, -1}},
        {"Tavi", kTavi5, {5, 4, 2, 7, 0, -1, -1, -1}},
    };
    for (const Family& f : families) {
        for (uint8_t value = 0; value < 8; ++value) {
            SCOPED_TRACE(std::string(f.name) + " value " + std::to_string(value));
            UnitSetup unit = f.unit;
            unit.regs.push_back({3, 0xB8});  // the other bits of register 3 must survive
            Bench b(unit);
            const Bytes before = b.Image();
            const uint32_t status = b.remote->SetSyncSource(value);
            if (f.codes[value] < 0) {
                EXPECT_EQ(status, kStatusOutOfRange);
                EXPECT_TRUE(b.link->written.empty());
                EXPECT_EQ(b.Image(), before);
                continue;
            }
            const uint8_t expected = uint8_t(0xB8 | f.codes[value]);
            EXPECT_EQ(status, kStatusSuccess);
            ExpectOneWrite(b, 3, expected);
            EXPECT_EQ(b.remote->RegisterImage()[3], expected);
            uint8_t back = 0xEE;
            EXPECT_EQ(b.remote->GetSyncSource(&back), kStatusSuccess);
            EXPECT_EQ(back, value);
        }
    }
}

TEST_F(RemoteSurfaceTest, SyncSourceCodeUnknownToTheFamilyIsNotReported) {
    // Codes 1, 3 and 6 have no value on a Tavi.
    for (uint8_t code : {1, 3, 6}) {
        Bench b({49, 5, {{3, code}}});
        uint8_t value = 0xEE;
        EXPECT_EQ(b.remote->GetSyncSource(&value), kStatusFailure);
        EXPECT_EQ(value, 0xEE);
    }
}

// ---- refusals and range errors ----------------------------------------------

TEST_F(RemoteSurfaceTest, RefusalsAndRangeErrorsSendNothingAndKeepTheImage) {
    constexpr uint8_t kLocked = 0x01;  // register 19 bit 0
    const UnitSetup lockedClock{39, 16, {{19, kLocked}}};
    const UnitSetup doZaz{39, 16, {{16, kXSlotDoZaz}}};
    const UnitSetup vaVovuz{38, 16, {{16, kXSlotVaVovuz}}};
    uint8_t byte = 0;
    uint32_t dword = 0;
    int16_t gain = 0;
    struct Case {
        const char* name;
        UnitSetup unit;
        std::function<uint32_t(COrvexRemote&)> op;
        uint32_t status;
    };
    const Case cases[] = {
        {"sync source, clock locked", lockedClock, [](COrvexRemote& r) { return r.SetSyncSource(0); }, 1},
        {"sync source, DO-ZAZ", doZaz, [](COrvexRemote& r) { return r.SetSyncSource(0); }, 1},
        {"SL enable, clock locked", lockedClock, [](COrvexRemote& r) { return r.SetSLEnable(1); }, 1},
        {"SL enable, DO-ZAZ", doZaz, [](COrvexRemote& r) { return r.SetSLEnable(1); }, 1},
        {"sample rate, clock locked", lockedClock, [](COrvexRemote& r) { return r.SetSampleRate(1); }, 1},
        {"sample rate, DO-ZAZ without card access", doZaz, [](COrvexRemote& r) { return r.SetSampleRate(1); }, 1},
        {"sample rate code 6", kOrvex8, [](COrvexRemote& r) { return r.SetSampleRate(6); }, 2},
        {"FPA code 4", kOrvex8, [](COrvexRemote& r) { return r.SetFPAOutSource(4); }, 2},
        {"FPD code 4", kOrvex8, [](COrvexRemote& r) { return r.SetFPDOutSource(4); }, 2},
        {"XSlot mode of a VA-VOVUZ", vaVovuz, [&](COrvexRemote& r) { return r.GetXSlotMode(&byte); }, 1},
        {"mixer input 2 on output 4", kOrvex16Ext,
         [](COrvexRemote& r) { return r.SetMixerVolume(2, 4, 0x10, 0); }, 2},
        {"mixer input 18", kOrvex16Ext, [](COrvexRemote& r) { return r.SetMixerSource(18, 0, 1); }, 2},
        {"mixer output 32", kOrvex16Ext, [](COrvexRemote& r) { return r.SetMixerMute(0, 32, 1); }, 2},
        {"mixer read outside", kOrvex16Ext, [&](COrvexRemote& r) { return r.GetMixerVolume(17, 4, &byte); }, 2},
        {"matrix gain without map", kTavi5, [](COrvexRemote& r) { return r.SetMatrixGain(0, 0, 0); }, 1},
        {"output gain without map", kTavi5, [](COrvexRemote& r) { return r.SetOutputGain(0, 0); }, 1},
        {"switch A without map", kTavi5, [](COrvexRemote& r) { return r.SetMatrixSwitchA(0, 0, 1); }, 1},
        {"switch flag without map", kTavi5, [](COrvexRemote& r) { return r.SetSwitchFlag(0, 1); }, 1},
        {"switch B without map", kTavi5, [](COrvexRemote& r) { return r.SetMatrixSwitchB(0, 0, 1); }, 1},
        {"matrix row 32", kTavi6, [](COrvexRemote& r) { return r.SetMatrixGain(32, 0, 0); }, 1},
        {"matrix column 32", kTavi6, [&](COrvexRemote& r) { return r.GetMatrixGain(0, 32, &gain); }, 1},
        {"output 32", kTavi6, [](COrvexRemote& r) { return r.SetOutputGain(32, 0); }, 1},
        {"switch A column 32", kTavi6, [](COrvexRemote& r) { return r.SetMatrixSwitchA(0, 32, 1); }, 1},
        {"switch flag 32", kTavi6, [](COrvexRemote& r) { return r.SetSwitchFlag(32, 1); }, 1},
        {"switch B row 32", kTavi6, [](COrvexRemote& r) { return r.SetMatrixSwitchB(32, 0, 1); }, 1},
        {"port rate without map", kTavi5, [&](COrvexRemote& r) { return r.GetPortSampleRate(0, &dword); }, 1},
        {"port 5", kTavi6, [&](COrvexRemote& r) { return r.GetPortSampleRate(5, &dword); }, 2},
        {"register 125 bit 7 without map", kTavi5,
         [&](COrvexRemote& r) { return r.GetRegister125Bit7(&byte); }, 1},
        {"level meter index 32", kOrvex8,
         [&](COrvexRemote& r) { return r.GetLevelMeter(1, 32, &dword, &byte); }, 2},
        {"get register 2048", kOrvex8, [&](COrvexRemote& r) { return r.GetRegister(2048, &byte); }, 2},
        {"set register 2048", kOrvex8, [](COrvexRemote& r) { return r.SetRegister(2048, 1); }, 2},
        {"set register the short form cannot reach", kOrvex8,
         [](COrvexRemote& r) { return r.SetRegister(1500, 1); }, 2},
        {"get register without output", kOrvex8, [](COrvexRemote& r) { return r.GetRegister(0, nullptr); }, 2},
        {"Tavi trim 2 has no reading", kTavi5, [&](COrvexRemote& r) { return r.GetTrim(2, &byte); }, 2},
        {"trim 8 has no reading", kOrvex8, [&](COrvexRemote& r) { return r.GetTrim(8, &byte); }, 2},
        {"no operation", kOrvex8, [](COrvexRemote& r) { return r.NoOperation(0x1234); }, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b(c.unit);
        const Bytes before = b.Image();
        EXPECT_EQ(c.op(*b.remote), c.status);
        EXPECT_TRUE(b.link->written.empty());
        EXPECT_EQ(b.Image(), before);
    }
}

TEST_F(RemoteSurfaceTest, GettersThatNeedAUnitRefuseWhileDisconnected) {
    Bench b({38, 16, {{2, 0xFF}, {5, 0xFF}}});
    const std::function<uint32_t(uint8_t*)> getters[] = {
        [&](uint8_t* v) { return b.remote->GetTrim(0, v); },
        [&](uint8_t* v) { return b.remote->GetRegister5Bit0(v); },
        [&](uint8_t* v) { return b.remote->GetRegister5Bit1(v); },
        [&](uint8_t* v) { return b.remote->GetRegister5Bit2(v); },
    };
    for (const auto& get : getters) {
        uint8_t v = 0;
        EXPECT_EQ(get(&v), kStatusSuccess);
        EXPECT_EQ(v, 1);
    }
    b.remote->Close();
    for (const auto& get : getters) {
        uint8_t v = 0xEE;
        EXPECT_EQ(get(&v), kStatusFailure);
        EXPECT_EQ(v, 0xEE);
    }
}

// ---- trims -----------------------------------------------------------------

TEST_F(RemoteSurfaceTest, SetTrimSendsTheNewByteOnlyAndGetTrimDecodes) {
    struct Case {
        uint8_t deviceID;
        uint8_t reg2;
        uint16_t trim;
        uint8_t value;
        uint8_t sent;
    };
    const Case sets[] = {
        {38, 0x00, 3, 1, 0x08}, {38, 0xFF, 0, 0, 0xFE}, {38, 0x04, 2, 2, 0x00},  // only 1 switches on
        {38, 0x10, 8, 1, 0xFF}, {38, 0x10, 9, 0, 0x00},                          // above 7: all eight
        {49, 0xA3, 0, 5, 0xAA}, {49, 0xA3, 0, 4, 0xA0}, {49, 0xA3, 0, 9, 0xA0},  // code table, above 7: 0
        {49, 0xA3, 1, 3, 0x33}, {49, 0xA3, 1, 8, 0x03}, {49, 0xA3, 2, 6, 0xA3},  // other trims: unchanged
    };
    for (const Case& c : sets) {
        SCOPED_TRACE(testing::Message() << int(c.deviceID) << " trim " << c.trim << " = " << int(c.value));
        Bench b({c.deviceID, 5, {{2, c.reg2}}});
        EXPECT_EQ(b.remote->SetTrim(c.trim, c.value), kStatusSuccess);
        ExpectOneWrite(b, 2, c.sent);
        EXPECT_EQ(b.remote->RegisterImage()[2], c.reg2);
    }

    struct Read {
        uint8_t deviceID;
        uint8_t reg2;
        uint16_t trim;
        uint8_t value;
    };
    const Read reads[] = {
        {38, 0x08, 3, 1}, {38, 0x08, 2, 0}, {38, 0x80, 7, 1},
        {49, 0x5A, 0, 5}, {49, 0x57, 0, 0}, {49, 0x54, 0, 3}, {49, 0x0B, 0, 2},  // code B has no value
        {49, 0x5A, 1, 5}, {49, 0xDA, 1, 2},                                      // bit 7 reads as 2
    };
    for (const Read& c : reads) {
        SCOPED_TRACE(testing::Message() << int(c.deviceID) << " reg2 " << int(c.reg2) << " trim " << c.trim);
        Bench b({c.deviceID, 5, {{2, c.reg2}}});
        uint8_t v = 0xEE;
        EXPECT_EQ(b.remote->GetTrim(c.trim, &v), kStatusSuccess);
        EXPECT_EQ(v, c.value);
    }
}

// ---- register bits ---------------------------------------------------------

TEST_F(RemoteSurfaceTest, BitSwitchesChangeTheImageAndWriteTheRegister) {
    struct Case {
        const char* name;
        uint16_t reg;
        uint8_t bit;
        bool inverted;
        uint32_t (COrvexRemote::*set)(uint8_t);
        uint32_t (COrvexRemote::*get)(uint8_t*);
    };
    const Case cases[] = {
        {"SL enable", 3, 3, false, &COrvexRemote::SetSLEnable, &COrvexRemote::GetSLEnable},
        {"wide wire in", 4, 4, false, &COrvexRemote::SetWideWireIn, &COrvexRemote::GetWideWireIn},
        {"wide wire out", 4, 5, false, &COrvexRemote::SetWideWireOut, &COrvexRemote::GetWideWireOut},
        {"meter source", 4, 6, false, &COrvexRemote::SetFPMeterSource, &COrvexRemote::GetFPMeterSource},
        {"XSlot out source", 4, 7, true, &COrvexRemote::SetXSlotOutSource, &COrvexRemote::GetXSlotOutSource},
        {"register 5 bit 2", 5, 2, false, &COrvexRemote::SetRegister5Bit2, &COrvexRemote::GetRegister5Bit2},
        {"XSlot mode", 5, 3, false, &COrvexRemote::SetXSlotMode, &COrvexRemote::GetXSlotMode},
        {"option A", 19, 4, false, &COrvexRemote::SetXSlotOptionA, &COrvexRemote::GetXSlotOptionA},
        {"option B", 19, 5, false, &COrvexRemote::SetXSlotOptionB, &COrvexRemote::GetXSlotOptionB},
    };
    for (const Case& c : cases) {
        for (uint8_t start : {0x00, 0xFE}) {  // register 19 bit 0 stays clear: it would lock the clock
            for (uint8_t on : {1, 0}) {
                SCOPED_TRACE(testing::Message() << c.name << " from " << int(start) << " on " << int(on));
                Bench b({39, 16, {{c.reg, start}}});
                EXPECT_EQ(((*b.remote).*c.set)(on ? 7 : 0), kStatusSuccess);  // any non-zero is on
                const bool bitSet = (on != 0) != c.inverted;
                const uint8_t expected = bitSet ? uint8_t(start | (1u << c.bit)) : uint8_t(start & ~(1u << c.bit));
                ExpectOneWrite(b, c.reg, expected);
                EXPECT_EQ(b.remote->RegisterImage()[c.reg], expected);
                uint8_t back = 0xEE;
                EXPECT_EQ(((*b.remote).*c.get)(&back), kStatusSuccess);
                EXPECT_EQ(back, on);
            }
        }
    }
}

TEST_F(RemoteSurfaceTest, FrontPanelSourcesUseTheirCodeTable) {
    const uint8_t codes[4] = {2, 1, 0, 3};
    for (uint8_t value = 0; value < 4; ++value) {
        SCOPED_TRACE(int(value));
        Bench b({39, 16, {{4, 0xF0}}});
        EXPECT_EQ(b.remote->SetFPAOutSource(value), kStatusSuccess);
        ExpectOneWrite(b, 4, uint8_t(0xF0 | codes[value]));
        b.link->written.clear();
        EXPECT_EQ(b.remote->SetFPDOutSource(uint8_t(3 - value)), kStatusSuccess);
        const uint8_t both = uint8_t(0xF0 | codes[value] | (codes[3 - value] << 2));
        ExpectOneWrite(b, 4, both);
        EXPECT_EQ(b.remote->RegisterImage()[4], both);
        uint8_t a = 0xEE, d = 0xEE;
        EXPECT_EQ(b.remote->GetFPAOutSource(&a), kStatusSuccess);
        EXPECT_EQ(b.remote->GetFPDOutSource(&d), kStatusSuccess);
        EXPECT_EQ(a, value);
        EXPECT_EQ(d, 3 - value);
    }
}

// ---- values read from reported registers ------------------------------------

TEST_F(RemoteSurfaceTest, ReportedRegistersReadBackThroughTheirAccessors) {
    struct Case {
        const char* name;
        Regs regs;
        std::function<uint32_t(COrvexRemote&)> read;  // the answer, or 0x10000 + status on failure
        uint32_t expected;
    };
    auto byte = [](uint32_t (COrvexRemote::*get)(uint8_t*)) {
        return [get](COrvexRemote& r) {
            uint8_t v = 0xEE;
            const uint32_t s = (r.*get)(&v);
            return s ? 0x10000 + s : uint32_t(v);
        };
    };
    auto word = [](uint32_t (COrvexRemote::*get)(uint16_t*)) {
        return [get](COrvexRemote& r) {
            uint16_t v = 0xEEEE;
            const uint32_t s = (r.*get)(&v);
            return s ? 0x10000 + s : uint32_t(v);
        };
    };
    auto truth = [](bool (COrvexRemote::*get)()) { return [get](COrvexRemote& r) { return uint32_t((r.*get)()); }; };
    const Case cases[] = {
        {"register 24 up to 150", {{24, 150}}, byte(&COrvexRemote::GetRegister24), 150},
        {"register 24 above 150", {{24, 151}}, byte(&COrvexRemote::GetRegister24), 0},
        {"register 20 + 1", {{20, 4}}, byte(&COrvexRemote::GetRegister20PlusOne), 5},
        {"register 20 FF", {{20, 0xFF}}, byte(&COrvexRemote::GetRegister20PlusOne), 0},
        {"register 21 + 1", {{21, 0xFE}}, byte(&COrvexRemote::GetRegister21PlusOne), 0xFF},
        {"register 21 FF", {{21, 0xFF}}, byte(&COrvexRemote::GetRegister21PlusOne), 0},
        {"word 22 + 1", {{22, 0x34}, {23, 0x12}}, word(&COrvexRemote::GetWord22PlusOne), 0x1235},
        {"word 22 FFFF", {{22, 0xFF}, {23, 0xFF}}, word(&COrvexRemote::GetWord22PlusOne), 0},
        {"word 7", {{7, 0xCD}, {8, 0xAB}}, word(&COrvexRemote::GetWord7), 0xABCD},
        {"model variant", {{6, 0x42}}, byte(&COrvexRemote::GetModelVariant), 0x42},
        {"register 7 low", {{7, 0xE5}}, byte(&COrvexRemote::GetRegister7Low), 0x25},
        {"register 5 bit 0", {{5, 0x01}}, byte(&COrvexRemote::GetRegister5Bit0), 1},
        {"register 5 bit 1", {{5, 0xFD}}, byte(&COrvexRemote::GetRegister5Bit1), 0},
        {"register 5 bit 5", {{5, 0x20}}, byte(&COrvexRemote::GetRegister5Bit5), 1},
        {"SL status", {{3, 0x84}}, byte(&COrvexRemote::GetSLStatus), 1},
        {"SL status while source code 5", {{3, 0x85}}, byte(&COrvexRemote::GetSLStatus), 0},
        {"sample rate", {{3, 0xB5}}, byte(&COrvexRemote::GetSampleRate), 3},
        {"XSlot mode", {{5, 0x08}, {16, kXSlotDiZo}}, byte(&COrvexRemote::GetXSlotMode), 1},
        {"register 42 bit 3", {{42, 0x08}}, truth(&COrvexRemote::GetRegister42Bit3), 1},
        {"register 42 other bits", {{42, 0xF7}}, truth(&COrvexRemote::GetRegister42Bit3), 0},
        {"register 124 bit 7", {{124, 0x80}}, truth(&COrvexRemote::GetRegister124Bit7), 1},
        {"register 125 bit 2", {{125, 0x04}}, truth(&COrvexRemote::GetRegister125Bit2), 1},
        {"register 125 bit 2 clear", {{125, 0xFB}}, truth(&COrvexRemote::GetRegister125Bit2), 0},
        {"any register", {{99, 0x77}}, [](COrvexRemote& r) {
             uint8_t v = 0;
             return r.GetRegister(99, &v) ? 0x10000u : uint32_t(v);
         }, 0x77},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b(kOrvex8);
        for (auto [r, v] : c.regs) b.link->unit[r] = v;
        b.Report(0, 127);
        EXPECT_EQ(c.read(*b.remote), c.expected);
    }
}

TEST_F(RemoteSurfaceTest, StatusTriplePollsFirst) {
    Bench b({39, 16, {{56, 0x11}, {57, 0x22}, {58, 0x33}}});
    b.link->Queue(56, 58);  // arrives with the Poll inside the call
    uint8_t a = 0, c2 = 0, c3 = 0;
    EXPECT_EQ(b.remote->GetStatusTriple(&a, &c2, &c3), kStatusSuccess);
    EXPECT_EQ(a, 0x11);
    EXPECT_EQ(c2, 0x33);
    EXPECT_EQ(c3, 0x22);
}

// ---- meters ------------------------------------------------------------------

TEST_F(RemoteSurfaceTest, MetersReadTheStoredMeterRegisters) {
    Bench b({38, 16, {{64, 0xA8}, {65, 0x30}, {120, 0x50}, {127, 0xF8},
                      {128, 0x34}, {129, 0x92}, {254, 0x00}, {255, 0x40}, {192, 0x05}, {193, 0x00}}});
    b.Report(64, 255);
    struct Peak {
        uint32_t channel;
        uint8_t level, overload;
    };
    const Peak peaks[] = {{8, 0xA, 1}, {9, 3, 0}, {0, 5, 0}, {7, 0xF, 1}, {8 + 64, 0xA, 1}};
    for (const Peak& p : peaks) {
        SCOPED_TRACE(p.channel);
        uint8_t level = 0xEE, overload = 0xEE;
        EXPECT_EQ(b.remote->GetPeakMeter(p.channel, &level), kStatusSuccess);
        EXPECT_EQ(b.remote->GetOverload(p.channel, &overload), kStatusSuccess);
        EXPECT_EQ(level, p.level);
        EXPECT_EQ(overload, p.overload);
    }
    struct Level {
        uint8_t bank;
        uint16_t index;
        uint32_t level;
        uint8_t overload;
    };
    const Level levels[] = {
        {1, 0, (0x9234u & 0x3FFF) * 32, 1},  // registers 128 (low) and 129 (high)
        {0, 31, 0x7FFFF, 0},                 // 254-255 hold 4000: full scale
        {0, 0, 5 * 32, 0},                   // 192-193
    };
    for (const Level& l : levels) {
        SCOPED_TRACE(testing::Message() << "bank " << int(l.bank) << " index " << l.index);
        uint32_t level = 0;
        uint8_t overload = 0xEE;
        EXPECT_EQ(b.remote->GetLevelMeter(l.bank, l.index, &level, &overload), kStatusSuccess);
        EXPECT_EQ(level, l.level);
        EXPECT_EQ(overload, l.overload);
    }
}

// ---- mixer -------------------------------------------------------------------

TEST_F(RemoteSurfaceTest, MixerWritesOnlyChangesAndKeepsMutedVolumes) {
    Bench b(kOrvex16Ext);
    struct Step {
        const char* name;
        std::function<uint32_t(COrvexRemote&)> op;
        int reg;  // -1: nothing is sent
        uint8_t value;
    };
    const Step steps[] = {
        {"volume FF is stored as FE", [](COrvexRemote& r) { return r.SetMixerVolume(0, 5, 0xFF, 0); }, 148, 0xFE},
        {"the same volume again", [](COrvexRemote& r) { return r.SetMixerVolume(0, 5, 0xFE, 99); }, -1, 0},
        {"mute input 1 output 0", [](COrvexRemote& r) { return r.SetMixerMute(1, 0, 1); }, 130, 0xFF},
        {"mute it again", [](COrvexRemote& r) { return r.SetMixerMute(1, 0, 5); }, -1, 0},
        {"volume while muted is kept", [](COrvexRemote& r) { return r.SetMixerVolume(1, 0, 0x40, 0); }, -1, 0},
        {"unmute sends the kept volume", [](COrvexRemote& r) { return r.SetMixerMute(1, 0, 0); }, 130, 0x40},
        {"source of input 1 output 31", [](COrvexRemote& r) { return r.SetMixerSource(1, 31, 9); }, 255, 9},
        {"the same source again", [](COrvexRemote& r) { return r.SetMixerSource(1, 31, 9); }, -1, 0},
        {"extended input 17 output 3", [](COrvexRemote& r) { return r.SetMixerVolume(17, 3, 0x20, 0); }, 382,
         0x20},
        {"its source", [](COrvexRemote& r) { return r.SetMixerSource(17, 3, 2); }, 383, 2},
        {"extended input 2 output 0", [](COrvexRemote& r) { return r.SetMixerMute(2, 0, 1); }, 256, 0xFF},
    };
    const Bytes image = b.Image();
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        b.link->written.clear();
        EXPECT_EQ(s.op(*b.remote), kStatusSuccess);
        if (s.reg < 0)
            EXPECT_TRUE(b.link->written.empty());
        else
            ExpectOneWrite(b, uint16_t(s.reg), s.value);
    }
    EXPECT_EQ(b.Image(), image);  // the mixer lives in its own arrays until the unit reports
    uint8_t v = 0;
    EXPECT_EQ(b.remote->GetMixerVolume(0, 5, &v), kStatusSuccess);
    EXPECT_EQ(v, 0xFE);
    EXPECT_EQ(b.remote->GetMixerVolume(1, 0, &v), kStatusSuccess);
    EXPECT_EQ(v, 0x40);
    EXPECT_EQ(b.remote->GetMixerMute(1, 0, &v), kStatusSuccess);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(b.remote->GetMixerMute(2, 0, &v), kStatusSuccess);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(b.remote->GetMixerSource(17, 3, &v), kStatusSuccess);
    EXPECT_EQ(v, 2);

    // What the unit reports replaces the stored entries.
    b.link->unit[128] = 0xFF;  // output 0 input 0 muted
    b.link->unit[149] = 0x45;  // output 5 input 0 source, six bits
    b.Report(128, 255);
    EXPECT_EQ(b.remote->GetMixerMute(0, 0, &v), kStatusSuccess);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(b.remote->GetMixerSource(0, 5, &v), kStatusSuccess);
    EXPECT_EQ(v, 0x05);
}

// ---- sample rate -------------------------------------------------------------

TEST_F(RemoteSurfaceTest, SampleRateGoesToTheUnitWithoutAUsbCard) {
    Bench b({39, 16, {{3, 0x85}}});
    EXPECT_EQ(b.remote->SetSampleRate(3), kStatusSuccess);
    ExpectOneWrite(b, 3, 0xB5);
    uint8_t code = 0xEE;
    EXPECT_EQ(b.remote->GetSampleRate(&code), kStatusSuccess);
    EXPECT_EQ(code, 3);
}

TEST_F(RemoteSurfaceTest, SampleRateOfADoZazCardGoesThroughItsDriver) {
    std::vector<std::pair<std::string, std::string>> boxes;
    plat::SetMessageBoxAnswerer([&](const std::string& text, const std::string& caption, unsigned) {
        boxes.push_back({text, caption});
        return plat::id::Ok;
    });
    struct Case {
        const char* name;
        uint8_t code;
        uint32_t driverResult;
        uint32_t status;
        uint32_t hertzAsked;  // 0: the driver is not asked
        bool box;
    };
    const Case cases[] = {
        {"192 kHz", 5, 0, 0, 192000, false},
        {"44.1 kHz", 0, 0, 0, 44100, false},
        {"code 6", 6, 0, 2, 0, false},
        {"streams open", 1, 0xE0001001, 1, 48000, true},
        {"other driver error", 1, 0xE0001002, 1, 48000, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        boxes.clear();
        auto usb = std::make_shared<UsbState>();
        usb->setResult = c.driverResult;
        Bench b({39, 16, {{16, kXSlotDoZaz}, {3, 0x82}}}, usb);
        ASSERT_NE(b.remote->UsbCardAccess(), nullptr);
        const uint64_t before = plat::ClockMicros();
        EXPECT_EQ(b.remote->SetSampleRate(c.code), c.status);
        EXPECT_TRUE(b.link->written.empty());  // the card sets the clock, the unit follows it
        EXPECT_EQ(usb->setCalls, c.hertzAsked ? std::vector<uint32_t>{c.hertzAsked} : std::vector<uint32_t>{});
        const uint8_t expected = c.status == 0 ? uint8_t(0x82 | (c.code << 4)) : 0x82;
        EXPECT_EQ(b.remote->RegisterImage()[3], expected);
        // The settling pause (in whole ticks) follows a change only.
        if (c.status == 0) {
            EXPECT_GE(plat::ClockMicros() - before, 249000u);
        } else {
            EXPECT_LT(plat::ClockMicros() - before, 100000u);
        }
        ASSERT_EQ(boxes.size(), c.box ? 1u : 0u);
        if (c.box) {
            EXPECT_EQ(boxes[0].first, "Cannot change Sample Rate with Active Devices!");
            EXPECT_EQ(boxes[0].second, "DO-ZAZ");
        }
    }

    struct Read {
        uint32_t hertz, driverResult, status;
        uint8_t code;
    };
    const Read reads[] = {{88200, 0, 0, 2}, {192000, 0, 0, 5}, {22050, 0, 2, 0xEE}, {48000, 0xE0000001, 2, 0xEE}};
    for (const Read& r : reads) {
        SCOPED_TRACE(r.hertz);
        auto usb = std::make_shared<UsbState>();
        usb->currentRate = r.hertz;
        usb->getResult = r.driverResult;
        Bench b({39, 16, {{16, kXSlotDoZaz}, {3, 0x10}}}, usb);
        uint8_t code = 0xEE;
        EXPECT_EQ(b.remote->GetSampleRate(&code), r.status);
        EXPECT_EQ(code, r.code);
    }

    // Without the card's driver the register answers.
    Bench b({39, 16, {{16, kXSlotDoZaz}, {3, 0x40}}});
    uint8_t code = 0xEE;
    EXPECT_EQ(b.remote->GetSampleRate(&code), kStatusSuccess);
    EXPECT_EQ(code, 4);
}

// ---- extended map ------------------------------------------------------------

TEST_F(RemoteSurfaceTest, GainsAreClampedAndStoredInHalfDecibelSteps) {
    struct Case {
        int16_t gain;
        uint8_t stored;
        int16_t readBack;
    };
    const Case matrix[] = {
        {200, 0, 120}, {120, 0, 120}, {0, 24, 0}, {-7, 25, -5}, {12, 22, 10}, {-960, 216, -960}, {-2000, 216, -960},
    };
    for (const Case& c : matrix) {
        SCOPED_TRACE(c.gain);
        Bench b(kTavi6);
        EXPECT_EQ(b.remote->SetMatrixGain(3, 7, c.gain), kStatusSuccess);
        ExpectOneWrite(b, 1024 + 3 * 32 + 7, c.stored, true);
        EXPECT_EQ(b.remote->RegisterImage()[1024 + 3 * 32 + 7], c.stored);
        int16_t g = 0;
        EXPECT_EQ(b.remote->GetMatrixGain(3, 7, &g), kStatusSuccess);
        EXPECT_EQ(g, c.readBack);
    }
    const Case outputs[] = {{50, 24, 0}, {0, 24, 0}, {-25, 29, -25}, {-1000, 216, -960}};
    for (const Case& c : outputs) {
        SCOPED_TRACE(c.gain);
        Bench b(kTavi6);
        EXPECT_EQ(b.remote->SetOutputGain(31, c.gain), kStatusSuccess);
        ExpectOneWrite(b, 543, c.stored, true);
        int16_t g = 1;
        EXPECT_EQ(b.remote->GetOutputGain(31, &g), kStatusSuccess);
        EXPECT_EQ(g, c.readBack);
    }
    // A reported output byte below 24 would be a boost the outputs do not have: it reads as 0.
    Bench b({49, 6, {{512, 23}, {1024, 30}}});
    int16_t g = 1;
    EXPECT_EQ(b.remote->GetOutputGain(0, &g), kStatusSuccess);
    EXPECT_EQ(g, 0);
    EXPECT_EQ(b.remote->GetMatrixGain(0, 0, &g), kStatusSuccess);
    EXPECT_EQ(g, -30);
}

TEST_F(RemoteSurfaceTest, SwitchMatricesAddressOneBitPerCrosspoint) {
    struct Case {
        const char* name;
        std::function<uint32_t(COrvexRemote&, uint8_t)> set;
        std::function<uint32_t(COrvexRemote&, uint8_t*)> get;
        uint16_t reg;
        uint8_t bit;
    };
    const Case cases[] = {
        {"A row 2 column 13", [](COrvexRemote& r, uint8_t on) { return r.SetMatrixSwitchA(2, 13, on); },
         [](COrvexRemote& r, uint8_t* v) { return r.GetMatrixSwitchA(2, 13, v); }, 265, 5},
        {"A row 0 column 0", [](COrvexRemote& r, uint8_t on) { return r.SetMatrixSwitchA(0, 0, on); },
         [](COrvexRemote& r, uint8_t* v) { return r.GetMatrixSwitchA(0, 0, v); }, 256, 0},
        {"B row 31 column 31", [](COrvexRemote& r, uint8_t on) { return r.SetMatrixSwitchB(31, 31, on); },
         [](COrvexRemote& r, uint8_t* v) { return r.GetMatrixSwitchB(31, 31, v); }, 511, 7},
        {"flag 20", [](COrvexRemote& r, uint8_t on) { return r.SetSwitchFlag(20, on); },
         [](COrvexRemote& r, uint8_t* v) { return r.GetSwitchFlag(20, v); }, 546, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bench b({49, 6, {{c.reg, 0x5A}}});
        for (uint8_t on : {1, 0}) {
            b.link->written.clear();
            EXPECT_EQ(c.set(*b.remote, on), kStatusSuccess);
            const uint8_t expected = on ? uint8_t(0x5A | (1u << c.bit)) : uint8_t(0x5A & ~(1u << c.bit));
            ExpectOneWrite(b, c.reg, expected, true);
            EXPECT_EQ(b.remote->RegisterImage()[c.reg], expected);
            uint8_t v = 0xEE;
            EXPECT_EQ(c.get(*b.remote, &v), kStatusSuccess);
            EXPECT_EQ(v, on);
        }
    }
}

TEST_F(RemoteSurfaceTest, PortSampleRatesComeFromThreeBitCodes) {
    // Ports 0-4: codes 3, 5, 6, 0, 1 -> 96000, 192000, none, 44100, 48000.
    const uint16_t w = 3 | (5 << 3) | (6 << 6) | (0 << 9) | (1 << 12);
    Bench b({49, 6, {{126, uint8_t(w & 0xFF)}, {127, uint8_t(w >> 8)}, {125, 0x80}}});
    const uint32_t expected[5] = {96000, 192000, 0, 44100, 48000};
    for (uint8_t port = 0; port < 5; ++port) {
        SCOPED_TRACE(int(port));
        uint32_t hertz = 1;
        EXPECT_EQ(b.remote->GetPortSampleRate(port, &hertz), kStatusSuccess);
        EXPECT_EQ(hertz, expected[port]);
    }
    uint8_t on = 0;
    EXPECT_EQ(b.remote->GetRegister125Bit7(&on), kStatusSuccess);
    EXPECT_EQ(on, 1);
}

// ---- whole image and raw registers --------------------------------------------

TEST_F(RemoteSurfaceTest, RefreshAllRegistersReadsTheThreeBlocksInOrder) {
    Bench b({49, 6, {{2047, 0x22}}});
    b.link->unit[2047] = 0x44;  // changed on the unit since selection
    EXPECT_EQ(b.remote->RefreshAllRegisters(), kStatusSuccess);
    auto sent = b.Sent();
    ASSERT_EQ(sent.size(), 4u);
    EXPECT_EQ(sent[0].kind, HostMessage::kCommand);
    EXPECT_EQ(sent[0].command, kCmdRefreshAll);
    const std::pair<uint16_t, uint16_t> blocks[] = {{0, 127}, {256, 291}, {1024, 1023}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(sent[i + 1].kind, HostMessage::kStatusRequest);
        EXPECT_EQ(sent[i + 1].reg, blocks[i].first);
        EXPECT_EQ(sent[i + 1].count, blocks[i].second);
    }
    EXPECT_EQ(b.remote->RegisterImage()[2047], 0x44);

    // A block whose answer never matches (a unit without the extended map answers
    // the request for 1024-2047 elsewhere) still gives success, and the other
    // blocks are still read: a refresh is as good as the link allows.
    for (const UnitSetup& unit : {kTavi6, kOrvex8}) {
        for (const auto& [first, count] : blocks) {
            SCOPED_TRACE(testing::Message() << int(unit.deviceID) << " block " << first);
            Bench partial(unit);
            partial.link->unit[100] = 0x55;
            partial.link->answeredElsewhere = first;
            EXPECT_EQ(partial.remote->RefreshAllRegisters(), kStatusSuccess);
            std::set<uint16_t> asked;
            for (const HostMessage& m : partial.Sent())
                if (m.kind == HostMessage::kStatusRequest) asked.insert(m.reg);
            // The short form carries nine register bits: 1024 goes out as 0.
            for (uint16_t reg : {0, 256, unit.deviceID == 49 ? 1024 : 0}) EXPECT_EQ(asked.count(reg), 1u) << reg;
            if (first != 0) {
                EXPECT_EQ(partial.remote->RegisterImage()[100], 0x55);
            }
        }
    }
}

TEST_F(RemoteSurfaceTest, RawRegistersGoToImageAndUnit) {
    struct Case {
        UnitSetup unit;
        uint16_t reg;
        uint8_t value;
        bool longForm;
    };
    const Case cases[] = {
        {kOrvex8, 9, 0x5C, false},
        {kOrvex8, 300, 0x07, false},  // short form with register bit 8
        {kTavi6, 1500, 0x09, true},
        {kTavi5, 2047, 0xAB, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reg);
        Bench b(c.unit);
        EXPECT_EQ(b.remote->SetRegister(c.reg, c.value), kStatusSuccess);
        ExpectOneWrite(b, c.reg, c.value, c.longForm);
        uint8_t v = 0xEE;
        EXPECT_EQ(b.remote->GetRegister(c.reg, &v), kStatusSuccess);
        EXPECT_EQ(v, c.value);
    }
}

TEST_F(RemoteSurfaceTest, FirmwareDateFromTableOrRegisters) {
    struct Case {
        uint8_t reg10, reg11;
        uint32_t status;
        uint16_t date;
    };
    const Case cases[] = {
        {0, 0, 0, 0xC101}, {3, 0, 0, 0xC21B}, {5, 0, 0, 0xCB0E},
        {0x06, 0, 0, 0xE31A}, {0x46, 0, 0, 0xE409}, {0x86, 0, 0, 0xEC09},  // revision 6: alternate 0, 1, 2
        {0xC6, 0, 1, 0xEEEE}, {0x06, 0x01, 1, 0xEEEE},                     // alternate 3 and 4: unknown
        {7, 0, 0, 0x1A25}, {0x3F, 0, 0, 0x1A25},                           // from registers 7-8
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "reg10 " << int(c.reg10) << " reg11 " << int(c.reg11));
        Bench b({49, c.reg10, {{11, c.reg11}, {7, 0x25}, {8, 0x1A}}});
        uint16_t date = 0xEEEE;
        EXPECT_EQ(b.remote->GetFirmwareDate(&date), c.status);
        EXPECT_EQ(date, c.date);
    }
}

}  // namespace
}  // namespace orvex
