#include "transport/OrvexMIDI.h"
#include "unitcontrol/OrvexRemote.h"

namespace orvex {

COrvexRemote::Transports DefaultRemoteTransports() {
    COrvexRemote::Transports t;
    t.midi = [] { return std::make_unique<COrvexMIDI>(); };
    // The network card and the DO-ZAZ card access join with their own code.
    return t;
}

}  // namespace orvex
