#include "port/PortOffers.h"

#include <cstdio>
#include <cstring>

#include "port/FtdiDriver.h"
#include "port/GpioDriver.h"

namespace port {

namespace {

constexpr const char* kPiWiring = ",tck=11,tms=25,tdi=10,tdo=9,trst=7,srst=24";

std::string NameOf(const std::string& spec) {
    return spec.substr(0, spec.find_first_of(":,@"));
}
std::string ArgsOf(const std::string& spec) {
    const size_t from = spec.find_first_of(":,@");
    return from == std::string::npos ? std::string() : spec.substr(from, spec.find('@') - from);
}

class AbsentDriver final : public IPortDriver {
  public:
    explicit AbsentDriver(std::string why) : why_(std::move(why)) {}
    const char* Name() const override { return "absent"; }
    std::unique_ptr<IPortDevice> OpenDevice() override { return nullptr; }
    IServiceControl* Services() override { return nullptr; }
    std::string LastErrorText() const override { return why_; }

  private:
    std::string why_;
};

}  // namespace

bool IsParallelBackend(const std::string& name) {
    return name == "ppdev" || name == "direct" || name == "porttalk";
}

std::vector<PortOffer> FindMachinePorts(IPortDriver* given, const std::string& givenSpec,
                                        const std::string& saved) {
    const std::string givenName = given != nullptr ? given->Name() : "";
    // On an emulator only its own devices are there, so a run on it never reaches real ones.
    const bool emulated =
        givenName.size() >= 3 && givenName.compare(givenName.size() - 3, 3, "sim") == 0;
    const size_t at = givenSpec.find('@');
    const std::string groups = at == std::string::npos ? std::string() : givenSpec.substr(at);
    const std::string savedName = NameOf(saved), savedArgs = ArgsOf(saved);
    std::vector<PortOffer> offers;

    std::unique_ptr<IUsbBus> ownBus;
    IUsbBus* bus = nullptr;
    if (!emulated) {
        std::string why;
        ownBus = OpenLibUsbBus(why);
        bus = ownBus.get();
    } else if (givenName == "ftdi-sim") {
        bus = static_cast<FtdiDriver*>(given)->bus();
    }
    FtdiSpec savedFtdi;
    std::string ignored;
    const bool savedIsFtdi = savedName == "ftdi" && ParseFtdiSpec(savedArgs, savedFtdi, ignored);
    for (const FoundFtdi& f : bus != nullptr ? FindFtdiAdapters(*bus) : std::vector<FoundFtdi>{}) {
        char id[16];
        std::snprintf(id, sizeof id, "%04x:%04x", f.vid, f.pid);
        std::string args = std::string(":") + id + (f.serial.empty() ? "" : ",serial=" + f.serial);
        char channel = 'A';
        if (savedIsFtdi && savedFtdi.vid == f.vid && savedFtdi.pid == f.pid &&
            savedFtdi.serial == f.serial) {
            args = savedArgs;
            channel = static_cast<char>('A' + savedFtdi.channel);
        }
        std::string label = std::string(f.chip) + " " + id;
        if (!f.serial.empty()) label += " " + f.serial;
        label += ' ';
        label += channel;
        offers.push_back({label, "ftdi" + args, (emulated ? "ftdi-sim" : "ftdi") + args + groups});
    }

    std::unique_ptr<IGpioSystem> ownGpio;
    IGpioSystem* gpio = nullptr;
    if (!emulated) {
        std::string why;
        ownGpio = OpenLibGpiod(why);
        gpio = ownGpio.get();
    } else if (givenName == "gpiod-sim") {
        gpio = static_cast<GpioDriver*>(given)->system();
    }
    GpioSpec savedGpio;
    const bool savedIsGpio = savedName == "gpiod" && ParseGpioSpec(savedArgs, savedGpio, ignored);
    for (const std::string& chip : gpio != nullptr ? gpio->Chips() : std::vector<std::string>{}) {
        const bool own = savedIsGpio && savedGpio.chip == chip;
        std::string args = ":" + chip, label = chip;
        if (own) {
            args = savedArgs;
            label += ' ';
            label += savedArgs.substr(savedArgs.find(',') + 1);
        } else {
            args += kPiWiring;
            label += " (Raspberry Pi wiring)";
        }
        offers.push_back(
            {label, "gpiod" + args, (emulated ? "gpiod-sim" : "gpiod") + args + groups});
    }
    return offers;
}

std::unique_ptr<IPortDriver> AbsentPortDriver(std::string why) {
    return std::make_unique<AbsentDriver>(std::move(why));
}

}  // namespace port
