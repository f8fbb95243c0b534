// Fault campaign: many updates on every path (MIDI, the network on loopback,
// the adapter card, the DO-ZAZ card's USB download), each through the real
// window's OnUpdate and ProgramEEPROM against the emulated studio, each with
// one randomized fault. Every run must end in a reported failure or in a
// success whose bank holds exactly the image; the running firmware must boot
// after a power cycle; and a clean retry on the same unit must succeed.
// The unit acknowledges no command: a completion command that is changed or
// lost on the way leaves a reported success whose unit holds the image but
// boots its old firmware. Such runs are counted apart ("unconfirmed"); they
// must keep the running bank intact and boot it, and their retry must succeed.
//
//   ORVEX_CAMPAIGN_RUNS=n     updates per path (default 200)
//   ORVEX_CAMPAIGN_SEED=s     replays the one run of that seed on every path
//   ORVEX_CAMPAIGN_BASE=b     seeds from b on (default 1; "random": a new base each time)
//   ORVEX_CAMPAIGN_PATH=name  only this path (midi, network, net-card, adapter, do-zaz)
//   ORVEX_CAMPAIGN_VERBOSE=0  no line for every run
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>

#include "adapter/AdapterDriver.h"
#include "adapter/OrvexMixer.h"
#include "common/Log.h"
#include "platform/posix/PosixSystem.h"
#include "protocol/UnitCodes.h"
#include "resources/resource.h"
#include "sim/studio/Studio.h"
#include "tests/support/EmbeddedImages.h"
#include "tests/support/RecorderSurface.h"
#include "tests/support/TempDir.h"
#include "unitcontrol/OrvexRemote.h"
#include "updater/OrvexUpdateDlg.h"
#include "updater/ProgramMain.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The network path serves two targets: the unit, and the VA-VOVUZ card itself.
enum class Path { kMidi, kNetwork, kNetworkCard, kAdapter, kDoZaz, kCount };
constexpr const char* kPathNames[] = {"midi", "network", "net-card", "adapter", "do-zaz"};
bool Networked(Path path) { return path == Path::kNetwork || path == Path::kNetworkCard; }
// The target is the card in the unit's XSlot.
bool CardTarget(Path path) { return path == Path::kNetworkCard || path == Path::kDoZaz; }

enum class Fault {
    kCorruptAnswer,
    kCorruptRequest,
    kDropAnswer,
    kDropRequest,
    kDelayAnswer,
    kSilence,
    kUnplug,
    kPgmErr,
    kTxErr,
    kPowerLossErase,
    kPowerLossWrite,
    kWrongReadBack,
    kLostReadBack,
    kSerialSlow,
    kSerialRefused,
    kSerialStoreFails,
    // The DO-ZAZ card's USB driver.
    kUsbLoadRefused,
    kUsbStartRefused,
    kUsbFailsMidDownload,
    kUsbStall,
    kUsbDeviceLost,
    kUsbCorruptBlock,
    kUsbEndFails,
    kUsbStatusErrors,
    kUsbFailsAfterCommit,
    kCount
};
constexpr const char* kFaultNames[] = {
    "answer byte corrupted", "request byte corrupted", "answer bytes dropped", "request bytes dropped",
    "answers delayed",       "silence",                "port unplugged",       "PGMERR at a packet",
    "TXERR at a packet",     "power loss mid-erase",   "power loss mid-write", "wrong read-back",
    "read-back answer lost", "serial store slow",      "serial store refused", "serial store fails",
    "USB load refused",      "USB start refused",      "USB fails mid-download", "USB download stalls",
    "USB device lost",       "USB block corrupted",    "USB end fails",        "USB status errors",
    "USB fails after commit"};
static_assert(std::size(kFaultNames) == size_t(Fault::kCount));

const std::vector<Fault>& FaultsOf(Path path) {
    static const std::vector<Fault> remote = {
        Fault::kCorruptAnswer, Fault::kCorruptRequest, Fault::kDropAnswer,     Fault::kDropRequest,
        Fault::kDelayAnswer,   Fault::kSilence,        Fault::kUnplug,         Fault::kPgmErr,
        Fault::kTxErr,         Fault::kPowerLossErase, Fault::kPowerLossWrite, Fault::kWrongReadBack,
        Fault::kLostReadBack,  Fault::kSerialSlow,     Fault::kSerialRefused,  Fault::kSerialStoreFails};
    static const std::vector<Fault> usb = {
        Fault::kUsbLoadRefused, Fault::kUsbStartRefused, Fault::kUsbFailsMidDownload,
        Fault::kUsbStall,       Fault::kUsbDeviceLost,   Fault::kUsbCorruptBlock,
        Fault::kUsbEndFails,    Fault::kUsbStatusErrors, Fault::kUsbFailsAfterCommit};
    return path == Path::kDoZaz ? usb : remote;
}

constexpr uint32_t kPackets = 32;
constexpr uint32_t kRevisionOffset = sim::Studio::kRevisionOffset;
constexpr uint8_t kOldRevision = 28, kNewRevision = 31;

// What a bank holds after an image went into it: the image, the zeros that
// padded its last packet, erased flash behind.
Bytes Written(const Bytes& image, size_t flashSize) {
    Bytes flash(flashSize, 0xFF);
    const size_t padded = (image.size() + 127) / 128 * 128;
    std::fill(flash.begin(), flash.begin() + long(padded), 0);
    std::copy(image.begin(), image.end(), flash.begin());
    return flash;
}

// The program's unit-control paths, counting the window's calls of CancelProgramming.
int g_cancels = 0;
class CountingRemote : public orvex::COrvexRemote {
public:
    uint32_t CancelProgramming() override {
        ++g_cancels;
        return COrvexRemote::CancelProgramming();
    }
};
class CountingMixer : public orvex::COrvexMixer {
public:
    uint32_t CancelProgramming() override {
        ++g_cancels;
        return COrvexMixer::CancelProgramming();
    }
};
UnitControlFactories CountingFactories() {
    UnitControlFactories f = ProgramFactories();
    f.adapter = [] { return std::make_unique<CountingMixer>(); };
    f.remote = [] { return std::make_unique<CountingRemote>(); };
    return f;
}

// Traffic of one clean update, per path: where byte and datagram faults may land.
struct Traffic {
    uint64_t answers = 0, requests = 0;
};

struct Attempt {
    Path path;
    uint32_t seed;
    Fault fault = Fault::kCount;
    uint32_t at = 0;         // packet, byte or datagram the fault aims at
    uint64_t micros = 0;     // a delay
    bool failed = false;     // the window reported a failure
    // Reported a success, but the completion command never reached the unit
    // (changed or lost on the way; the unit acknowledges no command): it holds
    // the image and boots its old firmware.
    bool unconfirmed = false;
    std::string failure;     // the first failure text
};

class FaultCampaign : public ::testing::Test {
protected:
    TempDir dir;
    ChangeDir cd{dir.path};
    std::unique_ptr<sim::Studio> studio;
    std::unique_ptr<RecorderSurface> surface;
    std::unique_ptr<COrvexUpdateDlg> dlg;
    std::function<void()> trigger;  // a fault that strikes mid-update, from the idle hook
    bool struck = false;            // ... and has struck
    std::vector<RecordedBox> boxes;  // every box, the unit-control objects' included

    void SetUp() override {
        plat::UseVirtualClock(true);
        InstallEmbeddedImages();
        setenv("TMPDIR", dir.path.c_str(), 1);
        plat::SetMessageBoxAnswerer([this](const std::string& text, const std::string& caption, unsigned type) {
            boxes.push_back({text, caption, type});
            return plat::DefaultAnswer(type);  // OK to the confirmation
        });
    }
    void TearDown() override {
        Close();
        studio.reset();
        plat::SetMessageBoxAnswerer(nullptr);
        orvex::LogClose();
        plat::posix::ResetFacts();
        unsetenv("TMPDIR");
    }
    void Close() {
        if (dlg) dlg->OnDestroy();
        dlg.reset();
        surface.reset();
    }

    static sim::Scenario MakeScenario(Path path, uint8_t runningBank, bool blankSerial) {
        sim::Scenario s;
        s.name = "campaign";
        s.eraseMicros = 200'000;
        s.packetMicros = 1'000;
        sim::UnitSpec u;
        u.port = "Studio A";
        u.firmware = {kOldRevision, kOldRevision};
        u.runningBank = runningBank;
        u.pcb = 2;
        u.serial = blankSerial && !CardTarget(path) ? 0 : 0x26000000u | (12u << 20) | (15u << 12) | 123u;
        u.label = 0x26000000u | (12u << 20) | (15u << 12) | 124u;
        if (Networked(path)) {
            u.link = sim::UnitSpec::kNetwork;
            const uint32_t cardSerial = 0x15000000u | (1u << 20) | (1u << 18) | (6u << 12);
            u.card = {orvex::kXSlotVaVovuz, 1, 1, 0, blankSerial && CardTarget(path) ? 0 : cardSerial | 8u, cardSerial | 9u};
        } else if (path == Path::kAdapter) {
            u.link = sim::UnitSpec::kAdapter;
        } else if (path == Path::kDoZaz) {
            u.card = {orvex::kXSlotDoZaz, 5, 30, 0, 0, 0};
        }
        s.units.push_back(u);
        return s;
    }

    sim::OrvexUnit& Unit() { return studio->Unit(0); }

    // A new run of the program: discovery and the refresh (a blank serial
    // number is asked for and written), the target's entry, the image dropped
    // on the window. False when the window ended.
    bool StartProgram(Path path, const std::string& imagePath) {
        Close();
        surface = std::make_unique<RecorderSurface>();
        g_cancels = 0;
        dlg = std::make_unique<COrvexUpdateDlg>("", CountingFactories());
        dlg->SetSerialAnswerer([this](uint16_t, bool card) { return studio->SerialLabel(0, card); });
        dlg->OnInitDialog(*surface);
        if (surface->ended) return false;
        if (CardTarget(path)) {
            surface->selection = 1;
            dlg->OnCommand(IDC_UNITS, plat::kCbnSelChange);
            if (surface->ended) return false;
        }
        dlg->OnDropFiles({imagePath});
        return !surface->ended;
    }

    // OnUpdate as the button runs it; true when the window shows its Done view.
    bool Update() {
        boxes.clear();
        surface->boxes.clear();
        g_cancels = 0;
        dlg->OnUpdate();
        return surface->visible[IDC_CONGRATULATIONS];
    }

    uint64_t Now() const { return plat::ClockMicros(); }

    Traffic Measure(Path path) {
        Traffic t;
        if (path == Path::kMidi) {
            t.answers = studio->Midi().CableBytes(studio->InPort(0));
            t.requests = studio->Midi().CableBytes(studio->OutPort(0));
        } else if (Networked(path)) {
            t.answers = studio->NetworkCard(0).Datagrams(sim::VelunCard::Way::kToComputer);
            t.requests = studio->NetworkCard(0).Datagrams(sim::VelunCard::Way::kToUnit);
        } else if (path == Path::kAdapter) {
            t.answers = studio->AdapterCardOf(0).CableBytes(true);
            t.requests = studio->AdapterCardOf(0).CableBytes(false);
        }
        return t;
    }

    void ClearFaults(Path path) {
        trigger = nullptr;
        struck = false;
        sim::OrvexUnit& u = Unit();
        u.FailPacket(std::nullopt);
        u.FailPacketTransfer(std::nullopt);
        u.CorruptReadBack(std::nullopt);
        u.DropReadBackAnswer(std::nullopt);
        u.DropResponse(std::nullopt);
        u.SetSilent(false);
        u.DelaySerialWrites(0);
        u.FailSerialStore(false);
        if (path == Path::kMidi || path == Path::kDoZaz) {
            for (int port : {studio->OutPort(0), studio->InPort(0)}) {
                studio->Midi().ClearFaults(port);
                studio->Midi().Plug(port);
            }
        } else if (Networked(path)) {
            studio->NetworkCard(0).ClearFaults();
        } else if (path == Path::kAdapter) {
            studio->AdapterCardOf(0).Fault() = {};
        }
        if (path == Path::kDoZaz) {
            sim::usbcard::Config c = studio->Usb().Emulated().GetConfig();
            c.fault = sim::usbcard::kFaultNone;
            studio->Usb().Emulated().Configure(c);
        }
    }

    // Faults that are in place before the program starts.
    void ArmEarly(Attempt& run, std::mt19937& rng, uint32_t imageSize) {
        sim::OrvexUnit& u = Unit();
        switch (run.fault) {
        case Fault::kSerialSlow:
            // From 10 ms to 20 s, evenly on a log scale: both sides of the confirmation loop's limit.
            run.micros = uint64_t(10'000 * std::pow(2000.0, std::uniform_real_distribution<double>(0, 1)(rng)));
            u.DelaySerialWrites(run.micros);
            return;
        case Fault::kSerialRefused: u.DelaySerialWrites(sim::OrvexUnit::kNever); return;
        case Fault::kSerialStoreFails: u.FailSerialStore(true); return;
        default: break;
        }
        if (run.path != Path::kDoZaz) return;
        sim::usbcard::Config c = studio->Usb().Emulated().GetConfig();
        run.at = std::uniform_int_distribution<uint32_t>(0, imageSize - 1)(rng);
        c.faultAtBytes = run.at;
        c.faultStatus = sim::usbcard::kStatusDfuBlockRejected;
        switch (run.fault) {
        case Fault::kUsbLoadRefused: c.fault = sim::usbcard::kFaultLoadRefused; c.faultStatus = sim::usbcard::kStatusBadImage; break;
        case Fault::kUsbStartRefused: c.fault = sim::usbcard::kFaultStartRefused; c.faultStatus = sim::usbcard::kStatusDfuBusy; break;
        case Fault::kUsbFailsMidDownload: c.fault = sim::usbcard::kFaultFailDuringDownload; break;
        case Fault::kUsbStall: c.fault = sim::usbcard::kFaultStall; break;
        case Fault::kUsbDeviceLost: c.fault = sim::usbcard::kFaultDeviceLost; break;
        case Fault::kUsbCorruptBlock: c.fault = sim::usbcard::kFaultCorruptBlock; break;
        case Fault::kUsbEndFails: c.fault = sim::usbcard::kFaultEndDfuFails; c.faultStatus = sim::usbcard::kStatusDfuVerifyFailed; break;
        case Fault::kUsbStatusErrors:
            c.fault = sim::usbcard::kFaultStatusErrors;
            c.faultStatus = sim::usbcard::kStatusFailed;
            c.faultPolls = 1 + run.at % 50;
            break;
        case Fault::kUsbFailsAfterCommit: c.fault = sim::usbcard::kFaultFailAfterCommit; c.faultStatus = sim::usbcard::kStatusDfuNoReattach; break;
        default: break;
        }
        studio->Usb().Emulated().Configure(c);
    }

    // Faults that strike during the update, set up just before it starts.
    void ArmUpdate(Attempt& run, std::mt19937& rng, const Traffic& traffic) {
        sim::OrvexUnit& u = Unit();
        const uint32_t packet = std::uniform_int_distribution<uint32_t>(0, kPackets - 1)(rng);
        auto pick = [&](uint64_t n) { return uint32_t(std::uniform_int_distribution<uint64_t>(0, n ? n - 1 : 0)(rng)); };
        const uint8_t mask = uint8_t(std::uniform_int_distribution<int>(1, 255)(rng));
        const Path path = run.path;
        switch (run.fault) {
        case Fault::kSerialSlow:
        case Fault::kSerialRefused:
        case Fault::kSerialStoreFails: return;  // in place from the start
        case Fault::kPgmErr: u.FailPacket(run.at = packet); return;
        case Fault::kTxErr: u.FailPacketTransfer(run.at = packet); return;
        case Fault::kWrongReadBack: u.CorruptReadBack(run.at = packet); return;
        case Fault::kLostReadBack: u.DropReadBackAnswer(run.at = packet); return;
        case Fault::kPowerLossErase: {
            run.micros = std::uniform_int_distribution<uint64_t>(0, 190'000)(rng);
            auto due = std::make_shared<uint64_t>(0);
            trigger = [this, due, run] {
                sim::OrvexUnit& unit = Unit();
                if (!unit.Erasing()) return;
                if (*due == 0) *due = Now() + run.micros;
                if (Now() < *due) return;
                unit.PowerCycle(Now());
                struck = true;
            };
            return;
        }
        case Fault::kPowerLossWrite:
            run.at = packet;
            trigger = [this, packet] {
                sim::OrvexUnit& unit = Unit();
                // The adapter card may take a packet whole between two looks: then just after it.
                const uint32_t written = unit.LastUpdate().written;
                if (!unit.LastUpdate().started || unit.Erasing() || written < packet || (written == packet && !unit.Busy()))
                    return;
                unit.PowerCycle(Now());
                struck = true;
            };
            return;
        case Fault::kSilence:
        case Fault::kUnplug:
            run.at = packet;
            trigger = [this, packet, path, silence = run.fault == Fault::kSilence] {
                if (!Unit().LastUpdate().started || Unit().LastUpdate().written < packet) return;
                if (silence) {
                    Unit().SetSilent(true);
                } else if (path == Path::kMidi) {
                    studio->Midi().Unplug(studio->OutPort(0));
                    studio->Midi().Unplug(studio->InPort(0));
                } else if (Networked(path)) {
                    studio->NetworkCard(0).SetUnplugged(true);
                } else if (path == Path::kAdapter) {
                    studio->AdapterCardOf(0).Fault().failAllAfter = studio->AdapterCardOf(0).Requests();
                }
                struck = true;
            };
            return;
        default: break;
        }
        // Bytes (MIDI, the adapter's cable) or datagrams (the network) in one direction.
        const bool answers = run.fault != Fault::kCorruptRequest && run.fault != Fault::kDropRequest;
        run.at = pick(answers ? traffic.answers : traffic.requests);
        // One byte changed or held back (the line stalls behind it: the answer comes late), or a run lost.
        const uint32_t count = run.fault == Fault::kDropAnswer || run.fault == Fault::kDropRequest
                                   ? std::uniform_int_distribution<uint32_t>(1, 40)(rng)
                                   : 1;
        if (run.fault == Fault::kDelayAnswer) run.micros = std::uniform_int_distribution<uint64_t>(1'000, 1'500'000)(rng);
        if (path == Path::kMidi) {
            sim::VirtualMidi& midi = studio->Midi();
            const int port = answers ? studio->InPort(0) : studio->OutPort(0);
            if (run.fault == Fault::kDelayAnswer) midi.DelayBytes(port, run.at, count, run.micros);
            else if (run.fault == Fault::kCorruptAnswer || run.fault == Fault::kCorruptRequest) midi.CorruptBytes(port, run.at, 1, mask);
            else midi.DropBytes(port, run.at, count);
        } else if (Networked(path)) {
            sim::VelunCard& card = studio->NetworkCard(0);
            const auto way = answers ? sim::VelunCard::Way::kToComputer : sim::VelunCard::Way::kToUnit;
            const uint32_t datagrams = std::min<uint32_t>(count, 3);
            if (run.fault == Fault::kDelayAnswer) card.DelayDatagrams(way, run.at, datagrams, run.micros);
            else if (run.fault == Fault::kCorruptAnswer || run.fault == Fault::kCorruptRequest)
                card.CorruptDatagrams(way, run.at, 1, mask, pick(200));
            else card.DropDatagrams(way, run.at, datagrams);
        } else if (path == Path::kAdapter) {
            sim::AdapterCard& card = studio->AdapterCardOf(0);
            sim::AdapterCard::Faults& f = card.Fault();
            if (answers) {
                f.answerFrom = card.CableBytes(true) + run.at;
                f.answerCount = count;
                f.answerMask = run.fault == Fault::kCorruptAnswer ? mask : 0;
                f.answerDelayMicros = run.fault == Fault::kDelayAnswer ? run.micros : 0;
            } else {
                f.requestFrom = card.CableBytes(false) + run.at;
                f.requestCount = count;
                f.requestMask = run.fault == Fault::kCorruptRequest ? mask : 0;
            }
        }
    }

    // The bytes of one clean update on a path, for aiming byte faults.
    Traffic Calibrate(Path path) {
        static std::map<Path, Traffic> measured;
        if (auto it = measured.find(path); it != measured.end()) return it->second;
        studio = std::make_unique<sim::Studio>(MakeScenario(path, 0, false));
        studio->Install();
        const Bytes image = MakeImage(path, kPackets * 128, 1);
        const std::string file = WriteImage(path, image);
        Traffic t;
        if (StartProgram(path, file)) {
            const Traffic before = Measure(path);
            EXPECT_TRUE(Update()) << "a clean update on " << kPathNames[int(path)];
            const Traffic after = Measure(path);
            t = {after.answers - before.answers, after.requests - before.requests};
        } else {
            ADD_FAILURE() << "no program on " << kPathNames[int(path)] << "\n" << BoxTexts() << Log();
        }
        Close();
        studio.reset();
        measured[path] = t;
        return t;
    }

    static Bytes MakeImage(Path path, uint32_t size, uint32_t seed) {
        std::mt19937 rng(seed);
        Bytes image(size);
        for (auto& b : image) b = uint8_t(rng());
        // Long runs of fill bytes, as firmware images hold: equal packets next to each
        // other, and packets of zeros, which a cleared read-back buffer also holds.
        const long ones = long(rng() % 4) * 128, zeros = long(rng() % 4) * 128;
        if (size >= 2048) {
            std::fill(image.begin() + 512, image.begin() + 512 + ones, uint8_t(0xFF));
            std::fill(image.begin() + 1024, image.begin() + 1024 + zeros, uint8_t(0));
        }
        if (path == Path::kDoZaz) {
            image[kRevisionOffset] = 10;
            image[kRevisionOffset + 1] = 0;
        } else if (path == Path::kNetworkCard) {
            image[kRevisionOffset] = 1;
            image[kRevisionOffset + 1] = 2;
        } else {
            image[kRevisionOffset] = kNewRevision;
        }
        return image;
    }
    std::string WriteImage(Path path, const Bytes& image) {
        const std::string name = path == Path::kDoZaz          ? "XCUSB10V00.BIN"
                                 : path == Path::kNetworkCard ? "XCDNT0102NC.BIN"
                                                              : "OVF031B.BIN";
        const std::string file = dir / name;
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
        return file;
    }

    std::string Log() {
        orvex::LogClose();
        return ReadFileText(dir / "OrvexUpdate.log");
    }
    std::string BoxTexts() const {
        std::string all;
        for (const RecordedBox& b : boxes) all += "[" + b.caption + "] " + b.text + "\n";
        return all;
    }

    // The target's running firmware and what the written bank must hold.
    struct Target {
        uint8_t runningBank = 0;
        Bytes running;
        uint8_t revision = 0, minor = 0;
    };
    Target Snapshot(Path path) {
        Target t;
        const bool card = CardTarget(path);
        t.runningBank = card ? Unit().CardRunningBank() : Unit().RunningBank();
        if (path != Path::kDoZaz) t.running = Unit().Flash(card, t.runningBank);
        t.revision = Unit().RunningRevision(card);
        t.minor = Unit().Register(20);
        return t;
    }

    // After a success: the written bank holds exactly the image, and the
    // target boots it after a power cycle.
    void ExpectBootsImage(Path path, const Bytes& image, const Target& before, const std::string& where) {
        if (path == Path::kDoZaz) {
            EXPECT_TRUE(studio->Usb().Emulated().CardImage(0) == image) << where << ": the card took another image";
            studio->PowerCycleAndReport();
            EXPECT_EQ(Unit().RunningRevision(true), 10) << where;
            EXPECT_EQ(Unit().Register(20), 0) << where;
            return;
        }
        const bool card = CardTarget(path);
        const uint8_t written = uint8_t(1 - before.runningBank);
        EXPECT_TRUE(Unit().Flash(card, written) == Written(image, Unit().Flash(card, written).size()))
            << where << ": the written bank does not hold the image";
        EXPECT_TRUE(Unit().Flash(card, before.runningBank) == before.running) << where << ": the running bank changed";
        studio->PowerCycleAndReport();
        EXPECT_EQ(card ? Unit().CardRunningBank() : Unit().RunningBank(), written) << where;
        EXPECT_EQ(Unit().RunningRevision(card), card ? 1 : kNewRevision) << where;
        if (card) EXPECT_EQ(Unit().Register(20), 2) << where;
    }

    // After a failure: the running firmware is untouched and boots again.
    void ExpectBootsOld(Path path, const Target& before, const std::string& where) {
        const bool card = CardTarget(path);
        if (path == Path::kDoZaz)
            EXPECT_TRUE(studio->Usb().Emulated().CardImage(0).empty()) << where << ": the card took the image";
        else
            EXPECT_TRUE(Unit().Flash(card, before.runningBank) == before.running) << where << ": the running bank changed";
        studio->PowerCycleAndReport();
        if (path != Path::kDoZaz)
            EXPECT_EQ(card ? Unit().CardRunningBank() : Unit().RunningBank(), before.runningBank) << where;
        EXPECT_EQ(Unit().RunningRevision(card), before.revision) << where;
        EXPECT_EQ(Unit().Register(20), before.minor) << where;
    }

    // The serial word the unit holds in registers 12-15 (its card's: 28-31), without its device ID.
    uint32_t StoredSerial(Path path) {
        sim::OrvexUnit& u = Unit();
        const uint16_t base = CardTarget(path) ? 28 : 12;
        const uint32_t week = u.Register(base) & 0x3F, yearBits = u.Register(base + 1);
        const uint32_t number = u.Register(base + 2) | ((u.Register(base + 3) & 0x0F) << 8);
        return ((yearBits & 0x0F) << 20) | (((yearBits >> 4) & 0x03) << 18) | (week << 12) | number;
    }

    // One update with its fault, then the clean retry.
    Attempt RunOne(Path path, uint32_t seed, const Traffic& traffic) {
        std::mt19937 rng(seed);
        Attempt run;
        run.path = path;
        run.seed = seed;
        const std::vector<Fault>& kinds = FaultsOf(path);
        run.fault = kinds[rng() % kinds.size()];
        const bool serialFault =
            run.fault == Fault::kSerialSlow || run.fault == Fault::kSerialRefused || run.fault == Fault::kSerialStoreFails;
        const uint8_t runningBank = path == Path::kDoZaz ? 0 : uint8_t(rng() % 2);
        const uint32_t size = std::uniform_int_distribution<uint32_t>((kPackets - 1) * 128 + 1, kPackets * 128)(rng);
        const Bytes image = MakeImage(path, size, rng());
        const std::string file = WriteImage(path, image);
        const std::string where = std::string(kPathNames[int(path)]) + " seed " + std::to_string(seed) + " (" +
                                  kFaultNames[int(run.fault)] + ")";

        studio = std::make_unique<sim::Studio>(MakeScenario(path, runningBank, serialFault));
        studio->Install();
        plat::SetIdleHook([this] {
            studio->Pump();
            if (trigger && !struck) trigger();
        });
        ArmEarly(run, rng, size);
        const Target before = Snapshot(path);

        bool updated = false;
        if (!StartProgram(path, file)) {
            // Only the serial-number store may end the window before the update.
            run.failed = true;
            run.failure = boxes.empty() ? "the window ended" : boxes.back().text;
            EXPECT_TRUE(serialFault) << where << ": the window ended\n" << BoxTexts();
            EXPECT_FALSE(boxes.empty()) << where << ": the window ended without a word";
            EXPECT_EQ(g_cancels, 0) << where << ": nothing to cancel before an update";
            if (run.fault == Fault::kSerialStoreFails) {
                EXPECT_EQ(run.failure, "Wait for WriteSerialNumber Failed!\n\nPGMERR") << where;
            } else if (run.fault == Fault::kSerialRefused) {
                EXPECT_TRUE(run.failure == "WriteSerialNumber Timeout!" || run.failure == "WriteXSlotSerialNumber Timeout!" ||
                            run.failure == "COrvexMixer::WriteSerialNumber Timeout!")
                    << where << ": " << run.failure;
            }
            ExpectBootsOld(path, before, where);
            EXPECT_EQ(StoredSerial(path), 0u) << where << ": a serial number was stored";
        } else {
            EXPECT_TRUE(run.fault != Fault::kSerialRefused && run.fault != Fault::kSerialStoreFails)
                << where << ": a serial number that was never stored was accepted\n" << BoxTexts();
            ArmUpdate(run, rng, traffic);
            updated = Update();
            if (trigger) EXPECT_TRUE(struck) << where << ": the fault never struck";
            run.failed = !updated;
            const std::string expected = path == Path::kDoZaz ? "DO-ZAZ Firmware Update Failed!"
                                                              : "Updating the Firmware on the Orvex FAILED!";
            bool reported = false;
            for (const RecordedBox& b : surface->boxes) {
                if (b.text == expected) reported = true;
                else if (run.failure.empty() && b.text.rfind("About to program", 0) != 0) run.failure = b.text;
            }
            if (updated) {
                // Over MIDI and the network nothing else carries the packet: a pass would be a stale buffer's.
                EXPECT_FALSE(run.fault == Fault::kLostReadBack && (path == Path::kMidi || Networked(path)))
                    << where << ": a packet passed whose read-back never arrived";
                EXPECT_FALSE(run.fault == Fault::kPgmErr || run.fault == Fault::kTxErr || run.fault == Fault::kWrongReadBack)
                    << where << ": the unit's own error was passed over";
                EXPECT_FALSE(reported) << where;
                EXPECT_EQ(g_cancels, 0) << where;
                // What is still on its way to the unit arrives first.
                plat::AdvanceVirtualClock(50'000);
                studio->Pump();
                run.unconfirmed = path != Path::kDoZaz && !Unit().LastUpdate().completed;
                if (run.unconfirmed) {
                    const bool card = CardTarget(path);
                    const uint8_t written = uint8_t(1 - before.runningBank);
                    EXPECT_TRUE(Unit().Flash(card, written) == Written(image, Unit().Flash(card, written).size()))
                        << where << ": the written bank does not hold the image";
                    ExpectBootsOld(path, before, where);
                } else {
                    ExpectBootsImage(path, image, before, where);
                }
                if (serialFault) {
                    const sim::UnitSpec plan = MakeScenario(path, 0, true).units[0];
                    EXPECT_EQ(StoredSerial(path), (CardTarget(path) ? plan.card.label : plan.label) & 0x00FFFFFF) << where;
                }
            } else {
                // Faults the unit reports for itself name themselves.
                const char* named = run.fault == Fault::kPgmErr        ? "Wait for Write Firmware Packet Failed!\n\nPGMERR"
                                    : run.fault == Fault::kTxErr         ? "Wait for Write Firmware Packet Failed!\n\nTXERR"
                                    : run.fault == Fault::kWrongReadBack ? "Firmware Verify Failed!"
                                                                         : nullptr;
                if (named) EXPECT_EQ(run.failure, named) << where;
                EXPECT_TRUE(reported) << where << ": a failed update said nothing\n" << BoxTexts();
                EXPECT_TRUE(surface->visible[IDC_UPDATE]) << where << ": back to the Ready view";
                EXPECT_EQ(g_cancels, path == Path::kDoZaz ? 0 : 1) << where;
                ExpectBootsOld(path, before, where);
            }
        }

        // The clean retry: the faults gone, the program started again, the unit updated.
        ClearFaults(path);
        // The user restarts the program a while later: what was held on the line has arrived.
        plat::AdvanceVirtualClock(60'000'000);
        studio->Pump();
        const Target retry = Snapshot(path);
        if (!StartProgram(path, file)) {
            ADD_FAILURE() << where << ": the retry's window ended\n" << BoxTexts();
        } else if (!Update()) {
            ADD_FAILURE() << where << ": the clean retry failed\n" << BoxTexts();
        } else {
            EXPECT_EQ(g_cancels, 0) << where;
            ExpectBootsImage(path, image, retry, where + " retry");
        }
        Close();
        plat::SetIdleHook(nullptr);
        trigger = nullptr;
        studio.reset();
        return run;
    }
};

uint32_t EnvNumber(const char* name, uint32_t fallback) {
    const char* v = std::getenv(name);
    return v && *v ? uint32_t(std::strtoul(v, nullptr, 0)) : fallback;
}

std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '\n' ? std::string("\\n") : std::string(1, c);
    return out;
}

struct Tally {
    uint32_t runs = 0, failed = 0, recovered = 0, unconfirmed = 0;
};

TEST_F(FaultCampaign, EveryPathFailsSafelyAndRecovers) {
    const uint32_t runs = EnvNumber("ORVEX_CAMPAIGN_RUNS", 200);
    const char* onlySeed = std::getenv("ORVEX_CAMPAIGN_SEED");
    const char* onlyPath = std::getenv("ORVEX_CAMPAIGN_PATH");
    const bool verbose = EnvNumber("ORVEX_CAMPAIGN_VERBOSE", 1) != 0;
    // A fixed base keeps the suite repeatable; ORVEX_CAMPAIGN_BASE=random explores new seeds.
    const char* baseText = std::getenv("ORVEX_CAMPAIGN_BASE");
    const uint32_t base = onlySeed && *onlySeed                          ? EnvNumber("ORVEX_CAMPAIGN_SEED", 0)
                          : baseText && std::string(baseText) == "random" ? uint32_t(std::random_device{}())
                                                                          : EnvNumber("ORVEX_CAMPAIGN_BASE", 1);
    std::map<std::pair<int, int>, Tally> table;
    const auto started = std::chrono::steady_clock::now();
    for (int p = 0; p < int(Path::kCount); ++p) {
        const Path path = Path(p);
        if (onlyPath && *onlyPath && std::string(onlyPath) != kPathNames[p]) continue;
        const Traffic traffic = Calibrate(path);
        ASSERT_TRUE(path == Path::kDoZaz || traffic.answers > 0) << "the clean update on " << kPathNames[p] << " must work first";
        const uint32_t count = onlySeed && *onlySeed ? 1 : runs;
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t seed = onlySeed && *onlySeed ? base : base + i * uint32_t(Path::kCount) + uint32_t(p);
            const bool failedBefore = HasFailure();
            const Attempt run = RunOne(path, seed, traffic);
            if (verbose || onlySeed)
                std::printf("campaign: %s seed %u %s at %u %llu us: %s\n", kPathNames[p], seed, kFaultNames[int(run.fault)],
                            run.at, static_cast<unsigned long long>(run.micros),
                            run.failed        ? Escaped(run.failure).c_str()
                            : run.unconfirmed ? "success reported, completion lost: old firmware boots"
                                              : "recovered");
            Tally& t = table[{p, int(run.fault)}];
            ++t.runs;
            (run.failed ? t.failed : run.unconfirmed ? t.unconfirmed : t.recovered)++;
            if (!failedBefore && HasFailure())
                std::printf("campaign: FAILED run: ORVEX_CAMPAIGN_SEED=%u ORVEX_CAMPAIGN_PATH=%s (%s, at %u, %llu us)\n",
                            seed, kPathNames[p], kFaultNames[int(run.fault)], run.at,
                            static_cast<unsigned long long>(run.micros));
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("campaign: seed base %u (ORVEX_CAMPAIGN_SEED=<seed> replays one run; path p of run i has seed base+5i+p)\n",
                base);
    std::printf("%-9s %-24s %6s %8s %10s %12s\n", "path", "fault", "runs", "failed", "recovered", "unconfirmed");
    Tally total;
    for (const auto& [key, t] : table) {
        std::printf("%-9s %-24s %6u %8u %10u %12u\n", kPathNames[key.first], kFaultNames[key.second], t.runs, t.failed,
                    t.recovered, t.unconfirmed);
        total.runs += t.runs;
        total.failed += t.failed;
        total.recovered += t.recovered;
        total.unconfirmed += t.unconfirmed;
    }
    std::printf("%-9s %-24s %6u %8u %10u %12u\ncampaign: %.1f s\n", "all", "", total.runs, total.failed,
                total.recovered, total.unconfirmed, seconds);
}

// Runs the campaign has found, kept as they went.
TEST_F(FaultCampaign, RunsKeptFromEarlierCampaigns) {
    struct Case {
        Path path;
        uint32_t seed;
        Fault fault;
        bool failed, unconfirmed;
    } cases[] = {
        // A changed byte in the completion command on the Tarsel card's cable.
        {Path::kAdapter, 204, Fault::kCorruptRequest, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(kPathNames[int(c.path)]) + " seed " + std::to_string(c.seed));
        const Attempt run = RunOne(c.path, c.seed, Calibrate(c.path));
        EXPECT_EQ(run.fault, c.fault);
        EXPECT_EQ(run.failed, c.failed);
        EXPECT_EQ(run.unconfirmed, c.unconfirmed);
    }
}

}  // namespace
