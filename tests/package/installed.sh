#!/usr/bin/env bash
# Installs the package for real, with its maintainer scripts, and checks what
# they leave: the card's group, the port helper's owner, mode and capability,
# who may reach the card, and what remove and purge take away. Runs inside a
# mount namespace of its own (test_package.sh starts it with unshare), with
# /etc, /usr and /var overlaid by throw-away folders, /run and /root empty
# ones: nothing of it reaches the machine.
#   installed.sh DEB WORK
# Prints "FAIL: ..." for every check that fails.
set -uo pipefail
deb=$1
work=$2
fail() { echo "FAIL: $*"; }

for dir in etc usr var; do
    mkdir -p "$work/overlay/$dir/upper" "$work/overlay/$dir/work"
    mount -t overlay overlay -o "lowerdir=/$dir,upperdir=$work/overlay/$dir/upper,workdir=$work/overlay/$dir/work" \
        "/$dir" || { fail "cannot overlay /$dir"; exit 0; }
done
for dir in run root; do
    mount -t tmpfs -o mode=0755 tmpfs "/$dir" || { fail "cannot mount an empty /$dir"; exit 0; }
done
chmod 700 /root
export DEBIAN_FRONTEND=noninteractive
# The manual pages' index is not what is tested here, and rebuilding it takes
# most of the time.
rm -f /var/lib/man-db/auto-update
helper=/usr/libexec/vardel/vardel-ports

# A group vardel made for something else is not adopted: its members would
# get the card unasked.
groupadd --gid 2345 vardel
dpkg -i "$deb" >"$work/dpkg-foreign.log" 2>&1 && fail "dpkg -i adopted a non-system group vardel"
grep -q "grupa vardel już istnieje i nie jest grupą systemową (GID 2345)" "$work/dpkg-foreign.log" ||
    fail "no word of the foreign group: $(cat "$work/dpkg-foreign.log")"
dpkg --purge vardel >/dev/null 2>&1
groupdel vardel 2>/dev/null

# Upgrade from the version before the list of card addresses: made of this
# package without the list, the lock folder and a lower version.
prev="$work/prev"
dpkg-deb -R "$deb" "$prev"
rm -rf "$prev/etc" "$prev/usr/lib/tmpfiles.d" "$prev/DEBIAN/conffiles"
sed -i 's/^Version: .*/Version: 0.0.1-1/' "$prev/DEBIAN/control"
dpkg-deb --build --root-owner-group "$prev" "$work/prev.deb" >/dev/null || fail "cannot build the previous package"
dpkg -i "$work/prev.deb" >"$work/dpkg-prev.log" 2>&1 || { cat "$work/dpkg-prev.log"; fail "dpkg -i of the previous version"; }
dpkg -i "$deb" >"$work/dpkg-install.log" 2>&1 || { cat "$work/dpkg-install.log"; fail "dpkg -i"; exit 0; }
list=/etc/vardel/adresy-kart.conf
[[ $(grep -v '^#' "$list") == "340" ]] || fail "the upgrade's $list allows: $(grep -v '^#' "$list")"
[[ $(stat -c '%U:%G %a' "$list") == "root:root 644" ]] || fail "$list: $(stat -c '%U:%G %a' "$list")"
dpkg-query -W -f='${Conffiles}' vardel | grep -q " $list " || fail "$list is not a conffile"
[[ $(stat -c '%U:%G %a' /run/vardel 2>&1) == "root:vardel 770" ]] || fail "lock folder: $(stat -c '%U:%G %a' /run/vardel 2>&1)"

# The group: a system group.
gid=$(getent group vardel | cut -d: -f3)
[[ -n $gid ]] || fail "no group vardel after install"
[[ -n $gid && $gid -lt 1000 ]] || fail "vardel is not a system group (gid $gid)"
# The gateway service's user: a system user whose primary group is vardel;
# its service stays disabled until the administrator enables it.
IFS=: read -r _ _ gateway_uid gateway_gid _ gateway_home _ < <(getent passwd vardel-gateway)
[[ -n ${gateway_uid:-} && $gateway_uid -lt 1000 && ${gateway_gid:-} == "$gid" ]] ||
    fail "the gateway's user: $(getent passwd vardel-gateway)"
[[ ${gateway_home:-} == /var/lib/vardel-gateway ]] || fail "the gateway's home: ${gateway_home:-}"
[[ -e /etc/systemd/system/multi-user.target.wants/vardel-gateway.service ]] && fail "the gateway is enabled"

# The helper: root:vardel, only members may run it, CAP_SYS_RAWIO and nothing
# more; set-uid root only where the file system holds no capabilities.
owner=$(stat -c '%U:%G %a' "$helper")
caps=$(getcap "$helper" | sed 's/^[^ ]* //')
if [[ -n $caps ]]; then
    [[ $caps == "cap_sys_rawio=p" ]] || fail "helper capabilities: $caps"
    [[ $owner == "root:vardel 750" ]] || fail "helper owner and mode: $owner"
else
    echo "note: the file system holds no capabilities; the helper is set-uid root"
    [[ $owner == "root:vardel 4750" ]] || fail "helper owner and mode without capabilities: $owner"
fi
[[ $(dpkg-statoverride --list "$helper") == "root vardel 750 $helper" ]] ||
    fail "statoverride: $(dpkg-statoverride --list "$helper")"
for program in /usr/bin/vardel /usr/bin/vardel-cli; do
    [[ $(stat -c '%U:%G %a' "$program") == "root:root 755" ]] || fail "$program: $(stat -c '%U:%G %a' "$program")"
    [[ -z $(getcap "$program") ]] || fail "$program holds capabilities: $(getcap "$program")"
done
for entry in vardel.desktop vardel-card.desktop; do
    [[ -f /usr/share/applications/$entry ]] || fail "missing /usr/share/applications/$entry"
done

# Who reaches the card. A member: the helper runs with its privilege and the
# program says only what the kernel said (no port I/O here, lockdown), or
# reads the card. nobody: told the group and the command. Both keep the
# simulator.
useradd --system --no-create-home --groups vardel vardeltest
home="$work/home"
mkdir -p "$home"
chmod 777 "$home"
as() { # USER COMMAND...
    local user=$1
    shift
    setpriv --reuid="$user" --regid="$(id -g "$user")" --init-groups env -i PATH=/usr/bin:/bin HOME="$home" \
        LC_ALL=C.UTF-8 XDG_CONFIG_HOME="$home/config-$user" XDG_DATA_HOME="$home/data-$user" "$@"
}
as vardeltest vardel-cli --card port card-test >"$work/member.out" 2>"$work/member.err"
code=$?
if [[ $code -ne 0 ]]; then
    [[ $code -eq 3 ]] || fail "member: exit $code: $(cat "$work/member.err")"
    grep -q "jądro\|Jądro" "$work/member.err" || fail "member refused for another reason: $(cat "$work/member.err")"
fi
as nobody vardel-cli --card port card-test >/dev/null 2>"$work/nobody.err"
code=$?
[[ $code -eq 3 ]] || fail "nobody: exit $code"
grep -q "użytkownik nobody nie należy do grupy „vardel”. Administrator dodaje go poleceniem „sudo adduser nobody vardel”" \
    "$work/nobody.err" || fail "nobody's refusal: $(cat "$work/nobody.err")"
for user in vardeltest nobody; do
    [[ $(as "$user" vardel-cli --model KX-3 card-test 2>&1) == "4h" ]] || fail "$user lost the simulator"
done
# No other user can take the card by locking it first.
as nobody touch /run/vardel/vardel-340h.lock 2>/dev/null && fail "nobody made a lock file in /run/vardel"

# A member reaches the listed addresses and nothing else; nothing is granted
# before the list allows it, the PC's own devices never.
as vardeltest vardel-cli --card port --card-address 300 card-test >/dev/null 2>"$work/member300.err"
code=$?
[[ $code -eq 3 ]] || fail "member at 300h: exit $code"
grep -q "Adres karty 300h nie jest dozwolony. Administrator dopisuje dozwolone adresy w pliku $list." \
    "$work/member300.err" || fail "member at 300h: $(cat "$work/member300.err")"
echo "300-31F" >>"$list"
as vardeltest vardel-cli --card port --card-address 300 card-test >/dev/null 2>"$work/member300.err"
grep -q "nie jest dozwolony" "$work/member300.err" && fail "the administrator's 300h stays refused"
echo "1F0" >>"$list"
as vardeltest "$helper" vardel-cli 1F0 card-test >/dev/null 2>"$work/member1f0.err"
code=$?
[[ $code -eq 2 ]] || fail "helper at 1F0h: exit $code"
grep -q "Adres karty 1F0h obejmuje porty urządzenia komputera (kontroler dysków IDE" "$work/member1f0.err" ||
    fail "helper at 1F0h: $(cat "$work/member1f0.err")"
chmod 666 "$list"
as vardeltest "$helper" vardel-cli 340 card-test >/dev/null 2>"$work/member-open.err"
grep -q "nie jest brany pod uwagę" "$work/member-open.err" || fail "a list anyone may write is trusted: $(cat "$work/member-open.err")"
chmod 644 "$list"

# Root with a user's environment (sudo -E): the user's links into /etc and
# their plugins lead root nowhere; root's own folders are used.
uh="$work/nobody-home"
mkdir -p "$uh/.local/share/vardel" "$uh/plugins"
ln -s /etc/shadow "$uh/.local/share/vardel/VardelSim.txt"
ln -s /etc/bash_completion.d "$uh/.local/share/vardel/historia-symulatora"
chown -R -h nobody:nogroup "$uh"
shadow=$(sha256sum /etc/shadow)
completions=$(ls -A /etc/bash_completion.d 2>/dev/null)
env -i PATH=/usr/bin:/bin LC_ALL=C.UTF-8 vardel-cli --model KX-3 read -o /root/m.KX3 2>/dev/null || fail "root: read -o"
env -i PATH=/usr/bin:/bin LC_ALL=C.UTF-8 HOME="$uh" SUDO_USER=nobody XDG_DATA_HOME="$uh/.local/share" \
    QT_PLUGIN_PATH="$uh/plugins" vardel-cli --model KX-3 write /root/m.KX3 --eeprom >/dev/null 2>"$work/root-e.err" ||
    fail "root with nobody's environment: $(cat "$work/root-e.err")"
grep -q "Program działa jako root ze środowiskiem użytkownika nobody: używa folderów roota; pominięto zmienne HOME, XDG_DATA_HOME, QT_PLUGIN_PATH." \
    "$work/root-e.err" || fail "root's note: $(cat "$work/root-e.err")"
[[ $(sha256sum /etc/shadow) == "$shadow" ]] || fail "root wrote /etc/shadow through a user's link"
[[ $(ls -A /etc/bash_completion.d 2>/dev/null) == "$completions" ]] || fail "root wrote into /etc/bash_completion.d"
[[ -z $(find "$uh" -newer /root/m.KX3 -print -quit) ]] || fail "root left files in the user's home: $(ls -lAR "$uh")"
grep -q '^\[miernik\]' /root/.local/share/vardel/VardelSim.txt || fail "root's state is not in root's own folder"

# Remove keeps the group; purge keeps it while it has a member, and takes
# it, and the override, once it is empty.
dpkg -r vardel >"$work/dpkg-remove.log" 2>&1 || fail "dpkg -r: $(cat "$work/dpkg-remove.log")"
getent group vardel >/dev/null || fail "dpkg -r took the group"
dpkg --purge vardel >"$work/dpkg-purge.log" 2>&1 || fail "dpkg --purge: $(cat "$work/dpkg-purge.log")"
getent group vardel >/dev/null || fail "purge took the group while vardeltest is in it"
grep -q "grupa vardel ma członków (vardeltest), więc zostaje." "$work/dpkg-purge.log" ||
    fail "purge did not name the members: $(cat "$work/dpkg-purge.log")"
[[ -z $(dpkg-statoverride --list "$helper") ]] || fail "purge left the statoverride"
userdel vardeltest
dpkg -i "$deb" >/dev/null 2>&1 || fail "second dpkg -i"
dpkg --purge vardel >"$work/dpkg-purge2.log" 2>&1 || fail "second purge"
grep -q "ma członków" "$work/dpkg-purge2.log" && fail "purge of an empty group speaks of members"
getent group vardel >/dev/null && fail "purge left the empty group"
getent passwd vardel-gateway >/dev/null && fail "purge left the gateway's user"
[[ -e /etc/vardel || -e /run/vardel ]] && fail "purge left /etc/vardel or /run/vardel"
exit 0
