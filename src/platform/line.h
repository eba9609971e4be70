#pragma once
// The handshake lines the sensors switch, and their one name table. Everything that says which
// line it means (the edge bookkeeping, the backends, the serial window's lists, the recording's
// edge file, the windows that follow the speed input) says it with `Line`. The event codes a line's
// change gives the serial window's handler (3, 4, 5) are that handler's own and are kept beside
// the edge they come with.

#include <QStringView>
#include <array>
#include <optional>

namespace diagnostika {

// In the order the edges of one reading are interleaved.
enum class Line : unsigned char { CTS, DSR, CD };
inline constexpr int lineCount = 3;
inline constexpr std::array<Line, lineCount> allLines{Line::CTS, Line::DSR, Line::CD};

constexpr int index(Line line)
{
    return static_cast<int>(line);
}

// "CTS", "DSR", "CD": as the port's pins are named and the serial window's lists write them.
constexpr const char* lineName(Line line)
{
    constexpr const char* names[lineCount] = {"CTS", "DSR", "CD"};
    return names[index(line)];
}
// The line a text names: an exact, case-sensitive match of one of the names, else nothing.
std::optional<Line> lineOfName(QStringView name);

} // namespace diagnostika
