// CMixerAPI's binding and CMixerControl's reads and writes, against libraries
// served by the test: a driver DLL and a WinMM whose exports can go missing,
// with functions that record what they are handed.
#include "adapter/MixerAPI.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace {

using namespace mixer;
using orvex::CMixerAPI;
using orvex::CMixerControl;

// ---- the served libraries ----

struct Served {
    std::set<std::string> missing;  // exports taken out
    uint32_t devices = 1;
    bool present = true;
};

struct World {
    Served driver, winmm;
    std::vector<std::string> loads, resolves, frees;
    std::vector<std::string> boxes;  // caption: text
    // What the control functions saw and do.
    MIXERCONTROLDETAILS lastDetails{};
    uint32_t lastFlags = 0xFFFFFFFF;
    HMIXER lastMixer = nullptr;
    std::vector<uint32_t> sentEntries;          // SetControlDetails: the entries handed in
    std::vector<uint32_t> answerEntries;        // GetControlDetails writes these 32-bit words
    MMRESULT detailsResult = MMSYSERR_NOERROR;
    int getCalls = 0, setCalls = 0;
    MIXERLINECONTROLSA lastLineControls{};
    std::vector<MIXERCONTROLA> lineControls;    // what GetLineControls writes
    MMRESULT lineControlsResult = MMSYSERR_NOERROR;
    int closeCalls = 0;
    MMRESULT closeResult = MMSYSERR_NOERROR;
};
World* g_world = nullptr;

int g_driverToken, g_winmmToken;

template <int Source>
struct Functions {
    static uint32_t ORVEX_WINAPI GetNumDevs() { return Source == 0 ? g_world->driver.devices : g_world->winmm.devices; }
    static MMRESULT ORVEX_WINAPI GetID(HMIXER, uint32_t*, uint32_t) { return MMSYSERR_NOERROR; }
    static MMRESULT ORVEX_WINAPI GetDevCaps(uintptr_t, MIXERCAPSA*, uint32_t) { return MMSYSERR_NOERROR; }
    static MMRESULT ORVEX_WINAPI Open(HMIXER* h, uint32_t device, uintptr_t, uintptr_t, uint32_t) {
        *h = reinterpret_cast<HMIXER>(uintptr_t{0x100} + device + (Source == 0 ? 0 : 0x1000));
        return MMSYSERR_NOERROR;
    }
    static MMRESULT ORVEX_WINAPI Close(HMIXER) {
        ++g_world->closeCalls;
        return g_world->closeResult;
    }
    static MMRESULT ORVEX_WINAPI GetLineInfo(HMIXER, MIXERLINEA*, uint32_t) { return MMSYSERR_NOERROR; }
    static MMRESULT ORVEX_WINAPI GetLineControls(HMIXER h, MIXERLINECONTROLSA* request, uint32_t flags) {
        g_world->lastMixer = h;
        g_world->lastFlags = flags;
        g_world->lastLineControls = *request;
        for (size_t i = 0; i < g_world->lineControls.size() && i < request->cControls; ++i)
            request->pamxctrl[i] = g_world->lineControls[i];
        return g_world->lineControlsResult;
    }
    static MMRESULT ORVEX_WINAPI GetControlDetails(HMIXER h, MIXERCONTROLDETAILS* d, uint32_t flags) {
        ++g_world->getCalls;
        g_world->lastMixer = h;
        g_world->lastFlags = flags;
        g_world->lastDetails = *d;
        if (g_world->detailsResult != MMSYSERR_NOERROR) return g_world->detailsResult;
        std::memcpy(d->paDetails, g_world->answerEntries.data(), g_world->answerEntries.size() * 4);
        return MMSYSERR_NOERROR;
    }
    static MMRESULT ORVEX_WINAPI SetControlDetails(HMIXER h, MIXERCONTROLDETAILS* d, uint32_t flags) {
        ++g_world->setCalls;
        g_world->lastMixer = h;
        g_world->lastFlags = flags;
        g_world->lastDetails = *d;
        const uint32_t items = d->cMultipleItems ? d->cMultipleItems : 1;
        const auto* entries = static_cast<const uint32_t*>(d->paDetails);
        g_world->sentEntries.assign(entries, entries + size_t{d->cChannels} * items);
        return g_world->detailsResult;
    }
};

template <int Source>
void* Address(int index) {
    using F = Functions<Source>;
    void* table[9] = {reinterpret_cast<void*>(&F::GetNumDevs),        reinterpret_cast<void*>(&F::GetID),
                      reinterpret_cast<void*>(&F::GetDevCaps),        reinterpret_cast<void*>(&F::Open),
                      reinterpret_cast<void*>(&F::Close),             reinterpret_cast<void*>(&F::GetLineInfo),
                      reinterpret_cast<void*>(&F::GetLineControls),   reinterpret_cast<void*>(&F::GetControlDetails),
                      reinterpret_cast<void*>(&F::SetControlDetails)};
    return table[index];
}

const char* const kDriverNames[9] = {"PmixerGetNumDevs",        "PmixerGetID",           "PmixerGetDevCaps",
                                     "PmixerOpen",              "PmixerClose",           "PmixerGetLineInfo",
                                     "PmixerGetLineControls",   "PmixerGetControlDetails", "PmixerSetControlDetails"};
const char* const kWinmmNames[9] = {"mixerGetNumDevs",      "mixerGetID",         "mixerGetDevCapsA",
                                    "mixerOpen",            "mixerClose",         "mixerGetLineInfoA",
                                    "mixerGetLineControlsA", "mixerGetControlDetailsA", "mixerSetControlDetails"};

void* Load(const char* name) {
    g_world->loads.emplace_back(name);
    if (std::strcmp(name, "PelkWDM.Dll") == 0 && g_world->driver.present) return &g_driverToken;
    if (std::strcmp(name, "WINMM.DLL") == 0 && g_world->winmm.present) return &g_winmmToken;
    return nullptr;
}
void* Resolve(void* library, const char* name) {
    g_world->resolves.emplace_back(name);
    const bool driver = library == &g_driverToken;
    const Served& s = driver ? g_world->driver : g_world->winmm;
    if (s.missing.count(name)) return nullptr;
    for (int i = 0; i < 9; ++i) {
        if (driver && std::strcmp(kDriverNames[i], name) == 0) return Address<0>(i);
        if (!driver && std::strcmp(kWinmmNames[i], name) == 0) return Address<1>(i);
    }
    return nullptr;
}
bool Free(void* library) {
    g_world->frees.emplace_back(library == &g_driverToken ? "PelkWDM.Dll" : "WINMM.DLL");
    return true;
}
constexpr LibraryApi kLibraries{Load, Resolve, Free};

class MixerBinding : public ::testing::Test {
protected:
    World world;
    void SetUp() override {
        g_world = &world;
        CMixerAPI::SetLibraryApi(&kLibraries);
        plat::SetMessageBoxAnswerer([this](const std::string& text, const std::string& caption, unsigned type) {
            EXPECT_EQ(type, plat::mb::Ok);
            world.boxes.push_back(caption + ": " + text);
            return plat::id::Ok;
        });
    }
    void TearDown() override {
        CMixerAPI::SetLibraryApi(nullptr);
        plat::SetMessageBoxAnswerer(nullptr);
        g_world = nullptr;
    }
};

std::vector<std::string> Names(const char* const* names, int n) { return {names, names + n}; }

// ---- binding ----

struct BindCase {
    const char* what;
    bool driverPresent;
    uint32_t driverDevices;
    std::set<std::string> driverMissing;
    bool winmmPresent;
    std::set<std::string> winmmMissing;
    // expectations
    int boundTo;  // 0 driver, 1 WinMM, -1 unbound
    std::vector<std::string> boxes;
    std::vector<std::string> loads;
    std::vector<std::string> frees;  // during construction
};

void PrintTo(const BindCase& c, std::ostream* os) { *os << c.what; }

class MixerBindingCases : public MixerBinding, public ::testing::WithParamInterface<BindCase> {};

TEST_P(MixerBindingCases, BindsTheRightLibraryWithTheRightBoxes) {
    const BindCase& c = GetParam();
    world.driver = {c.driverMissing, c.driverDevices, c.driverPresent};
    world.winmm = {c.winmmMissing, 3, c.winmmPresent};
    {
        CMixerAPI api;
        EXPECT_EQ(api.IsBound(), c.boundTo >= 0);
        EXPECT_EQ(world.boxes, c.boxes);
        EXPECT_EQ(world.loads, c.loads);
        EXPECT_EQ(world.frees, c.frees);
        EXPECT_EQ(api.DriverFirst(), c.boundTo == 0);
        const uint32_t devices = c.boundTo == 0 ? c.driverDevices : c.boundTo == 1 ? 3u : 0u;
        EXPECT_EQ(api.GetNumDevs(), devices) << "the bound library's own count";
        if (c.boundTo < 0) {
            EXPECT_EQ(api.Library(), nullptr);
            EXPECT_EQ(api.CloseMixer(), MMSYSERR_NODRIVER);
        }
        world.frees.clear();
    }
    // The library that bound is let go with the binding; nothing else is.
    std::vector<std::string> released;
    if (c.boundTo == 0) released = {"PelkWDM.Dll"};
    if (c.boundTo == 1) released = {"WINMM.DLL"};
    EXPECT_EQ(world.frees, released);
}

const std::string kBox = "GetProcAddress failed";
INSTANTIATE_TEST_SUITE_P(
    Cases, MixerBindingCases,
    ::testing::Values(
        BindCase{"driver with two cards", true, 2, {}, true, {}, 0, {}, {"PelkWDM.Dll"}, {}},
        BindCase{"no driver DLL", false, 0, {}, true, {}, 1, {}, {"PelkWDM.Dll", "WINMM.DLL"}, {}},
        BindCase{"driver reporting no device", true, 0, {}, true, {}, 1, {}, {"PelkWDM.Dll", "WINMM.DLL"},
                 {"PelkWDM.Dll"}},
        BindCase{"driver lacking PmixerSetControlDetails", true, 2, {"PmixerSetControlDetails"}, true, {}, 1,
                 {"PmixerSetControlDetails: " + kBox}, {"PelkWDM.Dll", "WINMM.DLL"}, {"PelkWDM.Dll"}},
        BindCase{"driver lacking PmixerGetNumDevs", true, 2, {"PmixerGetNumDevs"}, true, {}, 1,
                 {"PmixerGetNumDevs: " + kBox}, {"PelkWDM.Dll", "WINMM.DLL"}, {"PelkWDM.Dll"}},
        BindCase{"driver lacking PmixerGetID, WinMM lacking mixerGetLineInfoA", true, 2, {"PmixerGetID"}, true,
                 {"mixerGetLineInfoA"}, -1, {"PmixerGetID: " + kBox, "mixerGetLineInfoA: " + kBox},
                 {"PelkWDM.Dll", "WINMM.DLL"}, {"PelkWDM.Dll", "WINMM.DLL"}},
        BindCase{"no driver, WinMM without the unsuffixed mixerSetControlDetails", false, 0, {}, true,
                 {"mixerSetControlDetails"}, -1, {"mixerSetControlDetails: " + kBox}, {"PelkWDM.Dll", "WINMM.DLL"},
                 {"WINMM.DLL"}},
        BindCase{"no library at all", false, 0, {}, false, {}, -1, {}, {"PelkWDM.Dll", "WINMM.DLL"}, {}}),
    [](const ::testing::TestParamInfo<BindCase>& info) {
        std::string name;
        for (const char* p = info.param.what; *p; ++p) name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
        return name;
    });

TEST_F(MixerBinding, ResolvesTheNineExportsInOrderAndAsksTheDriverForItsDeviceCountFirst) {
    { CMixerAPI api; }
    EXPECT_EQ(world.resolves, Names(kDriverNames, 9));

    world.resolves.clear();
    world.driver.devices = 0;
    { CMixerAPI api; }
    std::vector<std::string> expected = {"PmixerGetNumDevs"};
    for (int i = 0; i < 9; ++i) expected.emplace_back(kWinmmNames[i]);
    EXPECT_EQ(world.resolves, expected) << "WinMM's binding does not ask for a device count first";
}

// ---- control list and lookup ----

MIXERCONTROLA Control(uint32_t id, const char* shortName, uint32_t flags = MIXERCONTROL_CONTROLF_UNIFORM,
                      uint32_t items = 0) {
    MIXERCONTROLA c{};
    c.cbStruct = sizeof c;
    c.dwControlID = id;
    c.fdwControl = flags;
    c.cMultipleItems = items;
    std::memcpy(c.szShortName, shortName, std::min<size_t>(std::strlen(shortName) + 1, sizeof c.szShortName));
    return c;
}

MIXERLINEA Line(uint32_t id, uint32_t controls) {
    MIXERLINEA l{};
    l.cbStruct = sizeof l;
    l.dwLineID = id;
    l.cControls = controls;
    return l;
}

TEST_F(MixerBinding, GetAllLineControlsAsksForEveryControlOfTheLine) {
    CMixerAPI api;
    ASSERT_EQ(api.Open(0), MMSYSERR_NOERROR);
    world.lineControls = {Control(7, "Device ID"), Control(8, "Serial Number")};
    ASSERT_TRUE(api.GetAllLineControls(Line(0x42, 2)));
    EXPECT_EQ(world.lastMixer, api.m_hMixer);
    EXPECT_EQ(world.lastFlags, MIXER_GETLINECONTROLSF_ALL);
    EXPECT_EQ(world.lastLineControls.cbStruct, sizeof(MIXERLINECONTROLSA));
    EXPECT_EQ(world.lastLineControls.dwLineID, 0x42u);
    EXPECT_EQ(world.lastLineControls.dwControlID, 0u);
    EXPECT_EQ(world.lastLineControls.cControls, 2u);
    EXPECT_EQ(world.lastLineControls.cbmxctrl, sizeof(MIXERCONTROLA));
    ASSERT_NE(world.lastLineControls.pamxctrl, nullptr);
    EXPECT_EQ(api.ControlCount(), 2u);

    world.lineControlsResult = MIXERR_INVALLINE;
    EXPECT_FALSE(api.GetAllLineControls(Line(0x43, 3)));
    EXPECT_EQ(api.ControlCount(), 0u);
    EXPECT_EQ(api.Controls(), nullptr) << "a list that did not load is freed";
}

TEST_F(MixerBinding, ControlsAreFoundByTheirExactShortName) {
    CMixerAPI api;
    MIXERCONTROLA found{};
    EXPECT_FALSE(api.GetControlByName("Device ID", &found)) << "no list yet";

    // A 16-character name without its terminator sits before the real ones.
    MIXERCONTROLA unterminated = Control(1, "");
    std::memcpy(unterminated.szShortName, "Device IDDevice ", 16);
    world.lineControls = {unterminated, Control(2, "device id"), Control(3, "Device Id"), Control(4, "Device ID"),
                          Control(5, "Device ID"), Control(6, "Device ID2")};
    ASSERT_TRUE(api.GetAllLineControls(Line(1, 6)));

    ASSERT_TRUE(api.GetControlByName("Device ID", &found));
    EXPECT_EQ(found.dwControlID, 4u) << "case matters, and the first exact match wins";
    EXPECT_EQ(std::memcmp(&found, &api.Controls()[3], sizeof found), 0) << "the whole record is copied";
    EXPECT_FALSE(api.GetControlByName("Device", &found)) << "a prefix is not a match";
    EXPECT_FALSE(api.GetControlByName("Device IDDevice ", &found)) << "a name without room for its terminator";
    EXPECT_FALSE(api.GetControlByName("Serial Number", &found));
}

TEST_F(MixerBinding, CloseMixerFreesTheListAndClosesOnlyAnOpenDevice) {
    CMixerAPI api;
    world.lineControls = {Control(1, "A")};
    ASSERT_TRUE(api.GetAllLineControls(Line(1, 1)));
    EXPECT_EQ(api.CloseMixer(), MMSYSERR_NOERROR);
    EXPECT_EQ(world.closeCalls, 0);
    EXPECT_EQ(api.ControlCount(), 0u);

    ASSERT_EQ(api.Open(2), MMSYSERR_NOERROR);
    world.closeResult = MMSYSERR_INVALHANDLE;
    EXPECT_EQ(api.CloseMixer(), MMSYSERR_INVALHANDLE) << "Close's own result";
    EXPECT_EQ(world.closeCalls, 1);
    EXPECT_EQ(api.m_hMixer, nullptr);
}

// ---- control values ----

class ControlValues : public MixerBinding {
protected:
    std::unique_ptr<CMixerAPI> api;
    void SetUp() override {
        MixerBinding::SetUp();
        api = std::make_unique<CMixerAPI>();
        ASSERT_EQ(api->Open(0), MMSYSERR_NOERROR);
    }
    void TearDown() override {
        api.reset();
        MixerBinding::TearDown();
    }
};

TEST_F(ControlValues, APlainControlIsReadIntoTheCallersBuffer) {
    CMixerControl control(api.get(), 2, Control(0x21, "Device ID"));
    world.answerEntries = {38};
    uint32_t value = 0;
    ASSERT_TRUE(control.GetValue(&value, 4));
    EXPECT_EQ(value, 38u);
    const MIXERCONTROLDETAILS& d = world.lastDetails;
    EXPECT_EQ(d.cbStruct, sizeof(MIXERCONTROLDETAILS));
    EXPECT_EQ(d.dwControlID, 0x21u);
    EXPECT_EQ(d.cChannels, 1u) << "uniform";
    EXPECT_EQ(d.cMultipleItems, 0u);
    EXPECT_EQ(d.cbDetails, 4u);
    EXPECT_EQ(d.paDetails, &value);
    EXPECT_EQ(world.lastFlags, MIXER_GETCONTROLDETAILSF_VALUE);
    EXPECT_EQ(world.lastMixer, api->m_hMixer);

    world.detailsResult = MIXERR_INVALCONTROL;
    value = 77;
    EXPECT_FALSE(control.GetValue(&value, 4));
}

TEST_F(ControlValues, AControlPerChannelGetsRoomForEveryChannelAndGivesTheFirst) {
    CMixerControl control(api.get(), 2, Control(0x22, "VolumeA", 0));
    world.answerEntries = {200, 100};
    uint32_t value[2] = {0, 0xDEADBEEF};
    ASSERT_TRUE(control.GetValue(&value[0], 4));
    EXPECT_EQ(world.lastDetails.cChannels, 2u) << "the stored channel count";
    EXPECT_EQ(value[0], 200u);
    EXPECT_EQ(value[1], 0xDEADBEEFu) << "nothing written past the value";

    ASSERT_TRUE(control.SetValue(77));
    EXPECT_EQ(world.sentEntries, (std::vector<uint32_t>{77, 77}));
}

TEST_F(ControlValues, AListControlReadsAsItsFirstSelectedItem) {
    CMixerControl list(api.get(), 1, Control(0x30, "Current Source", 3, 7));
    world.answerEntries = std::vector<uint32_t>(65, 0);
    world.answerEntries[3] = 1;
    world.answerEntries[5] = 1;
    uint32_t value = 99;
    ASSERT_TRUE(list.GetValue(&value, 4));
    EXPECT_EQ(value, 3u);
    EXPECT_EQ(world.lastDetails.cMultipleItems, 7u);
    EXPECT_NE(world.lastDetails.paDetails, &value) << "items go to a list of the control's own";

    world.answerEntries = std::vector<uint32_t>(65, 0);
    world.answerEntries[7] = 1;  // past the list's items: not looked at
    value = 99;
    ASSERT_TRUE(list.GetValue(&value, 4)) << "no item selected still reads as success";
    EXPECT_EQ(value, 99u) << "and leaves the value as it was";
}

TEST_F(ControlValues, SettingAListSelectsOneItem) {
    CMixerControl list(api.get(), 1, Control(0x31, "PreferredSource", 3, 8));
    ASSERT_TRUE(list.SetValue(2));
    EXPECT_EQ(world.sentEntries, (std::vector<uint32_t>{0, 0, 1, 0, 0, 0, 0, 0}));
    EXPECT_EQ(world.lastDetails.cbDetails, 4u);
    EXPECT_EQ(world.lastFlags, MIXER_SETCONTROLDETAILSF_VALUE);

    // An item the list does not have selects nothing: refused before the driver.
    const int calls = world.setCalls;
    EXPECT_FALSE(list.SetValue(8));
    EXPECT_FALSE(list.SetValue(64));
    EXPECT_EQ(world.setCalls, calls);
}

TEST_F(ControlValues, ListsLongerThanSixtyFourItemsAreRefused) {
    CMixerControl list(api.get(), 1, Control(0x32, "Huge", 3, 65));
    CMixerControl biggest(api.get(), 1, Control(0x33, "Big", 3, 64));
    world.answerEntries = std::vector<uint32_t>(65, 0);
    world.answerEntries[63] = 1;
    uint32_t value = 5;
    EXPECT_FALSE(list.GetValue(&value, 4));
    EXPECT_FALSE(list.SetValue(1));
    EXPECT_EQ(world.getCalls + world.setCalls, 0);
    EXPECT_EQ(value, 5u);

    ASSERT_TRUE(biggest.GetValue(&value, 4));
    EXPECT_EQ(value, 63u);
    ASSERT_TRUE(biggest.SetValue(63));
    ASSERT_EQ(world.sentEntries.size(), 64u);
    EXPECT_EQ(world.sentEntries[63], 1u);
}

TEST_F(ControlValues, APlainControlIsWrittenAsOneValue) {
    CMixerControl control(api.get(), 1, Control(0x40, "Rate Select"));
    ASSERT_TRUE(control.SetValue(192000));
    EXPECT_EQ(world.sentEntries, (std::vector<uint32_t>{192000}));
    world.detailsResult = MMSYSERR_INVALPARAM;
    EXPECT_FALSE(control.SetValue(1));
}

TEST_F(ControlValues, AControlNeverFoundOrAnUnboundBindingReadsAndWritesNothing) {
    CMixerControl never;
    uint32_t value = 1234;
    EXPECT_FALSE(never.GetValue(&value, 4));
    EXPECT_FALSE(never.SetValue(1));
    EXPECT_EQ(value, 1234u);

    world.driver.present = false;
    world.winmm.present = false;
    CMixerAPI unbound;
    CMixerControl control(&unbound, 1, Control(1, "Device ID"));
    EXPECT_FALSE(control.GetValue(&value, 4));
    EXPECT_FALSE(control.SetValue(1));
    EXPECT_EQ(world.getCalls + world.setCalls, 0);
    EXPECT_EQ(value, 1234u);
}

}  // namespace
