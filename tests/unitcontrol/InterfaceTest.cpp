#include "unitcontrol/OrvexMixerInterface.h"
#include "protocol/SerialNumber.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace orvex {
namespace {

// Offers nothing: every operation answers "not offered" and leaves its outputs
// alone, except NoOperation. Overriding every slot with `override` and then
// instantiating proves the interface's list is complete and entirely pure.
class NothingOffered : public COrvexMixerInterface {
public:
    int lastSlot = 0;
    int calls = 0;

    void SetPortName(const char*) override { Record(1); }
    void SetTransportMask(uint32_t) override { Record(2); }
    void SetSecondPortName(const char*) override { Record(3); }
    uint32_t Open() override { return Record(4); }
    uint32_t Close() override { return Record(5); }
    uint32_t Poll() override { return Record(6); }
    uint32_t IsDisconnected(uint8_t*) override { return Record(7); }
    uint32_t GetAlternateFirmwareRevision(uint8_t*) override { return Record(8); }
    uint32_t PrepareForProgramming() override { return Record(9); }
    uint32_t SetMode(uint8_t) override { return Record(10); }
    uint32_t GetProgrammingStatus(uint8_t*) override { return Record(11); }
    uint32_t GetStatusTriple(uint8_t*, uint8_t*, uint8_t*) override { return Record(12); }
    uint32_t SelectAlternateBank() override { return Record(13); }
    uint32_t SelectBank(uint8_t) override { return Record(14); }
    uint32_t EraseAlternateBank() override { return Record(15); }
    uint32_t WaitForResponse(uint32_t) override { return Record(16); }
    uint32_t WriteFirmwarePacket(const uint8_t*, uint32_t) override { return Record(17); }
    uint32_t RequestVerifyPacket() override { return Record(18); }
    uint32_t ReadVerifyPacket(uint8_t*, uint32_t) override { return Record(19); }
    uint32_t SetProgrammingComplete() override { return Record(20); }
    uint32_t CancelProgramming() override { return Record(21); }
    uint32_t WriteSerialNumber(uint32_t) override { return Record(22); }
    uint32_t WriteXSlotSerialNumber(uint32_t) override { return Record(23); }
    uint32_t SelectXSlotFirmware(uint8_t) override { return Record(24); }
    uint32_t SetRegisters48To51(uint32_t) override { return Record(25); }
    uint32_t GetNumConnections(uint16_t*) override { return Record(26); }
    uint32_t SelectConnection(uint16_t) override { return Record(27); }
    uint32_t GetCurrentConnection(uint16_t*) override { return Record(28); }
    uint32_t GetConnectionType(uint16_t*) override { return Record(29); }
    uint32_t GetConnectionDescription(uint16_t, char*, uint32_t, uint8_t*) override { return Record(30); }
    uint32_t GetSerialNumber(uint32_t*) override { return Record(31); }
    uint32_t GetDeviceID(uint8_t*) override { return Record(32); }
    bool IsTavi() override { Record(33); return false; }
    uint32_t GetPCBRevision(uint8_t*) override { return Record(34); }
    uint32_t GetFirmwareRevision(uint8_t*) override { return Record(35); }
    uint32_t SetTrim(uint16_t, uint8_t) override { return Record(36); }
    uint32_t GetTrim(uint16_t, uint8_t*) override { return Record(37); }
    uint32_t SetSyncSource(uint8_t) override { return Record(38); }
    uint32_t GetSyncSource(uint8_t*) override { return Record(39); }
    uint32_t SetSLEnable(uint8_t) override { return Record(40); }
    uint32_t GetSLEnable(uint8_t*) override { return Record(41); }
    uint32_t SetSampleRate(uint8_t) override { return Record(42); }
    uint32_t GetSampleRate(uint8_t*) override { return Record(43); }
    uint32_t GetSLStatus(uint8_t*) override { return Record(44); }
    uint32_t SetFPAOutSource(uint8_t) override { return Record(45); }
    uint32_t GetFPAOutSource(uint8_t*) override { return Record(46); }
    uint32_t SetFPDOutSource(uint8_t) override { return Record(47); }
    uint32_t GetFPDOutSource(uint8_t*) override { return Record(48); }
    uint32_t SetWideWireIn(uint8_t) override { return Record(49); }
    uint32_t GetWideWireIn(uint8_t*) override { return Record(50); }
    uint32_t SetWideWireOut(uint8_t) override { return Record(51); }
    uint32_t GetWideWireOut(uint8_t*) override { return Record(52); }
    uint32_t SetFPMeterSource(uint8_t) override { return Record(53); }
    uint32_t GetFPMeterSource(uint8_t*) override { return Record(54); }
    uint32_t SetXSlotOutSource(uint8_t) override { return Record(55); }
    uint32_t GetXSlotOutSource(uint8_t*) override { return Record(56); }
    uint32_t GetRegister5Bit0(uint8_t*) override { return Record(57); }
    uint32_t GetRegister5Bit1(uint8_t*) override { return Record(58); }
    uint32_t SetRegister5Bit2(uint8_t) override { return Record(59); }
    uint32_t GetRegister5Bit2(uint8_t*) override { return Record(60); }
    uint32_t SetXSlotMode(uint8_t) override { return Record(61); }
    uint32_t GetXSlotMode(uint8_t*) override { return Record(62); }
    uint32_t GetRegister5Bit5(uint8_t*) override { return Record(63); }
    uint32_t GetModelVariant(uint8_t*) override { return Record(64); }
    uint32_t GetRegister7Low(uint8_t*) override { return Record(65); }
    uint32_t IsVariant1824(uint8_t*) override { return Record(66); }
    uint32_t IsVariantVT(uint8_t*) override { return Record(67); }
    uint32_t GetXSlotDeviceID(uint8_t*) override { return Record(68); }
    uint32_t GetXSlotSerialNumber(uint32_t*) override { return Record(69); }
    uint32_t GetXSlotFirmwareRevision(uint8_t*, uint8_t*) override { return Record(70); }
    uint32_t GetXSlotPCBRevision(uint8_t*) override { return Record(71); }
    uint32_t SetXSlotOptionA(uint8_t) override { return Record(72); }
    uint32_t GetXSlotOptionA(uint8_t*) override { return Record(73); }
    uint32_t SetXSlotOptionB(uint8_t) override { return Record(74); }
    uint32_t GetXSlotOptionB(uint8_t*) override { return Record(75); }
    uint32_t GetPeakMeter(uint32_t, uint8_t*) override { return Record(76); }
    uint32_t GetOverload(uint32_t, uint8_t*) override { return Record(77); }
    uint32_t NoOperation(uint32_t) override { Record(78); return kStatusSuccess; }
    uint32_t SetMixerVolume(uint8_t, uint8_t, uint8_t, uint32_t) override { return Record(79); }
    uint32_t GetMixerVolume(uint8_t, uint8_t, uint8_t*) override { return Record(80); }
    uint32_t SetMixerMute(uint8_t, uint8_t, uint8_t) override { return Record(81); }
    uint32_t GetMixerMute(uint8_t, uint8_t, uint8_t*) override { return Record(82); }
    uint32_t SetMixerSource(uint8_t, uint8_t, uint8_t) override { return Record(83); }
    uint32_t GetMixerSource(uint8_t, uint8_t, uint8_t*) override { return Record(84); }
    bool HasExtendedMixer() override { Record(85); return false; }
    uint32_t GetRegister24(uint8_t*) override { return Record(86); }
    uint32_t GetRegister20PlusOne(uint8_t*) override { return Record(87); }
    uint32_t GetRegister21PlusOne(uint8_t*) override { return Record(88); }
    uint32_t GetWord22PlusOne(uint16_t*) override { return Record(89); }
    uint32_t GetWord7(uint16_t*) override { return Record(90); }
    uint32_t SetRegister27(uint8_t) override { return Record(91); }
    uint32_t RefreshAllRegisters() override { return Record(92); }
    uint32_t GetFirmwareDate(uint16_t*) override { return Record(93); }
    uint32_t GetRegister125Bit7(uint8_t*) override { return Record(94); }
    bool GetRegister125Bit2() override { Record(95); return false; }
    bool GetRegister124Bit7() override { Record(96); return false; }
    bool GetRegister42Bit3() override { Record(97); return false; }
    uint32_t GetPortSampleRate(uint8_t, uint32_t*) override { return Record(98); }
    uint32_t GetLevelMeter(uint8_t, uint16_t, uint32_t*, uint8_t*) override { return Record(99); }
    uint32_t SetMatrixGain(uint8_t, uint8_t, int16_t) override { return Record(100); }
    uint32_t GetMatrixGain(uint8_t, uint8_t, int16_t*) override { return Record(101); }
    uint32_t SetOutputGain(uint8_t, int16_t) override { return Record(102); }
    uint32_t GetOutputGain(uint8_t, int16_t*) override { return Record(103); }
    uint32_t SetMatrixSwitchA(uint8_t, uint8_t, uint8_t) override { return Record(104); }
    uint32_t GetMatrixSwitchA(uint8_t, uint8_t, uint8_t*) override { return Record(105); }
    uint32_t SetSwitchFlag(uint8_t, uint8_t) override { return Record(106); }
    uint32_t GetSwitchFlag(uint8_t, uint8_t*) override { return Record(107); }
    uint32_t SetMatrixSwitchB(uint8_t, uint8_t, uint8_t) override { return Record(108); }
    uint32_t GetMatrixSwitchB(uint8_t, uint8_t, uint8_t*) override { return Record(109); }
    uint32_t GetRegister(uint16_t, uint8_t*) override { return Record(110); }
    uint32_t SetRegister(uint16_t, uint8_t) override { return Record(111); }
    uint32_t SetChangeCallback(uint16_t, uint16_t, OrvexChangeCallback, uint32_t, uint32_t) override { return Record(112); }

private:
    uint32_t Record(int slot) {
        lastSlot = slot;
        ++calls;
        return kStatusFailure;
    }
};

// Position of a virtual operation in the table, from its member pointer. Both
// compilers we build with (g++ natively, mingw-w64 g++) use the Itanium layout:
// the pointer holds 1 + the byte offset into the table, and a virtual destructor
// takes two entries (complete and deleting), so position p sits at index p + 1.
template <typename Pmf>
long VirtualIndex(Pmf pmf) {
    static_assert(sizeof(Pmf) == 2 * sizeof(void*));
    std::uintptr_t words[2];
    std::memcpy(words, &pmf, sizeof words);
    if ((words[0] & 1u) == 0) return -1;  // not virtual
    return static_cast<long>((words[0] - 1) / sizeof(void*));
}

struct SlotCase {
    const char* name;
    long index;
    int position;
};

#define SLOT(op) #op, VirtualIndex(&COrvexMixerInterface::op)

TEST(OrvexMixerInterface, OperationsSitInTheirSlots) {
    const SlotCase cases[] = {
        {SLOT(SetPortName), 1},
        {SLOT(SetTransportMask), 2},
        {SLOT(SetSecondPortName), 3},
        {SLOT(Open), 4},
        {SLOT(Close), 5},
        {SLOT(Poll), 6},
        {SLOT(IsDisconnected), 7},
        {SLOT(GetAlternateFirmwareRevision), 8},
        {SLOT(PrepareForProgramming), 9},
        {SLOT(SetMode), 10},
        {SLOT(GetProgrammingStatus), 11},
        {SLOT(GetStatusTriple), 12},
        {SLOT(SelectAlternateBank), 13},
        {SLOT(SelectBank), 14},
        {SLOT(EraseAlternateBank), 15},
        {SLOT(WaitForResponse), 16},
        {SLOT(WriteFirmwarePacket), 17},
        {SLOT(RequestVerifyPacket), 18},
        {SLOT(ReadVerifyPacket), 19},
        {SLOT(SetProgrammingComplete), 20},
        {SLOT(CancelProgramming), 21},
        {SLOT(WriteSerialNumber), 22},
        {SLOT(WriteXSlotSerialNumber), 23},
        {SLOT(SelectXSlotFirmware), 24},
        {SLOT(SetRegisters48To51), 25},
        {SLOT(GetNumConnections), 26},
        {SLOT(SelectConnection), 27},
        {SLOT(GetCurrentConnection), 28},
        {SLOT(GetConnectionType), 29},
        {SLOT(GetConnectionDescription), 30},
        {SLOT(GetSerialNumber), 31},
        {SLOT(GetDeviceID), 32},
        {SLOT(IsTavi), 33},
        {SLOT(GetPCBRevision), 34},
        {SLOT(GetFirmwareRevision), 35},
        {SLOT(SetTrim), 36},
        {SLOT(GetTrim), 37},
        {SLOT(SetSyncSource), 38},
        {SLOT(GetSyncSource), 39},
        {SLOT(SetSLEnable), 40},
        {SLOT(GetSLEnable), 41},
        {SLOT(SetSampleRate), 42},
        {SLOT(GetSampleRate), 43},
        {SLOT(GetSLStatus), 44},
        {SLOT(SetFPAOutSource), 45},
        {SLOT(GetFPAOutSource), 46},
        {SLOT(SetFPDOutSource), 47},
        {SLOT(GetFPDOutSource), 48},
        {SLOT(SetWideWireIn), 49},
        {SLOT(GetWideWireIn), 50},
        {SLOT(SetWideWireOut), 51},
        {SLOT(GetWideWireOut), 52},
        {SLOT(SetFPMeterSource), 53},
        {SLOT(GetFPMeterSource), 54},
        {SLOT(SetXSlotOutSource), 55},
        {SLOT(GetXSlotOutSource), 56},
        {SLOT(GetRegister5Bit0), 57},
        {SLOT(GetRegister5Bit1), 58},
        {SLOT(SetRegister5Bit2), 59},
        {SLOT(GetRegister5Bit2), 60},
        {SLOT(SetXSlotMode), 61},
        {SLOT(GetXSlotMode), 62},
        {SLOT(GetRegister5Bit5), 63},
        {SLOT(GetModelVariant), 64},
        {SLOT(GetRegister7Low), 65},
        {SLOT(IsVariant1824), 66},
        {SLOT(IsVariantVT), 67},
        {SLOT(GetXSlotDeviceID), 68},
        {SLOT(GetXSlotSerialNumber), 69},
        {SLOT(GetXSlotFirmwareRevision), 70},
        {SLOT(GetXSlotPCBRevision), 71},
        {SLOT(SetXSlotOptionA), 72},
        {SLOT(GetXSlotOptionA), 73},
        {SLOT(SetXSlotOptionB), 74},
        {SLOT(GetXSlotOptionB), 75},
        {SLOT(GetPeakMeter), 76},
        {SLOT(GetOverload), 77},
        {SLOT(NoOperation), 78},
        {SLOT(SetMixerVolume), 79},
        {SLOT(GetMixerVolume), 80},
        {SLOT(SetMixerMute), 81},
        {SLOT(GetMixerMute), 82},
        {SLOT(SetMixerSource), 83},
        {SLOT(GetMixerSource), 84},
        {SLOT(HasExtendedMixer), 85},
        {SLOT(GetRegister24), 86},
        {SLOT(GetRegister20PlusOne), 87},
        {SLOT(GetRegister21PlusOne), 88},
        {SLOT(GetWord22PlusOne), 89},
        {SLOT(GetWord7), 90},
        {SLOT(SetRegister27), 91},
        {SLOT(RefreshAllRegisters), 92},
        {SLOT(GetFirmwareDate), 93},
        {SLOT(GetRegister125Bit7), 94},
        {SLOT(GetRegister125Bit2), 95},
        {SLOT(GetRegister124Bit7), 96},
        {SLOT(GetRegister42Bit3), 97},
        {SLOT(GetPortSampleRate), 98},
        {SLOT(GetLevelMeter), 99},
        {SLOT(SetMatrixGain), 100},
        {SLOT(GetMatrixGain), 101},
        {SLOT(SetOutputGain), 102},
        {SLOT(GetOutputGain), 103},
        {SLOT(SetMatrixSwitchA), 104},
        {SLOT(GetMatrixSwitchA), 105},
        {SLOT(SetSwitchFlag), 106},
        {SLOT(GetSwitchFlag), 107},
        {SLOT(SetMatrixSwitchB), 108},
        {SLOT(GetMatrixSwitchB), 109},
        {SLOT(GetRegister), 110},
        {SLOT(SetRegister), 111},
        {SLOT(SetChangeCallback), 112},
    };
    ASSERT_EQ(sizeof(cases) / sizeof(cases[0]), 112u);
    for (const auto& c : cases) {
        EXPECT_EQ(c.index, c.position + 1) << c.name;
    }
}

#undef SLOT

TEST(OrvexMixerInterface, UnofferedOperationsAnswerFailureAndNoOperationSucceeds) {
    NothingOffered unit;
    COrvexMixerInterface& mixer = unit;

    EXPECT_EQ(mixer.NoOperation(0xDEADBEEF), kStatusSuccess);
    EXPECT_EQ(unit.lastSlot, 78);

    uint8_t byte = 0xA5;
    uint16_t word = 0x1234;
    uint32_t serial = 0x89ABCDEF;
    char text[8] = "keep";
    EXPECT_EQ(mixer.GetProgrammingStatus(&byte), kStatusFailure);
    EXPECT_EQ(unit.lastSlot, 11);
    EXPECT_EQ(mixer.GetCurrentConnection(&word), kStatusFailure);
    EXPECT_EQ(mixer.GetSerialNumber(&serial), kStatusFailure);
    EXPECT_EQ(mixer.GetConnectionDescription(0, text, sizeof text, &byte), kStatusFailure);
    EXPECT_EQ(unit.lastSlot, 30);
    EXPECT_FALSE(mixer.IsTavi());
    EXPECT_EQ(byte, 0xA5);
    EXPECT_EQ(word, 0x1234);
    EXPECT_EQ(serial, 0x89ABCDEFu);
    EXPECT_STREQ(text, "keep");
    EXPECT_EQ(unit.calls, 6);

    mixer.SetTransportMask(0x28);
    EXPECT_EQ(unit.lastSlot, 2);
}

struct NameCase {
    uint8_t id;
    const char* model;
    const char* card;
};

TEST(OrvexMixerInterface, KindNames) {
    const NameCase cases[] = {
        {38, "Orvex 16", "Unknown!"},
        {39, "Orvex 8", "Unknown!"},
        {49, "Tavi", "Unknown!"},
        {96, "Orvex(n)", "Unknown!"},
        {128, "Harken Relay 4x4", "Unknown!"},
        {19, "Unknown!", "VI-RIZO"},
        {20, "Unknown!", "DU-RA"},
        {21, "Unknown!", "VA-VOVUZ"},
        {23, "Unknown!", "VI-RIZO"},
        {24, "Unknown!", "DI-ZO"},
        {25, "Unknown!", "VA-VO"},
        {50, "Unknown!", "DO-ZAZ"},
        {0, "Unknown!", "Unknown!"},
        {255, "Unknown!", "Unknown!"},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(ModelNameForDeviceID(c.id), c.model) << int(c.id);
        EXPECT_STREQ(XSlotCardName(c.id), c.card) << int(c.id);
    }
}

// ---- serial numbers ----

struct SerialCase {
    uint8_t id;
    uint32_t year, week, number;
    uint32_t word;
    const char* text;
};

TEST(SerialNumber, LayoutAndText) {
    const SerialCase cases[] = {
        {0x26, 17, 48, 123, 0x2617007B, "2617480123"},
        {0x27, 5, 1, 7, 0x27501007, "2705010007"},
        {0x26, 16, 0, 0, 0x26040000, "2616000000"},   // year bit 4 alone: bit 18
        {0x26, 32, 2, 1000, 0x260823E8, "2632021000"},  // year bit 5 alone: bit 19
        {0x15, 63, 63, 4095, 0x15FFFFFF, "1563634095"},
        {0x80, 0, 0, 0, 0x80000000, "8000000000"},
        {0xFF, 63, 63, 4095, kBlankSerialNumber, "ff63634095"},
    };
    for (const auto& c : cases) {
        uint32_t word = 0;
        ASSERT_TRUE(BuildSerialNumber(c.id, c.year, c.week, c.number, &word)) << c.text;
        EXPECT_EQ(word, c.word) << c.text;
        EXPECT_EQ(SerialDeviceID(c.word), c.id);
        EXPECT_EQ(SerialYear(c.word), c.year);
        EXPECT_EQ(SerialWeek(c.word), c.week);
        EXPECT_EQ(SerialUnitNumber(c.word), c.number);
        char text[kSerialTextSize];
        EXPECT_TRUE(FormatSerialNumber(c.word, text, sizeof text));
        EXPECT_STREQ(text, c.text);
    }
}

TEST(SerialNumber, AgreesWithTheRegisterLayout) {
    // Registers r0 (week), r1 (year), r2 and r3 (number) give the same word.
    for (uint32_t year = 0; year <= kSerialMaxYear; ++year) {
        for (uint32_t week = 0; week <= kSerialMaxWeek; ++week) {
            const uint32_t number = (year * 64 + week) * 37 % 4096;
            const uint32_t r0 = week, r1 = year, r2 = number & 0xFF, r3 = (number >> 8) & 0x0F;
            const uint32_t fromRegisters =
                (0x27u << 24) | ((r1 & 0x0F) << 20) | ((r1 & 0x30) << 14) | (r0 << 12) | (((r3 << 8) | r2) & 0xFFF);
            uint32_t word = 0;
            ASSERT_TRUE(BuildSerialNumber(0x27, year, week, number, &word));
            ASSERT_EQ(word, fromRegisters) << year << "/" << week;
            ASSERT_EQ(SerialYear(word), year);
            ASSERT_EQ(SerialWeek(word), week);
            ASSERT_EQ(SerialUnitNumber(word), number);
        }
    }
}

TEST(SerialNumber, RefusesOutOfRangeFieldsAndShortBuffers) {
    struct Bad {
        uint32_t year, week, number;
    };
    const Bad bad[] = {{64, 0, 0}, {0, 64, 0}, {0, 0, 4096}, {0xFFFFFFFF, 1, 1}};
    for (const auto& b : bad) {
        uint32_t word = 0x12345678;
        EXPECT_FALSE(BuildSerialNumber(0x26, b.year, b.week, b.number, &word));
        EXPECT_EQ(word, 0x12345678u);
    }
    EXPECT_FALSE(BuildSerialNumber(0x26, 1, 1, 1, nullptr));

    char text[16];
    std::memset(text, 'x', sizeof text);
    EXPECT_FALSE(FormatSerialNumber(0x2617007B, text, 10));  // one short of the terminator
    EXPECT_STREQ(text, "261748012");
    EXPECT_EQ(text[10], 'x');
    std::memset(text, 'x', sizeof text);
    EXPECT_FALSE(FormatSerialNumber(0x2617007B, text, 0));
    EXPECT_EQ(text[0], 'x');
    EXPECT_FALSE(FormatSerialNumber(0x2617007B, nullptr, 11));
    EXPECT_TRUE(FormatSerialNumber(0x2617007B, text, 11));
    EXPECT_STREQ(text, "2617480123");
}

}  // namespace
}  // namespace orvex
