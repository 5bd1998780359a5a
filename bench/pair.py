#!/usr/bin/env python3
"""Paired, interleaved timing of commands: CPU time (user + system, from
wait4's rusage) beside wall time.

usage: pair.py [--rounds N] [--batch B] [-p LABEL SHELL]... [-a LABEL SHELL]...
               -c LABEL COMMAND... [-r NAME=EXPR]...

Each round runs the commands one after the other, B times over (starting
with a different command each round), and takes each command's mean. A command (-c) is run
without a shell (shlex words), stdin and stdout on /dev/null; -p gives a
shell command run, untimed, before each of LABEL's runs, -a one after.
--settle MS idles that long before every run: a peer that sleeps (sfdisk
waits 250 ms before it writes) must not leave only the other command to
start on a cold processor. A ratio (-r) is
evaluated in each round over the labels (their CPU microseconds), e.g.
"k/f=kormelde/fdisk"; its median and quartiles over the rounds are printed.
"""
import argparse
import os
import shlex
import statistics
import subprocess
import sys
import time


def quartiles(values):
    v = sorted(values)
    if len(v) < 4:
        return v[0], statistics.median(v), v[-1]
    q = statistics.quantiles(v, n=4, method="inclusive")
    return q[0], q[1], q[2]


def run_once(argv, pre, post, settle):
    if settle:
        time.sleep(settle / 1000)
    if pre:
        subprocess.run(pre, shell=True, check=True)
    with open(os.devnull, "r+b") as null:
        t0 = time.perf_counter_ns()
        p = subprocess.Popen(argv, stdin=null, stdout=null, stderr=null)
        _, status, usage = os.wait4(p.pid, 0)
        t1 = time.perf_counter_ns()
        p.returncode = os.waitstatus_to_exitcode(status)
    if post:
        subprocess.run(post, shell=True, check=True)
    cpu = (usage.ru_utime + usage.ru_stime) * 1e6
    return cpu, (t1 - t0) / 1e3, p.returncode


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--rounds", type=int, default=31)
    ap.add_argument("--batch", type=int, default=10)
    ap.add_argument("--settle", type=float, default=0, metavar="MS")
    ap.add_argument("-c", nargs=2, action="append", metavar=("LABEL", "COMMAND"), default=[])
    ap.add_argument("-p", nargs=2, action="append", metavar=("LABEL", "SHELL"), default=[])
    ap.add_argument("-a", nargs=2, action="append", metavar=("LABEL", "SHELL"), default=[])
    ap.add_argument("-r", action="append", metavar="NAME=EXPR", default=[])
    a = ap.parse_args()
    labels = [c[0] for c in a.c]
    argvs = {c[0]: shlex.split(c[1]) for c in a.c}
    pres = dict(a.p)
    posts = dict(a.a)
    cpu = {l: [] for l in labels}
    wall = {l: [] for l in labels}
    codes = {l: set() for l in labels}
    for l in labels:  # warm the page cache and the loader
        run_once(argvs[l], pres.get(l), posts.get(l), a.settle)
    for r in range(a.rounds):
        order = labels[r % len(labels):] + labels[:r % len(labels)]
        c = {l: 0.0 for l in labels}
        w = {l: 0.0 for l in labels}
        for _ in range(a.batch):
            for l in order:
                dc, dw, rc = run_once(argvs[l], pres.get(l), posts.get(l), a.settle)
                c[l] += dc
                w[l] += dw
                codes[l].add(rc)
        for l in labels:
            cpu[l].append(c[l] / a.batch)
            wall[l].append(w[l] / a.batch)
    print(f"{a.rounds} rounds x {a.batch} runs, interleaved; µs per run, median [IQR]")
    print(f"{'command':<14} {'CPU':>24} {'wall':>24}  exit")
    for l in labels:
        cq = quartiles(cpu[l])
        wq = quartiles(wall[l])
        print(f"{l:<14} {cq[1]:>9.0f} [{cq[0]:>5.0f}-{cq[2]:<5.0f}] "
              f"{wq[1]:>9.0f} [{wq[0]:>5.0f}-{wq[2]:<5.0f}]  {','.join(map(str, sorted(codes[l])))}")
    for ratio in a.r:
        name, expr = ratio.split("=", 1)
        values = []
        for r in range(a.rounds):
            values.append(eval(expr, {}, {l: cpu[l][r] for l in labels}))
        q = quartiles(values)
        print(f"CPU ratio {name} ({expr}): {q[1]:.2f} [{q[0]:.2f}-{q[2]:.2f}]")
    return 0


if __name__ == "__main__":
    sys.exit(main())
