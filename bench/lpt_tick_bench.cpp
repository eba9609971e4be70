// The parallel-port window's sampling tick: 55 port accesses, one trace segment and one formatted
// value. On the simulated converter it measures the program's own cost; on the ppdev backend it
// counts the system calls a tick makes (one per access is the floor).
//
// The ppdev figures come from a stand-in kernel unless DIAGNOSTIKA_BENCH_PARPORT names a real
// device (e.g. /dev/parport0 inside the rig), in which case the time is the driver's as well.
#include "lpt/converterreader.h"
#include "lpt/form1.h"
#include "platform/linux/ppdevportio.h"
#include "platform/sim/simtlc549.h"
#include "platform/tickclock.h"

#include <QComboBox>
#include <QMdiArea>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <memory>

namespace diagnostika {
namespace {

// Counts accesses on their way to the real service.
class CountingPortIo final : public PortIo {
public:
    explicit CountingPortIo(PortIo& next) : next_(next) {}
    std::uint8_t read(std::uint16_t address) override
    {
        ++accesses;
        return next_.read(address);
    }
    void write(std::uint16_t address, std::uint8_t value) override
    {
        ++accesses;
        next_.write(address, value);
    }
    void release() override { next_.release(); }
    std::uint64_t accesses = 0;

private:
    PortIo& next_;
};

// A kernel that accepts every ppdev request at once: what is left is the backend's own work.
class StandInKernel final : public linux_sys::Syscalls {
public:
    int open(const char*, int) override { return 3; }
    int close(int) override { return 0; }
    int ioctl(int, unsigned long request, void* argument) override
    {
        if (ppRequestOf(request) == PpRequest::ReadStatus)
            *static_cast<unsigned char*>(argument) = 0xD8;
        return 0;
    }
    bool readText(const std::string&, std::string&) override { return false; }
    bool listFolder(const std::string&, std::vector<std::string>&) override { return false; }
};

struct OpenForm1 {
    explicit OpenForm1(PortIo& io) : form(io)
    {
        area.resize(520, 300);
        form.show(&area);
        pick("port", QStringLiteral("LPT1"));
        pick("volba", QStringLiteral("TeplotaD"));
    }
    ~OpenForm1() { form.close(); }
    void pick(const char* list, const QString& entry)
    {
        auto* combo = form.client()->findChild<QComboBox*>(QString::fromLatin1(list));
        const int index = combo->findText(entry);
        combo->setCurrentIndex(index);
        Q_EMIT combo->activated(index);
    }
    QMdiArea area;
    Form1 form;
};

void BM_Form1Tick_Simulated(benchmark::State& state)
{
    MonotonicClock clock;
    SimulatedPortIo sim({888, 956}, SimulatedPortIo::driftingInputs(clock));
    CountingPortIo io(sim);
    OpenForm1 window(io);
    for (auto _ : state)
        window.form.Timer1_Timer();
    state.counters["accesses/tick"] = benchmark::Counter(static_cast<double>(io.accesses) /
                                                         static_cast<double>(state.iterations()));
    state.counters["ticks/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Form1Tick_Simulated);

void BM_ConverterRead_Simulated(benchmark::State& state)
{
    SimulatedPortIo sim({888}, [](std::uint16_t) { return 2.5; });
    ConverterReader reader;
    for (auto _ : state) {
        reader.citanieprevodnika(sim, u"LPT1");
        benchmark::DoNotOptimize(reader.napatievstupu);
    }
}
BENCHMARK(BM_ConverterRead_Simulated);

void BM_Form1Tick_Ppdev(benchmark::State& state)
{
    const char* device = std::getenv("DIAGNOSTIKA_BENCH_PARPORT");
    StandInKernel standIn;
    linux_sys::CountingSyscalls calls(device ? linux_sys::systemCalls() : standIn);
    PpdevPortIo io({{1, QString::fromLocal8Bit(device ? device : "/dev/parport0")}}, calls);
    OpenForm1 window(io);
    window.form.Timer1_Timer(); // the first tick opens and claims
    if (!window.form.portProblem().isEmpty()) {
        state.SkipWithError(window.form.portProblem().toStdString().c_str());
        return;
    }
    calls.reset();
    for (auto _ : state)
        window.form.Timer1_Timer();
    const auto perTick = [&](std::uint64_t n) {
        return benchmark::Counter(static_cast<double>(n) / static_cast<double>(state.iterations()));
    };
    state.counters["syscalls/tick"] = perTick(calls.total());
    state.counters["ioctls/tick"] = perTick(calls.ioctls);
    state.SetLabel(device ? device : "stand-in kernel");
}
BENCHMARK(BM_Form1Tick_Ppdev);

} // namespace
} // namespace diagnostika
