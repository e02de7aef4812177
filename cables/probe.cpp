// SPDX-License-Identifier: GPL-2.0-or-later
// --probe: a probe next to the target runs the DCU's messages itself; reached over TCP,
// a unix socket or a serial line.
#include "cables/backend_cable.h"
#include "cables/cable.h"
#include "probe/probe_client.h"
#include "util/text.h"

namespace orbvex::cables {
namespace {

using probe::ProbeClient;

// Where the probe is: a socket's endpoint, or a serial device and its rate.
struct ProbePlace {
    bool serial = false;
    net::Endpoint endpoint;
    std::string device;
    int baud = probe::kDefaultBaud;
    std::string Describe() const { return serial ? device : endpoint.Describe(); }
};

class ProbeCable final : public BackendCable {
public:
    ProbeCable(std::unique_ptr<ProbeClient> client, std::string where)
        : BackendCable(std::move(client)), where_(std::move(where)) {}

    // The release's writes are only queued: every answer in shows they reached the target.
    bool Finish(std::string&) override { return static_cast<ProbeClient&>(*backend_).Sync(); }

private:
    std::string DescribeLoss(const std::string& reason) const override {
        return "connection to the probe " + where_ + " lost (" + reason + ")";
    }
    std::string where_;
};

class ProbeChoice final : public CableChoice {
public:
    explicit ProbeChoice(ProbePlace place) : place_(std::move(place)) {}
    std::unique_ptr<Cable> Open(const CableSettings& settings, std::string& error) const override {
        const int timeoutMs = settings.remoteTimeoutSeconds * 1000;
        std::string why;
        std::unique_ptr<probe::ProbeStream> stream;
        if (place_.serial) {
            stream = probe::OpenSerialStream(place_.device, place_.baud, why);
        } else {
            net::Socket socket = net::Connect(place_.endpoint, why, timeoutMs, settings.giveUp);
            if (socket.Valid()) stream = probe::MakeSocketStream(std::move(socket));
        }
        if (!stream) {
            error = "cannot connect to the probe " + place_.Describe() + ": " + why;
            return nullptr;
        }
        auto client = std::make_unique<ProbeClient>(std::move(stream), timeoutMs);
        client->SetGiveUp(settings.giveUp);
        if (place_.serial) client->SetSilenceLine("no answer from the probe at " + std::to_string(place_.baud) + " baud");
        if (!client->Hello(why)) {
            error = "the probe " + place_.Describe() + " cannot serve: " + why;
            return nullptr;
        }
        if (settings.note) settings.note("using the probe " + client->Probe().name + " at " + place_.Describe());
        const std::string older = probe::OlderFirmwareNotice(client->Probe().name);
        if (!older.empty() && settings.warn) settings.warn(older);
        return std::make_unique<ProbeCable>(std::move(client), place_.Describe());
    }

private:
    ProbePlace place_;
};

bool LooksLikeDevice(const std::string& text) {
    return text.rfind("/", 0) == 0 || text.rfind("COM", 0) == 0 || text.rfind("\\\\.\\", 0) == 0;
}

std::unique_ptr<CableChoice> Parse(const std::string& value, std::string& error) {
    ProbePlace place;
    std::string where = value;
    const std::size_t comma = value.find(',');
    std::string baud;
    if (comma != std::string::npos) {
        where = value.substr(0, comma);
        const std::string param = value.substr(comma + 1);
        if (param.rfind("baud=", 0) != 0) {
            error = "unknown parameter '" + param + "' (only baud=N, for a serial device)";
            return nullptr;
        }
        baud = param.substr(5);
    }
    if (LooksLikeDevice(where)) {
        place.serial = true;
        place.device = where;
        if (!baud.empty()) {
            std::uint64_t rate = 0;
            if (!ParseUnsigned(baud, 4000000, rate) || rate == 0) {
                error = "baud=" + baud + " is not a serial rate";
                return nullptr;
            }
            place.baud = static_cast<int>(rate);
        }
        return std::make_unique<ProbeChoice>(std::move(place));
    }
    if (!baud.empty()) {
        error = "baud= is for a serial device, not a network probe";
        return nullptr;
    }
    if (!net::ParseEndpoint(where, place.endpoint, error)) return nullptr;
    return std::make_unique<ProbeChoice>(std::move(place));
}

}  // namespace

extern const CableType kProbeCable{"--probe", "HOST:PORT|unix:PATH|DEVICE[,baud=N]",
                                   "A probe that runs the DCU's messages next to the target (orbvex_probe, a board)",
                                   Parse};

}  // namespace orbvex::cables
