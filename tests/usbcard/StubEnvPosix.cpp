// The stand-in library's place natively: drive C: is a scratch directory.
#include <dlfcn.h>

#include <filesystem>
#include <vector>

#include "platform/posix/PosixSystem.h"
#include "tests/usbcard/StubEnv.h"

namespace stubenv {
namespace {
std::string g_root;
std::vector<std::string> g_placed;

std::string HostPath(const std::string& windowsPath) {
    std::string path = g_root + windowsPath.substr(2);
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}
}  // namespace

void SetUp(const std::string& scratch) {
    g_root = scratch + "/c";
    std::filesystem::create_directories(g_root + "/Windows");
    auto& facts = plat::posix::Facts();
    facts.driveRoots['C'] = g_root;
    facts.windowsDirectory = "C:\\Windows";
    facts.registry["HKLM\\Software\\Microsoft\\Windows\\CurrentVersion"] = {{"ProgramFilesDir", "C:\\Program Files"}};
}

void TearDown() {
    RemovePlaced();
    plat::posix::ResetFacts();
}

bool Place(const std::string& windowsPath, bool withoutStartDfuUpload) {
    const std::filesystem::path target = HostPath(windowsPath);
    std::error_code ec;
    std::filesystem::create_directories(target.parent_path(), ec);
    std::filesystem::copy_file(withoutStartDfuUpload ? ORVEX_USBAUDIO_STUB_NODFUUPLOAD : ORVEX_USBAUDIO_STUB, target,
                               std::filesystem::copy_options::overwrite_existing, ec);
    if (ec) return false;
    g_placed.push_back(target.string());
    return true;
}

void RemovePlaced() {
    std::error_code ec;
    for (const std::string& file : g_placed) std::filesystem::remove(file, ec);
    g_placed.clear();
}

bool IsLoaded(const std::string& windowsPath) {
    void* library = dlopen(HostPath(windowsPath).c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!library) return false;
    dlclose(library);
    return true;
}

}  // namespace stubenv
