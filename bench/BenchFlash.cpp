// Programming 1 MiB into the virtual board's flash and reading it back, through the whole
// host stack: wall time, clocks and port requests per byte, and the projection onto a real
// parallel port at 1 us per port access.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "bench/CountingDriver.h"
#include "flash/FlashChip.h"
#include "flash/TrapImage.h"
#include "link/TargetLink.h"
#include "port/PortTalk.h"

namespace {

using bench::CountingSimDriver;

constexpr uint32_t kFlashBase = 0x7FF00000;
constexpr uint32_t kFlashSize = 0x100000;

std::string HandlerPath(const char* name) {
    return std::string(TAPWRIGHT_SOURCE_DIR) + "/TrapHandlers/" + name;
}

// The words the FLASH page prepares for a word-mode AMD chip on a 16-bit bus, straight wiring.
FlashCommandSet AmdWordMode16() {
    FlashChip chip;
    chip.m_nBusWidth = 16;
    chip.m_nWordMode = 1;
    PrepareIdCommands(chip, kStraightWiring);
    PrepareChipCommands(chip, kStraightWiring);
    return chip.m_commands;
}

void BM_Flash1MiB_ProgramAndReadBack(benchmark::State& state) {
    SetLinkSleepFunction([](uint32_t) {});
    auto driver = std::make_unique<CountingSimDriver>();
    CountingSimDriver* counting = driver.get();
    port::SelectPortDriver(std::move(driver));
    CTargetLink link;
    link.m_nPort = 0x378;
    link.Open(nullptr);
    link.m_nTrapBase = 0x80000A00;
    link.m_nParamBlock = 0x80000F00;
    link.m_nBufferAddr = 0x80000200;
    link.m_nBufferSize = 0x800;
    static const uint32_t emi[16] = {};
    link.m_pEmiConfig = emi;

    std::vector<uint8_t> image;
    std::string error;
    const FlashCommandSet commands = AmdWordMode16();
    bool ready = BuildTrapImage({HandlerPath("TrapHandler.bin"), HandlerPath("Flash0Bus16.bin")},
                                image, error) &&
                 link.BeginSession() &&
                 link.LoadTrapHandler(image.data(), static_cast<uint32_t>(image.size()), 0,
                                      TargetProgram::Flash(0, 16));
    link.EndSession();
    ready = ready && link.SetFlashParameters(16, kFlashSize, 0, 1, 1, commands) &&
            link.EraseFlash(kFlashBase);
    if (!ready) {
        state.SkipWithError("trap handler or erase failed");
        return;
    }

    std::vector<uint8_t> data(kFlashSize), back(kFlashSize);
    for (uint32_t i = 0; i < kFlashSize; ++i) data[i] = static_cast<uint8_t>((i * 131) >> 3);
    uint64_t requests = 0;
    double programSeconds = 0, readSeconds = 0;
    for (auto _ : state) {
        // Programming only clears bits: erase between rounds, outside the measurement.
        state.PauseTiming();
        link.EraseFlash(kFlashBase);
        const uint64_t before = counting->device->requests;
        state.ResumeTiming();
        const auto t0 = std::chrono::steady_clock::now();
        const bool programmed = link.ProgramFlash(kFlashBase, kFlashSize, data.data());
        const auto t1 = std::chrono::steady_clock::now();
        const bool read = link.ReadMemory(kFlashBase, kFlashSize, back.data());
        const auto t2 = std::chrono::steady_clock::now();
        requests += counting->device->requests - before;
        programSeconds += std::chrono::duration<double>(t1 - t0).count();
        readSeconds += std::chrono::duration<double>(t2 - t1).count();
        if (!programmed || !read || back != data) {
            state.SkipWithError("flash contents differ after programming");
            break;
        }
    }
    const double rounds = static_cast<double>(state.iterations());
    const double perByte = static_cast<double>(requests) / rounds / (2.0 * kFlashSize);
    state.counters["program s"] = programSeconds / rounds;
    state.counters["read s"] = readSeconds / rounds;
    state.counters["requests/byte"] = perByte;
    state.counters["clocks/byte"] = perByte / 4.0;
    state.counters["s @1us/access"] = static_cast<double>(requests) / rounds * 1e-6;
    link.Close();
    port::SelectPortDriver(nullptr);
}
BENCHMARK(BM_Flash1MiB_ProgramAndReadBack)->Unit(benchmark::kSecond)->Iterations(1);

}  // namespace
