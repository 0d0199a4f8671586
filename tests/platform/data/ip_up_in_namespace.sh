#!/bin/sh
# Brings a connection of entry NAME up and down through Debian's own
# /etc/ppp/ip-up and ip-down (run-parts over ip-up.d, ip-down.d), inside a
# private mount namespace where /etc, /run and /usr/local/sbin are fresh
# tmpfs filled from CASE, so the machine's resolver is never touched.
#
# CASE holds: ppp/ (the /etc/ppp to use), resolv.conf (its text), link (if
# present /etc/resolv.conf is a symbolic link to ../run/resolv.conf, as
# resolvconf makes it), stubs/ (programs for /usr/local/sbin), env (the
# variables pppd gives the scripts, one NAME=VALUE a line). After each step
# it writes STEP.resolv (what /etc/resolv.conf reads), STEP.kind ("link" or
# "file") and STEP.files (the files left in /etc and /run).
# Usage: unshare --mount --propagation private sh ip_up_in_namespace.sh CASE NAME
set -eu
case_dir=$1
name=$2

mount -t tmpfs tmpfs /etc
mount -t tmpfs tmpfs /run
mount -t tmpfs tmpfs /usr/local/sbin
cp -a "$case_dir/ppp" /etc/ppp
if [ -f "$case_dir/link" ]; then
  cp -p "$case_dir/resolv.conf" /run/resolv.conf
  ln -s ../run/resolv.conf /etc/resolv.conf
else
  cp -p "$case_dir/resolv.conf" /etc/resolv.conf
fi
[ -d "$case_dir/stubs" ] && cp -a "$case_dir/stubs/." /usr/local/sbin/

snapshot() {
  cat /etc/resolv.conf > "$case_dir/$1.resolv"
  if [ -L /etc/resolv.conf ]; then echo link; else echo file; fi > "$case_dir/$1.kind"
  (cd / && find etc run -path etc/ppp -prune -o -type f -print | sort) > "$case_dir/$1.files"
}

# pppd clears the environment before it runs the scripts.
# shellcheck disable=SC2046
env -i $(cat "$case_dir/env") /etc/ppp/ip-up ppp0 /dev/ttyUSB0 57600 10.0.0.2 10.0.0.1 "$name"
snapshot up
# shellcheck disable=SC2046
env -i $(cat "$case_dir/env") /etc/ppp/ip-down ppp0 /dev/ttyUSB0 57600 10.0.0.2 10.0.0.1 "$name"
snapshot down
