// Link throughput: JTAG clocks through the whole host stack, against the virtual board and
// against a device that does nothing, and DCU peek/poke payload rates.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "bench/CountingDriver.h"
#include "link/TargetLink.h"
#include "port/PortTalk.h"

namespace {

using bench::CountingSimDriver;

// Counts requests and answers every read with TDO low.
class NullDevice final : public port::IPortDevice {
  public:
    bool DeviceIoControl(uint32_t code, const uint8_t*, uint32_t, uint8_t* out, uint32_t) override {
        ++requests;
        if (code == port::kIoctlReadPort) out[0] = 0;
        return true;
    }
    uint32_t LastError() const override { return 0; }
    uint64_t requests = 0;
};

class NullDriver final : public port::IPortDriver {
  public:
    const char* Name() const override { return "null"; }
    std::unique_ptr<port::IPortDevice> OpenDevice() override {
        auto d = std::make_unique<NullDevice>();
        device = d.get();
        return d;
    }
    port::IServiceControl* Services() override { return nullptr; }
    NullDevice* device = nullptr;
};

void QuietLink() {
    SetLinkSleepFunction([](uint32_t) {});
}

template <class Driver>
Driver* OpenLink(CTargetLink& link, std::unique_ptr<Driver> driver = std::make_unique<Driver>(),
                 bool fastClock = false, bool pipeline = true) {
    QuietLink();
    Driver* raw = driver.get();
    port::SelectPortDriver(std::move(driver));
    port::CableOptions options;
    options.fastClock = fastClock;
    options.pipeline = pipeline;
    port::SetCableOptions(options);
    link.m_nPort = 0x378;
    link.Open(nullptr);
    return raw;
}

// Clocks with TDI toggling; `reset` first puts the board's TAP in a known state.
template <class Driver>
void ClockTap(benchmark::State& state, bool reset) {
    CTargetLink link;
    auto* driver = OpenLink<Driver>(link);
    if (reset) link.TapReset();
    const uint64_t before = driver->device->requests;
    int tdi = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(link.ClockTap(0, tdi));
        tdi ^= 1;
    }
    const auto clocks = static_cast<double>(state.iterations());
    state.counters["clocks/s"] = benchmark::Counter(clocks, benchmark::Counter::kIsRate);
    state.counters["requests/clock"] =
        static_cast<double>(driver->device->requests - before) / clocks;
    link.m_nError = -1;
    link.Close();
}

void BM_ClockTap_VirtualBoard(benchmark::State& state) {
    ClockTap<CountingSimDriver>(state, true);
}
BENCHMARK(BM_ClockTap_VirtualBoard);

void BM_ClockTap_NullDevice(benchmark::State& state) {
    ClockTap<NullDriver>(state, false);
}
BENCHMARK(BM_ClockTap_NullDevice);

// The protocol's own minimum for one 256-byte message, in clocks per payload byte:
// every link byte costs 11 clocks (start, flag, 8 data, stop) plus its acknowledge wait.
// A poke is 5 + 256 host bytes; a peek 5 host bytes, then 1 + 256 target bytes.
constexpr double kBitsPerByte = 11.0;

// range(0) bytes per transfer; range(1) 1 for the 3-access parallel-port clock; range(2) 1
// to count round trips (flushes) through a counting cable with the link pipelined, 2 with
// the link kept per clock (--no-pipeline).
void RunTransfer(benchmark::State& state, bool write) {
    CTargetLink link;
    auto* driver = OpenLink(link, std::make_unique<CountingSimDriver>(state.range(2) != 0),
                            state.range(1) != 0, state.range(2) != 2);
    const uint32_t size = static_cast<uint32_t>(state.range(0));
    std::vector<uint8_t> data(size);
    for (uint32_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(i * 7 + 3);
    const uint64_t requestsBefore = driver->device->requests;
    const uint64_t clocksBefore = driver->board().Clocks();
    const uint64_t flushesBefore = driver->cable != nullptr ? driver->cable->flushes : 0;
    uint64_t bytes = 0;
    bool ok = true;
    for (auto _ : state) {
        ok = write ? link.WriteMemory(0xC0000000, size, data.data())
                   : link.ReadMemory(0xC0000000, size, data.data());
        if (!ok) break;
        bytes += size;
    }
    if (!ok) state.SkipWithError("transfer failed");
    const double perByte =
        static_cast<double>(driver->device->requests - requestsBefore) / static_cast<double>(bytes);
    state.SetBytesProcessed(static_cast<int64_t>(bytes));
    state.counters["requests/byte"] = perByte;
    state.counters["clocks/byte"] =
        static_cast<double>(driver->board().Clocks() - clocksBefore) / static_cast<double>(bytes);
    const double minimum =
        write ? (5.0 + 256.0) * kBitsPerByte / 256.0 : (5.0 + 1.0 + 256.0) * kBitsPerByte / 256.0;
    state.counters["min clocks/byte"] = minimum;
    // A real parallel port: about 1 us per port access.
    state.counters["s/MiB @1us"] = perByte * 1048576.0 * 1e-6;
    if (driver->cable != nullptr) {
        // A USB adapter pays about 250 us per round trip.
        const double trips = static_cast<double>(driver->cable->flushes - flushesBefore) /
                             static_cast<double>(bytes) * 1024.0;
        state.counters["round trips/KiB"] = trips;
        state.counters["s/MiB @250us/trip"] = trips * 1024.0 * 250e-6;
    }
    link.m_nError = -1;
    link.Close();
    port::SetCableOptions({});
}

void BM_Poke(benchmark::State& state) {
    RunTransfer(state, true);
}
void BM_Peek(benchmark::State& state) {
    RunTransfer(state, false);
}
// The design's clock, the 3-access clock, and the round trips a queued cable would pay.
BENCHMARK(BM_Poke)
    ->ArgNames({"bytes", "fast", "trips"})
    ->Args({64 * 1024, 0, 0})
    ->Args({64 * 1024, 1, 0})
    ->Args({16 * 1024, 0, 1})
    ->Args({16 * 1024, 0, 2})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Peek)
    ->ArgNames({"bytes", "fast", "trips"})
    ->Args({64 * 1024, 0, 0})
    ->Args({64 * 1024, 1, 0})
    ->Args({16 * 1024, 0, 1})
    ->Args({16 * 1024, 0, 2})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
