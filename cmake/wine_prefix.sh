#!/bin/sh
# Makes the Wine prefix $WINEPREFIX for the Windows tests, with the share
# \\localhost\c$ (its drive C:) that Windows gives administrators and
# the dialogs' fonts mapped to Debian's IPA Gothic (Wine draws Japanese only
# with a font it can find), and leaves its server running a while, its
# services away from the tests' output (the end-to-end cases start one of
# their own for each day).
# Usage: wine_prefix.sh WINE
set -e
"$1" wineboot --init
mkdir -p "$WINEPREFIX/dosdevices/unc/localhost"
ln -sfn ../../../drive_c "$WINEPREFIX/dosdevices/unc/localhost/c\$"
key='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes'
for font in "ＭＳ Ｐゴシック" "MS PGothic" "MS Shell Dlg" "MS UI Gothic"; do
  LC_ALL=C.UTF-8 "$1" reg add "$key" /v "$font" /d IPAPGothic /f >/dev/null
done
rm -f "$WINEPREFIX/dravelkent-day"
wineserver -k || true
wineserver -w
wineserver -p10 </dev/null >/dev/null 2>&1 &
"$1" cmd /c exit </dev/null >/dev/null 2>&1
