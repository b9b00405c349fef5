#!/bin/sh
# Runs a Windows program under Wine for the end-to-end cases, on the server
# of the day and locale the caller's FAKETIME and LC_ALL give: a fresh one,
# faked alike, when they change, its services started away from the
# caller's output; LC_ALL's locale is made when the system lacks it.
# Usage: wine_run.sh WINE PROGRAM [ARGUMENT...]
wine=$1
shift
if [ -n "$LC_ALL" ]; then
  export LOCPATH="$WINEPREFIX/locales"
  [ -d "$LOCPATH/$LC_ALL" ] || { mkdir -p "$LOCPATH" &&
    localedef -i "${LC_ALL%%.*}" -f UTF-8 "$LOCPATH/$LC_ALL" >/dev/null 2>&1; }
fi
day="$WINEPREFIX/dravelkent-day"
if [ "$(cat "$day" 2>/dev/null)" != "$FAKETIME $LC_ALL $DISPLAY" ]; then
  wineserver -k 2>/dev/null
  wineserver -w
  wineserver -p10 </dev/null >/dev/null 2>&1 &
  "$wine" cmd /c exit </dev/null >/dev/null 2>&1
  echo "$FAKETIME $LC_ALL $DISPLAY" >"$day"
fi
wineserver -p10 </dev/null >/dev/null 2>&1 &
exec "$wine" "$@"
