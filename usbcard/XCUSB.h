#pragma once
// CXCUSB: a DO-ZAZ card reached through its USB audio driver. It finds and
// loads the driver's API library, binds its 27 functions by name, opens the
// card by device index, downloads firmware into it, and lends its open device
// to the converter's sample-rate operations.
#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/Platform.h"
#include "unitcontrol/UsbCardAccess.h"
#include "usbcard/UsbAudioApi.h"

namespace orvex {

class CXCUSB : public IUsbCardAccess {
public:
    // Where the API library comes from: the system's loader, or a source that
    // tests and the simulation install. Names resolve through it either way.
    struct LibrarySource {
        std::function<plat::LibraryHandle(const std::string& path)> load;
        std::function<plat::ProcAddress(plat::LibraryHandle library, const char* name)> resolve;
        std::function<void(plat::LibraryHandle library)> release;
    };
    // null: the system's loader. The source must outlive every CXCUSB using it.
    static void SetLibrarySource(const LibrarySource* source);

    // What a status answers when the device is not open (none of the driver's own words).
    static constexpr usbaudio::USBAUDIO_STATUS kNotOpen = 0xFFFFFFFF;

    CXCUSB();
    ~CXCUSB() override;
    CXCUSB(const CXCUSB&) = delete;
    CXCUSB& operator=(const CXCUSB&) = delete;

    // Loads the library, binds every function and opens device `index`; true
    // when the device is open and described.
    bool Open(int32_t index);
    void Close() override;
    uint32_t SetSampleRate(uint32_t hertz) override;
    uint32_t GetSampleRate(uint32_t* hertz) override;
    bool ProgramEEPROM(const uint8_t* image, uint32_t size, plat::IDialogSurface& window, int progressId) override;

    // The directory the driver installs under: the native Program Files of
    // the machine (also for this 32-bit program on a 64-bit system).
    static std::string ProgramFilesDirectory();
    // The four places the API library is looked for, in order.
    static std::array<std::string, 4> LibraryPaths();

    int32_t DeviceIndex() const { return m_nDeviceIndex; }
    bool IsOpen() const { return m_hDevice != 0; }

    // A download that shows no change of state or bytes for this long is
    // given up, so a driver that hangs cannot hold the window for ever.
    static constexpr uint32_t kDfuStallMs = 120000;

private:
    template <typename Fn>
    bool Resolve(const char* name, Fn* slot);
    bool BindFunctions();
    void ReportStatus(usbaudio::USBAUDIO_STATUS status);

    // Fields in the order the card access keeps them.
    int32_t m_nDeviceIndex = -1;
    plat::LibraryHandle m_hLibrary = nullptr;
    usbaudio::USBAUDIO_HANDLE m_hDevice = 0;
    usbaudio::UsbAudioApi m_Api{};
    // The source the library came from; it also releases it.
    const LibrarySource* m_pSource = nullptr;
};

}  // namespace orvex
