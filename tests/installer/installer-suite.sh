#!/bin/sh
# installer-suite.sh RUNNER WORK PART ARGS...
#
# The installer under Wine. "prefix" boots one fresh prefix for the suite;
# every case then runs in a copy of it made just before, so no case sees what
# another left behind.
#   prefix    ROBOT
#   inprocess ROBOT DIFX TESTS          the in-process suite, DIFX as the system's framework
#   runs      ROBOT DIFX QENSETUP FILES EXPECTED
#                                       QenSetup.exe as a person runs it, case by case
#                                       (INSTALLER_CASES="win7 dialog" picks cases)
# Everything a case leaves is under WORK/CASE; its prefix only when it failed
# or INSTALLER_KEEP is set.
runner=$1 work=$2 part=$3
shift 3
template=$work/template
status=0

winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
fail() { echo "FAIL: $*"; status=1; }

# fresh NAME: a copy of the booted prefix at $work/NAME/prefix, and an empty run folder.
fresh() {
  case_dir=$work/$1
  rm -rf "$case_dir" && mkdir -p "$case_dir/run" "$case_dir/bin" || exit 1
  cp -a "$template" "$case_dir/prefix" || exit 1
  prefix=$case_dir/prefix
  drive=$prefix/drive_c
}

wine_run() { "$runner" "$prefix" "$@"; }
# A case's prefix (1.3 GB) goes when the case passed; logs, outputs and pictures stay.
# INSTALLER_KEEP=1 keeps every prefix.
tidy() { [ "$1" -eq 0 ] && [ -z "$INSTALLER_KEEP" ] && rm -rf "$prefix"; return 0; }

case $part in
prefix)
  robot=$1
  rm -rf "$template" && mkdir -p "$work"
  start=$(date +%s)
  "$runner" "$template" "$robot" 2>/dev/null
  rc=$?
  [ $rc -eq 77 ] && exit 77
  echo "prefix booted in $(($(date +%s) - start)) s"
  exit $rc ;;

inprocess)
  robot=$1 difx=$2 tests=$3
  fresh inprocess
  wine_run "$robot" use-difx "$(winpath "$difx")" || fail "robot set-up"
  cp "$tests" "$case_dir/bin/" || exit 1
  cd "$case_dir/run" || exit 1
  wine_run "$case_dir/bin/$(basename "$tests")" > "$case_dir/output" 2>&1
  rc=$?
  # Without the silent runs' own banner on the error stream.
  tr -d '\r' < "$case_dir/output" | grep -v -e '^Pelk Silent Installer$' -e '^$'
  [ $status -eq 0 ] || exit 1
  tidy $rc
  exit $rc ;;
esac

[ "$part" = runs ] || { echo "unknown part $part"; exit 2; }
# Screenshots are taken from the X display Wine draws on.
if [ -z "$DISPLAY" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" sh "$0" "$runner" "$work" "$part" "$@"
fi
robot=$1 difx=$2 setup=$3 files=$4 expected=$5

# The messages of a log with what differs between machines taken out.
normalise() {
  tr -d '\r' < "$1" | sed \
    -e 's/^[0-9]\{4\}-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9] //' \
    -e 's/^User Name: .*/User Name: USER/' \
    -e 's/^Computer Name: .*/Computer Name: COMPUTER/' \
    -e 's/^Processor: [0-9]* AMD64 Level [0-9]* Rev [0-9a-f]*$/Processor: N AMD64 Level N Rev NNNN/' \
    -e 's/^Memory: Phys [0-9]* Avail [0-9]* Page [0-9]* Avail [0-9]*$/Memory: Phys N Avail N Page N Avail N/' \
    -e 's/C:\\users\\[^\\]*\\/C:\\users\\USER\\/g' |
  FROM=$(winpath "$case_dir") awk '{ f = ENVIRON["FROM"]
    while ((i = index($0, f)) > 0) $0 = substr($0, 1, i - 1) "CASEDIR" substr($0, i + length(f))
    print }'
}
# expect_log NAME LOG: the run's messages, in order, are the expected ones.
expect_log() {
  normalise "$2" > "$case_dir/$1.log"
  diff -u "$expected/$1.log" "$case_dir/$1.log" > "$case_dir/$1.diff" || { fail "$1: log differs"; cat "$case_dir/$1.diff"; }
}
has() { grep -qF -- "$2" "$1" || fail "$(basename "$1"): no line '$2'"; }
hasnt() { ! grep -qF -- "$2" "$1" || fail "$(basename "$1"): unexpected '$2'"; }

apps_dir() { echo "$drive/Program Files/Corvane"; }
applications="PKBH32.Dll PMixer.exe PMixerOptions.exe PelkDemo.exe PelkMixer.exe PelkTrayVolume.exe QenDriverReleaseNotes.html QenUninstall.exe TaviRemote.exe"
quick_launch='C:\users\'"$(id -un)"'\AppData\Roaming\Microsoft\Internet Explorer\Quick Launch\Pelk Mixer.lnk'

# What every completed installation leaves: the applications where the INF put
# them (and nothing else there), the shortcut, the certificate, no driver directory.
check_installed() {
  out=$1
  listing=$(cd "$(apps_dir)" 2>/dev/null && ls | tr '\n' ' ')
  [ "$listing" = "$applications " ] || fail "applications directory holds: $listing"
  for f in $applications; do
    cmp -s "$(apps_dir)/$f" "$files/common/$f" || fail "$f differs from the packaged file"
  done
  [ -e "$(apps_dir)/Qen Driver" ] && fail "the driver directory is still there"
  has "$out" "LINK target=C:\\Program Files\\Corvane\\PelkMixer.exe description=Software control of the Pelk Audio Device settings"
  has "$out" "CERT $thumbprint C=US, O=\"Corvane, Inc.\", CN=\"Corvane, Inc.\""
  grep -q '"InstallDir"="C:\\\\Program Files\\\\Corvane"' "$prefix/user.reg" || fail "the INF's setting is missing"
}
# ci DIR NAME: the file in DIR whose name is NAME in any letter case (Windows file names).
ci() { find "$1" -maxdepth 1 -iname "$2" | head -n 1; }
# The staged driver package in Wine's driver store, in the form given.
check_store() {
  staged=$(ci "$drive/windows/inf" PelkWDM.inf)
  [ -n "$staged" ] && cmp -s "$staged" "$(ci "$files/$1" PelkWDM.inf)" || fail "driver store: no PelkWDM.inf of the $1 package"
  ls "$drive"/windows/system32/catroot/*/PelkWDM.cat >/dev/null 2>&1 || fail "driver store: no catalog"
}
show() {  # show OUT: what the robot reports about what was left
  wine_run "$robot" show-certs TrustedPublisher + show-link "$quick_launch" >> "$1" 2>/dev/null
}

thumbprint=$(openssl x509 -inform DER -in "$files/common/PelkDriver.cer" -noout -fingerprint -sha1 | sed 's/.*=//; s/://g')
difx_win=$(winpath "$difx")
suite_start=$(date +%s)

# ---- 1. a new user's run: a pristine prefix and nothing but the command ----------
case_plain() {
  fresh plain
  cp "$setup" "$case_dir/bin/QenSetup.exe"
  (cd "$case_dir/run" && wine_run "$case_dir/bin/QenSetup.exe" SILENT > "$case_dir/stdout" 2> "$case_dir/stderr")
  rc=$?
  [ $rc -eq 0 ] || fail "plain: exit code $rc"
  tr -d '\r' < "$case_dir/stderr" | grep -q '^Pelk Silent Installer$' || fail "plain: no silent banner on stderr"
  [ -e "$case_dir/run/QenSetup.log" ] && fail "plain: the log went to the working directory"
  expect_log plain "$case_dir/bin/QenSetup.log"
  show "$case_dir/robot.out"
  check_installed "$case_dir/robot.out"
  echo "plain: done ($(($(date +%s) - suite_start)) s)"

}

# ---- 2. Windows 7 with the framework in place, a card and companions running ----
case_win7() {
  fresh win7
  cp "$setup" "$case_dir/bin/QenSetup.exe"
  card='PCI\VEN_1D5C&DEV_0028&SUBSYS_00011D5C&REV_01\4&2B8E0F7&0&00E0'
  (cd "$case_dir/run" && wine_run "$robot" use-difx "$difx_win" \
     + add-device "$card" 'PCI\VEN_1D5C&DEV_0028&SUBSYS_00011D5C&REV_01' 'PCI bus 3, device 0, function 0' 2 \
     + windows "Pelk Mixer 3.1 - Tarsel-X" "pelk mixer" "Pelk Mixer" "Tavi Remote" "PelkTrayVolume.exe" \
               "Pelk Orvex Remote Control" "Pelk Orvex Remote" "Pelk" \
     + run "$(winpath "$case_dir/bin/QenSetup.exe")" SILENT \
     + show-device "$card" + show-certs TrustedPublisher + show-link "$quick_launch" \
     > "$case_dir/robot.out" 2>/dev/null) || fail "win7: robot"
  cp "$case_dir/bin/QenSetup.log" "$case_dir/first.log"
  expect_log win7 "$case_dir/first.log"
  out=$case_dir/robot.out
  has "$out" "EXIT 0"
  hasnt "$out" "BOX"
  for w in "Pelk Mixer 3.1 - Tarsel-X" "Pelk Mixer" "Tavi Remote" "PelkTrayVolume.exe" "Pelk Orvex Remote Control"; do
    has "$out" "WINDOW [$w] closed"
  done
  for w in "pelk mixer" "Pelk Orvex Remote" "Pelk"; do has "$out" "WINDOW [$w] open"; done
  has "$out" "DEVICE $card MFG=Corvane, Inc. DESC=Pelk Tarsel-X"
  check_installed "$out"
  check_store plain PelkWDM.Inf
  for f in syswow64/PelkWDM.dll system32/PelkQen64.Dll system32/drivers/PelkQen64.sys; do
    installed=$(ci "$drive/windows/$(dirname "$f")" "$(basename "$f")")
    [ -n "$installed" ] && cmp -s "$installed" "$(ci "$files/plain" "$(basename "$f")")" || fail "win7: $f is not the packaged driver file"
  done
  ls "$case_dir/run" | grep -qi difx && fail "win7: a framework library was unpacked"
  # Again: the package is there already.
  (cd "$case_dir/run" && wine_run "$robot" run "$(winpath "$case_dir/bin/QenSetup.exe")" SILENT > "$case_dir/again.out" 2>/dev/null)
  has "$case_dir/again.out" "BOX [Driver Package Install] The driver is already installed."
  has "$case_dir/again.out" "EXIT 0"
  tr -d '\r' < "$case_dir/bin/QenSetup.log" | sed -n '/Exiting$/{n;n;p;q}' | grep -qF 'Pelk Driver Install Built' || fail "win7: the second run does not follow the first one's asterisks"
  normalise "$case_dir/bin/QenSetup.log" > "$case_dir/both.log"
  has "$case_dir/both.log" 'C:\windows\SysWOW64\PelkWDM.dll Installed.  Version 2.0.24.2'
  has "$case_dir/both.log" 'C:\windows\system32\PelkQen64.Dll Installed.  Version 2.0.24.2'
  has "$case_dir/both.log" 'C:\windows\system32\Drivers\PelkQen64.sys Installed.  Version 2.0.24.2'
  has "$case_dir/both.log" 'DriverPackageInstall Returned 00000103 259 NeedReboot 0'
  echo "win7: done ($(($(date +%s) - suite_start)) s)"

}

# ---- 3. Windows 10: the W10_ forms of the driver files ---------------------------
case_win10() {
  fresh win10
  cp "$setup" "$case_dir/bin/QenSetup.exe"
  (cd "$case_dir/run" && wine_run "$robot" set-version win10 + use-difx "$difx_win" \
     + run "$(winpath "$case_dir/bin/QenSetup.exe")" SILENT + show-certs TrustedPublisher + show-link "$quick_launch" \
     > "$case_dir/robot.out" 2>/dev/null) || fail "win10: robot"
  has "$case_dir/robot.out" "EXIT 0"
  expect_log win10 "$case_dir/bin/QenSetup.log"
  check_installed "$case_dir/robot.out"
  check_store w10 PelkWDM.inf
  echo "win10: done ($(($(date +%s) - suite_start)) s)"

}

# ---- 4. before Windows 7: the carried framework library, unpacked and removed ----
case_vista() {
  fresh vista
  cp "$setup" "$case_dir/bin/QenSetup.exe"
  (cd "$case_dir/run" && wine_run "$robot" set-version vista \
     + run "$(winpath "$case_dir/bin/QenSetup.exe")" SILENT + show-certs TrustedPublisher + show-link "$quick_launch" \
     > "$case_dir/robot.out" 2>/dev/null) || fail "vista: robot"
  has "$case_dir/robot.out" "EXIT 0"
  expect_log vista "$case_dir/bin/QenSetup.log"
  [ -e "$case_dir/run/DIFx64.Dll" ] && fail "vista: DIFx64.Dll was left in the working directory"
  check_installed "$case_dir/robot.out"
  check_store plain PelkWDM.Inf
  echo "vista: done ($(($(date +%s) - suite_start)) s)"

}

# ---- 5. through the dialog: a failing unpack, then the three pages -----------------
case_dialog() {
  # A folder where the applications INF's compressed copy is to be written makes
  # its unpacking fail. (A folder at the destination itself would not: Wine's
  # LZOpenFile then creates the file under its compressed name instead.)
  fresh dialog
  cp "$setup" "$case_dir/bin/QenSetup.exe"
  shots=$case_dir/screenshots
  mkdir -p "$shots"
  export DIFX_STANDIN_HOLD="$(winpath "$case_dir/run/release")"
  exe=$(winpath "$case_dir/bin/QenSetup.exe")
  (cd "$shots" && wine_run "$robot" use-difx "$difx_win" \
     + mkdir '%TEMP%\PELKAPPS.IN$' \
     + run --ui wait:1000,click:1000,box,box,wait:1002,page,click:2 "$exe" \
     + rmdir '%TEMP%\PELKAPPS.IN$' \
     + run --ui wait:1000,page,shot:welcome,click:1000,wait:1006,page,shot:installing,release,wait:1007,page,shot:complete,click:8 "$exe" \
     + show-certs TrustedPublisher + show-link "$quick_launch" 2>/dev/null | tee "$case_dir/robot.out" | while read -r kind name x y w h; do
       [ "$kind" = SHOT ] || continue
       import -window root -crop "${w}x${h}+${x}+${y}" +repage "$name.part.png" && mv "$name.part.png" "$name.png"
     done)
  unset DIFX_STANDIN_HOLD
  out=$case_dir/robot.out
  grep -q "^BOX \[Create File Failure! \[00000005\]\] Unable to create compressed file 'C:.*\\\\PELKAPPS.IN\\\$'!\$" "$out" || fail "dialog: no box for the failed unpacking"
  # The caption carries what the system reports after the stopped enumeration (Wine: 0).
  grep -q '^BOX \[EnumResourceNames Failed! \[[0-9a-f]\{8\}\]\] Setup was unable to copy the files needed to install the driver\.$' "$out" || fail "dialog: no box for the stopped copying"
  [ "$(grep -c '^PAGE' "$out")" -eq 4 ] || fail "dialog: not every page was seen"
  [ "$(grep '^PAGE' "$out" | sed -n 1p)" = "PAGE 1002=1 1003=1 1004=1 1005=1 1006=0 1007=0 1000=1 1001=0 8=0 2=1" ] || fail "dialog: the failed unpack did not return to the welcome page"
  [ "$(grep '^PAGE' "$out" | sed -n 3p)" = "PAGE 1002=0 1003=0 1004=0 1005=0 1006=1 1007=0 1000=0 1001=0 8=0 2=0" ] || fail "dialog: installing page"
  [ "$(grep '^PAGE' "$out" | sed -n 4p)" = "PAGE 1002=0 1003=0 1004=0 1005=0 1006=0 1007=1 1000=0 1001=0 8=1 2=0" ] || fail "dialog: complete page"
  [ "$(grep -c '^EXIT 0' "$out")" -eq 2 ] || fail "dialog: exit codes"
  hasnt "$out" FAILED
  expect_log dialog "$case_dir/bin/QenSetup.log"
  for name in welcome installing complete; do
    if [ ! -s "$shots/$name.png" ]; then fail "screenshot $name missing"; continue; fi
    sd=$(identify -format '%[fx:standard_deviation]' "$shots/$name.png")
    echo "$shots/$name.png standard deviation $sd"
    awk -v s="$sd" 'BEGIN { exit !(s > 0.01) }' || fail "screenshot $name is blank"
  done
  check_installed "$out"
  echo "dialog: done ($(($(date +%s) - suite_start)) s)"

}

for c in ${INSTALLER_CASES:-plain win7 win10 vista dialog}; do
  before=$status
  status=0
  "case_$c"
  tidy $status
  [ $before -eq 0 ] || status=$before
done
echo "installer runs: $(($(date +%s) - suite_start)) s"
exit $status
