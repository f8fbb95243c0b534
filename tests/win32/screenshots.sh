#!/bin/sh
# screenshots.sh RUNNER PREFIX EXE OUTDIR: runs the screenshot program under
# Wine, turns its captures into PNG files and fails on a missing or blank one.
runner=$1 prefix=$2 exe=$3 out=$4
mkdir -p "$out" && cd "$out" && rm -f ./*.bmp ./*.png
"$runner" "$prefix" "$exe"
rc=$?
[ $rc -eq 77 ] && exit 77
status=$rc
# ImageMagick's own convert, whatever else is on the PATH under that name.
convert=/usr/bin/convert
[ -x "$convert" ] || convert=convert
for name in main-ready main-programming main-done about; do
  if [ ! -s "$name.bmp" ]; then echo "$name: not captured"; status=1; continue; fi
  "$convert" "$name.bmp" "$name.png" || { status=1; continue; }
  sd=$(identify -format '%[fx:standard_deviation]' "$name.png")
  echo "$out/$name.png standard deviation $sd"
  awk -v s="$sd" 'BEGIN { exit !(s > 0.01) }' || { echo "$name: blank"; status=1; }
done
exit $status
