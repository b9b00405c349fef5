#!/bin/sh
# Runs COMMAND with DISPLAY set to a private Xvfb whose windows openbox
# manages (and activates, for the keyboard) with no key bindings of its own
# (Alt+Space opens the program's system menu), and ends both afterwards.
# Usage: wine_display.sh COMMAND [ARGUMENT...]
number=$(mktemp)
Xvfb -displayfd 3 -nolisten tcp -screen 0 640x480x24 3>"$number" 2>/dev/null &
xvfb=$!
while [ ! -s "$number" ] && kill -0 $xvfb 2>/dev/null; do sleep 0.05; done
export DISPLAY=":$(cat "$number")"
rm -f "$number"
rc=$(mktemp)
echo '<openbox_config xmlns="http://openbox.org/3.4/rc"><keyboard/></openbox_config>' >"$rc"
openbox --config-file "$rc" >/dev/null 2>&1 &
wm=$!
until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"
do
  kill -0 $wm 2>/dev/null || break
  sleep 0.05
done
"$@"
status=$?
kill $wm $xvfb
wait
rm -f "$rc"
exit $status
