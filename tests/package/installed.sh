#!/usr/bin/env bash
# Installs the package for real, with its maintainer scripts, and checks what
# they leave: the card's group, the port helper's owner, mode and capability,
# who may reach the card, and what remove and purge take away. Runs inside a
# mount namespace of its own (test_package.sh starts it with unshare), with
# /etc, /usr and /var overlaid by throw-away folders: nothing of it reaches
# the machine.
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
export DEBIAN_FRONTEND=noninteractive
# The manual pages' index is not what is tested here, and rebuilding it takes
# most of the time.
rm -f /var/lib/man-db/auto-update
helper=/usr/libexec/vardel/vardel-ports

dpkg -i "$deb" >"$work/dpkg-install.log" 2>&1 || { cat "$work/dpkg-install.log"; fail "dpkg -i"; exit 0; }

# The group: a system group.
gid=$(getent group vardel | cut -d: -f3)
[[ -n $gid ]] || fail "no group vardel after install"
[[ -n $gid && $gid -lt 1000 ]] || fail "vardel is not a system group (gid $gid)"

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

# Remove keeps the group; purge keeps it while it has a member, and takes
# it, and the override, once it is empty.
dpkg -r vardel >"$work/dpkg-remove.log" 2>&1 || fail "dpkg -r: $(cat "$work/dpkg-remove.log")"
getent group vardel >/dev/null || fail "dpkg -r took the group"
dpkg --purge vardel >"$work/dpkg-purge.log" 2>&1 || fail "dpkg --purge: $(cat "$work/dpkg-purge.log")"
getent group vardel >/dev/null || fail "purge took the group while vardeltest is in it"
[[ -z $(dpkg-statoverride --list "$helper") ]] || fail "purge left the statoverride"
userdel vardeltest
dpkg -i "$deb" >/dev/null 2>&1 || fail "second dpkg -i"
dpkg --purge vardel >/dev/null 2>&1 || fail "second purge"
getent group vardel >/dev/null && fail "purge left the empty group"
exit 0
