#!/bin/sh
# programs.sh RUNNER PREFIX ORVEXUPDATE QENSETUP WORKDIR: runs both programs
# under Wine from a working directory of their own and checks where their logs
# land and how they begin and end.
runner=$1 prefix=$2 updater=$3 setup=$4 work=$5
rm -rf "$work" && mkdir -p "$work/run" "$work/bin" || exit 1
cp "$setup" "$work/bin/QenSetup.exe"
status=0
cr=$(printf '\r')
check() {  # check LOG FIRST-TEXT
  log=$1 first=$2
  if [ ! -s "$log" ]; then echo "$log: missing"; status=1; return; fi
  head -n 1 "$log" | grep -qF " $first$cr" || { echo "$log: first line is not the banner"; status=1; }
  tail -n 2 "$log" | head -n 1 | grep -q "^[0-9-]* [0-9:]* Exiting$cr\$" || { echo "$log: no Exiting line"; status=1; }
  [ "$(tail -n 1 "$log")" = "$(printf '%077d\r' 0 | tr 0 '*')" ] || { echo "$log: last line is not 77 asterisks"; status=1; }
  echo "$log: $(wc -l < "$log") lines"
}
cd "$work/run" || exit 1
"$runner" "$prefix" "$updater" -autoanswer 2>/dev/null; rc=$?
[ $rc -eq 77 ] && exit 77
[ $rc -eq 0 ] || { echo "OrvexUpdate.exe exited with $rc"; status=1; }
check "$work/run/OrvexUpdate.log" "OrvexUpdate Built: Dec 21 2017 14:34:42"
grep -q 'Unable to locate an Orvex!' "$work/run/OrvexUpdate.log" || { echo "no discovery outcome in the log"; status=1; }
# Without "SILENT" the installer waits for a person at its dialog.
"$runner" "$prefix" "$work/bin/QenSetup.exe" SILENT 2>/dev/null || { echo "QenSetup.exe failed"; status=1; }
[ -e "$work/run/QenSetup.log" ] && { echo "QenSetup.log written to the working directory"; status=1; }
check "$work/bin/QenSetup.log" "Pelk Driver Install Built: Nov 22 2019 12:59:24 Version 2.00 Build 24b"
exit $status
