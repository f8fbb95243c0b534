// The updater's rules without a window: serial numbers, dates, image names,
// versions, image choice and the adapter firmware rule.
#include <gtest/gtest.h>

#include "updater/FirmwareRules.h"

namespace {

using rules::SerialEntry;

uint32_t Serial(uint8_t id, uint32_t year, uint32_t week, uint32_t number) {
    return (uint32_t(id) << 24) | ((year & 0x0F) << 20) | ((year >> 4) << 18) | (week << 12) | number;
}

TEST(SerialNumberRules, ValidityNeedsAKnownModelAndFieldsInRange) {
    struct Case {
        uint32_t serial;
        bool valid;
    } cases[] = {
        {Serial(38, 12, 15, 123), true},   {Serial(39, 1, 1, 1), true},     {Serial(128, 63, 53, 4095), true},
        {Serial(21, 17, 6, 7), true},      {Serial(49, 12, 15, 1), false},  {Serial(96, 12, 15, 1), false},
        {Serial(24, 12, 15, 1), false},    {Serial(38, 0, 15, 1), false},   {Serial(38, 12, 0, 1), false},
        {Serial(38, 12, 54, 1), false},    {Serial(38, 12, 63, 1), false},  {Serial(38, 12, 15, 0), false},
        {0, false},                        {0xFFFFFFFF, false},
    };
    for (const Case& c : cases) EXPECT_EQ(rules::IsValidSerialNumber(c.serial), c.valid) << std::hex << c.serial;
}

TEST(SerialNumberRules, TextIsEmptyForBlankRegistersAndTenCharactersOtherwise) {
    EXPECT_EQ(rules::SerialNumberText(Serial(38, 12, 15, 123)), "2612150123");
    EXPECT_EQ(rules::SerialNumberText(Serial(128, 1, 2, 3)), "8001020003");
    EXPECT_EQ(rules::SerialNumberText(Serial(21, 63, 53, 4095)), "1563534095");
    EXPECT_EQ(rules::SerialNumberText(Serial(39, 0, 0, 0)), "2700000000") << "shown as read";
    EXPECT_EQ(rules::SerialNumberText(0), "");
    EXPECT_EQ(rules::SerialNumberText(0xFFFFFFFF), "");
    EXPECT_EQ(rules::SerialNumberText(Serial(38, 12, 63, 1)), "") << "week 63 is a blank register";
}

TEST(SerialNumberRules, TheDialogsParsing) {
    struct Case {
        const char* text;
        SerialEntry result;
        uint32_t serial;
    } cases[] = {
        {"2612150123", SerialEntry::kAccepted, Serial(38, 12, 15, 123)},
        {"2700000001", SerialEntry::kInvalid, 0},  // year 0 and week 0
        {"2612540001", SerialEntry::kInvalid, 0},
        {"2612530001", SerialEntry::kAccepted, Serial(38, 12, 53, 1)},
        {"2612150000", SerialEntry::kInvalid, 0},
        {"2612154095", SerialEntry::kAccepted, Serial(38, 12, 15, 4095)},
        {"2612154096", SerialEntry::kInvalid, 0},  // 4096 modulo 4096 is 0
        {"2612154097", SerialEntry::kAccepted, Serial(38, 12, 15, 1)},  // the number is kept modulo 4096
        {"2675150001", SerialEntry::kAccepted, Serial(38, 11, 15, 1)},  // the year modulo 64
        {"8014030011", SerialEntry::kAccepted, Serial(128, 14, 3, 11)},
        {"1517060007", SerialEntry::kAccepted, Serial(21, 17, 6, 7)},
        {"1A17060007", SerialEntry::kInvalid, 0},   // device 0x1A
        {"2612650001", SerialEntry::kInvalid, 0},   // week 65 would read as week 1 of year 28
        {"2612990001", SerialEntry::kInvalid, 0},
        {"261215012", SerialEntry::kWrongLength, 0},
        {"26121501234", SerialEntry::kWrongLength, 0},
        {"", SerialEntry::kWrongLength, 0},
        {"26 2150123", SerialEntry::kInvalid, 0},  // a part is read up to its first non-digit: year 0
    };
    for (const Case& c : cases) {
        uint32_t serial = 0;
        EXPECT_EQ(rules::ParseSerialNumberText(c.text, &serial), c.result) << c.text;
        if (c.result == SerialEntry::kAccepted) {
            EXPECT_EQ(serial, c.serial) << c.text;
        }
    }
    uint32_t serial = 0;
    ASSERT_EQ(rules::ParseSerialNumberText("2612150123", &serial), SerialEntry::kAccepted);
    EXPECT_EQ(rules::SerialNumberText(serial), "2612150123") << "the text form gives back what was typed";
}

TEST(DateRules, ManufactureDateIsTheFirstDayOfTheWeekWithTwentyEightDayFebruaries) {
    struct Case {
        uint32_t year, week;
        const char* date;
    } cases[] = {
        {12, 1, "Jan 01, 2012"}, {12, 5, "Jan 29, 2012"}, {12, 6, "Feb 05, 2012"},  {12, 9, "Feb 26, 2012"},
        {12, 10, "Mar 05, 2012"}, {12, 18, "Apr 30, 2012"}, {12, 53, "Dec 31, 2012"}, {0, 1, "Jan 01, 2000"},
        {63, 27, "Jul 02, 2063"},
    };
    for (const Case& c : cases) {
        plat::LocalTime date{};
        ASSERT_TRUE(rules::ManufactureDate(Serial(38, c.year, c.week, 1), &date)) << c.week;
        EXPECT_EQ(rules::FormatDate(date), c.date) << c.year << "/" << c.week;
    }
    plat::LocalTime date{};
    EXPECT_FALSE(rules::ManufactureDate(0, &date));
    EXPECT_FALSE(rules::ManufactureDate(Serial(38, 12, 0, 1), &date));
    EXPECT_FALSE(rules::ManufactureDate(Serial(38, 12, 54, 1), &date));
    EXPECT_FALSE(rules::ManufactureDate(0xFFFFFFFF, &date)) << "week 63";
}

TEST(DateRules, ReleaseDatesComeFromTheTargetsTable) {
    struct Case {
        uint8_t target;
        uint32_t revision;
        const char* date;  // null: no date
    } cases[] = {
        {38, 28, "Apr 17, 2013"}, {39, 31, "Jan 01, 2014"}, {128, 1, "Feb 25, 2005"}, {38, 38, "Jan 01, 2014"},
        {38, 39, nullptr},        {38, 0, nullptr},         {38, 63, nullptr},        {21, 1, "Feb 17, 2017"},
        {21, 10, "Jan 01, 2017"}, {21, 11, nullptr},        {24, 15, "Feb 07, 2018"}, {24, 20, "Feb 07, 2018"},
        {24, 21, nullptr},        {19, 6, "Dec 29, 2011"},  {19, 19, "Jan 01, 2012"}, {19, 20, nullptr},
        {50, 5, "Jul 10, 2011"},  {50, 10, "Sep 24, 2012"}, {50, 11, "Apr 16, 2014"}, {50, 20, nullptr},
        {49, 5, nullptr},         {25, 1, nullptr},
    };
    for (const Case& c : cases) {
        plat::LocalTime date{};
        const bool dated = rules::ReleaseDate(c.target, c.revision, &date);
        EXPECT_EQ(dated, c.date != nullptr) << int(c.target) << "/" << c.revision;
        if (dated && c.date) {
            EXPECT_EQ(rules::FormatDate(date), c.date) << int(c.target) << "/" << c.revision;
            EXPECT_EQ(date.hour + date.minute + date.second, 0) << "local midnight";
        }
    }
}

TEST(ImageNameRules, NamesGiveDeviceVersionAndBoard) {
    struct Case {
        const char* name;
        bool known;
        uint8_t device;
        uint16_t version;
        uint8_t pcb;
    } cases[] = {
        {"OV8028A.BIN", true, 39, 28, 1},     {"OV8031B.BIN", true, 39, 31, 2},   {"OVF028A.BIN", true, 38, 28, 1},
        {"OVF031B.BIN", true, 38, 31, 2},     {"XCDNT0102NC.BIN", true, 21, 102, 0}, {"XCHD015B.BIN", true, 24, 15, 2},
        {"XCMA006B.BIN", true, 19, 6, 2},     {"XCUSB10V00.BIN", true, 50, 10, 0}, {"XCUSB5V30.BIN", true, 50, 5, 0},
        {"RL4029C", true, 128, 29, 3},       {"XCFW012A.BIN", true, 25, 12, 1},  {"XCHD015NC", true, 24, 15, 0},
        {"OVF031B", true, 38, 31, 2},  // no extension
        {"ov8028a.bin", false, 255, 65535, 255},  // lower case
        {"OV8128A.BIN", false, 255, 65535, 255},  // an Orvex version must start with 0
        {"XCXX015B.BIN", false, 255, 65535, 255}, {"", false, 255, 65535, 255},  {"OVF", false, 255, 65535, 255},
        // Too short for its fields: nothing is read past the end of the name.
        {"OVF0", false, 255, 65535, 255},     {"OVF031", false, 255, 65535, 255}, {"XCDNT0102", false, 255, 65535, 255},
        {"XCUSB", false, 255, 65535, 255},    {"XCUSBV", false, 255, 65535, 255}, {"XCUSB7", true, 50, 7, 0},
        {"OVF0A", false, 255, 65535, 255},    {"OVF0XXB", true, 38, 0, 2},
    };
    for (const Case& c : cases) {
        rules::ImageName image;
        EXPECT_EQ(rules::ReadImageName(c.name, &image), c.known) << c.name;
        EXPECT_EQ(image.deviceID, c.device) << c.name;
        EXPECT_EQ(image.version, c.version) << c.name;
        EXPECT_EQ(image.pcb, c.pcb) << c.name;
    }
    EXPECT_EQ(rules::BaseName("C:\\images\\OVF031B.BIN", true), "OVF031B");
    EXPECT_EQ(rules::BaseName("/tmp/x/XCUSB5V30.BIN", false), "XCUSB5V30.BIN");
    EXPECT_EQ(rules::BaseName("OVF031B", true), "OVF031B");
}

TEST(ImageNameRules, ImagesSuitTheirTargets) {
    auto image = [](const char* name) {
        rules::ImageName i;
        rules::ReadImageName(name, &i);
        return i;
    };
    EXPECT_TRUE(rules::ImageSuitsTarget(image("OVF031B.BIN"), 38, 2, false));
    EXPECT_FALSE(rules::ImageSuitsTarget(image("OVF031B.BIN"), 38, 1, false));
    EXPECT_TRUE(rules::ImageSuitsTarget(image("OVF028A.BIN"), 38, 1, false));
    EXPECT_FALSE(rules::ImageSuitsTarget(image("OVF028A.BIN"), 39, 1, false));
    EXPECT_FALSE(rules::ImageSuitsTarget(image("XCHD015B.BIN"), 24, 1, false)) << "a DI-ZO on PCB A has no image";
    EXPECT_TRUE(rules::ImageSuitsTarget(image("XCMA006B.BIN"), 19, 0, false)) << "any VI-RIZO board";
    EXPECT_TRUE(rules::ImageSuitsTarget(image("XCDNT0102NC.BIN"), 21, 5, false));
    EXPECT_TRUE(rules::ImageSuitsTarget(image("XCUSB10V00.BIN"), 50, 0, false));
    EXPECT_FALSE(rules::ImageSuitsTarget(image("XCUSB5V30.BIN"), 50, 0, false));
    EXPECT_TRUE(rules::ImageSuitsTarget(image("XCUSB5V30.BIN"), 50, 0, true));
    EXPECT_FALSE(rules::ImageSuitsTarget(image("XCUSB10V00.BIN"), 50, 0, true));
}

TEST(VersionRules, VersionsOfAHundredOrMoreAreSplit) {
    struct Case {
        uint16_t version;
        const char* text;
        uint16_t major;
        uint8_t minor;
    } cases[] = {{102, "1.2", 1, 2}, {530, "5.30", 5, 30}, {100, "1.0", 1, 0}, {99, "99", 99, 0},
                 {31, "31", 31, 0},  {0, "0", 0, 0},       {1000, "10.0", 10, 0}, {65534, "655.34", 655, 34}};
    for (const Case& c : cases) {
        const rules::Version v = rules::SplitVersion(c.version);
        EXPECT_EQ(v.text, c.text);
        EXPECT_EQ(v.major, c.major);
        EXPECT_EQ(v.minor, c.minor);
        EXPECT_EQ(v.split, c.version >= 100);
    }
    EXPECT_EQ(rules::RevisionText(0), "Not Present");
    EXPECT_EQ(rules::RevisionText(63), "Not Present");
    EXPECT_EQ(rules::RevisionText(28), "28");
    EXPECT_EQ(rules::PcbText(0), "NC");
    EXPECT_EQ(rules::PcbText(1), "A");
    EXPECT_EQ(rules::PcbText(2), "B");
    EXPECT_STREQ(rules::CardName(24), "DI-ZO");
    EXPECT_STREQ(rules::CardName(23), "Unknown") << "the window's own table";
}

TEST(AdapterRules, TheTarselFirmwareMustSuitTheUnitsFirmware) {
    using rules::AdapterRule;
    struct Case {
        uint32_t model;
        uint8_t unit;
        uint32_t adapter;
        AdapterRule rule;
    } cases[] = {
        {36, 9, 0, AdapterRule::kOk},     {36, 9, 99, AdapterRule::kOk},    {37, 9, 18, AdapterRule::kOk},
        {36, 5, 19, AdapterRule::kOk},    {36, 5, 20, AdapterRule::kOk},    {36, 5, 21, AdapterRule::kOk},
        {36, 5, 22, AdapterRule::kR20},   {36, 8, 18, AdapterRule::kR20},   {36, 0, 23, AdapterRule::kR20},
        {36, 12, 22, AdapterRule::kOk},   {36, 12, 21, AdapterRule::kR22},  {37, 10, 23, AdapterRule::kR22},
        {36, 14, 20, AdapterRule::kR22},  {36, 15, 23, AdapterRule::kOk},   {36, 15, 22, AdapterRule::kR23},
        {37, 31, 30, AdapterRule::kOk},   {37, 31, 0, AdapterRule::kR23},   {40, 5, 0, AdapterRule::kOk},
        {40, 31, 0, AdapterRule::kOk},    {35, 12, 0, AdapterRule::kOk},
        {36, 12, 0x10016, AdapterRule::kOk},  // the revision is a 16-bit value
    };
    for (const Case& c : cases)
        EXPECT_EQ(rules::CheckAdapterFirmware(c.model, c.unit, c.adapter), c.rule)
            << c.model << " " << int(c.unit) << " " << c.adapter;
    EXPECT_EQ(std::string(rules::AdapterRuleText(AdapterRule::kR20)).rfind(
                  "The Tarsel Firmware MUST be Revision 20 to function with\nthe version", 0),
              0u);
    EXPECT_NE(std::string(rules::AdapterRuleText(AdapterRule::kR22)).find("C2Update21o.exe"), std::string::npos);
    EXPECT_EQ(std::string(rules::AdapterRuleText(AdapterRule::kR23)),
              "The Tarsel Firmware MUST be Revision 23 or higher to function with the\nversion of Firmware currently "
              "on this Orvex.\n\nPlease update your Tarsel Firmware before running OrvexUpdate again.");
}

}  // namespace
