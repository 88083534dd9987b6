// The counting of bandwidth control: bytes read in the current sampling period against the
// allowance of BandwidthLimit × BandwidthSampling / 1000 bytes. Reading pauses once a period's
// bytes pass the allowance; the excess counts against the next period.
#pragma once

#include <cstdint>

class TBandwidthThrottle {
  public:
    // A new period starts with nothing counted and nothing paused. Both values are positive.
    void Start(int limit, int samplingMs);
    // Counts bytes read; true when reading must pause now.
    bool Count(std::int64_t bytes);
    // The period ended; true when a pause ends now.
    bool Tick();
    // Forgets a pause in force; true when there was one.
    bool Unpause();

    bool Paused() const { return paused_; }
    std::int64_t Bytes() const { return bytes_; }
    std::int64_t Quota() const { return quota_; }

  private:
    std::int64_t bytes_ = 0;
    std::int64_t quota_ = 0;
    bool paused_ = false;
};
