#include "line.h"

#include <QString>

namespace diagnostika {

std::optional<Line> lineOfName(QStringView name)
{
    for (const Line line : allLines) {
        if (name == QLatin1StringView(lineName(line)))
            return line;
    }
    return std::nullopt;
}

} // namespace diagnostika
