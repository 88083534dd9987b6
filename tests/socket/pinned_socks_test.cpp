// The SOCKS 5 user code and password go out only when each fits its length byte: a longer one is
// refused before anything is sent, where a wrapped length would have the server read the rest of
// the password as the next message.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include "tests/socket/loopback.h"

namespace {

std::string Bytes(std::initializer_list<int> values) {
    std::string bytes;
    for (int value : values)
        bytes += static_cast<char>(value);
    return bytes;
}

bool PeerHasBytes(int fd) {
    pollfd waiting{fd, POLLIN, 0};
    return ::poll(&waiting, 1, 0) == 1;
}

class PinnedSocksTest : public LoopbackTest {
  protected:
    ~PinnedSocksTest() override { socket.Close(); }
    PinnedSocksTest() {
        socket.OnDataSent = nullptr;
        socket.OnSocksError = [this](TCustomWSocket*, int, const std::string& msg) { error = msg; };
    }
    std::string error;
};

TEST_F(PinnedSocksTest, CredentialsLongerThanTheirLengthByteAreRefusedUnsent) {
    struct Case {
        std::string usercode, password, refusal;
    } cases[] = {
        {std::string(255, 'u'), std::string(255, 'p'), ""},
        {std::string(256, 'u'), "secret", "socks user code too long (at most 255 bytes)"},
        {"user", std::string(256, 'p'), "socks password too long (at most 255 bytes)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.refusal.empty() ? "both 255 bytes" : c.refusal);
        error.clear();
        socket.SetSocksAuthentication(socksAuthenticateUsercode);
        socket.SetSocksUsercode(c.usercode);
        socket.SetSocksPassword(c.password);
        socket.SetSocksServer("127.0.0.1");
        socket.SetSocksPort(listener.Port());
        socket.SetSocksLevel("5");
        socket.SetAddr("example.test");
        socket.SetPort("80");
        socket.Connect();
        peer = listener.Accept();
        ASSERT_GE(peer, 0);
        ASSERT_TRUE(PumpUntil([&] { return PeerHasBytes(peer); }));
        ASSERT_EQ(ReadExactly(peer, 3), Bytes({5, 1, 2}));
        WriteAll(peer, Bytes({5, 2}));
        if (c.refusal.empty()) {
            ASSERT_TRUE(PumpUntil([&] { return PeerHasBytes(peer); }));
            EXPECT_EQ(ReadExactly(peer, 2 + 255 + 1 + 255),
                      Bytes({1, 255}) + c.usercode + Bytes({255}) + c.password);
        } else {
            ASSERT_TRUE(
                PumpUntil([&] { return socket.State() == wsClosed || PeerHasBytes(peer); }));
            EXPECT_EQ(socket.State(), wsClosed);
            EXPECT_EQ(error, c.refusal);
            char block[600];
            const ssize_t sent = ::recv(peer, block, sizeof block, MSG_DONTWAIT);
            EXPECT_LE(sent, 0) << "sent after the refusal: " << sent << " bytes";
        }
        socket.Close();
        ClosePeer();
    }
}

}  // namespace
