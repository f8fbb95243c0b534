#include "transport/OrvexMIDI.h"
#include "transport/VelunIF.h"
#include "unitcontrol/OrvexRemote.h"

namespace orvex {

COrvexRemote::Transports DefaultRemoteTransports() {
    COrvexRemote::Transports t;
    t.midi = [] { return std::make_unique<COrvexMIDI>(); };
    t.network = [] { return std::make_unique<CVelunIF>(); };
    // The DO-ZAZ card access joins with its own code.
    return t;
}

}  // namespace orvex
