#!/bin/sh
# Inside the rig's guest: the serial backend on an 8250 UART, then on a cdc-acm adapter, ending with
# the adapter's unplugging. $1 is the build folder.
build=${1:?build folder}
bin=$build/tests/rig/serial_rig_test
status=0
"$bin" --gtest_filter='Uart8250.*' || status=1
# A port the user's groups may not open: the reason names its group and the command to join it.
chgrp dialout /dev/ttyS2 && chmod 0660 /dev/ttyS2
reason=$(setpriv --reuid=65534 --regid=65534 --clear-groups "$bin" --try-open /dev/ttyS2 2>&1)
case $reason in
  *'/dev/ttyS2: prístup odmietnutý; zariadenie smie otvoriť skupina dialout: pridajte používateľa do skupiny dialout: sudo usermod -aG dialout $USER, potom sa odhláste a prihláste')
    echo "serial.sh: as nobody, $reason" ;;
  *) echo "serial.sh: no permission advice for /dev/ttyS2: $reason" >&2; status=1 ;;
esac
rig-acm up >/dev/null || { echo "serial.sh: no cdc-acm adapter" >&2; exit 1; }
"$bin" --gtest_filter='CdcAcm.*' || status=1
"$bin" --gtest_filter='CdcAcmUnplug.*' || status=1
exit $status
