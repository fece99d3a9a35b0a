#!/usr/bin/env python3
"""What the progress channel costs: `vantor a` and `vantor x` on the same data with the channel
(a progress pipe read as the front end reads it, and a cancel pipe) and without, taking turns,
medians of five rounds each.

  VANTOR=path/to/vantor  BENCH_DIR=/tmp/vantor-progress  bench/progress_overhead.py"""
import base64, os, shutil, statistics, subprocess, sys, threading, time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
VANTOR = os.environ.get("VANTOR", os.path.join(ROOT, "build/native/vantor"))
BENCH = os.environ.get("BENCH_DIR", "/tmp/vantor-progress")


def run(args, channel):
    """Seconds of one run; with the channel, a thread drains the progress lines."""
    env = dict(os.environ)
    fds, lines = (), []
    if channel:
        pr, pw = os.pipe()
        cr, cw = os.pipe()
        env.update(VANTOR_PROGRESS=str(pw), VANTOR_CANCEL=str(cr))
        fds = (pw, cr)
    t0 = time.monotonic()
    p = subprocess.Popen([VANTOR] + args, cwd=BENCH, env=env, pass_fds=fds,
                         stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    if channel:
        os.close(pw)
        os.close(cr)
        reader = threading.Thread(target=lambda: lines.extend(os.fdopen(pr).read().splitlines()))
        reader.start()
    if p.wait() != 0:
        sys.exit(f"progress_overhead: failed: vantor {' '.join(args)}")
    seconds = time.monotonic() - t0
    if channel:
        reader.join()
        os.close(cw)
    return seconds, len(lines)


def main():
    shutil.rmtree(BENCH, ignore_errors=True)
    os.makedirs(os.path.join(BENCH, "src"))
    with open(os.path.join(BENCH, "src/noise.txt"), "wb") as f:
        for _ in range(4):
            f.write(base64.b64encode(os.urandom(24 << 20)))
    shutil.copytree("/usr/include", os.path.join(BENCH, "src/include"), symlinks=False,
                    ignore_dangling_symlinks=True)
    cases = [("a -r -m1 -t2 a.vnr src", "adding (-m1 -t2)"), ("x -t2 a.vnr out", "extracting (-t2)")]
    subprocess.run([VANTOR, "a", "-r", "-m1", "-t2", "a.vnr", "src"], cwd=BENCH, check=True,
                   stdout=subprocess.DEVNULL)
    print(f"vantor: {VANTOR}; data: 128 MB of base64 noise and a copy of /usr/include")
    for args, label in cases:
        times = {False: [], True: []}
        reports = 0
        for round_number in range(5):
            for channel in ((False, True) if round_number % 2 == 0 else (True, False)):
                if args.startswith("a "):
                    os.remove(os.path.join(BENCH, "a.vnr"))
                shutil.rmtree(os.path.join(BENCH, "out"), ignore_errors=True)
                seconds, lines = run(args.split(), channel)
                times[channel].append(seconds)
                reports = max(reports, lines)
        off, on = statistics.median(times[False]), statistics.median(times[True])
        print(f"{label:20} without channel {off:6.2f} s   with channel {on:6.2f} s   "
              f"ratio {on / off:5.3f}   ({reports} progress lines)")
    shutil.rmtree(BENCH, ignore_errors=True)


if __name__ == "__main__":
    main()
