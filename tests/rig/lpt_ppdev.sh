#!/bin/sh
# The ppdev backend and the parallel-port window on the kernel's parport_pc and ppdev drivers.
# Runs inside the rig's guest as root; $1 is the build folder.
set -eu
build=$1
modprobe -a parport_pc ppdev
test -c /dev/parport0
export QT_QPA_PLATFORM=offscreen
mkdir -p -m 0700 /tmp/rig-runtime
XDG_RUNTIME_DIR=/tmp/rig-runtime \
  "$build/tests/platform/platform_ppdev_rig_test" --gtest_brief=1 --gtest_filter='-PpdevRigUnprivileged.*'
# The device belongs to the group lp, as on Debian: a user outside it is told to join it.
chgrp lp /dev/parport0
chmod 0660 /dev/parport0
RIG_UNPRIVILEGED=1 setpriv --reuid=65534 --regid=65534 --clear-groups \
  "$build/tests/platform/platform_ppdev_rig_test" --gtest_brief=1 --gtest_filter='PpdevRigUnprivileged.*'
