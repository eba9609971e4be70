// The command line comes from whoever starts the program. The input, split at NUL bytes, is the
// argument list after the program's name. It is either refused with a reason, or every value it
// gives is one the program can use.

#include "app/commandline.h"

#include "check.h"

#include <QByteArray>
#include <QStringList>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    QStringList arguments{QStringLiteral("diagnostika")};
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    for (const QByteArray& argument : input.split('\0'))
        arguments << QString::fromUtf8(argument);

    QString error;
    const std::optional<diagnostika::CommandLine> line =
        diagnostika::parseArguments(arguments, &error);
    if (!line) {
        FUZZ_CHECK(!error.isEmpty());
        return 0;
    }
    FUZZ_CHECK(line->screenshotAfterMs >= 0);
    FUZZ_CHECK(line->gamePeriodMs == 0 || (line->gamePeriodMs >= 10 && line->gamePeriodMs <= 1000));
    for (const QString& window : line->openWindows)
        FUZZ_CHECK(window == QLatin1String("com") || window == QLatin1String("lpt") ||
                   window == QLatin1String("game"));
    for (const auto& [port, device] : line->backends.comDevices)
        FUZZ_CHECK(port >= 1 && port <= 3);
    for (const auto& [port, device] : line->backends.lptDevices)
        FUZZ_CHECK(port >= 1 && port <= 2);
    return 0;
}
