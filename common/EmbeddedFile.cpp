#include "common/EmbeddedFile.h"

#include <cstdarg>
#include <cstdio>

#include "common/Log.h"
#include "common/Szdd.h"
#include "platform/Platform.h"

namespace orvex {

const EmbeddedFixedTime kInstalledFileTime{2019, 11, 20, 2, 0, 24, 2};

namespace {
constexpr uint32_t kErrorFilenameTooLong = 206;  // ERROR_FILENAME_EXCED_RANGE

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char buf[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    return buf;
}

int Box(const EmbeddedFileForm& form, const std::string& text, const std::string& caption) {
    unsigned type = plat::mb::Ok | plat::mb::IconWarning;
    if (form.messageBox) return form.messageBox(text, caption, type);
    return plat::MessageBox(text, caption, type);
}

// One failure row: the installer logs, both show the box.
bool Fail(const EmbeddedFileForm& form, const std::string& log, const std::string& text,
          const std::string& caption) {
    if (form.installer) OrvexLog("%s", log.c_str());
    Box(form, text, caption);
    return false;
}
}  // namespace

EmbeddedFileForm UpdaterEmbeddedForm() { return EmbeddedFileForm{}; }

EmbeddedFileForm InstallerEmbeddedForm(std::function<std::string(const std::string&)> nameMap) {
    EmbeddedFileForm form;
    form.marker = '$';
    form.installer = true;
    form.nameMap = std::move(nameMap);
    return form;
}

std::string CompressedTempPath(const EmbeddedFileForm& form, const std::string& name) {
    std::string path = plat::GetTempPath() + name;
    if (!name.empty()) path.back() = form.marker;
    return path;
}

bool FindEmbeddedFile(const EmbeddedFileForm& form, const std::string& name, EmbeddedBytes* out) {
    const char* caption = form.installer ? "" : "Orvex Firmware Update";
    plat::ResourceHandle found = plat::FindResource(name);
    if (!found) {
        if (form.installer) OrvexLog("FindResource FAILED!");
        Box(form, "Cannot Find Resource", name);
        return false;
    }
    const void* loaded = plat::LoadResource(found);
    if (!loaded) {
        if (form.installer) OrvexLog("LoadResource FAILED!");
        Box(form, "Cannot Load Resource", caption);
        return false;
    }
    const void* bytes = plat::LockResource(loaded);
    if (!bytes) {
        if (form.installer) OrvexLog("LockResource FAILED!");
        Box(form, "Cannot Lock Resource", caption);
        plat::FreeResource(loaded);
        return false;
    }
    out->data = static_cast<const uint8_t*>(bytes);
    out->size = plat::SizeofResource(found);
    out->loaded = loaded;
    return true;
}

bool ExpandEmbeddedFile(const EmbeddedFileForm& form, const std::string& name, const uint8_t* bytes,
                        uint32_t size, std::string* destinationOut) {
    std::string destination = form.installer ? (form.nameMap ? form.nameMap(name) : std::string())
                                             : plat::GetTempPath() + name;
    if (destinationOut) *destinationOut = destination;
    if (form.installer && destination.empty()) return true;

    std::string temp = CompressedTempPath(form, name);
    if (form.installer) OrvexLog("Writing %s to %s from %s", name.c_str(), destination.c_str(), temp.c_str());

    // Paths longer than the programs' 260-character buffers are refused, never cut.
    plat::FileHandle file = plat::kInvalidFile;
    if (temp.size() >= kMaxPath || destination.size() >= kMaxPath)
        plat::SetLastError(kErrorFilenameTooLong);
    else
        file = plat::CreateFile(temp, plat::kAccessRead | plat::kAccessWrite, plat::FileShare::None,
                                plat::FileDisposition::CreateAlways, plat::kAttrTemporary);
    if (file == plat::kInvalidFile) {
        uint32_t error = plat::GetLastError();
        return Fail(form, Format("Source: CreateFile Failure! [%08lx] %s", (unsigned long)error, temp.c_str()),
                    Format("Unable to create compressed file '%s'!", temp.c_str()),
                    Format("Create File Failure! [%08lx]", (unsigned long)error));
    }
    uint32_t written = 0;
    bool wrote = plat::WriteFile(file, bytes, size, &written) && written == size;
    uint32_t writeError = wrote ? 0 : plat::GetLastError();
    plat::CloseHandle(file);
    if (!wrote) {
        return Fail(form, Format("WriteFile Failure! [%08lx] %s", (unsigned long)writeError, temp.c_str()),
                    Format("Unable to write compressed file '%s'!", temp.c_str()),
                    Format("Write File Failure! [%08lx]", (unsigned long)writeError));
    }

    int source = plat::LZOpenFile(temp, false);
    if (source < 0) {
        uint32_t error = plat::GetLastError();
        return Fail(form, Format("Source: LZOpenFile Failure! [%08lx] %s", (unsigned long)error, temp.c_str()),
                    Format("Unable to open source file '%s'!", temp.c_str()),
                    form.installer ? Format("File Open Failure! [%08lx]", (unsigned long)error)
                                   : Format("File Open Failure! [%ld]", (long)source));
    }

    if (form.installer && plat::GetFileAttributes(destination) != plat::kInvalidAttributes) {
        uint32_t attrs = plat::GetFileAttributes(destination);
        plat::SetFileAttributes(destination,
                                attrs & ~(plat::kAttrReadOnly | plat::kAttrHidden | plat::kAttrSystem));
        if (plat::DeleteFile(destination)) OrvexLog("File Already Exists... Removed %s", destination.c_str());
    }

    int target = plat::LZOpenFile(destination, true);
    if (target < 0) {
        uint32_t error = plat::GetLastError();
        plat::LZClose(source);
        if (form.installer)
            return Fail(form,
                        Format("Destination: LZOpenFile Failure! [%08lx] %s", (unsigned long)error,
                               destination.c_str()),
                        Format("Unable to open destination file '%s'!\n\n%s", destination.c_str(),
                               plat::FormatSystemMessage(error).c_str()),
                        Format("File Open Failure! [%08lx]", (unsigned long)error));
        return Fail(form, "", Format("Unable to open destination file '%s'!", destination.c_str()),
                    Format("File Open Failure! [%ld]", (long)target));
    }

    // The expansion library copies anything without the container's signature
    // through unchanged and stops quietly at a cut-off end; both would hand a
    // corrupt file on as good, so the container is checked here.
    uint32_t expectedSize = 0;
    long result;
    if (!SzddReadHeader(bytes, size, &expectedSize, nullptr))
        result = kLzErrorUnknownAlg;
    else {
        result = plat::LZCopy(source, target);
        if (result >= 0 && static_cast<uint32_t>(result) != expectedSize) result = kLzErrorRead;
    }
    plat::LZClose(source);
    plat::LZClose(target);
    if (result < 0) {
        plat::DeleteFile(destination);  // a partial file must not pass for the real one
        return Fail(form, Format("LZCopy Failure! [%ld] %s", result, destination.c_str()),
                    Format("Unable to expand file '%s'!", destination.c_str()),
                    Format("File Copy Failure! [%ld]", result));
    }

    plat::DeleteFile(temp);

    if (form.installer) {
        plat::FileHandle out = plat::CreateFile(destination, plat::kAccessRead | plat::kAccessWrite,
                                                plat::FileShare::None, plat::FileDisposition::OpenExisting);
        if (out == plat::kInvalidFile) {
            OrvexLog("SetFileTime: CreateFile Failure! [%ld] %s", (long)plat::GetLastError(), destination.c_str());
            return true;
        }
        const auto& t = kInstalledFileTime;
        uint64_t stamp = 0;
        if (plat::LocalTimeToFileTime({t.year, t.month, t.day, t.hour, t.minute, t.second, t.milliseconds}, &stamp))
            plat::SetFileTime(out, &stamp, &stamp, &stamp);
        plat::CloseHandle(out);
    }
    return true;
}

bool ExtractEmbeddedFile(const EmbeddedFileForm& form, const std::string& name, std::string* destination) {
    EmbeddedBytes found;
    if (!FindEmbeddedFile(form, name, &found)) return false;
    bool ok = ExpandEmbeddedFile(form, name, found.data, found.size, destination);
    if (form.installer) plat::FreeResource(found.loaded);
    return ok;
}

}  // namespace orvex
