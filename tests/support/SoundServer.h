// A private sound server of the test bed's kind (PulseAudio, or PipeWire when
// QUINDLE_TESTBED_SERVER=pipewire), started by scripts/soundserver.sh in a directory of its
// own, so that a test can kill it or stop it (SIGSTOP) while the test bed's server stays.
// Its null sink is "testsink" ("Test Sink"), the default sink.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/TempDir.h"

namespace testsupport {

class PrivateSoundServer {
  public:
    PrivateSoundServer() = default;
    ~PrivateSoundServer() { Run("stop"); }
    PrivateSoundServer(const PrivateSoundServer&) = delete;
    PrivateSoundServer& operator=(const PrivateSoundServer&) = delete;

    // Starts it, or again at the same address after Kill.
    bool Start() {
        if (Run("start") != 0) {
            return false;
        }
        address_ = "unix:" + dir_.File("run/pulse/native");
        return true;
    }
    // Ends every process of the server at once, as a crash would.
    void Kill() { Run("kill"); }
    // Stops the server's processes (SIGSTOP): it falls silent but keeps its connections.
    void Freeze() { Run("freeze"); }
    void Thaw() { Run("thaw"); }
    const std::string& Address() const { return address_; }

  private:
    int Run(const std::string& action) {
        const char* source = std::getenv("QUINDLE_SOURCE_DIR");
        const std::string script =
            std::string(source != nullptr ? source : ".") + "/scripts/soundserver.sh";
        return std::system(
            (script + " " + action + " " + dir_.Path().string() + " >/dev/null").c_str());
    }

    TempDir dir_;
    std::string address_;
};

// Points PULSE_SERVER, and so the children started in this scope, at another server (the
// test bed always sets one).
class ServerOverride {
  public:
    explicit ServerOverride(const std::string& address) {
        if (const char* old = std::getenv("PULSE_SERVER")) {
            old_ = old;
        }
        setenv("PULSE_SERVER", address.c_str(), 1);
    }
    ~ServerOverride() { setenv("PULSE_SERVER", old_.c_str(), 1); }
    ServerOverride(const ServerOverride&) = delete;
    ServerOverride& operator=(const ServerOverride&) = delete;

  private:
    std::string old_;
};

}  // namespace testsupport
