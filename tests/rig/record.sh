#!/bin/sh
# Recording on real file systems inside the rig's guest, as root; $1 is the build folder.
# A 256 KiB tmpfs fills up while recording; then, as an ordinary user, the recording folder loses
# its write permission while recording.
set -eu
build=$1
bin=$build/tests/rig/record_rig_test
export QT_QPA_PLATFORM=offscreen
mkdir -p -m 0700 /tmp/rig-runtime
export XDG_RUNTIME_DIR=/tmp/rig-runtime
status=0
mkdir -p /tmp/rig-full
mount -t tmpfs -o size=256k tmpfs /tmp/rig-full
RIG_RECORD_DIR=/tmp/rig-full "$bin" --gtest_brief=1 --gtest_filter='RecordRig.DiskFull' || status=1
umount /tmp/rig-full
mkdir -p /tmp/rig-unwritable
chown 65534:65534 /tmp/rig-unwritable
mkdir -p -m 0777 /tmp/rig-home
RIG_RECORD_DIR=/tmp/rig-unwritable HOME=/tmp/rig-home XDG_RUNTIME_DIR= \
  setpriv --reuid=65534 --regid=65534 --clear-groups \
  "$bin" --gtest_brief=1 --gtest_filter='RecordRig.FolderBecomesUnwritable' || status=1
exit $status
