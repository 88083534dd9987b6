// The episode download's pieces that need no client: the progress gauge's value and the
// configuration of the download client.
#pragma once

#include <cstdint>
#include <memory>

class THttpCli;

namespace app {

// The current download's gauge, 0..100, from the body bytes received and the announced length
// (-1 when none was announced: the gauge stays at 0). A length of 100 or more is divided into
// hundredths as whole numbers, so 6000 of 12345 bytes show 48; a shorter one gives the exact share.
int ProgressGaugeValue(std::int64_t received, std::int64_t length);

// The client of the downloads, configured as the main window keeps it, but for the connection
// kept for the next download.
std::unique_ptr<THttpCli> CreateDownloadClient();

}  // namespace app
