#include "windowfiles.h"

#include <QLatin1StringView>
#include <utility>

namespace diagnostika::record {

const WindowFiles* windowFiles(QStringView source)
{
    // Each list names the values the window's feed publishes; the recorder tests compare them
    // with the windows' readings.
    static const std::pair<QLatin1StringView, WindowFiles> windows[] = {
        {QLatin1StringView("com"),
         {{{"otacky", "min^-1"},
           {"rychlost", "m/s"},
           {"zrychlenie", "m/s^2"},
           {"priemer", "min^-1"},
           {"posuv", "m"},
           {"zrych", "m/s^2"},
           {"pootocenie", "°"},
           {"trvanie", "ms"},
           {"f", "Hz"},
           {"impulzycts", ""},
           {"impulzydsr", ""},
           {"impulzycd", ""},
           {"obdobie", "ms"},
           {"celeobdobie", ""}},
          true}},
        {QLatin1StringView("lpt"),
         {{{"kod1", ""},
           {"kod2", ""},
           {"napatievstupu", "V"},
           {"velicina", ""},
           {"hodnota", ""},
           {"jednotka", ""}},
          false}},
        {QLatin1StringView("game"), {{{"x", ""}, {"y", ""}, {"z", ""}, {"tlacidla", ""}}, false}},
        {QLatin1StringView("vib"),
         {{{"arms", "m/s^2"},
           {"apeak", "m/s^2"},
           {"crest", ""},
           {"vrms", "mm/s"},
           {"zona", ""},
           {"stratene", ""}},
          false,
          true}},
        {QLatin1StringView("trend"),
         {{{"otacky", "min^-1"}, {"minimum", "min^-1"}, {"maximum", "min^-1"}}, false}},
    };
    for (const auto& [name, files] : windows) {
        if (source == name)
            return &files;
    }
    return nullptr;
}

} // namespace diagnostika::record
