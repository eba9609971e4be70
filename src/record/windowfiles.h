#pragma once
// What each window's recording files hold, known before the window's first reading: its files are
// made whole at the start of its recording (the readings' header row, the edge file, the
// metadata's list of files), so that a recording cut short, or a program killed, still leaves
// files that say what they are. A window not listed gets its header from its first reading and its
// edge file at its first edge.

#include <QStringView>
#include <vector>

namespace diagnostika::record {

struct Column {
    const char* name; // the reading's value name
    const char* unit; // "" for a count or a text
};

struct WindowFiles {
    // The readings' columns after time, date and event, in file order. A reading fills each
    // column from its value of the same name; a value it lacks leaves the cell empty.
    std::vector<Column> columns;
    bool edges = false; // the window publishes edges
    // The window publishes raw samples (into WAV files) and spectra (into a CSV made at once).
    bool samples = false;
};

// Null for a window not listed.
const WindowFiles* windowFiles(QStringView source);

} // namespace diagnostika::record
