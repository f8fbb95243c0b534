#pragma once
// Facts the posix layer reports in place of a Windows system; tests set them.
#include <map>
#include <string>
#include <vector>

#include "platform/Platform.h"

namespace plat::posix {

struct SystemFacts {
    bool socketsOk = true;
    bool versionOk = true;
    OsVersion version{kPlatformNT, 6, 1, 7601};
    bool powerOk = true;
    PowerStatus power{1, 0, 100};
    bool shiftDown = false;
    bool controlDown = false;
    std::vector<std::string> args;
    std::string modulePath;  // empty: the real executable's path
    unsigned pumpedMessages = 0;
    int waitCursorDepth = 0;
    std::string windowsDirectory = "C:\\Windows";
    bool wow64Available = true;  // the system exports IsWow64Process
    bool wow64 = false;
    std::vector<std::string> debugOutput;
    // Registry values by key ("HKLM\\Software\\..." or "HKCU\\..."), then by value name.
    std::map<std::string, std::map<std::string, std::string>> registry;
    // Windows drive letters and the directories that stand for them, so that a
    // library named by a Windows path ("C:\\Program Files\\...") loads from disk.
    std::map<char, std::string> driveRoots;
};
SystemFacts& Facts();
void ResetFacts();

// The raw-data resources of this "module" (a generated table in the real build).
void SetRawResources(const RawResource* table, unsigned count);
void SetString(unsigned id, const std::string& text);

}  // namespace plat::posix
