#include "socket/socket_library.h"

#include <gtest/gtest.h>

#include "tests/socket/loopback.h"

namespace {

// Destroying a socket when no other is left releases the library.
void ReleaseLibrary() {
    TWSocket{};
}

TEST(SocketLibrary, LoadedOnFirstUseAndReleasedWithTheLastSocket) {
    ReleaseLibrary();
    ASSERT_EQ(SocketUsageCount(), 0);
    ASSERT_FALSE(SocketLibraryLoaded());
    for (int round = 0; round < 2; ++round) {
        TWSocket socket;
        EXPECT_EQ(SocketUsageCount(), 1);
        EXPECT_FALSE(SocketLibraryLoaded());
        socket.StartLookup("10.0.0.1");
        EXPECT_TRUE(SocketLibraryLoaded());
        EXPECT_EQ(HoldSocketLibrary([] { return SocketUsageCount(); }), 2);
        socket.SetReqVerHigh(1);
        std::string refused = ErrorTextOf([&] { socket.SetReqVerHigh(2); });
        EXPECT_NE(refused.find("in SetReqVerHigh: WinSock version can't be changed now)"),
                  std::string::npos)
            << refused;
        EXPECT_EQ(socket.ReqVerHigh(), 1);
    }
    EXPECT_FALSE(SocketLibraryLoaded());
}

TEST(SocketLibrary, RefusedVersionLeavesTheLibraryUninitialised) {
    ReleaseLibrary();
    {
        TWSocket socket;
        // Major version 0 in the low byte of the version word.
        socket.SetReqVerLow(0);
        EXPECT_EQ(ErrorTextOf([&] { socket.StartLookup("10.0.0.1"); }),
                  "Winsock startup error wsock32.dll - WinSock DLL cannot support this "
                  "application (#10092)");
        EXPECT_TRUE(SocketLibraryLoaded());
        int errors = 0;
        socket.OnError = [&](TCustomWSocket*) { ++errors; };
        socket.SetAddr("127.0.0.1");
        socket.SetPort("1");
        socket.Connect();
        EXPECT_EQ(errors, 1);
        EXPECT_EQ(socket.LastError(), 10093);
    }
    EXPECT_FALSE(SocketLibraryLoaded());
    // The requested version is shared by all sockets: the next ones must start again.
    TWSocket socket;
    socket.SetReqVerLow(1);
    EXPECT_EQ(ErrorTextOf([&] { socket.StartLookup("10.0.0.1"); }), "no exception");
}

TEST(SocketLibrary, MissingFunctionIsReportedByName) {
    EXPECT_EQ(ErrorTextOf([] { LookupSocketFunction("WSAFrobnicate"); }),
              "Procedure WSAFrobnicate not found in wsock32.dll - Function not implemented (#38)");
    EXPECT_EQ(ErrorTextOf([] { LookupSocket2Function("connect"); }),
              "Procedure connect not found in ws2_32.dll - Function not implemented (#38)");
    EXPECT_NE(LookupSocket2Function("WSAIoctl"), nullptr);
    EXPECT_EQ(LookupSocketFunction(""), nullptr);
    ReleaseLibrary();
}

}  // namespace
