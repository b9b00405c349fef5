#!/bin/sh
# Makes the Wine prefix $WINEPREFIX for the Windows unit tests, with the
# share \\localhost\c$ (its drive C:) that Windows gives administrators.
# Usage: wine_prefix.sh WINE
set -e
"$1" wineboot --init
mkdir -p "$WINEPREFIX/dosdevices/unc/localhost"
ln -sfn ../../../drive_c "$WINEPREFIX/dosdevices/unc/localhost/c\$"
wineserver --wait
