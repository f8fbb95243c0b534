#pragma once
// Access to a DO-ZAZ card through its USB audio driver, opened while a unit
// carrying one is selected over MIDI. The driver access itself lives with the
// USB-card code; the remote object owns and closes it and asks it to change
// the sample rate, and the updater's window hands it a firmware image.
#include <cstdint>

namespace plat {
class IDialogSurface;
}

namespace orvex {

class IUsbCardAccess {
public:
    virtual ~IUsbCardAccess() = default;
    virtual void Close() = 0;
    // 0 on success, else the driver's result word.
    virtual uint32_t SetSampleRate(uint32_t hertz) = 0;
    virtual uint32_t GetSampleRate(uint32_t* hertz) = 0;
    // Downloads a whole image into the card; drives the window's progress bar
    // `progressId` and keeps the window's messages flowing. True on success.
    virtual bool ProgramEEPROM(const uint8_t* image, uint32_t size, plat::IDialogSurface& window, int progressId) = 0;
};

}  // namespace orvex
