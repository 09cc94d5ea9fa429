#!/bin/sh
# Draws the launcher's skin images into resources/skin with ImageMagick. Run again after a change.
set -eu
out="$(cd "$(dirname "$0")/../.." && pwd)/resources/skin"
mkdir -p "$out"
img() { name=$1; shift; convert "$@" -strip -define png:compression-level=9 "PNG32:$out/$name"; }

ACCENT='#2f7fd0' ; DARK='#1d2733' ; MID='#2c3a4a' ; LIGHT='#e8eef5'

# Main window: a rounded panel with transparent corners (the per-pixel alpha shapes the window).
img main_bg.png -size 600x400 xc:none -fill "$DARK" -draw "roundrectangle 0,0 599,399 18,18" \
    -fill "$MID" -draw "roundrectangle 0,0 599,56 18,18" -fill "$MID" -draw "rectangle 0,30 599,56" \
    -fill "$ACCENT" -draw "rectangle 0,56 599,59"
# Boss-key, plug-in and copying windows share a smaller plain panel.
img panel_bg.png -size 360x200 xc:"$DARK" -fill "$MID" -draw "rectangle 0,0 359,36" \
    -fill "$ACCENT" -draw "rectangle 0,36 359,38"

# Round window buttons: normal, hover, pressed.
btn() { img "$1" -size 24x24 xc:none -fill "$2" -draw "circle 12,12 12,2" -stroke "$LIGHT" -strokewidth 2 -draw "$3"; }
btn close_n.png '#3a4a5c' "line 8,8 16,16 line 16,8 8,16"
btn close_h.png '#d04040' "line 8,8 16,16 line 16,8 8,16"
btn close_p.png '#902828' "line 8,8 16,16 line 16,8 8,16"
btn min_n.png '#3a4a5c' "line 7,13 17,13"
btn min_h.png "$ACCENT" "line 7,13 17,13"
btn min_p.png '#1f5a96' "line 7,13 17,13"

# User buttons (text is drawn by the frame's labels).
ubtn() { img "$1" -size 140x34 xc:none -fill "$2" -draw "roundrectangle 0,0 139,33 6,6"; }
ubtn user_n.png "$ACCENT"
ubtn user_h.png '#4a98e6'
ubtn user_p.png '#1f5a96'

# Progress bar: filled and empty.
img bar_fill.png -size 300x20 gradient:'#5fb0ff'-"$ACCENT"
img bar_back.png -size 300x20 xc:'#3a4a5c'

# Game frame title bar: left end with room for the icon and title, right end, tiled middle.
img title_left.png -size 240x32 gradient:"$MID"-"$DARK"
img title_right.png -size 16x32 gradient:"$MID"-"$DARK"
img title_mid.png -size 8x32 gradient:"$MID"-"$DARK"
img icon.png -size 20x20 xc:none -fill "$ACCENT" -draw "roundrectangle 0,0 19,19 4,4" \
    -stroke "$LIGHT" -strokewidth 2 -draw "line 5,5 10,15 line 10,15 15,5"
img logo.png -size 160x60 xc:none -fill "$ACCENT" -draw "roundrectangle 0,0 159,59 10,10" \
    -fill "$LIGHT" -draw "polygon 30,15 50,45 70,15 62,15 50,33 38,15"

# Title-bar buttons and image menu entries.
tb() { img "$1" -size 32x24 xc:none -fill "$2" -draw "rectangle 0,0 31,23" -stroke "$LIGHT" -strokewidth 2 -draw "$3"; }
for s in n h p; do
    case $s in n) bg="$MID";; h) bg='#3f5268';; p) bg="$DARK";; esac
    tb tb_min_$s.png "$bg" "line 11,15 21,15"
    tb tb_max_$s.png "$bg" "rectangle 11,7 21,16"
    tb tb_restore_$s.png "$bg" "rectangle 13,6 21,13 rectangle 10,10 18,17"
    tb tb_tray_$s.png "$bg" "line 11,9 16,15 line 16,15 21,9"
    if [ $s = h ]; then cbg='#d04040'; else cbg="$bg"; fi
    tb tb_close_$s.png "$cbg" "line 11,7 21,17 line 21,7 11,17"
    img menu_$s.png -size 6x24 xc:"$bg"
done
