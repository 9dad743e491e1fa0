#!/usr/bin/env bash
# The gateway's systemd unit as systemd itself reads it: systemd-analyze verify
# over the shipped unit, with the program and the settings file taken from this
# tree. A warning fails as an error does (verify says a bad value and goes on).
# The package ships the unit disabled: nothing in the maintainer scripts turns
# it on.
# test_systemd_unit.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
fail() { echo "FAIL: $*" >&2; exit 1; }

command -v systemd-analyze >/dev/null || { echo "systemd-analyze is not installed: skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

unit=$source/packaging/vardel-gateway.service
sed -e "s#/usr/bin/vardel-cli#$build/bin/vardel-cli#" \
    -e "s#EnvironmentFile=/etc/vardel/brama.conf#EnvironmentFile=$source/packaging/brama.conf#" \
    "$unit" >"$work/vardel-gateway.service"
grep -q "$build/bin/vardel-cli --card port serve" "$work/vardel-gateway.service" || fail "ExecStart not found"

if ! out=$(systemd-analyze verify --man=no "$work/vardel-gateway.service" 2>&1); then
    fail "systemd-analyze verify: $out"
fi
[[ -z $out ]] || fail "systemd-analyze verify warns: $out"

# The helper's file capability must survive: NoNewPrivileges would void it,
# PrivateDevices drops CAP_SYS_RAWIO from the bounding set.
grep -Eq '^(NoNewPrivileges|PrivateDevices)=yes' "$unit" && fail "the unit takes the port helper's privilege away"
grep -q '^Group=vardel$' "$unit" || fail "the unit does not run in the group vardel"
# Disabled by default.
grep -Eq 'systemctl (enable|start)|deb-systemd-helper enable' "$source/packaging/postinst" &&
    fail "postinst enables or starts the gateway"
echo "ok"
