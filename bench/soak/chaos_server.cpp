#include "bench/soak/chaos_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <mutex>
#include <random>
#include <stdexcept>
#include <thread>

#include "tests/support/loopback_port.h"
#include "tests/support/send_all.h"

namespace soak {
namespace {

using test_support::SendAll;

enum class Answer { Good, CutShort, Reset, Stall, Garbage, Relocation, ErrorPage };

// Shares of the answers, in percent.
constexpr std::pair<Answer, int> kShares[] = {
    {Answer::Good, 58},   {Answer::CutShort, 7},   {Answer::Reset, 7},     {Answer::Stall, 3},
    {Answer::Garbage, 8}, {Answer::Relocation, 9}, {Answer::ErrorPage, 8},
};

std::uint64_t NameHash(const std::string& name) {
    std::uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : name)
        hash = (hash ^ c) * 1099511628211ull;
    return hash;
}

std::string ReadRequestPath(int fd) {
    std::string request;
    char buffer[2048];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return "";
        request.append(buffer, static_cast<std::size_t>(n));
    }
    auto start = request.find(' ');
    auto end = request.find(' ', start + 1);
    if (start == std::string::npos || end == std::string::npos) return "";
    std::string target = request.substr(start + 1, end - start - 1);
    if (target.rfind("http://", 0) == 0) {
        auto path = target.find('/', 7);
        target = path == std::string::npos ? "/" : target.substr(path);
    }
    return target;
}

std::string Response(int status, const std::string& reason, const std::string& body,
                     const std::string& extra = "") {
    return "HTTP/1.1 " + std::to_string(status) + " " + reason +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n" +
           extra + "\r\n" + body;
}

class Server {
  public:
    Server(int listener, std::uint16_t port, std::uint32_t seed, int stallMs)
        : listener_(listener),
          origin_("http://127.0.0.1:" + std::to_string(port)),
          random_(seed),
          stallMs_(stallMs) {}

    void Run() {
        for (;;) {
            int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            std::thread([this, fd] { Serve(fd); }).detach();
        }
    }

  private:
    Answer Choose() {
        std::lock_guard lock(mutex_);
        int roll = static_cast<int>(random_() % 100);
        for (auto [answer, share] : kShares) {
            if (roll < share) return answer;
            roll -= share;
        }
        return Answer::Good;
    }
    std::uint32_t Roll() {
        std::lock_guard lock(mutex_);
        return random_();
    }

    // The good answer for a path: a feed (counting its requests) or an episode.
    std::string GoodBody(const std::string& path) {
        if (path.rfind("/feed/", 0) == 0) {
            int feed = std::atoi(path.c_str() + 6);
            int generation;
            {
                std::lock_guard lock(mutex_);
                generation = feedRequests_[feed]++;
            }
            std::string name = "ep-" + std::to_string(feed) + "-" + std::to_string(generation);
            return "<?xml version=\"1.0\"?><rss><channel><title>Feed " + std::to_string(feed) +
                   "</title><item><title>" + name + "</title><enclosure url=\"" + origin_ +
                   "/episodes/" + name + ".mp3\" type=\"audio/mpeg\"/></item></channel></rss>";
        }
        auto slash = path.rfind('/');
        return GoodEpisode(path.substr(slash + 1));
    }

    void Serve(int fd) {
        std::string path = ReadRequestPath(fd);
        // Hops of a relocation chain are "/hop/<n>/<target>"; the last leads to the target.
        if (path.rfind("/hop/", 0) == 0) {
            auto slash = path.find('/', 5);
            int left = std::atoi(path.c_str() + 5);
            std::string target = path.substr(slash);
            std::string next = left > 1 ? "/hop/" + std::to_string(left - 1) + target : target;
            SendAll(fd, Response(302, "Found", "", "Location: " + next + "\r\n"));
            ::close(fd);
            return;
        }
        bool isFeed = path.rfind("/feed/", 0) == 0;
        bool isEpisode = path.rfind("/episodes/", 0) == 0;
        if (!isFeed && !isEpisode) {
            SendAll(fd, Response(404, "Not Found", "no such thing"));
            ::close(fd);
            return;
        }
        Answer answer = Choose();
        // Every answer that carries the feed moves its count on, so a good one always announces
        // an episode not seen before.
        std::string good = answer == Answer::Good || answer == Answer::CutShort ||
                                   answer == Answer::Reset || answer == Answer::Stall
                               ? GoodBody(path)
                               : std::string();
        std::string header = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(good.size()) +
                             "\r\nConnection: close\r\n\r\n";
        switch (answer) {
            case Answer::Good:
                SendAll(fd, header + good);
                break;
            case Answer::CutShort:
                SendAll(fd, header + good.substr(0, good.size() / 2));
                break;
            case Answer::Reset: {
                SendAll(fd, header + good.substr(0, good.size() / 3));
                linger hard{1, 0};
                ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
                break;
            }
            case Answer::Stall:
                SendAll(fd, header + good.substr(0, good.size() / 4));
                std::this_thread::sleep_for(std::chrono::milliseconds(stallMs_));
                break;
            case Answer::Garbage: {
                std::string junk(200 + Roll() % 2000, '\0');
                for (char& c : junk)
                    c = static_cast<char>(Roll());
                SendAll(fd, junk);
                break;
            }
            case Answer::Relocation:
                SendAll(fd, Response(302, "Found", "",
                                     "Location: /hop/" + std::to_string(1 + Roll() % 3) + path +
                                         "\r\n"));
                break;
            case Answer::ErrorPage: {
                static const std::pair<int, const char*> pages[] = {{404, "Not Found"},
                                                                    {403, "Forbidden"},
                                                                    {500, "Internal Server Error"},
                                                                    {503, "Service Unavailable"}};
                auto [status, reason] = pages[Roll() % 4];
                SendAll(fd, Response(status, reason, "<html>error page</html>"));
                break;
            }
        }
        ::close(fd);
    }

    int listener_;
    std::string origin_;
    std::mutex mutex_;
    std::mt19937 random_;
    int stallMs_;
    std::map<int, int> feedRequests_;
};

}  // namespace

std::string GoodEpisode(const std::string& name) {
    std::mt19937_64 bytes(NameHash(name));
    std::string episode(16384 + NameHash(name) % 49152, '\0');
    for (char& c : episode)
        c = static_cast<char>(bytes());
    return episode;
}

ChaosServer::ChaosServer(std::uint32_t seed, int stallMs) {
    int listener = test_support::ListenOnLoopback(128, port_);
    child_ = ::fork();
    if (child_ < 0) throw std::runtime_error("chaos server: cannot fork");
    if (child_ == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);  // never outlives a soak that died
        Server(listener, port_, seed, stallMs).Run();
        ::_exit(0);
    }
    ::close(listener);
}

ChaosServer::~ChaosServer() {
    ::kill(child_, SIGKILL);
    ::waitpid(child_, nullptr, 0);
}

std::string ChaosServer::FeedUrl(int feed) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/feed/" + std::to_string(feed);
}

}  // namespace soak
