// Tests of broker-message framing and parsing: the exact bytes of every
// opcode, the fields each carries back, the log descriptions of sent and
// received messages, refusal of unknown opcodes and of messages cut short,
// and the opcode names.
#include "nbx/broker_message.h"

#include <string>

#include "gtest/gtest.h"
#include "tests/nbx/broker_test_support.h"

namespace {

using broker_test::Bytes;
using broker_test::Hex;
using broker_test::Ip;
using broker_test::LogCapture;

// Every framing test passes these fields; each opcode takes what it uses.
// In hex: canonical c0 00 02 07 9c 41, physical 0a 00 00 03 9c 40,
// destination c6 33 64 02 04 d2.
const char * const kCanon = "<192.0.2.7:40001>";
const char * const kPhy = "<10.0.0.3:40000>";
const char * const kDest = "<198.51.100.2:1234>";

int Stripe(char *buffer, char opcode, char mode = 'A', unsigned char error = 111) {
    return _CB_stripeMsg(buffer, opcode, Ip("192.0.2.7"), htons(40001), mode, Ip("10.0.0.3"),
                         htons(40000), Ip("198.51.100.2"), htons(1234), error);
}

// An opcode's bytes, the fields it carries (c canonical, m mode, p physical,
// d destination, e error byte) and its descriptions when sent and received.
struct Case {
    char opcode;
    const char *hex;
    const char *carries;
    std::string sent;
    std::string received;
};

std::string Bind(const char *name) {
    return std::string(name) + "official=" + kCanon + " A local=" + kPhy + " ";
}
std::string BindIn(const char *name) {
    return std::string(name) + "canon=" + kCanon + " A phyAddr=" + kPhy + " ";
}
std::string Connect(const char *name) {
    return std::string(name) + "canon=" + kCanon + " A phyAddr=" + kPhy + " dest=" + kDest + " ";
}
std::string Canon(const char *name) {
    return std::string(name) + "canon=" + kCanon + " ";
}
std::string Phy(const char *name) {
    return std::string(name) + "phyAddr=" + kPhy + " ";
}
std::string Fwd(const char *name) {
    return std::string(name) + "canon=" + kCanon + " phyAddr=" + kPhy + " ";
}
std::string Dummy(const char *name) {
    return std::string(name) + kCanon + " -> " + kDest;
}

const char kBindHex[] = "c0 00 02 07 9c 41 41 0a 00 00 03 9c 40";
const char kConnectHex[] = "c0 00 02 07 9c 41 41 0a 00 00 03 9c 40 c6 33 64 02 04 d2";

const std::vector<Case> &Cases() {
    static const std::vector<Case> cases = {
        {'C', "00 10 43", "cmp", Bind("TCP_BIND: "), BindIn("TCP_BIND: ")},
        {'D', "00 10 44", "cmp", Bind("UDP_BIND: "), BindIn("UDP_BIND: ")},
        {'E', "00 10 45", "cmp", Bind("TCP_CLIENT: "), BindIn("TCP_CLIENT: ")},
        {'F', "00 10 46", "cmp", Bind("UDP_CLIENT: "), BindIn("UDP_CLIENT: ")},
        {'G', "00 09 47 c0 00 02 07 9c 41", "c", Canon("BIND_OK: "), Canon("BIND_OK: ")},
        {'H', "00 09 48 0a 00 00 03 9c 40", "p", std::string("RELAY_SERVER: addr=") + kPhy + " ",
         std::string("RELAY_SERVER: addr=") + kPhy + " "},
        {'I', "00 09 49 c0 00 02 07 9c 41", "c", Canon("LISTEN: "), Canon("LISTEN: ")},
        {'J', "00 16 4a", "cmpd", Connect("CONNECT: "), Connect("CONNECT: ")},
        {'K', "00 09 4b 0a 00 00 03 9c 40", "p", Phy("ACTIVE_CONNECT: "), Phy("ACTIVE_CONNECT: ")},
        {'L', "00 03 4c", "", "PASSIVE_CONNECT", "PASSIVE_CONNECT"},
        {'M', "00 03 4d", "", "ACK", "ACK"},
        {'N', "00 0f 4e c0 00 02 07 9c 41 0a 00 00 03 9c 40", "cp", Fwd("CONTACT_FWD: "),
         Fwd("CONTACT_FWD: ")},
        {'O', "00 09 4f 0a 00 00 03 9c 40", "p", Phy("CONTACT: "), Phy("CONTACT: ")},
        {'P', "00 16 50", "cmpd", Connect("INIT_COMM: "), Connect("INIT_COMM: ")},
        {'Q', "00 03 51", "", "PASSIVE_INIT", "PASSIVE_INIT"},
        {'R', "00 09 52 0a 00 00 03 9c 40", "p", Phy("ACTIVE_INIT: "), Phy("ACTIVE_INIT: ")},
        {'S', "00 15 53 c0 00 02 07 9c 41 0a 00 00 03 9c 40 c6 33 64 02 04 d2", "cpd",
         Fwd("TRIGGER_FWD: ") + "client=" + kDest, Fwd("TRIGGER_FWD: ") + "client=" + kDest + " "},
        {'T', "00 0f 54 c0 00 02 07 9c 41 0a 00 00 03 9c 40", "cp", Fwd("TRIGGER: "),
         Fwd("TRIGGER: ")},
        {'U', "00 0f 55 c0 00 02 07 9c 41 c6 33 64 02 04 d2", "cd", Dummy("DUMMY: "),
         Dummy("DUMMY: ")},
        {'V', "00 0f 56 c0 00 02 07 9c 41 c6 33 64 02 04 d2", "cd", Dummy("DUMMY_ACK: "),
         Dummy("DUMMY_ACK: ")},
        {'W', "00 09 57 c0 00 02 07 9c 41", "c", Canon("TCP_DEL: "), Canon("TCP_DEL: ")},
        {'X', "00 09 58 c0 00 02 07 9c 41", "c", Canon("UDP_DEL: "), Canon("UDP_DEL: ")},
        {'Y', "00 03 59", "", "HEARTBEAT", "HEARTBEAT"},
        {'Z', "00 04 5a 6f", "e", std::string("NAK: -> ") + strerror(111),
         std::string("NAK: -> ") + strerror(111)},
        {'n', "00 03 6e", "", "NEW_SOCK", "NEW_SOCK"},
    };
    return cases;
}

std::string FullHex(const Case &c) {
    std::string hex = c.hex;
    if (strchr("CDEF", c.opcode) != nullptr) hex += std::string(" ") + kBindHex;
    if (c.opcode == 'J' || c.opcode == 'P') hex += std::string(" ") + kConnectHex;
    return hex;
}

// Outputs of a parse, preset to values no message here carries.
struct Parsed {
    char opcode = '?', mode = '?';
    in_addr canon = Ip("255.255.255.255"), phy = canon, dest = canon;
    in_port_t canon_port = 1, phy_port = 1, dest_port = 1;
    unsigned char error = 0xee;

    int From(const std::string &bytes) {
        // An exact-size copy, so that reading past the bytes shows under ASan.
        std::vector<char> exact(bytes.begin(), bytes.end());
        return _CB_unstripeMsg(static_cast<int>(bytes.size()), exact.data(), &opcode, &canon,
                               &canon_port, &mode, &phy, &phy_port, &dest, &dest_port, &error);
    }
    // The fields delivered, in the letters of Case::carries; any output
    // that holds neither the framed value nor its preset is named as stray.
    std::string Delivered() const {
        std::string letters, stray;
        auto field = [&](bool framed, bool preset, char letter) {
            if (framed)
                letters += letter;
            else if (!preset)
                stray += letter;
        };
        in_addr_t none = Ip("255.255.255.255").s_addr;
        field(canon.s_addr == Ip("192.0.2.7").s_addr && ntohs(canon_port) == 40001,
              canon.s_addr == none && canon_port == 1, 'c');
        field(mode == 'A', mode == '?', 'm');
        field(phy.s_addr == Ip("10.0.0.3").s_addr && ntohs(phy_port) == 40000,
              phy.s_addr == none && phy_port == 1, 'p');
        field(dest.s_addr == Ip("198.51.100.2").s_addr && ntohs(dest_port) == 1234,
              dest.s_addr == none && dest_port == 1, 'd');
        field(error == 111, error == 0xee, 'e');
        return stray.empty() ? letters : letters + " stray " + stray;
    }
};

TEST(BrokerMessageTest, EveryOpcodeFramesParsesAndDescribes) {
    for (const Case &c : Cases()) {
        LogCapture log;
        char buffer[CB_MSG_MAX + 1];
        buffer[CB_MSG_MAX] = 0x55;
        int size = Stripe(buffer, c.opcode);
        EXPECT_EQ(Hex(buffer, static_cast<size_t>(size)), FullHex(c)) << c.opcode;
        EXPECT_EQ(_CB_msgSize(c.opcode), size);
        EXPECT_EQ(buffer[CB_MSG_MAX], 0x55);
        Parsed parsed;
        ASSERT_EQ(parsed.From(std::string(buffer, static_cast<size_t>(size))), 0) << c.opcode;
        EXPECT_EQ(parsed.opcode, c.opcode);
        EXPECT_EQ(parsed.Delivered(), c.carries) << c.opcode;
        EXPECT_EQ(log.Lines(), (std::vector<std::string>{"8192:*send* " + c.sent + "\n",
                                                         "8192:*recv* " + c.received + "\n"}));
    }
}

TEST(BrokerMessageTest, ModeTextsNakTextsAndHighBytes) {
    LogCapture log;
    char buffer[CB_MSG_MAX];
    Parsed parsed;
    parsed.From(std::string(buffer, static_cast<size_t>(Stripe(buffer, CB_TCP_BIND, 'B'))));
    parsed.From(std::string(buffer, static_cast<size_t>(Stripe(buffer, CB_UDP_BIND, 'x'))));
    parsed.From(std::string(buffer, static_cast<size_t>(Stripe(buffer, CB_CONNECT, 'x'))));
    EXPECT_EQ(parsed.mode, 'x');
    parsed.From(Bytes("00 04 5a 39"));
    EXPECT_EQ(parsed.error, 57);
    parsed.From(std::string(buffer, static_cast<size_t>(Stripe(buffer, CB_NAK, 'A', 200))));
    EXPECT_EQ(parsed.error, 200);
    EXPECT_EQ(log.Lines()[0],
              std::string("8192:*send* TCP_BIND: official=") + kCanon + " P local=" + kPhy + " \n");
    EXPECT_EQ(log.Lines()[3],
              std::string("8192:*recv* UDP_BIND: canon=") + kCanon + " N phyAddr=" + kPhy + " \n");
    // A sent CONNECT leaves an unknown mode out; a received one writes "N ".
    EXPECT_EQ(log.Lines()[4], std::string("8192:*send* CONNECT: canon=") + kCanon +
                                  " phyAddr=" + kPhy + " dest=" + kDest + " \n");
    EXPECT_EQ(log.Lines()[5], std::string("8192:*recv* CONNECT: canon=") + kCanon +
                                  " N phyAddr=" + kPhy + " dest=" + kDest + " \n");
    EXPECT_EQ(log.Lines()[6], "8192:*recv* NAK: -> PEER_NOT_REGISTERED \n");
    EXPECT_EQ(Hex(buffer, 4), "00 04 5a c8");
}

TEST(BrokerMessageTest, UnknownOpcodesAndShortMessagesAreRefused) {
    for (char opcode : {'a', 'B', 'o', '\0', '\xff'}) {
        LogCapture log;
        std::string bytes = Bytes("00 09 00 0a 00 00 03 9c 40");
        bytes[2] = opcode;
        Parsed parsed;
        EXPECT_EQ(parsed.From(bytes), -1);
        EXPECT_EQ(parsed.opcode, '?');
        EXPECT_EQ(log.Lines(), std::vector<std::string>{"1:_CB_unstripeMsg: unknown opcode\n"});
    }
    // One byte short of each layout: the fields are never read.
    for (const Case &c : Cases()) {
        std::string bytes = Bytes(FullHex(c));
        Parsed parsed;
        if (bytes.size() > CB_MSG_HEADER) {
            EXPECT_EQ(parsed.From(bytes.substr(0, bytes.size() - 1)), -1);
        }
        EXPECT_EQ(parsed.Delivered(), "") << c.opcode;
    }
    Parsed parsed;
    EXPECT_EQ(parsed.From(Bytes("00 03")), -1);
    EXPECT_EQ(parsed.From(""), -1);
    // Bytes beyond the layout are ignored.
    EXPECT_EQ(parsed.From(Bytes("00 16 4d 01 02 03 04 05 06 07 08")), 0);
    EXPECT_EQ(parsed.opcode, 'M');
}

TEST(BrokerMessageTest, OpcodeNames) {
    char name[CB_OPNAME_SIZE];
    for (const Case &c : Cases()) {
        ASSERT_EQ(printOP(c.opcode, name), 0);
        size_t colon = c.sent.find(": ");
        EXPECT_EQ(name, colon == std::string::npos ? c.sent : c.sent.substr(0, colon + 2));
    }
    LogCapture log;
    EXPECT_EQ(printOP('A', name), -1);
    EXPECT_STREQ(name, "");
    EXPECT_EQ(log.Lines(), std::vector<std::string>{"1:unexpected opcode passed to printOP\n"});
    EXPECT_EQ(_CB_msgSize('A'), -1);
}

TEST(BrokerMessageDeathTest, FramingAnUnknownOpcodeEndsTheProcess) {
    torvel_test::TempDir dir;
    std::string log = dir.Path("nbx.log");
    EXPECT_EXIT(
        {
            Generic_logInit(log.c_str(), D_BASIC, 1 << 20);
            char buffer[CB_MSG_MAX];
            errno = 0;
            Stripe(buffer, 'a');
        },
        testing::ExitedWithCode(1), "");
    std::string text = torvel_test::ReadFile(log);
    EXPECT_NE(text.find("] ERROR \"_CB_stripeMsg: invalid opcode passed\n\"\n"), std::string::npos);
    EXPECT_NE(text.find("EXITING with failure (status 1)\n"), std::string::npos) << text;
}

}  // namespace
