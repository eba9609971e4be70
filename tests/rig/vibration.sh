#!/bin/sh
# The ALSA vibration input on the kernel's loopback sound card, inside the rig's guest as root;
# $1 is the build folder.
set -eu
build=$1
modprobe snd-aloop
test -d /proc/asound/Loopback
"$build/tests/rig/vibration_rig_test" --gtest_brief=1
