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
        // A row per frame of the shaft's turning: its speed, and each tracked order (as many as
        // the window tracks at most) with its amplitude and phase.
        {QLatin1StringView("ord"),
         {{{"otacky", "min^-1"},
           {"rad1", ""},
           {"a1", "m/s^2"},
           {"faza1", "°"},
           {"rad2", ""},
           {"a2", "m/s^2"},
           {"faza2", "°"},
           {"rad3", ""},
           {"a3", "m/s^2"},
           {"faza3", "°"},
           {"rad4", ""},
           {"a4", "m/s^2"},
           {"faza4", "°"},
           {"rad5", ""},
           {"a5", "m/s^2"},
           {"faza5", "°"},
           {"rad6", ""},
           {"a6", "m/s^2"},
           {"faza6", "°"}},
          false}},
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
