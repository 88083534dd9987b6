// Downloads one URL into a file with THttpCli, the way the program downloads an episode, and prints
// the transfer rate, the CPU time and the peak memory of the process.
//
//     http_get_bench URL OUTPUT-FILE [CA-FILE]
//
// CA-FILE is trusted besides the system's store, for an https URL of a server with its own CA.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <exception>

#include "http/http_cli.h"
#include "platform/streams.h"

namespace {

double Seconds(const timeval& t) {
    return t.tv_sec + t.tv_usec / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: %s URL OUTPUT-FILE [CA-FILE]\n", argv[0]);
        return 2;
    }
    auto start = std::chrono::steady_clock::now();
    std::int64_t received = 0;
    try {
        platform::FileStream file(argv[2], platform::FileMode::Create);
        THttpCli client;
        client.URL = argv[1];
        client.BodyStream = &file;
        if (argc == 4) client.SslExtraCaFile = argv[3];
        client.Get();
        file.Flush();
        received = client.BodyReceivedCount();
    } catch (const std::exception& error) {
        std::fprintf(stderr, "download failed: %s\n", error.what());
        return 1;
    }
    double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    double cpu = Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
    double megabytes = received / 1e6;
    std::printf(
        "bytes %lld  seconds %.3f  MB/s %.1f  CPU s %.3f (user %.3f, system %.3f)  "
        "CPU s/GB %.3f  peak RSS MiB %.1f\n",
        static_cast<long long>(received), elapsed, megabytes / elapsed, cpu,
        Seconds(usage.ru_utime), Seconds(usage.ru_stime), cpu / (megabytes / 1000),
        usage.ru_maxrss / 1024.0);
    return 0;
}
