#include "socket/resolve.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "socket/socket_errors.h"

namespace {

TEST(Resolve, DottedAddressesFollowTheirRules) {
    EXPECT_TRUE(IsDottedAddress("1.2.3.4"));
    EXPECT_TRUE(IsDottedAddress("  1.2.3.4  "));
    EXPECT_TRUE(IsDottedAddress("255.255.255.255"));
    EXPECT_FALSE(IsDottedAddress("1.2.3.4."));
    EXPECT_FALSE(IsDottedAddress(".1.2.3.4"));
    EXPECT_FALSE(IsDottedAddress("1..2.3"));
    EXPECT_FALSE(IsDottedAddress("1.2.3.4 x"));
    EXPECT_FALSE(IsDottedAddress("1.2.3.4x"));
    EXPECT_FALSE(IsDottedAddress("1.2.3"));
    EXPECT_FALSE(IsDottedAddress("1.2.3.4.5"));
    EXPECT_FALSE(IsDottedAddress("256.1.2.3"));
    EXPECT_FALSE(IsDottedAddress(""));
    EXPECT_EQ(LeadingNumber("  80abc"), 80);
    EXPECT_EQ(LeadingNumber("abc"), 0);
    EXPECT_EQ(LeadingNumber("99999999999999999999"), 2147483647);
}

TEST(Resolve, HostTexts) {
    EXPECT_EQ(ResolveHost("255.255.255.255"), 0xFFFFFFFFu);
    EXPECT_EQ(ResolveHost(" 127.0.0.1 "), htonl(INADDR_LOOPBACK));
    EXPECT_EQ(ResolveHost("localhost"), htonl(INADDR_LOOPBACK));
    try {
        ResolveHost("");
        FAIL();
    } catch (const ESocketException& e) {
        EXPECT_STREQ(e.what(), "Winsock Resolve Host: '' Invalid Hostname.");
    }
    try {
        ResolveHost("nothing-here.invalid");
        FAIL();
    } catch (const ESocketException& e) {
        std::string text = e.what();
        EXPECT_EQ(text.rfind("Winsock Resolve Host: Cannot convert host address "
                             "'nothing-here.invalid' - ",
                             0),
                  0u)
            << text;
    }
}

TEST(Resolve, PortsAndProtocols) {
    EXPECT_EQ(ResolvePort("8080x", "tcp"), 8080);
    EXPECT_EQ(ResolvePort("http", "tcp"), 80);
    EXPECT_THROW(ResolvePort("70000", "tcp"), ESocketException);
    EXPECT_THROW(ResolvePort(std::string(32, '1'), "tcp"), ESocketException);
    EXPECT_EQ(ResolvePort(std::string(31, '0'), "tcp"), 0);
    try {
        ResolvePort("8080", "");
        FAIL();
    } catch (const ESocketException& e) {
        EXPECT_STREQ(e.what(), "Winsock Resolve Port: Invalid Proto.");
    }
    try {
        ResolvePort("no-such-service", "tcp");
        FAIL();
    } catch (const ESocketException& e) {
        EXPECT_STREQ(e.what(),
                     "Winsock Resolve Port: Cannot convert port 'no-such-service' - No Data "
                     "(#11004)");
    }
    EXPECT_EQ(ResolveProto("  UDP "), 17);
    EXPECT_EQ(ResolveProto("tcp"), 6);
    EXPECT_EQ(ResolveProto("raw"), 255);
    EXPECT_EQ(ResolveProto("1x"), 1);
    EXPECT_EQ(ResolveProto("icmp"), 1);
    EXPECT_THROW(ResolveProto(std::string(32, 'u')), ESocketException);
    EXPECT_THROW(ResolveProto("nonsense"), ESocketException);
    EXPECT_FALSE(LocalMachineName().empty());
}

}  // namespace
