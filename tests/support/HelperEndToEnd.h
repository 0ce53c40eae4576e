#pragma once

// One private sound server (SONVELA_SOUND_SERVER) and the built helper (SONVELA_HELPER_PATH)
// running against it, in a temporary home.

#include "platform/plist/PlistFile.h"
#include "tests/support/Eventually.h"
#include "tests/support/HelperProcess.h"
#include "tests/support/PulseClient.h"
#include "tests/support/SoundServer.h"
#include "tests/support/TempHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <sstream>

namespace sonvela::test {

using Table = std::map<std::string, double>;

inline const SinkSpec kSpeakers{"speakers", "internal", "Speakers"};        // ispk
inline const SinkSpec kHeadphones{"headphones", "headphone", "Headphones"}; // hdpn
inline const SinkSpec kEarbuds{"earbuds", "headphone", "Earbuds"};          // hdpn
inline const SinkSpec kTv{"tv", "tv", "TV"};                                // hdmi
inline const SinkSpec kEffects{"effects", "", ""};                          // a chain's own sink

class HelperEndToEnd : public testing::Test {
protected:
    // The server with the first sink as the default, then the helper, past its first restore.
    void start(std::vector<SinkSpec> sinks, const Table& table,
               std::optional<ChainSpec> chain = std::nullopt) {
        writeTable(table);
        server = SoundServer::make(SONVELA_SOUND_SERVER, home.path() + "/server", std::move(sinks),
                                   std::move(chain));
        server->start();
        startHelper();
        ASSERT_TRUE(eventually([&] { return helper->restores().size() == 1; })) << helper->log();
    }
    void startHelper() {
        helper =
            std::make_unique<HelperProcess>(SONVELA_HELPER_PATH, home.path(), server->address());
        client = PulseClient::tryConnect(server->address());
    }

    void writeTable(const Table& table, const std::string& file = "config.plist") {
        makeDirs(home.configHome() + "/Sonvela");
        ASSERT_TRUE(platform::plist::writeXmlAtomically(
            home.configHome() + "/Sonvela/" + file,
            platform::plist::Dictionary(table.begin(), table.end())));
    }

    bool sinkIs(const SinkSpec& sink, double volume, bool muted) {
        auto state = client ? client->sink(sink.name) : std::nullopt;
        return state && std::abs(state->volume - volume) < 1e-4 && state->muted == muted;
    }

    // Every sink's volume and mute, the sink first, the default as a new connection sees it,
    // then both logs.
    std::string describe(const SinkSpec& sink) {
        auto states = client->sinks();
        auto fresh = PulseClient::tryConnect(server->address());
        std::stable_partition(states.begin(), states.end(),
                              [&](const PulseClient::Sink& s) { return s.name == sink.name; });
        std::ostringstream text;
        for (const auto& state : states) {
            text << state.name << ": " << state.volume << (state.muted ? " muted" : "") << "; ";
        }
        text << "default " << (fresh ? fresh->defaultSink() : "") << "\nhelper log:\n"
             << helper->log() << "\nserver log:\n"
             << server->log();
        return text.str();
    }

    // Makes the sink the default and waits for the helper's restore line for it.
    void switchTo(const SinkSpec& sink, const std::string& logged) {
        // Through the server's own connection, which tries again where PipeWire refuses a
        // switch from a connection made while it was still setting up.
        ASSERT_NO_THROW(server->switchDefault(sink.name));
        ASSERT_TRUE(eventually([&] {
            auto lines = helper->restores();
            return !lines.empty() && lines.back() == logged;
        })) << describe(sink);
    }

    TempHome home;
    std::unique_ptr<SoundServer> server;
    std::unique_ptr<PulseClient> client;
    std::unique_ptr<HelperProcess> helper;
};

} // namespace sonvela::test
