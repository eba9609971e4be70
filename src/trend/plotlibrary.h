#pragma once
// QCustomPlot's header, included where the project's Qt keyword switch is on: the header spells
// signals, slots, emit and foreach as plain words.

#define signals Q_SIGNALS
#define slots Q_SLOTS
#define emit Q_EMIT
#define foreach Q_FOREACH
#include <qcustomplot.h>
#undef signals
#undef slots
#undef emit
#undef foreach
