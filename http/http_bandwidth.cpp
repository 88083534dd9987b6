// Bandwidth control of the client: the sampling-period timer on the client's window, and pausing
// the control socket's reception while a period's allowance is used up.
#include "http/http_cli.h"

namespace {

constexpr std::uintptr_t kBandwidthTimer = 1;

}  // namespace

void THttpCli::CheckBandwidthSettings() const {
    if (!options_.Contains(httpoBandwidthControl)) return;
    // A period of 0 would never end, and an allowance of 0 bytes would never let reading resume.
    if (BandwidthSampling <= 0)
        throw EHttpException("BandwidthSampling must be positive with bandwidth control",
                             httpErrBandwidthSettings);
    if (static_cast<std::int64_t>(BandwidthLimit) * BandwidthSampling / 1000 < 1)
        throw EHttpException("BandwidthLimit must allow at least one byte per sampling period",
                             httpErrBandwidthSettings);
}

void THttpCli::PrepareBandwidthControl() {
    if (!options_.Contains(httpoBandwidthControl)) return;
    CheckBandwidthSettings();
    LiftBandwidthPause();
    // Setting the timer again starts its period now.
    platform::SetTimer(window_, kBandwidthTimer, static_cast<unsigned>(BandwidthSampling));
    throttle_.Start(BandwidthLimit, BandwidthSampling);
    // One read per notification, so that a pause takes effect after the read that passed the
    // allowance.
    ctrlSocket_->SetComponentOptions(ctrlSocket_->ComponentOptions().With(wsoNoReceiveLoop));
}

void THttpCli::CountReceivedBytes(int count) {
    if (options_.Contains(httpoBandwidthControl) && throttle_.Count(count)) ctrlSocket_->Pause();
}

void THttpCli::BandwidthTick() {
    if (throttle_.Tick()) ctrlSocket_->Resume();
}

void THttpCli::StopBandwidthTimer() {
    if (options_.Contains(httpoBandwidthControl)) platform::KillTimer(window_, kBandwidthTimer);
}

void THttpCli::LiftBandwidthPause() {
    // A pause outlasting its document would keep the next response on the connection unread.
    if (throttle_.Unpause() && ctrlSocket_->State() == wsConnected) ctrlSocket_->Resume();
}

bool THttpCli::IsBandwidthTick(platform::UINT Msg, platform::WPARAM WParam) const {
    return Msg == platform::WM_TIMER && WParam == kBandwidthTimer;
}
