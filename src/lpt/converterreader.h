#pragma once
// The window's converter reader is the platform's TLC549 read sequence, shared with the continuous
// vibration reader.

#include "platform/converterreader.h"
