// The pipelined link against the per-clock link, both on a cable that runs clocks only when
// flushed, over random transfers (addresses, lengths, data) under random board knobs. Where
// the board behaves the same for both (its faults counted in bytes, not clocks) the two must
// agree on everything: results, data, errors, what the window was told, what the board holds
// and the messages it took. Noise and a cable pulled after N clocks hit the two at different
// places; there each must stay sound on its own: a success returns the board's bytes, a
// write changes nothing outside its range. TAPWRIGHT_SEED=n repeats a run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "port/PortTalk.h"
#include "support/SimLinkFixture.h"

namespace {

constexpr uint32_t kBase = 0xC0000000;
constexpr uint32_t kSpan = 4096;

// Everything a run of transfers showed.
struct Outcome {
    std::vector<std::string> log;  // per transfer: result, count, error, fail address, data
    std::vector<std::string> calls;
    std::vector<uint8_t> memory;
    std::vector<std::vector<uint32_t>> messages;
    uint64_t flushes = 0;
};

class PipelineProperty : public test::SimLinkFixture {
  protected:
    void TearDown() override {
        SimLinkFixture::TearDown();
        port::SetCableOptions({});
    }

    // `exact`: the knobs act alike on both paths, so only soundness is checked here and the
    // caller compares the outcomes.
    Outcome Run(const std::string& knobs, bool pipeline, uint32_t seed, bool exact) {
        Outcome out;
        port::CableOptions options;
        options.pipeline = pipeline;
        port::SetCableOptions(options);
        queued = true;
        observer.Clear();
        auto fresh = std::make_unique<CTargetLink>();
        CTargetLink& link = *fresh;
        if (!OpenBoard(knobs, &link)) {
            CloseBoard();
            return out;
        }
        board().link().Record(1 << 12);
        std::mt19937 rng(seed);
        const std::vector<uint8_t> start = Random(rng, kSpan);
        board().WriteBytes(kBase, start.data(), kSpan);
        for (int t = 0; t < 10; ++t) {
            const bool write = rng() % 2 == 0;
            const uint32_t length = 1 + rng() % (rng() % 4 == 0 ? 700 : 40);
            const uint32_t address = kBase + rng() % (kSpan - length);
            const std::vector<uint8_t> before = Backdoor(kBase, kSpan);
            std::vector<uint8_t> data = write ? Random(rng, length) : std::vector<uint8_t>(length);
            const bool ok = write ? link.WriteMemory(address, length, data.data())
                                  : link.ReadMemory(address, length, data.data());
            const std::vector<uint8_t> after = Backdoor(kBase, kSpan);
            const uint32_t at = address - kBase;
            std::string what = write ? "write " : "read ";
            what.append(std::to_string(length)).append(" at ").append(std::to_string(at));
            SCOPED_TRACE(what);
            if (ok) {
                EXPECT_TRUE(std::equal(data.begin(), data.end(), after.begin() + at))
                    << (write ? "the board does not hold what was written"
                              : "a read returned bytes the target did not send");
            }
            for (uint32_t i = 0; i < kSpan; ++i) {
                if (i >= at && i < at + length) continue;
                if (before[i] != after[i]) {
                    ADD_FAILURE() << "byte " << i << " outside the range changed";
                    break;
                }
            }
            std::string line = std::to_string(ok);
            for (uint32_t v :
                 {link.m_nLastCount, static_cast<uint32_t>(link.m_nError), link.FailAddress()})
                line.append(" ").append(std::to_string(v));
            if (!write) line.append(data.begin(), data.end());
            out.log.push_back(line);
            if (!exact && link.OutOfStep()) break;
        }
        out.calls = observer.calls;
        out.memory = Backdoor(kBase, kSpan);
        for (const sim::LinkMessage& m : board().link().messages())
            out.messages.push_back({m.kind, m.address, m.length, m.taken});
        out.flushes = wire().flushes;
        CloseBoard();
        return out;
    }

    static std::vector<uint8_t> Random(std::mt19937& rng, size_t n) {
        std::vector<uint8_t> v(n);
        for (auto& b : v) b = static_cast<uint8_t>(rng());
        return v;
    }
};

unsigned Seed() {
    const char* text = std::getenv("TAPWRIGHT_SEED");
    return text != nullptr ? static_cast<unsigned>(std::strtoul(text, nullptr, 0))
                           : std::random_device{}();
}

TEST_F(PipelineProperty, SameOutcomeAsPerClockUnderEveryKnob) {
    const unsigned seed = Seed();
    std::printf("PipelineProperty seed %u (TAPWRIGHT_SEED=%u repeats it)\n", seed, seed);
    std::mt19937 rng(seed);
    // Knobs counted in bytes or in clocks from a byte: both paths meet them alike.
    std::vector<std::string> exact = {
        "",      "busy",         "no-ack",       "no-target",    "bad-header",    "bad-length",
        "tdo=0", "ack-delay=15", "ack-delay=40", "ack-delay=70", "ack-delay=1000"};
    for (int d = -9; d <= 14; ++d) exact.push_back("ack-delay=" + std::to_string(d));
    const char* rates[] = {"0.0005", "0.005", "0.03"};
    uint64_t flushes[2] = {};
    for (int c = 0; c < 40; ++c) {
        const bool fault = c >= static_cast<int>(exact.size());
        std::string knobs;
        if (!fault) {
            knobs = exact[c];
        } else if (c % 2 == 0) {
            knobs.append("noise=").append(rates[rng() % 3]);
            knobs.append(",seed=").append(std::to_string(rng()));
        } else {
            knobs.append("unplug-after=").append(std::to_string(rng() % 400000));
        }
        if (!knobs.empty()) knobs.push_back(',');
        knobs.append(rng() % 2 == 0 ? "link-reset=keep" : "link-reset=drop");
        const uint32_t runSeed = rng();
        SCOPED_TRACE("knobs " + knobs + ", seed " + std::to_string(seed));
        const Outcome a = Run("," + knobs, false, runSeed, !fault);
        const Outcome b = Run("," + knobs, true, runSeed, !fault);
        if (fault) continue;
        EXPECT_EQ(a.log, b.log);
        EXPECT_EQ(a.calls, b.calls);
        EXPECT_TRUE(a.memory == b.memory) << "the board holds other bytes";
        EXPECT_EQ(a.messages, b.messages);
        if (knobs.rfind("link-reset", 0) == 0 || knobs.rfind("ack-delay=-", 0) == 0) {
            flushes[0] += a.flushes;
            flushes[1] += b.flushes;
        }
    }
    // On a healthy board pipelining must save round trips, not merely keep the results.
    EXPECT_LT(flushes[1] * 4, flushes[0]);
}

}  // namespace
