#!/usr/bin/env python3
"""The speed-size plane: vantor's six settings against peers of the same kind, on a copy of
/usr/include and on a mixed corpus, in one run. Prints size %, MB/s and peak memory per point,
marks every vantor point that a peer beats on both axes (faster by more than 5 % and smaller),
and compares extracting the solid default archive with cp -r (medians of three rounds).

  VANTOR=path/to/vantor  TASKS=2  MIXED_MB=60  BENCH_DIR=/tmp/vantor-plane  [VANTOR_BEFORE=path]  bench/plane.py
Timings drift on shared machines: compare the figures of one run with each other."""
import os, resource, shutil, subprocess, sys, time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
VANTOR = os.environ.get("VANTOR", os.path.join(ROOT, "build/native/vantor"))
TASKS = int(os.environ.get("TASKS", "2"))
MIXED_MB = int(os.environ.get("MIXED_MB", "60"))
BENCH = os.environ.get("BENCH_DIR", "/tmp/vantor-plane")
T = TASKS

SETTINGS = [("plain", "-m1"), ("plain", "-m3"), ("plain", "-mx3 -k7"),
            ("solid", "-s -m1"), ("solid", "-s -m3"), ("solid", "-s -mx3 -k7")]
# (kind, name, command run in the work folder, archive); VANTOR_BEFORE=path adds another build's
# points to the same run, named "(before)", to compare two builds on one machine's drift.
OURS = [(kind, f"vantor {s}", f"{VANTOR} a -r {s} -t{T} a.vnr src", "a.vnr") for kind, s in SETTINGS]
if os.environ.get("VANTOR_BEFORE"):
    OURS += [(kind, f"vantor {s} (before)", f"{os.environ['VANTOR_BEFORE']} a -r {s} -t{T} a.vnr src", "a.vnr")
             for kind, s in SETTINGS]
PEERS = [
    ("plain", "zip -1", "zip -q -r -1 a.zip src", "a.zip"),
    ("plain", "zip -6", "zip -q -r -6 a.zip src", "a.zip"),
    ("plain", "zip -9", "zip -q -r -9 a.zip src", "a.zip"),
    ("plain", "7z zip -mx1", f"7z a -tzip -mx1 -mmt{T} a.zip src", "a.zip"),
    ("plain", "7z zip -mx5", f"7z a -tzip -mx5 -mmt{T} a.zip src", "a.zip"),
    ("solid", f"tar+pigz -6 -p{T}", f"tar cf - src | pigz -6 -p{T} > a.tgz", "a.tgz"),
    ("solid", f"tar+zstd -1 -T{T}", f"tar cf - src | zstd -q -1 -T{T} > a.tzst", "a.tzst"),
    ("solid", f"tar+zstd -3 -T{T}", f"tar cf - src | zstd -q -3 -T{T} > a.tzst", "a.tzst"),
    ("solid", f"tar+zstd -9 -T{T}", f"tar cf - src | zstd -q -9 -T{T} > a.tzst", "a.tzst"),
    ("solid", f"tar+zstd -19 --long=27 -T{T}", f"tar cf - src | zstd -q -19 --long=27 -T{T} > a.tzst", "a.tzst"),
    ("solid", f"tar+xz -6 -T{T}", f"tar cf - src | xz -6 -T{T} > a.txz", "a.txz"),
    ("solid", "7z -mx1", f"7z a -mx1 -mmt{T} a.7z src", "a.7z"),
    ("solid", "7z -mx5", f"7z a -mx5 -mmt{T} a.7z src", "a.7z"),
]


def timed(command, cwd):
    """Seconds and peak resident MB of a shell command (the largest process of a pipeline)."""
    wrapper = ("import resource,subprocess,sys;"
               "r=subprocess.run(sys.argv[1],shell=True,stdout=subprocess.DEVNULL,stderr=subprocess.DEVNULL);"
               "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss);sys.exit(r.returncode)")
    subprocess.run("sync", shell=True)
    t0 = time.monotonic()
    r = subprocess.run([sys.executable, "-c", wrapper, command], cwd=cwd, capture_output=True, text=True)
    seconds = time.monotonic() - t0
    if r.returncode != 0:
        sys.exit(f"plane: failed: {command}")
    return seconds, int(r.stdout.strip() or 0) / 1024


def make_corpora():
    include = os.path.join(BENCH, "corpora/include")
    shutil.copytree("/usr/include", include, symlinks=True)
    mixed = os.path.join(BENCH, "corpora/mixed")
    # Shared libraries and documentation, the same files every run: half and half.
    budget = MIXED_MB << 20
    total = 0
    os.makedirs(os.path.join(mixed, "lib"))
    libs = sorted(os.path.join("/usr/lib/x86_64-linux-gnu", f) for f in os.listdir("/usr/lib/x86_64-linux-gnu"))
    for f in libs:
        if ".so" in f and os.path.isfile(f) and not os.path.islink(f):
            size = os.path.getsize(f)
            if total + size <= budget // 2:
                shutil.copy(f, os.path.join(mixed, "lib"))
                total += size
    for base in ("/usr/share/doc", "/usr/share/man", "/usr/share/locale"):
        for folder, _, files in sorted(os.walk(base)):
            for name in sorted(files):
                f = os.path.join(folder, name)
                if os.path.islink(f) or not os.path.isfile(f):
                    continue
                size = os.path.getsize(f)
                if total + size > budget:
                    return
                target = os.path.join(mixed, "doc", os.path.relpath(f, "/usr/share"))
                os.makedirs(os.path.dirname(target), exist_ok=True)
                shutil.copy(f, target)
                total += size


def tree_bytes(path):
    return sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(path) for f in fs)


def extraction_against_copy(work):
    """Medians of three rounds of extracting the solid default archive and copying the tree,
    each into a new folder, taking turns at going first: the disk's speed drifts between runs."""
    ours, copies = [], []
    for round_number in range(3):
        pair = [(ours, f"{VANTOR} x -t{T} a.vnr out"), (copies, "cp -r src out")]
        for seconds, command in (pair if round_number % 2 == 0 else pair[::-1]):
            seconds.append(timed(command, work)[0])
            shutil.rmtree(os.path.join(work, "out"))
    return sorted(ours)[1], sorted(copies)[1]


def bench_corpus(corpus):
    work = os.path.join(BENCH, "work")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    src = os.path.join(work, "src")
    shutil.copytree(os.path.join(BENCH, "corpora", corpus), src, symlinks=True)
    subprocess.run(["find", src, "-type", "l", "-delete"])  # vantor stores file contents only
    size = tree_bytes(src)
    files = sum(len(fs) for _, _, fs in os.walk(src))
    points = []
    for kind, name, command, archive in OURS + PEERS:
        seconds, peak = timed(command, work)
        packed = os.path.getsize(os.path.join(work, archive))
        if name == "vantor -s -m3":
            extract_seconds, copy_seconds = extraction_against_copy(work)
        os.remove(os.path.join(work, archive))
        points.append((kind, name, 100.0 * packed / size, size / 1e6 / seconds, peak))
    print(f"\n{corpus}: {files} files, {size / 1e6:.1f} MB")
    print(f"{'setting':34} {'kind':5} {'size %':>8} {'MB/s':>8} {'peak MB':>8}  beaten by")
    beaten_any = False
    for kind, name, ratio, speed, peak in points:
        beaten = ""
        if name.startswith("vantor"):
            by = [p for p in points if not p[1].startswith("vantor") and p[0] == kind and p[3] > 1.05 * speed
                  and p[2] < ratio]
            beaten = ", ".join(p[1] for p in by) if by else "-"
            beaten_any = beaten_any or bool(by)
        print(f"{name:34} {kind:5} {ratio:8.2f} {speed:8.1f} {peak:8.0f}  {beaten}")
    print(f"extracting the solid default archive: {extract_seconds:.2f} s; cp -r of the tree: {copy_seconds:.2f} s"
          " (medians of three)")
    shutil.rmtree(work)
    return beaten_any


def main():
    for tool in ("zip", "7z", "tar", "pigz", "zstd", "xz"):
        if not shutil.which(tool):
            sys.exit(f"plane: {tool} is missing (scripts/setup.sh installs it)")
    if not os.access(VANTOR, os.X_OK):
        sys.exit(f"plane: build vantor first ({VANTOR})")
    shutil.rmtree(BENCH, ignore_errors=True)
    make_corpora()
    print(f"vantor: {VANTOR}, {TASKS} threads, {os.cpu_count()} processors; a vantor point is beaten when a")
    print("peer of the same kind is faster by more than 5 % and smaller")
    beaten = [bench_corpus(c) for c in ("include", "mixed")]
    print("\nvantor points beaten on both axes:", "some (see above)" if any(beaten) else "none")
    shutil.rmtree(BENCH, ignore_errors=True)


if __name__ == "__main__":
    main()
