#include "http/bandwidth_throttle.h"

void TBandwidthThrottle::Start(int limit, int samplingMs) {
    bytes_ = 0;
    quota_ = static_cast<std::int64_t>(limit) * samplingMs / 1000;
    paused_ = false;
}

bool TBandwidthThrottle::Count(std::int64_t bytes) {
    bytes_ += bytes;
    if (bytes_ <= quota_ || paused_) return false;
    paused_ = true;
    return true;
}

bool TBandwidthThrottle::Tick() {
    if (!paused_) {
        bytes_ = 0;
        return false;
    }
    bytes_ -= quota_;
    // One read may bring more than a period's allowance; reading resumes only in the period
    // that has room again, or the limit would be passed whenever a read outgrows the allowance.
    if (bytes_ > quota_) return false;
    paused_ = false;
    return true;
}

bool TBandwidthThrottle::Unpause() {
    bool wasPaused = paused_;
    paused_ = false;
    return wasPaused;
}
