// Scenario files of simulation mode: every built-in one reads, and a bad one
// is reported with its file, line and key.
#include <gtest/gtest.h>

#include <fstream>

#include "sim/studio/Scenario.h"
#include "tests/support/TempDir.h"

namespace {

TEST(Scenario, EveryBuiltInScenarioReads) {
    const std::vector<std::string> names = sim::BuiltInScenarioNames();
    for (const char* expected : {"default", "di-zo", "vi-rizo", "va-vovuz", "do-zaz", "do-zaz-down", "do-zaz-first",
                                 "orvex8-blank-serial", "orvex16-blank-serial", "fails-mid-update", "din"})
        EXPECT_NE(std::find(names.begin(), names.end(), expected), names.end()) << expected;
    for (const std::string& name : names) {
        sim::Scenario s;
        std::string error;
        EXPECT_TRUE(sim::LoadScenario(name, &s, &error)) << error;
        EXPECT_FALSE(s.units.empty()) << name;
        EXPECT_FALSE(s.description.empty()) << name;
    }
}

TEST(Scenario, TheDefaultStudio) {
    sim::Scenario s;
    std::string error;
    ASSERT_TRUE(sim::LoadScenario("", &s, &error)) << error;
    EXPECT_EQ(s.name, "default");
    EXPECT_EQ(s.bytesPerSecond, 0u);
    EXPECT_EQ(s.eraseMicros, 4'000'000u);
    EXPECT_EQ(s.packetMicros, 1'000u);
    ASSERT_EQ(s.units.size(), 1u);
    const sim::UnitSpec& u = s.units[0];
    EXPECT_EQ(u.deviceId, 38);
    EXPECT_EQ(u.port, "Studio A");
    EXPECT_EQ(u.firmware, (std::array<uint8_t, 2>{28, 28}));
    EXPECT_EQ(u.runningBank, 0);
    EXPECT_EQ(u.pcb, 2);
    EXPECT_EQ(u.serial, 0x26C0F07Bu);  // 26 12 15 0123
    EXPECT_EQ(u.card.kind, 0);
    EXPECT_EQ(u.fault.kind, sim::FaultSpec::kNone);

    ASSERT_TRUE(sim::LoadScenario("din", &s, &error)) << error;
    EXPECT_EQ(s.bytesPerSecond, 3125u);
}

TEST(Scenario, EveryKeyIsRead) {
    const char* text = R"toml(description = "all of it"
[link]
pacing = 31250
latency_ms = 1.5
[times]
erase_ms = 100
packet_ms = 0.25
serial_store_ms = 7
report_interval_ms = 3
[[unit]]
model = "Orvex(n)"
port = "P"
firmware = [5, 6]
running_bank = 2
pcb = "NC"
serial = "blank"
label = "2612150123"
  [unit.card]
  kind = "DO-ZAZ"
  firmware = 5
  firmware_minor = 30
  pcb = "C"
  serial = "3211020003"
  label = "3212010001"
  [unit.fault]
  kind = "power-loss"
  at = 12
[[unit]]
model = 128
)toml";
    sim::Scenario s;
    std::string error;
    ASSERT_TRUE(sim::ParseScenario(text, "x.toml", &s, &error)) << error;
    EXPECT_EQ(s.bytesPerSecond, 31250u);
    EXPECT_EQ(s.latencyMicros, 1500u);
    EXPECT_EQ(s.eraseMicros, 100'000u);
    EXPECT_EQ(s.packetMicros, 250u);
    EXPECT_EQ(s.serialStoreMicros, 7'000u);
    EXPECT_EQ(s.reportIntervalMicros, 3'000u);
    ASSERT_EQ(s.units.size(), 2u);
    const sim::UnitSpec& u = s.units[0];
    EXPECT_EQ(u.deviceId, 38);
    EXPECT_EQ(u.variant, 96);
    EXPECT_EQ(u.firmware, (std::array<uint8_t, 2>{5, 6}));
    EXPECT_EQ(u.runningBank, 1);
    EXPECT_EQ(u.pcb, 0);
    EXPECT_EQ(u.serial, 0u);
    EXPECT_EQ(u.card.kind, 50);
    EXPECT_EQ(u.card.firmware, 5);
    EXPECT_EQ(u.card.firmwareMinor, 30);
    EXPECT_EQ(u.card.pcb, 3);
    EXPECT_EQ(u.card.serial, 0x32B02003u);  // 32 11 02 0003: the card's own kind in the top byte
    EXPECT_EQ(u.label, 0x26C0F07Bu);
    EXPECT_EQ(u.card.label, 0x32C01001u);
    EXPECT_EQ(u.fault.kind, sim::FaultSpec::kPowerLoss);
    EXPECT_EQ(u.fault.at, 12u);
    EXPECT_EQ(s.units[1].deviceId, 128);
    EXPECT_EQ(s.units[1].port, "Studio Port 2");
}

TEST(Scenario, ABadFileIsReportedWithItsLineAndKey) {
    struct Case {
        const char* text;
        const char* error;
    } cases[] = {
        {"description = \"x\"\n", "s.toml:1: unit: is missing"},
        {"[[unit]]\nmodel = \"Orvex 32\"\n", "s.toml:2: unit[1].model: must be one of"},
        {"[[unit]]\nport = \"A\"\ncolour = \"red\"\n", "s.toml:3: unit[1].colour: unknown key"},
        {"[[unit]]\nfirmware = [28]\n", "s.toml:2: unit[1].firmware: must be two revisions"},
        {"[[unit]]\nfirmware = [28, 64]\n", "s.toml:2: unit[1].firmware: must be two revisions"},
        {"[[unit]]\nrunning_bank = 3\n", "s.toml:2: unit[1].running_bank: must be from 1 to 2"},
        {"[[unit]]\nrunning_bank = 1e300\n", "s.toml:2: unit[1].running_bank: must be a whole number"},
        {"[[unit]]\nrunning_bank = 2.0\n", "s.toml:2: unit[1].running_bank: must be a whole number"},
        {"[[unit]]\nfirmware = [1e300, 28]\n", "s.toml:2: unit[1].firmware: must be two revisions"},
        {"[[unit]]\nserial = \"26121501\"\n", "s.toml:2: unit[1].serial: must be \"blank\" or ten digits"},
        {"[[unit]]\nserial = \"2612640001\"\n", "s.toml:2: unit[1].serial: must be"},
        {"[[unit]]\n[unit.card]\nkind = \"VA-VOVUZ\"\nserial = \"1517000608\"\n", "s.toml:4: unit[1].card.serial: must be"},
        {"[[unit]]\npcb = \"b\"\n", "s.toml:2: unit[1].pcb: must be \"NC\" or a letter"},
        {"[[unit]]\n[unit.card]\nfirmware = 3\n", "s.toml:2: unit[1].card.kind: is missing"},
        {"[[unit]]\n[unit.card]\nkind = \"XX\"\n", "s.toml:3: unit[1].card.kind: must be one of"},
        {"[[unit]]\n[unit.fault]\nkind = \"smoke\"\n", "s.toml:3: unit[1].fault.kind: must be"},
        {"[link]\npacing = \"fast\"\n[[unit]]\n", "s.toml:2: link.pacing: must be \"unpaced\", \"din\""},
        {"[times]\nerase_ms = -1\n[[unit]]\n", "s.toml:2: times.erase_ms: must be from 0 to 600000"},
        {"[link]\nlatency_ms = nan\n[[unit]]\n", "s.toml:2: link.latency_ms: must be from 0 to 600000"},
        {"[times]\npacket_ms = -nan\n[[unit]]\n", "s.toml:2: times.packet_ms: must be from 0 to 600000"},
        // Letters outside ASCII where the parser looks for whitespace (toml++ 3.3.0 once took a wrong turn there).
        {"[[unit]]\nport = \"A\"\xc3\xa9\n", "s.toml:2: "},
        {"\xd0\x96on = \"o\"\n", "s.toml:1: "},
        {"[times]\nreport_interval_ms = 0\n[[unit]]\n", "s.toml:2: times.report_interval_ms: must be above 0"},
        {"[[unit]]\nport = 5\n", "s.toml:2: unit[1].port: must be a text in quotes"},
        {"[[unit]\n", "s.toml:1: "},
        {"unit = 3\n", "s.toml:1: unit: must be one or more [[unit]] tables"},
    };
    for (const Case& c : cases) {
        sim::Scenario s;
        std::string error;
        EXPECT_FALSE(sim::ParseScenario(c.text, "s.toml", &s, &error)) << c.text;
        EXPECT_EQ(error.rfind(c.error, 0), 0u) << c.text << " -> " << error;
    }
}

TEST(Scenario, TextsOutsideAsciiAreKept) {
    sim::Scenario s;
    std::string error;
    ASSERT_TRUE(sim::ParseScenario("description = \"Caf\xc3\xa9 \xd0\x96\"\n[[unit]]\nport = \"\xce\xa3tudio\" # \xc3\xa9\n",
                                   "s.toml", &s, &error))
        << error;
    EXPECT_EQ(s.description, "Caf\xc3\xa9 \xd0\x96");
    EXPECT_EQ(s.units[0].port, "\xce\xa3tudio");
}

TEST(Scenario, AFileIsReadByPathAndAMissingOneNamesTheBuiltIns) {
    TempDir dir;
    const std::string path = dir / "mine.toml";
    std::ofstream(path) << "[[unit]]\nmodel = \"Orvex 8\"\nport = \"Mine\"\n";
    sim::Scenario s;
    std::string error;
    ASSERT_TRUE(sim::LoadScenario(path, &s, &error)) << error;
    EXPECT_EQ(s.name, path);
    EXPECT_EQ(s.units.at(0).deviceId, 39);

    std::ofstream(path) << "[[unit]]\nmodel = \"Orvex 8\"\nmodl = 1\n";
    EXPECT_FALSE(sim::LoadScenario(path, &s, &error));
    EXPECT_EQ(error, path + ":3: unit[1].modl: unknown key");

    EXPECT_FALSE(sim::LoadScenario(dir / "none.toml", &s, &error));
    EXPECT_EQ(error.rfind(dir / "none.toml: no such file, and no built-in scenario of that name (built in: ", 0), 0u)
        << error;
    EXPECT_NE(error.find("default"), std::string::npos);
}

}  // namespace
