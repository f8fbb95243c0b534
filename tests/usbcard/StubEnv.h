#pragma once
// Where the stand-in USB audio API library is put for the real search to find
// it: under the Wine prefix's Program Files, or natively under a scratch
// directory that stands for drive C: (the posix OS layer maps it).
#include <string>

namespace stubenv {

// Natively: drive C: is `scratch`/c and the registry names "C:\Program Files".
// Under Wine: nothing to do, the prefix is the machine.
void SetUp(const std::string& scratch);
void TearDown();
// Puts the built library (or its variant without USBAUDIO_StartDfuUpload) at
// a Windows path, making its folders.
bool Place(const std::string& windowsPath, bool withoutStartDfuUpload = false);
// Takes away everything Place put down (every reference must be released first).
void RemovePlaced();
// Whether the library file at the path is loaded in this process.
bool IsLoaded(const std::string& windowsPath);

}  // namespace stubenv
