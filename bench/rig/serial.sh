#!/bin/sh
# Inside the rig's guest (tests/rig/guest/run bench/rig/serial.sh BUILD): the serial benchmarks on
# real drivers. Our capture's timing floor on the cdc-acm adapter, whether the 8250's loopback moves
# its lines, then the same pulse trains counted by our capture and by Qt's QSerialPort polled every
# millisecond (one after the other: each holds the port for its run), against the driver's count.
build=${1:?build folder}
bin=$build/bench/rig
rig-acm up >/dev/null || { echo "serial.sh: no cdc-acm adapter" >&2; exit 1; }
"$bin/serial_capture_rig" floor /dev/ttyACM0 /dev/ttyGS0 2000
"$bin/serial_capture_rig" loop8250 /dev/ttyS1 20
for width in 5000 2000 1000 500; do
  n=$((2000000 / width)) # two seconds of pulses at each width
  [ $n -le 2000 ] || n=2000
  "$bin/serial_capture_rig" count /dev/ttyACM0 /dev/ttyGS0 $n $width
  if [ -x "$bin/serial_qt_poll_rig" ]; then
    "$bin/serial_qt_poll_rig" /dev/ttyACM0 /dev/ttyGS0 $n $width
  else
    echo "serial.sh: Qt's serial module was not built in: no Qt polling figures"
  fi
done
