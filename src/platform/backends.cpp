#include "backends.h"

#include "alsa/alsavibrationinput.h"
#include "combinedvibration.h"
#include "linux/linuxseriallines.h"
#include "linux/lptvibrationinput.h"
#include "linux/ppdevportio.h"
#include "sdl/sdljoystick.h"
#include "sim/simjoystick.h"
#include "sim/simseriallines.h"
#include "sim/simtlc549.h"
#include "sim/simvibration.h"

namespace diagnostika {

Backends makeBackends(const BackendOptions& options)
{
    Backends b;
    b.simulated = options.simulate;
    b.clock = std::make_unique<MonotonicClock>();
    b.portClaims = std::make_shared<PortClaims>();
    // The window and each vibration input get port I/O of their own: a converter reader thread
    // never shares one with the UI thread. The claims keep them off the same port.
    PortIoFactory portIo;
    std::shared_ptr<VibrationInputProvider> sound;
    if (options.simulate) {
        b.joystick = std::make_unique<SimulatedJoystick>(*b.clock);
        b.serial = std::make_unique<SimulatedSerialLinesProvider>(*b.clock);
        portIo = [&clock = *b.clock]() -> std::unique_ptr<PortIo> {
            return std::make_unique<SimulatedPortIo>(
                std::initializer_list<std::uint16_t>{lpt1Address, lpt2Address},
                SimulatedPortIo::driftingInputs(clock));
        };
        sound = std::make_shared<SimulatedVibrationInputProvider>(*b.clock);
    } else {
        b.joystick = std::make_unique<SdlJoystick>();
        LinuxSerialOptions serial;
        serial.comDevices = options.comDevices;
        b.serial = std::make_unique<LinuxSerialLinesProvider>(*b.clock, std::move(serial));
        portIo = [devices = options.lptDevices]() -> std::unique_ptr<PortIo> {
            return std::make_unique<PpdevPortIo>(devices);
        };
        sound = std::make_shared<AlsaVibrationInputProvider>();
    }
    b.portIo = std::make_unique<ClaimedPortIo>(portIo(), b.portClaims, lptWindowHolder);
    std::vector<VibrationProviderPart> parts;
    parts.push_back(VibrationProviderPart{QString(), std::move(sound)});
    parts.push_back(VibrationProviderPart{
        QStringLiteral("lpt:"), std::make_shared<LptVibrationInputProvider>(portIo, b.portClaims)});
    b.vibration = std::make_unique<CombinedVibrationInputProvider>(std::move(parts));
    return b;
}

} // namespace diagnostika
