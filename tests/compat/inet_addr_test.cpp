// ws2_32 inet_addr and the byte-order helpers.
#include <winsock2.h>
#include <gtest/gtest.h>

#include <cstring>

namespace {

constexpr ULONG kRejected = INADDR_NONE;

struct ParseCase {
    const char *text;
    ULONG expected;  // host order, first dotted part most significant
};

TEST(InetAddr, Forms) {
    const ParseCase cases[] = {
        // Four parts.
        {"1.2.3.4", 0x01020304},
        {"0.0.0.0", 0x00000000},
        {"255.255.255.255", 0xffffffff},
        {"192.168.0.1", 0xc0a80001},
        {"100.200.250.255", 0x64c8faff},
        {"9.99.199.0", 0x0963c700},
        {"01.2.3.4", 0x01020304},
        {"1.02.3.4", 0x01020304},
        {"1.2.3.00", 0x01020300},
        {"1.2.3.010", 0x01020308},
        {"1.2.3.0004", 0x01020304},
        // Shortened forms: the last part fills the remaining bytes.
        {"1.2.3", 0x01020003},
        {"1.2.770", 0x01020302},
        {"1.2.65535", 0x0102ffff},
        {"1.2", 0x01000002},
        {"1.16777215", 0x01ffffff},
        {"16909060", 0x01020304},
        {"4294967295", 0xffffffff},
        {"0", 0x00000000},
        // Octal and hexadecimal parts.
        {"010.0.0.1", 0x08000001},
        {"0377.0.0.1", 0xff000001},
        {"00000000001.2.3.4", 0x01020304},
        {"1.2.3.04", 0x01020304},
        {"0x7f.0.0.1", 0x7f000001},
        {"0X7F.0.0.1", 0x7f000001},
        {"0xC0.0xa8.0x00.0x01", 0xc0a80001},
        {"0x7f000001", 0x7f000001},
        {"0xffffffff", 0xffffffff},
        {"1.0x2.03.4", 0x01020304},
        {"0x", 0x00000000},
        {"1.0x.0.1", 0x01000001},
        {"017700000001", 0x7f000001},
        // White space after the number ends the text.
        {"1.2.3.4 ", 0x01020304},
        {"1.2.3.4\t", 0x01020304},
        {"1.2.3.4\r", 0x01020304},
        {"1.2.3.4\n", 0x01020304},
        {"1.2.3.4 junk", 0x01020304},
        {"1.2 .3.4", 0x01000002},
        // Rejected texts.
        {"", kRejected},
        {" 1.2.3.4", kRejected},
        {"1.2.3.4x", kRejected},
        {"1.2.3.4.", kRejected},
        {"1.2.3.", kRejected},
        {"1.2.3.4.5", kRejected},
        {"1..3.4", kRejected},
        {".1.2.3", kRejected},
        {"1. 2.3.4", kRejected},
        {"+1.2.3.4", kRejected},
        {"1.2.3.-4", kRejected},
        {"abc", kRejected},
        {"x1.2.3.4", kRejected},
        {"1.2.3.4\xb1\xb1", kRejected},
        {"1.2.3.4,", kRejected},
        {"1.2.3.4*", kRejected},
        {"08.0.0.1", kRejected},
        {"1.2.3.09", kRejected},
        {"0xg", kRejected},
        {"0x1g.0.0.1", kRejected},
        // A part too large for the bytes it fills.
        {"256.0.0.1", kRejected},
        {"1.256.0.1", kRejected},
        {"1.2.256.4", kRejected},
        {"1.2.3.256", kRejected},
        {"255.255.255.300", kRejected},
        {"999.1.1.1", kRejected},
        {"1.2.3.1234", kRejected},
        {"0x100.0.0.1", kRejected},
        {"0400.0.0.1", kRejected},
        {"1.2.65536", kRejected},
        {"1.16777216", kRejected},
        {"4294967296", kRejected},
        {"0x100000000", kRejected},
        {"040000000000", kRejected},
        {"99999999999999999999", kRejected},
        {"1.2.3.99999999999999999999", kRejected},
    };
    for (const ParseCase &c : cases) {
        EXPECT_EQ(ntohl(inet_addr(c.text)), c.expected) << "inet_addr(\"" << c.text << "\")";
    }
}

TEST(InetAddr, ResultIsInNetworkByteOrder) {
    ULONG value = inet_addr("1.2.3.4");
    const unsigned char expected[4] = {1, 2, 3, 4};
    EXPECT_EQ(std::memcmp(&value, expected, 4), 0);
}

TEST(ByteOrder, NetworkOrderIsBigEndian) {
    u_short port = htons(0x1234);
    const unsigned char port_bytes[2] = {0x12, 0x34};
    EXPECT_EQ(std::memcmp(&port, port_bytes, 2), 0);
    EXPECT_EQ(ntohs(port), 0x1234);

    ULONG address = htonl(0x0a0b0c0d);
    const unsigned char address_bytes[4] = {0x0a, 0x0b, 0x0c, 0x0d};
    EXPECT_EQ(std::memcmp(&address, address_bytes, 4), 0);
    EXPECT_EQ(ntohl(address), 0x0a0b0c0du);
}

}  // namespace
