#!/bin/sh
# The order window inside the rig's guest, as root: the shaft's pulses on the cdc-acm adapter's DCD,
# tones at known orders of them on the loopback sound card. $1 is the build folder.
set -eu
build=$1
export QT_QPA_PLATFORM=offscreen
mkdir -p -m 0700 /tmp/rig-runtime
export XDG_RUNTIME_DIR=/tmp/rig-runtime
modprobe snd-aloop
test -d /proc/asound/Loopback
rig-acm up >/dev/null
"$build/tests/rig/orders_rig_test" --gtest_brief=1
