// Full-image updates through the updater's own ProgramEEPROM and status wait,
// against the emulated studio on every path, on the real clock. Prints a table
// and writes the same figures as JSON.
//
//   update_bench [--json FILE] [--only NAME]
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "common/Log.h"
#include "platform/Platform.h"
#include "platform/posix/PosixSystem.h"
#include "protocol/RemoteMessages.h"
#include "resources/resource.h"
#include "sim/studio/Studio.h"
#include "tests/support/EmbeddedImages.h"
#include "tests/support/RecorderSurface.h"
#include "tests/support/TempDir.h"
#include "unitcontrol/OrvexRemote.h"
#include "updater/OrvexUpdateDlg.h"
#include "updater/ProgramMain.h"

namespace {

using Clock = std::chrono::steady_clock;

// Where each row's program log is kept (beside the JSON figures).
std::string g_logDir = ".";

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// The window as the bench drives it: the image is loaded as Update would, and
// ProgramEEPROM runs on its own so that only programming is timed.
class BenchDlg : public COrvexUpdateDlg {
public:
    using COrvexUpdateDlg::COrvexUpdateDlg;
    using COrvexUpdateDlg::LoadFirmware;
    uint32_t FirmwareSize() const { return m_dwFirmwareSize; }
    const uint8_t* Firmware() const { return m_pFirmware.get(); }
    orvex::IUsbCardAccess* Card() { return m_Factories.usbCard ? m_Factories.usbCard(*m_pMixerIF) : nullptr; }
};

// A recorder that notes when each packet's step began: the bar's range is set
// once for the erase, once for writing and once for the read-back.
class TimedSurface : public RecorderSurface {
public:
    struct Mark {
        int phase, pos;
        Clock::time_point at;
    };
    std::vector<Mark> marks;
    int phase = 0;
    void SetProgressRange(int id, int low, int high) override {
        RecorderSurface::SetProgressRange(id, low, high);
        ++phase;
    }
    // Only changes are kept: a download sets the bar on every poll.
    void SetProgressPos(int, int pos) override {
        if (marks.empty() || marks.back().pos != pos || marks.back().phase != phase)
            marks.push_back({phase, pos, Clock::now()});
    }
    // When each packet of a phase began, and when the phase ended (the next mark).
    std::vector<Clock::time_point> Starts(int wanted) const {
        std::vector<Clock::time_point> starts;
        for (const Mark& m : marks)
            if (m.phase == wanted && m.pos == int(starts.size())) starts.push_back(m.at);
        return starts;
    }
};

struct Result {
    std::string name, path;
    double seconds = 0;
    bool ok = false;
    uint32_t packets = 0;
    std::optional<double> lowerBound;        // seconds
    std::optional<double> medianPacketMicros, p99PacketMicros;  // write plus read-back
    uint64_t sleeps = 0;                     // 5 ms sleeps of the status wait
    double sleepMs = 0;                      // one such sleep with this row's studio running
    uint64_t bytesOut = 0, bytesIn = 0, messagesOut = 0;
    std::string target;
    bool met = false;
    std::string note;
};

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5));
    return v[i];
}

// The time of one sleep of the status wait on this machine.
double SleepMillis() {
    const auto start = Clock::now();
    for (int i = 0; i < 100; ++i) plat::Sleep(5);
    return Seconds(Clock::now() - start) * 1000 / 100;
}

sim::UnitSpec Orvex16(sim::UnitSpec::Link link) {
    sim::UnitSpec u;
    u.link = link;
    u.port = "Bench";
    u.serial = 0x26C0F07B;  // 26 12 15 0123
    u.pcb = 2;
    if (link == sim::UnitSpec::kNetwork) {
        u.card.kind = orvex::kXSlotVaVovuz;
        u.card.firmware = 1;
        u.card.firmwareMinor = 1;
        u.card.serial = 0x15146007;
    }
    return u;
}

sim::Scenario Studio(sim::UnitSpec unit, uint32_t bytesPerSecond, uint64_t eraseMicros, uint64_t packetMicros) {
    sim::Scenario s;
    s.name = "bench";
    s.bytesPerSecond = bytesPerSecond;
    s.eraseMicros = eraseMicros;
    s.packetMicros = packetMicros;
    if (eraseMicros == 0 && packetMicros == 0) s.usbDetachMicros = s.usbBlockMicros = s.usbManifestMicros = s.usbReattachMicros = 0;
    s.units = {std::move(unit)};
    return s;
}

// One full update of the Orvex 16 image (or a card's) through ProgramEEPROM.
Result Program(const std::string& name, const std::string& path, const sim::Scenario& scenario, int entry = 0) {
    Result r;
    r.name = name;
    r.path = path;
    TempDir dir;
    ChangeDir cd{dir.path};
    setenv("TMPDIR", dir.path.c_str(), 1);
    sim::Studio studio(scenario);
    studio.Install();
    r.sleepMs = SleepMillis();  // the studio's emulators run after every sleep, as during the update
    TimedSurface surface;
    BenchDlg dlg("", ProgramFactories());
    dlg.OnInitDialog(surface);
    if (surface.ended) {
        r.note = "the window ended at discovery";
        return r;
    }
    if (entry != 0) {
        surface.selection = entry;
        dlg.OnSelChangeModel();
    }
    if (!dlg.LoadFirmware()) {
        r.note = "the image did not load";
        return r;
    }
    r.packets = (dlg.FirmwareSize() + 127) / 128;
    const int out = studio.OutPort(0), in = studio.InPort(0);
    const uint64_t out0 = out >= 0 ? studio.Midi().CableBytes(out) : 0, in0 = in >= 0 ? studio.Midi().CableBytes(in) : 0;
    const size_t sent0 = out >= 0 ? studio.Midi().SentBlocks(out).size() : 0;
    surface.marks.clear();
    surface.phase = 0;
    surface.pumped = 0;

    const auto start = Clock::now();
    if (dlg.NewDeviceID() == orvex::kXSlotDoZaz) {
        orvex::IUsbCardAccess* card = dlg.Card();
        r.ok = card && card->ProgramEEPROM(dlg.Firmware(), dlg.FirmwareSize(), surface, IDC_PROGRESS);
        r.packets = 0;
    } else {
        r.ok = dlg.ProgramEEPROM();
    }
    r.seconds = Seconds(Clock::now() - start);

    if (out >= 0) {
        r.bytesOut = studio.Midi().CableBytes(out) - out0;
        r.bytesIn = studio.Midi().CableBytes(in) - in0;
        r.messagesOut = studio.Midi().SentBlocks(out).size() - sent0;
    }
    if (r.packets) {
        // Both packet loops pump once per packet; every other pump is a turn of the status wait.
        r.sleeps = uint64_t(surface.pumped) > 2 * uint64_t{r.packets} ? surface.pumped - 2 * uint64_t{r.packets} : 0;
        const int first = surface.phase - 1;  // the writing phase of this update (the read-back is last)
        const std::vector<Clock::time_point> write = surface.Starts(first), verify = surface.Starts(first + 1);
        std::vector<double> perPacket;
        for (size_t k = 0; k + 1 < write.size() && k + 1 < verify.size(); ++k)
            perPacket.push_back(Seconds(write[k + 1] - write[k]) * 1e6 + Seconds(verify[k + 1] - verify[k]) * 1e6);
        if (!perPacket.empty()) {
            r.medianPacketMicros = Percentile(perPacket, 0.5);
            r.p99PacketMicros = Percentile(perPacket, 0.99);
        }
    }
    if (!r.ok && !surface.boxes.empty()) {
        r.note = surface.boxes.back().text;
        std::replace(r.note.begin(), r.note.end(), '\n', ' ');
    }
    dlg.OnDestroy();
    studio.Uninstall();
    orvex::LogClose();
    std::error_code ignored;
    std::filesystem::copy_file(dir.path + "/OrvexUpdate.log", g_logDir + "/" + name + ".log",
                               std::filesystem::copy_options::overwrite_existing, ignored);
    unsetenv("TMPDIR");
    return r;
}

long PeakResidentKiB() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    std::string jsonPath = "bench-results.json", only;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--json")) jsonPath = argv[i + 1];
        if (!std::strcmp(argv[i], "--only")) only = argv[i + 1];
    }
    g_logDir = std::filesystem::absolute(jsonPath).parent_path().string();
    plat::UseVirtualClock(false);
    InstallEmbeddedImages();
    plat::posix::SetString(IDS_ABOUTBOX, IDS_ABOUTBOX_TEXT);
    const double sleepMs = SleepMillis();
    std::vector<Result> results;
    auto run = [&](const std::string& name, const std::function<Result()>& f) {
        if (!only.empty() && name.find(only) == std::string::npos) return;
        std::fprintf(stderr, "running %s ...\n", name.c_str());
        results.push_back(f());
    };

    constexpr uint32_t kDin = sim::VirtualMidi::kDinBytesPerSecond;
    run("midi-din", [&] {
        Result r = Program("midi-din", "MIDI, DIN cable 3,125 B/s each way, erase 4 s, 1 ms/packet",
                           Studio(Orvex16(sim::UnitSpec::kMidi), kDin, 4'000'000, 1'000));
        // Every byte crossed the cable in turn with the device's own time.
        r.lowerBound = double(r.bytesOut + r.bytesIn) / kDin + 4.0 + r.packets * 0.001;
        r.target = "measured / lower bound <= 1.05";
        r.met = r.ok && r.seconds / *r.lowerBound <= 1.05;
        return r;
    });
    run("midi-unpaced", [&] {
        Result r = Program("midi-unpaced", "MIDI, unpaced, zero device time", Studio(Orvex16(sim::UnitSpec::kMidi), 0, 0, 0));
        r.target = "median <= 200 us per packet, whole image <= 1 s";
        r.met = r.ok && r.medianPacketMicros && *r.medianPacketMicros <= 200 && r.seconds <= 1.0;
        return r;
    });
    run("network", [&] {
        Result r = Program("network", "network, real UDP on loopback, zero device time",
                           Studio(Orvex16(sim::UnitSpec::kNetwork), 0, 0, 0));
        r.target = "whole image <= 1.5 s";
        r.met = r.ok && r.seconds <= 1.5;
        return r;
    });
    run("adapter", [&] {
        sim::UnitSpec u = Orvex16(sim::UnitSpec::kAdapter);
        u.adapter.lockMicros = u.adapter.pollMicros = 0;
        Result r = Program("adapter", "adapter card, zero device time (the card polls the converter at once)", Studio(u, 0, 0, 0));
        r.target = "whole image <= 1.5 s";
        r.met = r.ok && r.seconds <= 1.5;
        return r;
    });
    // What the card's own polling costs: every status wait first waits for four fresh status blocks.
    run("adapter-1ms-poll", [&] {
        sim::UnitSpec u = Orvex16(sim::UnitSpec::kAdapter);
        u.adapter.lockMicros = 0;
        Result r = Program("adapter-1ms-poll", "adapter card polling the converter every 1 ms, otherwise zero device time",
                           Studio(u, 0, 0, 0));
        r.target = "(for comparison)";
        r.met = r.ok;
        return r;
    });
    run("do-zaz", [&] {
        sim::UnitSpec u = Orvex16(sim::UnitSpec::kMidi);
        u.card.kind = orvex::kXSlotDoZaz;
        u.card.firmware = 5;
        u.card.firmwareMinor = 30;
        Result r = Program("do-zaz", "DO-ZAZ download of 49,408 bytes through the USB stand-in, zero device time",
                           Studio(u, 0, 0, 0), 1);
        r.target = "whole image <= 1.5 s";
        r.met = r.ok && r.seconds <= 1.5;
        return r;
    });

    // The peer comparison: the same host messages from a sender that waits a
    // fixed 20 ms after each, as system-exclusive librarian tools do.
    std::optional<double> fixedPacing;
    for (const Result& r : results)
        if (r.name == "midi-din" && r.messagesOut)
            fixedPacing = double(r.bytesOut) / kDin + double(r.messagesOut) * 0.020 + 4.0 + r.packets * 0.001;

    const long rssKiB = PeakResidentKiB();
    std::printf("\n%-16s %-9s %-4s %9s %9s %7s %10s %10s %8s  %s\n", "row", "result", "met", "seconds", "bound s",
                "ratio", "median us", "p99 us", "sleeps", "target");
    for (const Result& r : results) {
        char bound[16] = "-", ratio[16] = "-", median[16] = "-", p99[16] = "-";
        if (r.lowerBound) {
            std::snprintf(bound, sizeof bound, "%.2f", *r.lowerBound);
            std::snprintf(ratio, sizeof ratio, "%.3f", r.seconds / *r.lowerBound);
        }
        if (r.medianPacketMicros) std::snprintf(median, sizeof median, "%.0f", *r.medianPacketMicros);
        if (r.p99PacketMicros) std::snprintf(p99, sizeof p99, "%.0f", *r.p99PacketMicros);
        std::printf("%-16s %-9s %-4s %9.4f %9s %7s %10s %10s %8llu  %s%s%s\n", r.name.c_str(),
                    r.ok ? "success" : "FAILED", r.met ? "yes" : "no", r.seconds, bound, ratio, median, p99,
                    static_cast<unsigned long long>(r.sleeps), r.target.c_str(), r.note.empty() ? "" : " — ",
                    r.note.c_str());
    }
    std::printf("\nstatus-wait sleep on this machine: %.2f ms each\n", sleepMs);
    for (const Result& r : results)
        if (r.sleeps)
            std::printf("%-16s %llu sleeps of %.2f ms = %.2f s of %.2f s (%.0f%%) in the status wait's sleeps; the rest %.2f s\n",
                        r.name.c_str(), static_cast<unsigned long long>(r.sleeps), r.sleepMs,
                        double(r.sleeps) * r.sleepMs / 1000, r.seconds,
                        100.0 * double(r.sleeps) * r.sleepMs / 1000 / r.seconds,
                        std::max(0.0, r.seconds - double(r.sleeps) * r.sleepMs / 1000));
    if (fixedPacing) std::printf("fixed 20 ms pacing of the same messages on a DIN cable: %.1f s\n", *fixedPacing);
    std::printf("peak resident memory: %.1f MB (target <= 16 MB)\n", double(rssKiB) / 1024);

    nlohmann::json json;
    json["sleep_ms"] = sleepMs;
    json["peak_rss_mb"] = double(rssKiB) / 1024;
    json["peak_rss_target_met"] = rssKiB <= 16 * 1024;
    if (fixedPacing) json["fixed_20ms_pacing_seconds"] = *fixedPacing;
    for (const Result& r : results) {
        nlohmann::json row{{"path", r.path},       {"success", r.ok},      {"seconds", r.seconds},
                           {"packets", r.packets}, {"sleeps", r.sleeps}, {"sleep_ms", r.sleepMs},   {"target", r.target},
                           {"target_met", r.met},  {"bytes_out", r.bytesOut}, {"bytes_in", r.bytesIn},
                           {"messages_out", r.messagesOut}};
        if (r.lowerBound) {
            row["lower_bound_seconds"] = *r.lowerBound;
            row["ratio"] = r.seconds / *r.lowerBound;
        }
        if (r.medianPacketMicros) row["median_packet_us"] = *r.medianPacketMicros;
        if (r.p99PacketMicros) row["p99_packet_us"] = *r.p99PacketMicros;
        if (!r.note.empty()) row["note"] = r.note;
        json["rows"][r.name] = row;
    }
    std::ofstream(jsonPath) << json.dump(2) << "\n";
    std::printf("figures written to %s\n", jsonPath.c_str());
    return 0;
}
