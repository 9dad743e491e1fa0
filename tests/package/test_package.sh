#!/usr/bin/env bash
# Builds the Debian package from this build tree's binaries, checks it with
# lintian, unpacks it into a throw-away root and runs both programs from there
# as a user who cannot write to that root, as an installed program would run.
#   test_package.sh BUILD_DIR VERSION SOURCE_DIR
set -uo pipefail
build=$1
version=$2
source_dir=$3
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

work=$(mktemp -d)
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
chmod 755 "$work"

# --- the package ---------------------------------------------------------
# gzip rather than xz: the sanitizer build's binaries are large, and the
# compression is not what is tested here.
if ! cpack -G DEB -D CPACK_DEBIAN_COMPRESSION_TYPE=gzip --config "$build/CPackConfig.cmake" -B "$work/out" \
    >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log"
    echo "FAIL: cpack"
    exit 1
fi
deb=$(ls "$work"/out/vardel_*.deb)
echo "package: $(basename "$deb")"

depends=$(dpkg-deb -f "$deb" Depends)
for dep in fonts-liberation fonts-dejavu-core libqt6widgets6 libqt6printsupport6 libqt6svg6 libc6; do
    [[ $depends == *"$dep"* ]] || fail "Depends lacks $dep: $depends"
done
# Only recommended: the program works without them.
recommends=$(dpkg-deb -f "$deb" Recommends)
for dep in qt6-translations-l10n bash-completion; do
    [[ $recommends == *"$dep"* ]] || fail "Recommends lacks $dep: $recommends"
    [[ $depends == *"$dep"* ]] && fail "Depends names the optional $dep: $depends"
done

# The fonts the package depends on, alone: what fontconfig gives the windows
# and the printout for the families they name, and for plain sans-serif.
fontconf="$work/fonts.conf"
{
    echo '<?xml version="1.0"?><!DOCTYPE fontconfig SYSTEM "fonts.dtd"><fontconfig>'
    for dep in ${depends//,/ }; do
        [[ $dep == fonts-* ]] || continue
        dpkg -L "$dep" 2>/dev/null | grep -E '\.(ttf|otf)$' | xargs -r -n1 dirname | sort -u | sed 's|.*|<dir>&</dir>|'
    done
    echo "<cachedir>$work/fontcache</cachedir><include ignore_missing=\"yes\">/etc/fonts/conf.d</include></fontconfig>"
} >"$fontconf"
while IFS='|' read -r family expected; do
    got=$(FONTCONFIG_FILE=$fontconf fc-match -f '%{family[0]}' "$family")
    [[ $got == "$expected" ]] || fail "with the package's fonts alone, '$family' is '$got', want '$expected'"
done <<'FONTS'
sans-serif|DejaVu Sans
Arial|Liberation Sans
Times New Roman|Liberation Serif
FONTS

# Byte for byte the same package from the same tree, later: every time stamp
# in it is the last commit's (the changelog's date outside a checkout).
sleep 1
cpack -G DEB -D CPACK_DEBIAN_COMPRESSION_TYPE=gzip --config "$build/CPackConfig.cmake" -B "$work/again" \
    >"$work/cpack-again.log" 2>&1 || { cat "$work/cpack-again.log"; fail "cpack again"; }
cmp -s "$deb" "$work"/again/vardel_*.deb || fail "a second package from the same tree differs"
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$source_dir" log -1 --format=%ct 2>/dev/null)} ||
    epoch=$(date -u -d "$(zcat "$build/packaging/changelog.Debian.gz" | sed -n 's/^ -- .*>  //p')" +%s)
stamps=$(dpkg-deb --fsys-tarfile "$deb" | tar -tv --full-time --utc | awk '{print $4 " " $5}' | sort -u)
[[ $stamps == "$(date -u -d "@$epoch" '+%F %T')" ]] || fail "time stamps in the package: $stamps, want $epoch"

lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1 ||
    { cat "$work/lintian.log"; fail "lintian reports errors"; }

root="$work/root"
dpkg -x "$deb" "$root"
for f in usr/bin/vardel usr/bin/vardel-cli usr/libexec/vardel/vardel-ports \
    usr/share/vardel/KX2_NAME.TXT usr/share/vardel/KX3_NAME.TXT usr/share/vardel/KX4_NAME.TXT \
    usr/share/applications/vardel.desktop usr/share/applications/vardel-card.desktop \
    usr/share/icons/hicolor/scalable/apps/vardel.svg \
    usr/share/man/man1/vardel.1.gz usr/share/man/man1/vardel-cli.1.gz \
    usr/share/bash-completion/completions/vardel-cli \
    usr/share/doc/vardel/copyright usr/share/doc/vardel/changelog.Debian.gz \
    usr/share/doc/vardel/pomoc/index.html usr/share/doc/vardel/pomoc/rejestrator.html \
    etc/vardel/adresy-kart.conf usr/lib/tmpfiles.d/vardel.conf; do
    [[ -e $root/$f ]] || fail "missing /$f"
done

desktop-file-validate "$root/usr/share/applications/vardel.desktop" \
    "$root/usr/share/applications/vardel-card.desktop" >"$work/desktop.log" 2>&1
[[ -s $work/desktop.log ]] && { cat "$work/desktop.log"; fail "desktop-file-validate"; }
# The second menu entry starts the real card.
card_entry="$root/usr/share/applications/vardel-card.desktop"
grep -qx 'Name=Vardel — karta interfejsu w komputerze' "$card_entry" || fail "the real card's menu entry has another name"
grep -qx 'Exec=vardel --card=port' "$card_entry" || fail "the real card's menu entry does not start --card=port"

# Shipped without any privilege: postinst gives it (see installed.sh).
for f in usr/bin/vardel usr/bin/vardel-cli usr/libexec/vardel/vardel-ports; do
    mode=$(dpkg-deb -c "$deb" | awk -v f="./$f" '$6 == f { print $1, $2 }')
    [[ $mode == "-rwxr-xr-x root/root" ]] || fail "/$f is shipped as $mode"
done
# The list of card addresses is the administrator's: a conffile, 340h alone.
[[ $(dpkg-deb --info "$deb" conffiles 2>/dev/null) == $'/etc/vardel/adresy-kart.conf\n/etc/vardel/brama.conf' ]] ||
    fail "conffiles: $(dpkg-deb --info "$deb" conffiles 2>&1)"
[[ $(grep -v '^#' "$root/etc/vardel/adresy-kart.conf") == "340" ]] || fail "the shipped list allows more than 340h"
grep -qx 'd /run/vardel 0770 root vardel -' "$root/usr/lib/tmpfiles.d/vardel.conf" || fail "the lock folder's tmpfiles entry"
for script in postinst postrm; do
    dpkg-deb --info "$deb" "$script" >"$work/$script" 2>/dev/null || fail "no $script"
    sh -n "$work/$script" || fail "$script is not valid sh"
done

for page in vardel vardel-cli; do
    LC_ALL=C.UTF-8 MANROFFSEQ='' man --warnings -l "$root/usr/share/man/man1/$page.1.gz" >"$work/man.out" 2>"$work/man.err"
    [[ -s $work/man.err ]] && { cat "$work/man.err"; fail "man page $page has warnings"; }
    grep -q "vardel $version" "$work/man.out" || fail "man page $page does not name version $version"
done

# --- bash completion: what a user gets after TAB -------------------------
touch "$work/m1.KX3" "$work/m2.kx4" "$work/notes.txt" "$work/r.pdf" "$work/stan linii.txt"
complete_line() { # WORDS... -> the candidates, sorted, on one line, ", " between them
    bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _vardel_cli
             printf "%s\n" "${COMPREPLY[@]}" | sort | paste -sd "," | sed "s/,/, /g"' _ \
        "$root/usr/share/bash-completion/completions/vardel-cli" "$@"
}
while IFS='|' read -r words expected; do
    # shellcheck disable=SC2086
    got=$(cd "$work" && complete_line vardel-cli $words)
    [[ $got == "$expected" ]] || fail "completion of '$words': got '$got', want '$expected'"
done <<'CASES'
re|read, reset-meter
--model K|KX-2, KX-3, KX-4
--baud 1|1200, 19200
--model = KX-4|KX-4
write m|m1.KX3, m2.kx4
--model KX-3 print m1.KX3 --pdf r|r.pdf, root
measure --f|--format
measure --d|--decimal-comma
verify m1.KX3 --f|--force, --format
print m1.KX3 --w|
diff m1.KX3 m1.KX3 --f|--force, --format
card-test --f|--format
--sim-state st|stan linii.txt
--trace st|stan linii.txt
write m1.KX3 --ch|--change-link
CASES

# --- the programs, as a user who cannot write to the root ----------------
home="$work/home"
mkdir -p "$home" "$home/run"
chmod 700 "$home/run"
if [[ $(id -u) -eq 0 ]]; then
    chown -R nobody:nogroup "$home"
    as_user=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
else
    chmod -R a-w "$root"
    as_user=()
fi
run() {
    "${as_user[@]}" env -i PATH=/usr/bin:/bin HOME="$home" LC_ALL=C.UTF-8 QT_QPA_PLATFORM=offscreen \
        XDG_RUNTIME_DIR="$home/run" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" "$@"
}
before=$(find "$root" -printf '%p %s %T@\n' | sort)
bin="$root/usr/bin"

[[ $(run "$bin/vardel-cli" --version) == "vardel-cli $version" ]] || fail "vardel-cli --version"
[[ $(run "$bin/vardel" --version) == "vardel $version" ]] || fail "vardel --version"

cli=("$bin/vardel-cli" --model KX-3 --meter-address 2)
run "${cli[@]}" read -o "$home/m.KX3" || fail "read -o exited $?"
[[ -s $home/m.KX3 ]] || fail "read -o wrote no file"
[[ -e $home/config ]] && fail "the command line wrote settings: $(ls -R "$home/config")"
run "${cli[@]}" write "$home/m.KX3" --eeprom || fail "write --eeprom exited $?"
grep -q '^\[miernik\]' "$home/data/vardel/VardelSim.txt" 2>/dev/null ||
    fail "write --eeprom left no state in XDG_DATA_HOME/vardel"
run "$bin/vardel-cli" --model KX-3 print "$home/m.KX3" --pdf "$home/m.pdf" ||
    fail "print (names files from /usr/share/vardel) exited $?"
# scan tells the models apart by the register names in the shared names files.
found=$(run "$bin/vardel-cli" scan --bauds 19200 --addresses 1-3 2>/dev/null | tr '\n' ';')
[[ $found == "1 19200 KX-2;2 19200 KX-3;3 19200 KX-4;" ]] || fail "scan found '$found'"

# The window: it must come up and stay up (timeout ends it with 124).
run timeout 8 "$bin/vardel" >"$work/window.log" 2>&1
code=$?
[[ $code -eq 124 ]] || { cat "$work/window.log"; fail "vardel window ended with $code before the timeout"; }
grep -i "nazw\|nie można\|błąd" "$work/window.log" && fail "vardel window reported a problem"

# --- installed for real, maintainer scripts and all -----------------------
# In a mount namespace with /etc, /usr and /var overlaid, so the machine keeps
# none of it. Needs root and a kernel that lets root make such a namespace.
if [[ $(id -u) -ne 0 ]]; then
    echo "SKIP: the real installation needs root"
elif ! unshare --mount --propagation private true 2>/dev/null; then
    echo "SKIP: this machine gives no private mount namespace for the real installation"
else
    unshare --mount --propagation private bash "$(dirname "$0")/installed.sh" "$deb" "$work/installed" \
        >"$work/installed.log" 2>&1
    cat "$work/installed.log"
    failures=$((failures + $(grep -c '^FAIL:' "$work/installed.log")))
fi

after=$(find "$root" -printf '%p %s %T@\n' | sort)
[[ $before == "$after" ]] || { diff <(echo "$before") <(echo "$after"); fail "something was written inside the root"; }

[[ $failures -eq 0 ]] && echo "package checks passed"
[[ $failures -eq 0 ]]
