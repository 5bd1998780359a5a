#!/usr/bin/env bash
# write --dry-run --root on hostile trees: wall time and maximum resident
# set size of the whole run (wait4), best of RUNS, for
#   line     /etc/fstab: 64 MiB of "partuuid=" on one line
#   random   /etc/fstab: 64 MiB single line of random letters
#   matches  /etc/fstab: 64 MiB of "PARTUUID=<the disk's>-01" lines
#   zero     12 loader entries, symbolic links to /dev/zero (and the
#            root's own dev/zero a character device)
#   full     the matches fstab, a 40 MiB grub.cfg of search --part-uuid
#            lines and 12 loader entries of 8 MiB: past the total bound
# usage: bench/root_scan.sh KORMELDE MKIMAGE [RUNS]   (root: mknod)
set -euo pipefail
kormelde=$1
mkimage=$2
runs=${3:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$mkimage" at "$work/e.img" --sig 55667788 >/dev/null

tree() { # tree NAME: an empty root with /etc and the loader entries
  mkdir -p "$work/$1/etc" "$work/$1/boot/loader/entries"
  echo "$work/$1"
}
r=$(tree line)
fill() { # fill FILE UNIT: 64 MiB of UNIT repeated
  python3 -c 'import sys; u = sys.argv[2].encode(); n = 64 << 20
open(sys.argv[1], "wb").write((u * (n // len(u) + 1))[:n])' "$1" "$2"
}
fill "$r/etc/fstab" partuuid=
r=$(tree random)
python3 -c 'import base64, os, sys
open(sys.argv[1], "wb").write(base64.b64encode(os.urandom(48 << 20)).replace(b"/", b"x"))' "$r/etc/fstab"
r=$(tree matches)
fill "$r/etc/fstab" $'PARTUUID=55667788-01 / ext4 defaults 0 1\n'
r=$(tree zero)
for i in $(seq 1 12); do ln -s /dev/zero "$r/boot/loader/entries/$i.conf"; done
mkdir -p "$r/dev"
mknod "$r/dev/zero" c 1 5

r=$(tree full)
cp "$work/matches/etc/fstab" "$r/etc/fstab"
mkdir -p "$r/boot/grub"
python3 -c 'import sys; u = b"search --part-uuid --set=root 55667788-02\n"
open(sys.argv[1], "wb").write(u * ((40 << 20) // len(u)))' "$r/boot/grub/grub.cfg"
for i in $(seq 1 12); do head -c 8M /dev/zero | tr '\0' x >"$r/boot/loader/entries/$i.conf"; done

measure() { # measure ROOT: "seconds max-RSS-MiB", best of runs
  python3 - "$runs" "$kormelde" "$work/e.img" "$1" <<'PY'
import os, sys, time
runs, k, image, root = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
best = None
for _ in range(runs):
    t = time.monotonic()
    pid = os.fork()
    if pid == 0:
        fd = os.open(os.devnull, os.O_RDWR)
        for n in (0, 1, 2):
            os.dup2(fd, n)
        os.execv(k, [k, "--yes", "--dry-run", "--root", root, "write", image, "ABCD0123"])
    _, status, usage = os.wait4(pid, 0)
    took = time.monotonic() - t
    run = (took, usage.ru_maxrss / 1024, os.waitstatus_to_exitcode(status))
    best = run if best is None or run[0] < best[0] else best
print("%.2f s  %.1f MiB  exit %d" % best)
PY
}
for name in line random matches zero full; do
  printf '%-8s %s\n' "$name" "$(measure "$work/$name")"
done
