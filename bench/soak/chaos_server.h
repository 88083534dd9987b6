// A misbehaving podcast host for the soak: feeds and episodes on 127.0.0.1, served from a child
// process (so that its threads and descriptors are not counted as the downloader's). Each answer
// is chosen at random from a fixed seed: good, cut short, reset, stalled, garbage, a relocation
// chain, or an error page.
//
// "/feed/<n>" announces one episode, "ep-<n>-<k>.mp3", where k counts the requests for that feed
// so far, so every scan finds a new episode in every feed it can read.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace soak {

// The bytes of a complete, good episode of this name (a few tens of KiB, fixed by the name).
std::string GoodEpisode(const std::string& name);

class ChaosServer {
  public:
    // stallMs: how long a stalled answer holds the connection before closing it.
    ChaosServer(std::uint32_t seed, int stallMs);
    ~ChaosServer();  // stops the child
    ChaosServer(const ChaosServer&) = delete;
    ChaosServer& operator=(const ChaosServer&) = delete;

    std::uint16_t Port() const { return port_; }
    std::string FeedUrl(int feed) const;

  private:
    pid_t child_ = -1;
    std::uint16_t port_ = 0;
};

}  // namespace soak
