#!/bin/sh
# Inside the rig's guest: the SDL joystick backend against uinput + evdev.
set -e
build=$1
modprobe -a uinput evdev
# The group Debian gives event devices; a machine without udev may lack it (the guest's root is
# a throw-away layer).
getent group input >/dev/null || groupadd --system input
# No udev daemon runs in the guest: let SDL watch /dev/input itself.
export SDL_JOYSTICK_DISABLE_UDEV=1 QT_QPA_PLATFORM=offscreen
exec "$build/tests/rig/rig_joystick_test"
