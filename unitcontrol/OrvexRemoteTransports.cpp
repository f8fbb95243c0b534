#include "transport/OrvexMIDI.h"
#include "transport/VelunIF.h"
#include "unitcontrol/OrvexRemote.h"
#include "usbcard/XCUSB.h"

namespace orvex {

COrvexRemote::Transports DefaultRemoteTransports() {
    COrvexRemote::Transports t;
    t.midi = [] { return std::make_unique<COrvexMIDI>(); };
    t.network = [] { return std::make_unique<CVelunIF>(); };
    // A DO-ZAZ card over MIDI: its USB device index is the connection number.
    t.usbCard = [](uint16_t connection) -> std::unique_ptr<IUsbCardAccess> {
        auto card = std::make_unique<CXCUSB>();
        if (!card->Open(connection)) return nullptr;
        return card;
    };
    return t;
}

}  // namespace orvex
