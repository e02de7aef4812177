// SPDX-License-Identifier: GPL-2.0-or-later
// --remote: a remote bit-bang server drives (or simulates) the pins at the other end of
// a socket.
#include "cables/cable.h"
#include "cables/backend_cable.h"
#include "remote/remote_bitbang_client.h"

namespace orbvex::cables {
namespace {

class RemoteCable final : public BackendCable {
public:
    RemoteCable(std::unique_ptr<RemoteBitbangClient> client, net::Endpoint where)
        : BackendCable(std::move(client)), where_(std::move(where)) {}

    Status Finish() override {
        // The last command's closing writes and the cable's release are only queued: an
        // answer to one more read shows they reached the receiver.
        auto& client = static_cast<RemoteBitbangClient&>(*backend_);
        client.Read(0);
        const bool reached = !client.Failed();
        client.Quit();
        if (!reached) return Failure("");  // said when the receiver was lost
        return {};
    }

private:
    std::string DescribeLoss(const std::string& reason) const override {
        return "connection to the remote receiver " + where_.Describe() + " lost (" + reason + ")";
    }

    net::Endpoint where_;
};

class RemoteChoice final : public CableChoice {
public:
    explicit RemoteChoice(net::Endpoint where) : where_(std::move(where)) {}
    Result<std::unique_ptr<Cable>> Open(const CableSettings& settings) const override {
        const int timeoutMs = settings.remoteTimeoutSeconds * 1000;
        Result<net::Socket> socket = net::Connect(where_, timeoutMs, settings.giveUp);
        if (!socket) return Failure("cannot connect to " + where_.Describe() + ": " + socket.Error());
        auto client = std::make_unique<RemoteBitbangClient>(std::move(socket).Value(), timeoutMs);
        client->SetGiveUp(settings.giveUp);
        return std::make_unique<RemoteCable>(std::move(client), where_);
    }

private:
    net::Endpoint where_;
};

Result<std::unique_ptr<CableChoice>> Parse(const std::string& value) {
    Result<net::Endpoint> where = net::ParseEndpoint(value);
    if (!where) return Failure(where.Error());
    return std::make_unique<RemoteChoice>(std::move(where).Value());
}

}  // namespace

extern const CableType kRemoteCable{"--remote", "HOST:PORT|unix:PATH", "Drive a remote bit-bang server", Parse};

}  // namespace orbvex::cables
