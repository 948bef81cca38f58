#!/bin/sh
# Draws the about box logo (370 x 189, 24 bits per pixel): a navy field with a faint grid, a sensor
# response trace, the name, and a light panel behind the title and version labels.
set -e
cd "$(dirname "$0")"
points=$(python3 -c '
import math
pts = []
for x in range(12, 359, 3):
    t = (x - 12) / 346.0
    if t < 0.22: y = 0.0
    elif t < 0.55: y = 1 - math.exp(-(t - 0.22) / 0.07)
    else: y = (1 - math.exp(-0.33 / 0.07)) * math.exp(-(t - 0.55) / 0.09)
    y += 0.03 * math.sin(x * 0.9) + 0.015 * math.sin(x * 2.3)
    pts.append("%d,%.1f" % (x, 84 - 40 * y))
print(" ".join("line %s %s" % (a, b) for a, b in zip(pts, pts[1:])))')
grid=""
for x in 40 80 120 160 200 240 280 320; do grid="$grid line $x,40 $x,86"; done
for y in 46 62 78; do grid="$grid line 12,$y 358,$y"; done
convert -size 370x189 gradient:'#0a1a5c-#000a2e' \
  -fill none -stroke '#22397d' -strokewidth 1 -draw "$grid" \
  -fill none -stroke '#3fd0ff' -strokewidth 2.5 -draw "$points" \
  -stroke none -fill white -font DejaVu-Sans-Bold-Oblique -pointsize 26 -annotate +14+32 'Velmora' \
  -fill '#9fb4e8' -font DejaVu-Sans -pointsize 11 -annotate +150+31 'gas sensor data logging' \
  -fill '#e6ecf8' -stroke '#8ea3d6' -strokewidth 1 -draw 'roundrectangle 124,90 365,186 6,6' \
  -type TrueColor -define png:color-type=2 PNG24:logo.png
