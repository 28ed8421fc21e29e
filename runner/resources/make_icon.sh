#!/bin/sh
# Draws the launcher's icon (one 32x32 image: a dark tile with an amber tide
# line and a light "T") and writes app_icon.ico beside this script.
# Needs ImageMagick; the .ico is committed so that builds do not.
set -e
here=$(cd "$(dirname "$0")" && pwd)
convert -size 32x32 xc:none \
  -fill '#150E10' -draw 'roundrectangle 0,0 31,31 6,6' \
  -fill '#FFB329' -draw 'polygon 3,23 9,19 15,23 21,19 28,23 28,27 21,23 15,27 9,23 3,27' \
  -fill '#FFEDC6' -draw 'rectangle 8,5 23,8' -draw 'rectangle 14,8 17,18' \
  -define icon:auto-resize=32 \
  "$here/app_icon.ico"
