// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once
// The probe's side of the protocol (docs/PROBE.md): requests in, the link's own engine
// run on the target next to it, answers out. orbvex_probe serves it over a socket; the
// tests run it in process.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "link/link.h"
#include "probe/probe_wire.h"
#include "util/result.h"

namespace orbvex::probe {

// The link's settings and the JTAG engine's state for one target. A probe in the same
// process as a host (the tests) keeps its own and puts them in place only while it works,
// so that the two never share a TAP position or a reset level.
struct EngineState {
    LinkSettings link;
    bool resetLine = false;
    std::uint8_t lastData = 0;
    bool selected = false;

    static EngineState Current();
    void Install() const;
};

class ProbeServer {
public:
    // lost: asked after each request; a failure, with why, once the target's cable is gone.
    using CableLost = std::function<Status()>;
    ProbeServer(EngineState engine, Abilities abilities, CableLost lost = {});

    // Takes request bytes as they come and appends the answers to out. False once the
    // connection must end: a damaged request or another version, answered already.
    bool Take(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& out);
    // A new client: nothing of the last one's unfinished request is kept.
    void NewClient() { reader_.Reset(); }
    // The bytes of a request still unfinished: a client silent in the middle of one loses it.
    bool MidRequest() const { return reader_.MidFrame(); }
    const Abilities& Announced() const { return abilities_; }

    // What a second client is told before its connection closes.
    static std::vector<std::uint8_t> BusyAnswer();

private:
    Frame Answer(const Frame& request);
    Frame Run(const Frame& request);

    EngineState engine_;
    Abilities abilities_;
    CableLost lost_;
    std::string lostWhy_;
    FrameReader reader_;
};

}  // namespace orbvex::probe
