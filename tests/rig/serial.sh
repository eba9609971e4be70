#!/bin/sh
# Inside the rig's guest: the serial backend on an 8250 UART, then on a cdc-acm adapter, ending with
# the adapter's unplugging. $1 is the build folder.
build=${1:?build folder}
bin=$build/tests/rig/serial_rig_test
status=0
"$bin" --gtest_filter='Uart8250.*' || status=1
rig-acm up >/dev/null || { echo "serial.sh: no cdc-acm adapter" >&2; exit 1; }
"$bin" --gtest_filter='CdcAcm.*' || status=1
"$bin" --gtest_filter='CdcAcmUnplug.*' || status=1
exit $status
