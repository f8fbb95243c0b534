#include "sim/network/NetworkStudio.h"

#include "protocol/UnitCodes.h"
#include "transport/VelunIF.h"

namespace sim {

NetworkStudio::~NetworkStudio() { Stop(); }

std::string NetworkStudio::DeviceName(size_t index) { return "VA-VOVUZ-" + std::to_string(index + 1); }

bool NetworkStudio::Start(const std::vector<OrvexUnit*>& units, std::string* why) {
    Stop();
    auto fail = [&](const std::string& reason) {
        if (why) *why = reason;
        Stop();
        return false;
    };
    if (units.size() > kMaxCards) return fail("at most 16 network cards");
    dnssd::Reset();
    installed_ = true;
    for (size_t i = 0; i < units.size(); ++i) {
        if (!units[i] || units[i]->Register(16) != orvex::kXSlotVaVovuz)
            return fail("unit " + std::to_string(i) + " carries no VA-VOVUZ card");
        const uint32_t address = plat::htonl(kFirstAddress + static_cast<uint32_t>(i));
        auto card = std::make_unique<VelunCard>(*units[i], address);
        std::string reason;
        if (!card->Start(&reason)) return fail(reason);
        const std::string host = "vovuz-" + std::to_string(i + 1);
        dnssd::Advertise(dnssd::MakeService(DeviceName(i), host, address, VelunCard::kConverterPort));
        cards_.push_back(std::move(card));
    }
    orvex::CVelunIF::SetDnsSdApi(&dnssd::Api());
    return true;
}

void NetworkStudio::Pump() {
    for (auto& card : cards_) card->Pump();
}

void NetworkStudio::Stop() {
    cards_.clear();
    if (installed_) {
        orvex::CVelunIF::SetDnsSdApi(nullptr);
        dnssd::Reset();
    }
    installed_ = false;
}

}  // namespace sim
