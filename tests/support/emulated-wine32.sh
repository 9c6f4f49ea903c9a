#!/bin/sh
# Runs a command with 32-bit Wine running through the user-mode emulator
# (qemu-i386-static registered in binfmt_misc for i386 programs), for that
# command alone where the kernel allows it:
#   emulated-wine32.sh <command...>
# It re-runs itself in a private user, mount and network namespace with a
# binfmt_misc of its own (kernels from 6.7 on), so the machine's handlers
# stay as they are and nothing outside sees the registration; the network
# namespace has its own loopback, where the command may bind port 80. Exits
# with 75 when no private binfmt_misc can be had.
set -eu
qemu=/usr/bin/qemu-i386-static
misc=/proc/sys/fs/binfmt_misc
handler=':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':F'
if [ "${TV_EMULATED_WINE32_INSIDE:-}" != 1 ]; then
  [ -x "$qemu" ] || { echo "emulated-wine32: $qemu is missing" >&2; exit 75; }
  unshare --user --map-root-user --mount --net true 2>/dev/null || {
    echo "emulated-wine32: no private namespaces here" >&2
    exit 75
  }
  export TV_EMULATED_WINE32_INSIDE=1
  exec unshare --user --map-root-user --mount --net sh "$0" "$@"
fi
mount -t binfmt_misc binfmt_misc "$misc" 2>/dev/null || {
  echo "emulated-wine32: this kernel gives no private binfmt_misc" >&2
  exit 75
}
printf '%s' "$handler" >"$misc/register"
ip link set lo up
unset TV_EMULATED_WINE32_INSIDE
exec "$@"
