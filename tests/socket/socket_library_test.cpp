#include "socket/socket_library.h"

#include <gtest/gtest.h>

#include "socket/twsocket.h"

namespace {

std::string MessageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const ESocketException& e) {
        return e.what();
    }
    return "no exception";
}

// Destroying a socket when no other is left releases the library.
void ReleaseLibrary() {
    TWSocket{};
}

TEST(SocketLibrary, LoadedOnFirstUseAndReleasedWithTheLastSocket) {
    ReleaseLibrary();
    ASSERT_EQ(SocketUsageCount(), 0);
    ASSERT_FALSE(SocketLibraryLoaded());
    {
        TWSocket socket;
        EXPECT_EQ(SocketUsageCount(), 1);
        EXPECT_FALSE(SocketLibraryLoaded());
        socket.StartLookup("10.0.0.1");
        EXPECT_TRUE(SocketLibraryLoaded());
        EXPECT_EQ(HoldSocketLibrary([] { return SocketUsageCount(); }), 2);
        socket.SetReqVerHigh(1);
        std::string refused = MessageOf([&] { socket.SetReqVerHigh(2); });
        EXPECT_NE(refused.find("in SetReqVerHigh: WinSock version can't be changed now)"),
                  std::string::npos)
            << refused;
        EXPECT_EQ(socket.ReqVerHigh(), 1);
    }
    EXPECT_FALSE(SocketLibraryLoaded());
    {
        TWSocket socket;
        socket.StartLookup("10.0.0.1");
        EXPECT_TRUE(SocketLibraryLoaded());
    }
    EXPECT_FALSE(SocketLibraryLoaded());
}

TEST(SocketLibrary, RefusedVersionLeavesTheLibraryUninitialised) {
    ReleaseLibrary();
    {
        TWSocket socket;
        // Major version 0 in the low byte of the version word.
        socket.SetReqVerLow(0);
        EXPECT_EQ(MessageOf([&] { socket.StartLookup("10.0.0.1"); }),
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
    TWSocket socket;
    socket.SetReqVerLow(1);
    EXPECT_EQ(socket.ReqVerLow(), 1);
}

TEST(SocketLibrary, MissingFunctionIsReportedByName) {
    EXPECT_EQ(MessageOf([] { LookupSocketFunction("WSAFrobnicate"); }),
              "Procedure WSAFrobnicate not found in wsock32.dll - Function not implemented (#38)");
    EXPECT_EQ(MessageOf([] { LookupSocket2Function("connect"); }),
              "Procedure connect not found in ws2_32.dll - Function not implemented (#38)");
    EXPECT_NE(LookupSocket2Function("WSAIoctl"), nullptr);
    EXPECT_EQ(LookupSocketFunction(""), nullptr);
    ReleaseLibrary();
}

}  // namespace
