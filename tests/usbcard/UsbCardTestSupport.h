#pragma once
// Shared pieces of the DO-ZAZ card tests: images, a window that records its
// progress bar, message boxes, and the log of the run.
#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "common/Log.h"
#include "platform/Platform.h"
#include "tests/support/RecorderSurface.h"
#include "tests/support/TempDir.h"

namespace usbtest {

using Bytes = std::vector<uint8_t>;

constexpr int kProgressId = 1010;
// The two DO-ZAZ images the updater carries, by size and the version they hold.
constexpr uint32_t kImage10V00Size = 49408;
constexpr uint32_t kImage5V30Size = 47616;

// Deterministic image bytes carrying major and minor at the offsets the card reads.
inline Bytes MakeImage(uint32_t size, uint8_t major, uint8_t minor, uint32_t versionOffset = 0x110) {
    Bytes image(size);
    std::mt19937 rng(size ^ (uint32_t{major} << 8) ^ minor);
    for (auto& b : image) b = static_cast<uint8_t>(rng());
    image.at(versionOffset) = major;
    image.at(versionOffset + 1) = minor;
    return image;
}

struct ProgressSurface : RecorderSurface {
    int rangeId = -1, low = -1, high = -1;
    std::vector<int> positions;
    std::vector<int> positionIds;
    void SetProgressRange(int id, int l, int h) override {
        rangeId = id;
        low = l;
        high = h;
    }
    void SetProgressPos(int id, int pos) override {
        if (positionIds.empty() || positionIds.back() != id) positionIds.push_back(id);
        positions.push_back(pos);
    }
};

// Message boxes without owner, answered OK and kept.
struct Boxes {
    std::vector<RecordedBox> seen;
    Boxes() {
        plat::SetMessageBoxAnswerer([this](const std::string& text, const std::string& caption, unsigned type) {
            seen.push_back({text, caption, type});
            return plat::id::Ok;
        });
    }
    ~Boxes() { plat::SetMessageBoxAnswerer(nullptr); }
};

// A test's own working directory, log and virtual clock.
struct RunScope {
    TempDir dir;
    ChangeDir cd{dir.path};
    RunScope() {
        plat::UseVirtualClock(true);
        orvex::LogSetProgram(orvex::LogProgram::OrvexUpdate);
    }
    ~RunScope() {
        orvex::LogClose();
        plat::UseVirtualClock(false);
    }
    // The log's text, with the line ends Windows' text mode writes made plain.
    std::string Log() {
        orvex::LogClose();
        std::string text = ReadFileText("OrvexUpdate.log");
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        return text;
    }
};

inline size_t Count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
    return n;
}

}  // namespace usbtest
