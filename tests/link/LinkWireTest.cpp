// The DCU byte link and peek/poke messages on the wire, against scripted TDO.
#include <gtest/gtest.h>

#include "ScriptedLink.h"
#include "link/LinkErrors.h"

namespace {

// TDO samples of one host byte acknowledged during its data bits (1 on data bit 2, 0 on 3).
std::vector<int> AckInData() {
    return {0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0};
}

std::vector<int> Acked(size_t bytes) {
    std::vector<int> out;
    for (size_t i = 0; i < bytes; ++i) {
        const auto one = AckInData();
        out.insert(out.end(), one.begin(), one.end());
    }
    return out;
}

// TDO samples of one byte sent by the target: start, flag, 8 bits LSB first, stop.
std::vector<int> Reply(const std::vector<uint8_t>& bytes) {
    std::vector<int> out;
    for (uint8_t b : bytes) {
        out.push_back(1);
        out.push_back(1);
        for (int i = 0; i < 8; ++i) out.push_back((b >> i) & 1);
        out.push_back(0);
    }
    return out;
}

// The host bytes in a stream of clocks made only of 11-clock host bytes.
std::vector<uint8_t> SentBytes(const std::vector<test::WireClock>& clocks, size_t count) {
    std::vector<uint8_t> out;
    for (size_t b = 0; b < count && (b + 1) * 11 <= clocks.size(); ++b) {
        const test::WireClock* c = &clocks[b * 11];
        EXPECT_EQ(c[0].tdi, 1);
        EXPECT_EQ(c[1].tdi, 1);
        EXPECT_EQ(c[10].tdi, 0);
        uint8_t v = 0;
        for (int i = 0; i < 8; ++i) v = static_cast<uint8_t>(v | c[2 + i].tdi << i);
        out.push_back(v);
    }
    return out;
}

class LinkWireTest : public ScriptedLinkTest {};

// Reset, IR 16 and the walk to Shift-DR before the idle line is looked for.
constexpr size_t kSessionEntryClocks = 6 + 10 + 3;

TEST_F(LinkWireTest, ReportErrorStates) {
    link.m_nError = 0;
    EXPECT_TRUE(link.ReportError());
    link.m_nError = -1;
    EXPECT_FALSE(link.ReportError());
    EXPECT_TRUE(observer.calls.empty());
    link.m_nError = 150;
    EXPECT_FALSE(link.ReportError());
    link.m_nError = 101;
    EXPECT_FALSE(link.ReportError());
    EXPECT_EQ(observer.calls, (std::vector<std::string>{"ShowStatus(Erreur Inconnue)",
                                                        "ShowStatus(Erreur Inconnue)"}));
    EXPECT_EQ(link.m_nError, -1);
    EXPECT_TRUE(wire->requests.empty());
}

TEST(LinkErrorTextTest, TableTextsAreExact) {
    EXPECT_EQ(LinkErrorText(102),
              "Erreur D\xC3\xA9"
              "but du mode Trap");
    EXPECT_EQ(LinkErrorText(108),
              "Erreur R\xC3\xA9"
              "ception ACK");
    EXPECT_EQ(LinkErrorText(110), "Erreur Trap non initialis\xC3\xA9");
    EXPECT_EQ(LinkErrorText(112), "Erreur Trap non pr\xC3\xAAt");
    EXPECT_EQ(LinkErrorText(114), "Erreur Attente canal DCU libre");
    EXPECT_EQ(LinkErrorText(115), "Erreur Allocation m\xC3\xA9moire");
    EXPECT_EQ(LinkErrorText(116), "Erreur Ecriture FLASH");
    EXPECT_EQ(LinkErrorText(117), "Erreur Taille tampon Trap invalide");
    for (int id = 102; id <= 120; ++id) EXPECT_FALSE(LinkErrorText(id).empty()) << id;
    EXPECT_TRUE(LinkErrorText(101).empty());
    EXPECT_TRUE(LinkErrorText(121).empty());
    EXPECT_TRUE(LinkErrorText(0).empty());
}

TEST_F(LinkWireTest, SaveVectorsReadsOnceRestoreWritesOnce) {
    uint8_t vectors[16] = {};
    EXPECT_TRUE(link.RestoreTrapVectors(vectors));  // nothing saved: nothing written
    EXPECT_TRUE(wire->requests.empty());

    wire->ScriptTdo(Acked(5));
    std::vector<uint8_t> reply(17, 0x77);
    reply[0] = 0x12;
    wire->AppendTdo(Reply(reply));
    EXPECT_TRUE(link.SaveTrapVectors(vectors));
    EXPECT_TRUE(link.m_bVectorsSaved);
    EXPECT_EQ(vectors[15], 0x77);
    wire->Clear();
    EXPECT_TRUE(link.SaveTrapVectors(vectors));
    EXPECT_TRUE(wire->requests.empty());

    wire->ScriptTdo(Acked(5 + 16));
    EXPECT_TRUE(link.RestoreTrapVectors(vectors));
    EXPECT_FALSE(link.m_bVectorsSaved);
    EXPECT_EQ(SentBytes(wire->Clocks(), 5), (std::vector<uint8_t>{0x10, 0x40, 0x00, 0x00, 0x80}));
    wire->Clear();
    EXPECT_TRUE(link.RestoreTrapVectors(vectors));
    EXPECT_TRUE(wire->requests.empty());
}

void ScriptStatusRead(test::RecordingPortDriver& wire, uint32_t status) {
    wire.AppendTdo(Acked(5));
    wire.AppendTdo(Reply({0x06, static_cast<uint8_t>(status), static_cast<uint8_t>(status >> 8),
                          static_cast<uint8_t>(status >> 16), static_cast<uint8_t>(status >> 24)}));
}

TEST_F(LinkWireTest, DcuStatusWaitsForBothMaskBits) {
    ScriptStatusRead(*wire, 0x00020000);
    ScriptStatusRead(*wire, 0x00040000);
    ScriptStatusRead(*wire, 0x80060001);
    ScriptStatusRead(*wire, 0x00060000);  // never read
    uint32_t& status = link.m_dcuSnapshot[1];
    EXPECT_TRUE(link.ReadDcuStatus(status, 0x60000));
    EXPECT_EQ(status, 0x80060001u);
    EXPECT_EQ(wire->tdoScript.size(), 110u);
}

TEST_F(LinkWireTest, DcuStatusGivesUpAfter64ReadsWithoutErrorOfItsOwn) {
    for (int i = 0; i < 65; ++i) ScriptStatusRead(*wire, 0x00020000);
    uint32_t status = 0;
    EXPECT_FALSE(link.ReadDcuStatus(status, 0x60000));
    EXPECT_EQ(link.m_nError, 0);
    EXPECT_EQ(wire->tdoScript.size(), 110u);  // exactly 64 reads
    EXPECT_TRUE(observer.calls.empty());
}

TEST_F(LinkWireTest, TogglingLineCannotHoldWaitData) {
    int level = 0;
    wire->tdoSource = [&level] { return level ^= 1; };  // an acknowledge every two clocks
    uint8_t byte = 0;
    EXPECT_FALSE(link.ReceiveByte(byte));
    EXPECT_EQ(link.m_nError, kErrWaitStart);
    EXPECT_LE(wire->Clocks().size(), 16u * 8);
}

TEST_F(LinkWireTest, EndlessTalkerCannotHoldSessionStart) {
    wire->ScriptTdo(std::vector<int>(kSessionEntryClocks + 8 + 2, 0));
    const std::vector<int> byte = Reply({0x55});
    size_t i = 0;
    wire->tdoSource = [&] { return byte[i++ % byte.size()]; };
    EXPECT_FALSE(link.BeginSession());
    EXPECT_EQ(link.m_nError, kErrLinkBusy);
}

TEST_F(LinkWireTest, ZeroLengthAndNullBuffers) {
    EXPECT_TRUE(link.PeekBlock(0x80000000, 0, nullptr));
    EXPECT_TRUE(link.PokeBlock(0x80000000, 0, nullptr));
    EXPECT_TRUE(link.ReadMemory(0x80000000, 0, nullptr));
    EXPECT_TRUE(link.WriteMemory(0x80000000, 0, nullptr));
    EXPECT_TRUE(wire->requests.empty());
    EXPECT_FALSE(link.PeekBlock(0x80000000, 4, nullptr));
    EXPECT_FALSE(link.PokeBlock(0x80000000, 4, nullptr));
    EXPECT_TRUE(wire->requests.empty());
}

TEST_F(LinkWireTest, EmiConfigStopsAtFirstFailure) {
    uint32_t emi[16] = {};
    link.m_pEmiConfig = emi;
    link.WriteEmiConfig();  // dead line: the first word fails, nothing more is tried
    EXPECT_EQ(observer.Matching("ShowStatus(").size(), 1u);
    EXPECT_LE(wire->Clocks().size(), 3u * (11 + 16 + 48));  // three silent bytes at most
}

}  // namespace
