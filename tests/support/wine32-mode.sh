#!/bin/sh
# Prints how 32-bit Wine runs on this machine:
#   native    the kernel executes the 32-bit loader itself
#   emulated  it runs, through a user-mode emulator registered in binfmt_misc
#             for i386 programs (about 50 s a process)
#   none      it does not run (not installed, or 32-bit programs cannot run)
# A successful "wine --version" alone cannot tell native from emulated.
loader=${1:-/usr/lib/wine/wine}
if ! [ -x "$loader" ] || ! "$loader" --version >/dev/null 2>&1; then
  echo none
  exit 0
fi
misc=/proc/sys/fs/binfmt_misc
if [ -f "$misc/status" ] && [ "$(cat "$misc/status")" = enabled ]; then
  for entry in "$misc"/*; do
    case ${entry##*/} in register|status) continue ;; esac
    [ -f "$entry" ] && [ "$(head -n 1 "$entry")" = enabled ] || continue
    grep -qx 'offset 0' "$entry" || continue
    magic=$(sed -n 's/^magic //p' "$entry")
    # A 32-bit little-endian ELF (7f 45 4c 46 01 01) for machine 3 (i386),
    # e_machine being bytes 18-19 of the header.
    case $magic in 7f454c460101*) ;; *) continue ;; esac
    [ "$(printf %s "$magic" | cut -c37-40)" = 0300 ] && { echo emulated; exit 0; }
  done
fi
echo native
