#pragma once
// Files the programs carry as named raw-data resources, stored as SZDD
// containers: found in the program's own module and expanded to disk through
// a temporary compressed file.
#include <cstdint>
#include <functional>
#include <string>

namespace orvex {

struct EmbeddedFileForm {
    // Replaces the last character of the resource name in the temporary compressed file's name.
    char marker = '_';
    // The installer's form: logs every step and failure, names the system error code in
    // open-failure captions, clears and removes an existing destination, and stamps the
    // expanded file with a fixed time. The updater's form does none of these.
    bool installer = false;
    // Installer only: where a resource is installed; an empty path means "do not write it".
    std::function<std::string(const std::string& name)> nameMap;
    // Message boxes; the updater routes them to its main window. Unset: boxes without an owner.
    std::function<int(const std::string& text, const std::string& caption, unsigned type)> messageBox;
};

// The updater's and the installer's forms.
EmbeddedFileForm UpdaterEmbeddedForm();
EmbeddedFileForm InstallerEmbeddedForm(std::function<std::string(const std::string&)> nameMap);

struct EmbeddedBytes {
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    const void* loaded = nullptr;  // to release the resource
};

bool FindEmbeddedFile(const EmbeddedFileForm& form, const std::string& name, EmbeddedBytes* out);
// destination receives the expanded file's path (empty when the installer skips the name).
bool ExpandEmbeddedFile(const EmbeddedFileForm& form, const std::string& name, const uint8_t* bytes,
                        uint32_t size, std::string* destination = nullptr);
// Find, then expand; the installer's form releases the resource whatever the result.
bool ExtractEmbeddedFile(const EmbeddedFileForm& form, const std::string& name, std::string* destination = nullptr);

// The temporary compressed file's path for a resource name.
std::string CompressedTempPath(const EmbeddedFileForm& form, const std::string& name);

// 20 November 2019, 02:00:24.002 local time: every file the installer expands carries it.
extern const struct EmbeddedFixedTime {
    uint16_t year, month, day, hour, minute, second, milliseconds;
} kInstalledFileTime;

inline constexpr size_t kMaxPath = 260;

}  // namespace orvex
