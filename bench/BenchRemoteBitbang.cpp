// The remote_bitbang cable against the virtual board served in process on loopback: what the
// cable itself reaches when clocks are queued (the bound for a pipelined link), and what one
// round trip per clock costs (today's link). bench/remote_bitbang_vs_openocd.sh sets these
// beside OpenOCD's own client.
#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "port/RemoteBitbangDriver.h"
#include "sim/Board.h"
#include "sim/RemoteBitbang.h"

namespace {

// The board and its server thread, for the length of one benchmark.
class Served {
  public:
    Served() : board_(sim::Options{}), server_(board_) {
        if (server_.Listen(0, error_))
            thread_ = std::thread([this] { server_.Run(stop_, error_); });
    }
    ~Served() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    // A cable to the server, or null with the reason in the state.
    std::unique_ptr<port::ICable> Connect(benchmark::State& state) {
        driver_ = std::make_unique<port::RemoteBitbangDriver>("127.0.0.1", server_.port());
        auto cable = thread_.joinable() ? driver_->OpenCable({}) : nullptr;
        if (!cable) state.SkipWithError((error_ + driver_->LastErrorText()).c_str());
        return cable;
    }

  private:
    sim::Board board_;
    sim::RemoteBitbangServer server_;
    std::atomic<bool> stop_{false};
    std::string error_;
    std::thread thread_;
    std::unique_ptr<port::RemoteBitbangDriver> driver_;
};

// range(0) clocks per flush, TDO wanted on one clock in range(1): 64 and 1 is a 64-bit DR scan
// with every bit captured, as OpenOCD runs its drscan; 4096 and 32 a long stream.
void BM_RemoteBitbang_Queued(benchmark::State& state) {
    Served served;
    auto cable = served.Connect(state);
    if (!cable) return;
    const auto clocks = static_cast<uint32_t>(state.range(0));
    const auto every = static_cast<uint32_t>(state.range(1));
    std::vector<uint32_t> tdi(clocks / 32 + 1), want(clocks / 32 + 1), tdo(clocks / 32 + 1);
    for (uint32_t i = 0; i < clocks; ++i) {
        port::SetClockBit(tdi.data(), i, (i * 7) % 3 == 0);
        port::SetClockBit(want.data(), i, i % every == every - 1);
    }
    for (auto _ : state) {
        cable->QueueClocks(clocks, nullptr, tdi.data(), want.data(), tdo.data());
        if (!cable->Flush()) state.SkipWithError("the cable failed");
    }
    state.counters["clocks/s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * clocks, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RemoteBitbang_Queued)
    ->ArgNames({"clocks", "tdo-every"})
    ->Args({64, 1})
    ->Args({4096, 32})
    ->UseRealTime();

// One round trip per clock: the per-clock link's ClockTap.
void BM_RemoteBitbang_PerClock(benchmark::State& state) {
    Served served;
    auto cable = served.Connect(state);
    if (!cable) return;
    bool tdi = false;
    for (auto _ : state) benchmark::DoNotOptimize(cable->Clock(false, tdi = !tdi));
    state.counters["clocks/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RemoteBitbang_PerClock)->UseRealTime();

}  // namespace
