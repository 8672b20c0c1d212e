// The USB (MPSSE) and GPIO cables on their emulated chips, through the whole host stack.
// MPSSE: a 250 us USB round trip and 6 MHz TCK, in the emulator's own time, projected to
// seconds per MiB, with the round trips (flushes) per KiB. GPIO: line accesses per clock,
// beside the parallel port's 4 (3 with the fast clock).
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "flash/FlashChip.h"
#include "flash/TrapImage.h"
#include "link/TargetLink.h"
#include "port/DriverTable.h"
#include "port/FtdiDriver.h"
#include "port/GpioDriver.h"
#include "port/PortTalk.h"
#include "port/SimGpio.h"
#include "port/SimUsbBus.h"

namespace {

constexpr const char* kMpsse = "ftdi-sim,khz=6000@usb-latency-us=250";
constexpr uint32_t kFlashBase = 0x7FF00000;
constexpr double kMiB = 1048576.0;

// The link opened on a driver string; null with the reason in the state.
port::IPortDriver* OpenLink(CTargetLink& link, const char* spec, benchmark::State& state) {
    SetLinkSleepFunction([](uint32_t) {});
    std::string error;
    auto driver = port::CreatePortDriver(spec, error);
    port::IPortDriver* raw = driver.get();
    port::SelectPortDriver(std::move(driver));
    link.m_nPort = 0x378;
    if (raw == nullptr || link.Open(nullptr) != 0) {
        state.SkipWithError((error + (raw ? raw->LastErrorText() : "")).c_str());
        return nullptr;
    }
    return raw;
}

sim::FtdiDevice& Adapter(port::IPortDriver* driver) {
    return static_cast<port::SimUsbBus*>(static_cast<port::FtdiDriver*>(driver)->bus())->adapter(0);
}

void Close(CTargetLink& link) {
    link.m_nError = -1;
    link.Close();
    port::SelectPortDriver(nullptr);
    SetLinkSleepFunction(nullptr);
}

// The emulated time and round trips `work` took, per byte moved, as counters.
template <class Work>
void Measure(benchmark::State& state, sim::FtdiDevice& usb, double bytes, Work work) {
    uint64_t ns = 0, trips = 0;
    for (auto _ : state) {
        const uint64_t t0 = usb.NowNs(), r0 = usb.BulkReads();
        if (!work()) {
            state.SkipWithError("transfer failed");
            return;
        }
        ns += usb.NowNs() - t0;
        trips += usb.BulkReads() - r0;
    }
    const double total = bytes * static_cast<double>(state.iterations());
    state.counters["s/MiB"] = static_cast<double>(ns) * 1e-9 / total * kMiB;
    state.counters["flushes/KiB"] = static_cast<double>(trips) / total * 1024.0;
}

// range(0): 1 poke, 0 peek.
void BM_Mpsse_Memory(benchmark::State& state) {
    CTargetLink link;
    port::IPortDriver* driver = OpenLink(link, kMpsse, state);
    if (driver == nullptr) return;
    std::vector<uint8_t> data(4096, 0x5A);
    const bool poke = state.range(0) != 0;
    Measure(state, Adapter(driver), static_cast<double>(data.size()), [&] {
        return poke ? link.WriteMemory(0xC0000000, 4096, data.data())
                    : link.ReadMemory(0xC0000000, 4096, data.data());
    });
    Close(link);
}
BENCHMARK(BM_Mpsse_Memory)->ArgName("poke")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The cable alone with clocks queued, as a pipelined link would queue them: 4096 clocks per
// flush, TDO wanted on one in 32. Projected at the per-clock link's 11.3 clocks per byte.
void BM_Mpsse_QueuedClocks(benchmark::State& state) {
    std::string error;
    auto driver = port::CreatePortDriver(kMpsse, error);
    auto cable = driver ? driver->OpenCable({}) : nullptr;
    if (!cable) {
        state.SkipWithError(error.c_str());
        return;
    }
    constexpr uint32_t kClocks = 4096;
    std::vector<uint32_t> tdi(kClocks / 32), want(kClocks / 32, 0x80000000u), tdo(kClocks / 32);
    for (uint32_t i = 0; i < kClocks; ++i) port::SetClockBit(tdi.data(), i, i % 3 == 0);
    sim::FtdiDevice& usb = Adapter(driver.get());
    const uint64_t t0 = usb.NowNs();
    for (auto _ : state) {
        cable->QueueClocks(kClocks, nullptr, tdi.data(), want.data(), tdo.data());
        if (!cable->Flush()) state.SkipWithError("the cable failed");
    }
    const double perClock = static_cast<double>(usb.NowNs() - t0) * 1e-9 /
                            (static_cast<double>(state.iterations()) * kClocks);
    state.counters["s/MiB @11.3 clocks/byte"] = perClock * 11.3 * kMiB;
}
BENCHMARK(BM_Mpsse_QueuedClocks);

// Flash program and read back of 16 KiB, projected to a MiB each way.
void BM_Mpsse_FlashProgramAndReadBack(benchmark::State& state) {
    CTargetLink link;
    port::IPortDriver* driver = OpenLink(link, kMpsse, state);
    if (driver == nullptr) return;
    link.m_nTrapBase = 0x80000A00;
    link.m_nParamBlock = 0x80000F00;
    link.m_nBufferAddr = 0x80000200;
    link.m_nBufferSize = 0x800;
    static const uint32_t emi[16] = {};
    link.m_pEmiConfig = emi;
    FlashChip chip;
    chip.m_nBusWidth = 16;
    chip.m_nWordMode = 1;
    PrepareIdCommands(chip, kStraightWiring);
    PrepareChipCommands(chip, kStraightWiring);
    const std::string dir = std::string(TAPWRIGHT_SOURCE_DIR) + "/TrapHandlers/";
    std::vector<uint8_t> image;
    std::string error;
    bool ready = BuildTrapImage({dir + "TrapHandler.bin", dir + "Flash0Bus16.bin"}, image, error) &&
                 link.BeginSession() &&
                 link.LoadTrapHandler(image.data(), static_cast<uint32_t>(image.size()), 0,
                                      TargetProgram::Flash(0, 16));
    link.EndSession();
    ready = ready && link.SetFlashParameters(16, 0x100000, 0, 1, 1, chip.m_commands);
    if (!ready) {
        state.SkipWithError("trap handler failed");
        Close(link);
        return;
    }
    constexpr uint32_t kSize = 16 * 1024;
    std::vector<uint8_t> data(kSize), back(kSize);
    for (uint32_t i = 0; i < kSize; ++i) data[i] = static_cast<uint8_t>((i * 131) >> 3);
    Measure(state, Adapter(driver), 2.0 * kSize, [&] {
        state.PauseTiming();
        const bool erased = link.EraseFlash(kFlashBase);
        state.ResumeTiming();
        return erased && link.ProgramFlash(kFlashBase, kSize, data.data()) &&
               link.ReadMemory(kFlashBase, kSize, back.data()) && back == data;
    });
    Close(link);
}
BENCHMARK(BM_Mpsse_FlashProgramAndReadBack)->Unit(benchmark::kMillisecond)->Iterations(1);

// Line accesses per JTAG clock of a peek through the GPIO cable.
void BM_Gpio_AccessesPerClock(benchmark::State& state) {
    CTargetLink link;
    port::IPortDriver* driver = OpenLink(link, "gpiod-sim", state);
    if (driver == nullptr) return;
    auto& system =
        *static_cast<port::SimGpioSystem*>(static_cast<port::GpioDriver*>(driver)->system());
    std::vector<uint8_t> data(4096);
    const uint64_t a0 = system.chip().Accesses(), c0 = system.board().Clocks();
    for (auto _ : state)
        if (!link.ReadMemory(0xC0000000, 4096, data.data())) state.SkipWithError("peek failed");
    state.counters["accesses/clock"] = static_cast<double>(system.chip().Accesses() - a0) /
                                       static_cast<double>(system.board().Clocks() - c0);
    Close(link);
}
BENCHMARK(BM_Gpio_AccessesPerClock)->Unit(benchmark::kMillisecond);

}  // namespace
