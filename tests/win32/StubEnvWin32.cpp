// The stand-in library's place under Wine: the prefix's own Program Files,
// where the driver installs it. The built libraries lie beside this program.
#include <windows.h>

#include <filesystem>
#include <vector>

#include "tests/usbcard/StubEnv.h"
#include "usbcard/XCUSB.h"

namespace stubenv {
namespace {
std::vector<std::filesystem::path> g_placed;
std::vector<std::filesystem::path> g_madeFolders;

std::filesystem::path Beside(const char* name) {
    char exe[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, exe, MAX_PATH);
    return std::filesystem::path(exe).parent_path() / "usbaudio-stub" / name;
}
}  // namespace

void SetUp(const std::string&) {}
void TearDown() { RemovePlaced(); }

bool Place(const std::string& windowsPath, bool withoutStartDfuUpload) {
    const std::filesystem::path target(windowsPath);
    // Remember the top folder made here, so that it goes again afterwards.
    std::filesystem::path top = orvex::CXCUSB::ProgramFilesDirectory();
    for (const auto& part : target.lexically_relative(top)) {
        top /= part;
        break;
    }
    std::error_code ec;
    if (!std::filesystem::exists(top, ec)) g_madeFolders.push_back(top);
    std::filesystem::create_directories(target.parent_path(), ec);
    const std::filesystem::path source =
        Beside(withoutStartDfuUpload ? "usbaudioapi-nodfuupload.dll" : "usbaudioapi.dll");
    if (!CopyFileA(source.string().c_str(), target.string().c_str(), FALSE)) return false;
    g_placed.push_back(target);
    return true;
}

void RemovePlaced() {
    std::error_code ec;
    for (const auto& file : g_placed) std::filesystem::remove(file, ec);
    g_placed.clear();
    for (const auto& folder : g_madeFolders) std::filesystem::remove_all(folder, ec);
    g_madeFolders.clear();
}

bool IsLoaded(const std::string& windowsPath) { return GetModuleHandleA(windowsPath.c_str()) != nullptr; }

}  // namespace stubenv
