#include "socket/resolve.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "tests/socket/loopback.h"

namespace {

TEST(Resolve, DottedAddressesFollowTheirRules) {
    for (const char* dotted : {"1.2.3.4", "  1.2.3.4  ", "255.255.255.255"})
        EXPECT_TRUE(IsDottedAddress(dotted)) << dotted;
    for (const char* other : {"1.2.3.4.", ".1.2.3.4", "1..2.3", "1.2.3.4 x", "1.2.3.4x", "1.2.3",
                              "1.2.3.4.5", "256.1.2.3", ""})
        EXPECT_FALSE(IsDottedAddress(other)) << other;
    EXPECT_EQ(LeadingNumber("  80abc"), 80);
    EXPECT_EQ(LeadingNumber("abc"), 0);
    EXPECT_EQ(LeadingNumber("99999999999999999999"), 2147483647);
}

TEST(Resolve, HostTexts) {
    EXPECT_EQ(ResolveHost("255.255.255.255"), 0xFFFFFFFFu);
    EXPECT_EQ(ResolveHost(" 127.0.0.1 "), htonl(INADDR_LOOPBACK));
    EXPECT_EQ(ResolveHost("localhost"), htonl(INADDR_LOOPBACK));
    EXPECT_EQ(ErrorTextOf([] { ResolveHost(""); }), "Winsock Resolve Host: '' Invalid Hostname.");
    std::string text = ErrorTextOf([] { ResolveHost("nothing-here.invalid"); });
    EXPECT_EQ(text.rfind(
                  "Winsock Resolve Host: Cannot convert host address 'nothing-here.invalid' - ", 0),
              0u)
        << text;
}

TEST(Resolve, PortsAndProtocols) {
    EXPECT_EQ(ResolvePort("8080x", "tcp"), 8080);
    EXPECT_EQ(ResolvePort("http", "tcp"), 80);
    EXPECT_EQ(ResolvePort(std::string(31, '0'), "tcp"), 0);
    EXPECT_THROW(ResolvePort("70000", "tcp"), ESocketException);
    EXPECT_THROW(ResolvePort(std::string(32, '1'), "tcp"), ESocketException);
    EXPECT_EQ(ErrorTextOf([] { ResolvePort("8080", ""); }), "Winsock Resolve Port: Invalid Proto.");
    EXPECT_EQ(ErrorTextOf([] { ResolvePort("no-such-service", "tcp"); }),
              "Winsock Resolve Port: Cannot convert port 'no-such-service' - No Data (#11004)");
    const std::pair<const char*, int> protocols[] = {
        {"  UDP ", 17}, {"tcp", 6}, {"raw", 255}, {"1x", 1}, {"icmp", 1}};
    for (const auto& [name, number] : protocols)
        EXPECT_EQ(ResolveProto(name), number) << name;
    EXPECT_THROW(ResolveProto(std::string(32, 'u')), ESocketException);
    EXPECT_THROW(ResolveProto("nonsense"), ESocketException);
    EXPECT_FALSE(LocalMachineName().empty());
}

}  // namespace
