#!/usr/bin/env python3
"""The speed-size plane: vantor's six settings against peers of the same kind, on a copy of
/usr/include, a mixed corpus, program binaries (ELF and PE), source trees, documents (many of
them compressed already) and one big file, in one run. Prints the corpora's sizes, then per
corpus size %, MB/s and peak memory per point, marks every vantor point that a peer beats on
both axes (faster by more than 5 % and smaller), a frontier line naming them, the Ultra ratio
(solid -mx3 -k7 against 7z -mx9 and tar+xz -6), and compares extracting the solid default archive
with cp -r, or on the big file with tar + zstd -d, and the Ultra archive with 7z x of 7z -mx9's
(medians of ROUNDS rounds).

  VANTOR=path/to/vantor  TASKS=2  MIXED_MB=60  CORPUS_MB=80  BIG_MB=100  ROUNDS=3
  CORPORA=include,mixed,binaries,source,documents,big  BENCH_DIR=/tmp/vantor-plane  [VANTOR_BEFORE=path]  bench/plane.py
Timings drift on shared machines: compare the figures of one run with each other."""
import glob, os, resource, shutil, subprocess, sys, tarfile, time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
VANTOR = os.environ.get("VANTOR", os.path.join(ROOT, "build/native/vantor"))
TASKS = int(os.environ.get("TASKS", "2"))
MIXED_MB = int(os.environ.get("MIXED_MB", "60"))
CORPUS_MB = int(os.environ.get("CORPUS_MB", "80"))
BIG_MB = int(os.environ.get("BIG_MB", "100"))
ROUNDS = int(os.environ.get("ROUNDS", "3"))
ALL_CORPORA = ("include", "mixed", "binaries", "source", "documents", "big")
CORPORA = [c for c in os.environ.get("CORPORA", ",".join(ALL_CORPORA)).split(",") if c]
ULTRA = "vantor -s -mx3 -k7"
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
    ("solid", "7z -mx9", f"7z a -mx9 -mmt{T} a.7z src", "a.7z"),
]
# Kept for the big file's extraction against tar + zstd -d.
ZSTD_PEER = f"tar+zstd -3 -T{T}"


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


def walk_files(bases, wanted=lambda f: True, largest=16 << 20):
    """Regular files under bases in a fixed order, each at most largest bytes."""
    for base in bases:
        for folder, dirs, files in os.walk(base):
            dirs.sort()
            for name in sorted(files):
                f = os.path.join(folder, name)
                if not os.path.islink(f) and os.path.isfile(f) and wanted(f) and os.path.getsize(f) <= largest:
                    yield f


def fill(target, files, budget):
    """Copies files under target (keeping their paths) until budget bytes; returns the bytes copied."""
    total = 0
    for f in files:
        size = os.path.getsize(f)
        if total + size > budget:
            continue
        copy = os.path.join(target, f.lstrip("/"))
        os.makedirs(os.path.dirname(copy), exist_ok=True)
        try:
            shutil.copy(f, copy)
        except OSError:
            continue  # unreadable here
        total += size
        if total > budget - (64 << 10):
            break
    return total


def make_include(path):
    shutil.copytree("/usr/include", path, symlinks=True)


def make_mixed(path):
    # Shared libraries and documentation, the same files every run: half and half.
    budget = MIXED_MB << 20
    total = 0
    os.makedirs(os.path.join(path, "lib"))
    libs = sorted(os.path.join("/usr/lib/x86_64-linux-gnu", f) for f in os.listdir("/usr/lib/x86_64-linux-gnu"))
    for f in libs:
        if ".so" in f and os.path.isfile(f) and not os.path.islink(f):
            size = os.path.getsize(f)
            if total + size <= budget // 2:
                shutil.copy(f, os.path.join(path, "lib"))
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
                target = os.path.join(path, "doc", os.path.relpath(f, "/usr/share"))
                os.makedirs(os.path.dirname(target), exist_ok=True)
                shutil.copy(f, target)
                total += size


def is_elf(f):
    with open(f, "rb") as h:
        return h.read(4) == b"\x7fELF"


def make_binaries(path):
    # Half PE (the MinGW toolchains' and Wine's DLLs and programs, some import libraries), half ELF
    # programs and shared libraries.
    budget = CORPUS_MB << 20
    mingw = sorted(glob.glob("/usr/lib/gcc/*mingw*") + glob.glob("/usr/*-w64-mingw32"))
    windows = sorted(glob.glob("/usr/lib/*/wine/*-windows"))
    done = fill(path, walk_files(mingw + windows, lambda f: f.endswith((".dll", ".exe")), 4 << 20), budget * 2 // 5)
    done += fill(path, walk_files(mingw, lambda f: f.endswith(".a"), 4 << 20), budget // 2 - done)
    done += fill(path, walk_files(["/usr/bin"], is_elf, 4 << 20), budget * 3 // 4 - done)
    fill(path, walk_files(["/usr/lib/x86_64-linux-gnu", "/usr/lib/gcc/x86_64-linux-gnu"], is_elf, 4 << 20),
         budget - done)


def make_source(path):
    budget = CORPUS_MB << 20
    done = fill(path, walk_files(["/usr/src"]), budget // 8)
    done += fill(path, walk_files(sorted(glob.glob("/usr/lib/python3*")), lambda f: f.endswith(".py")), budget * 3 // 8)
    done += fill(path, walk_files(sorted(glob.glob("/usr/share/perl*"))), budget * 5 // 8 - done)
    fill(path, walk_files(["/usr/include"]), budget - done)


def make_documents(path):
    # Documentation with its .gz files and PDFs, PNG icons, and packages (compressed already).
    budget = CORPUS_MB << 20
    done = fill(path, walk_files(["/usr/share/doc"]), budget // 2)
    done += fill(path, walk_files(["/usr/share/icons"], lambda f: f.endswith(".png")), budget * 3 // 4 - done)
    fill(path, walk_files(["/var/cache/apt/archives"], lambda f: f.endswith((".deb", ".jar", ".zip")), 2 << 20),
         budget - done)


def make_big(path):
    # One tar of libraries, headers and documentation, stored as one member.
    tree = path + ".tree"
    budget = BIG_MB << 20
    done = fill(tree, walk_files(["/usr/lib/x86_64-linux-gnu"], lambda f: ".so" in f, 4 << 20), budget * 2 // 5)
    done += fill(tree, walk_files(["/usr/include"]), budget * 7 // 10 - done)
    fill(tree, walk_files(["/usr/share/doc"]), budget - done)
    os.makedirs(path)
    with tarfile.open(os.path.join(path, "one.tar"), "w", format=tarfile.GNU_FORMAT) as tar:
        for f in walk_files([tree], largest=1 << 40):
            info = tar.gettarinfo(f, os.path.relpath(f, tree))
            info.mtime, info.uid, info.gid, info.uname, info.gname = 0, 0, 0, "", ""
            with open(f, "rb") as h:
                tar.addfile(info, h)
    shutil.rmtree(tree)


MAKERS = {"include": make_include, "mixed": make_mixed, "binaries": make_binaries, "source": make_source,
          "documents": make_documents, "big": make_big}


def make_corpora():
    for corpus in CORPORA:
        MAKERS[corpus](os.path.join(BENCH, "corpora", corpus))


def tree_bytes(path):
    return sum(os.path.getsize(os.path.join(d, f)) for d, _, fs in os.walk(path) for f in fs)


def median(values):
    return sorted(values)[len(values) // 2]


def extraction_against(work, theirs):
    """Medians of ROUNDS rounds of extracting the solid default archive and another way of making
    the same tree, each into a new folder, taking turns at going first: the disk's speed drifts
    between runs."""
    ours, others = [], []
    for round_number in range(ROUNDS):
        pair = [(ours, f"{VANTOR} x -t{T} a.vnr out"), (others, theirs)]
        for seconds, command in (pair if round_number % 2 == 0 else pair[::-1]):
            seconds.append(timed(command, work)[0])
            shutil.rmtree(os.path.join(work, "out"))
    return median(ours), median(others)


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
            os.rename(os.path.join(work, archive), os.path.join(work, "default.vnr"))
        elif name == ZSTD_PEER:
            os.rename(os.path.join(work, archive), os.path.join(work, "peer.tzst"))
        elif name in (ULTRA, "7z -mx9"):
            os.rename(os.path.join(work, archive), os.path.join(work, "ultra" + os.path.splitext(archive)[1]))
        else:
            os.remove(os.path.join(work, archive))
        points.append((kind, name, 100.0 * packed / size, size / 1e6 / seconds, peak, packed))
    os.rename(os.path.join(work, "default.vnr"), os.path.join(work, "a.vnr"))
    if corpus == "big":
        extract_seconds, peer_seconds = extraction_against(work, f"mkdir out && zstd -q -d -T{T} -c peer.tzst | tar xf - -C out")
    else:
        extract_seconds, peer_seconds = extraction_against(work, "cp -r src out")
    # The Ultra archive against 7z's of -mx9: PPMd's text decodes at about its encoding speed.
    os.rename(os.path.join(work, "a.vnr"), os.path.join(work, "default.vnr"))
    os.rename(os.path.join(work, "ultra.vnr"), os.path.join(work, "a.vnr"))
    ultra_seconds, seven_seconds = extraction_against(work, f"7z x -bd -mmt{T} -oout ultra.7z")
    print(f"\n{corpus}: {files} files, {size / 1e6:.1f} MB")
    print(f"{'setting':34} {'kind':5} {'size %':>8} {'MB/s':>8} {'peak MB':>8}  beaten by")
    dominated = []
    for kind, name, ratio, speed, peak, _ in points:
        beaten = ""
        if name.startswith("vantor"):
            by = [p for p in points if not p[1].startswith("vantor") and p[0] == kind and p[3] > 1.05 * speed
                  and p[2] < ratio]
            beaten = ", ".join(p[1] for p in by) if by else "-"
            if by:
                dominated.append(f"{name} by {beaten}")
        print(f"{name:34} {kind:5} {ratio:8.2f} {speed:8.1f} {peak:8.0f}  {beaten}")
    print(f"frontier check ({corpus}): dominated vantor settings:", "; ".join(dominated) if dominated else "none")
    named = {p[1]: p for p in points}
    for setting in (ULTRA, ULTRA + " (before)"):
        if setting not in named:
            continue
        for peer in ("7z -mx9", f"tar+xz -6 -T{T}"):
            print(f"Ultra ratio ({setting} / {peer}): size {named[setting][5] / named[peer][5]:.3f},"
                  f" speed {named[setting][3] / named[peer][3]:.2f} x")
    if corpus == "big":
        print(f"extracting the solid default archive: {extract_seconds:.2f} s; tar + zstd -d -T{T} of the"
              f" {ZSTD_PEER} archive: {peer_seconds:.2f} s; ratio {extract_seconds / peer_seconds:.2f}"
              f" (medians of {ROUNDS})")
    else:
        print(f"extracting the solid default archive: {extract_seconds:.2f} s; cp -r of the tree: {peer_seconds:.2f} s"
              f" (medians of {ROUNDS})")
    print(f"extracting the Ultra archive: {ultra_seconds:.2f} s; 7z x of the 7z -mx9 archive: {seven_seconds:.2f} s;"
          f" ratio {ultra_seconds / seven_seconds:.2f} (medians of {ROUNDS})")
    shutil.rmtree(work)
    return bool(dominated)


def main():
    for tool in ("zip", "7z", "tar", "pigz", "zstd", "xz"):
        if not shutil.which(tool):
            sys.exit(f"plane: {tool} is missing (scripts/setup.sh installs it)")
    if not os.access(VANTOR, os.X_OK):
        sys.exit(f"plane: build vantor first ({VANTOR})")
    unknown = [c for c in CORPORA if c not in MAKERS]
    if unknown:
        sys.exit(f"plane: unknown corpus {', '.join(unknown)} (known: {', '.join(ALL_CORPORA)})")
    shutil.rmtree(BENCH, ignore_errors=True)
    make_corpora()
    print(f"vantor: {VANTOR}, {TASKS} threads, {os.cpu_count()} processors; a vantor point is beaten when a")
    print("peer of the same kind is faster by more than 5 % and smaller")
    print(f"\n{'corpus':10} {'files':>7} {'MB':>8}")
    for corpus in CORPORA:
        path = os.path.join(BENCH, "corpora", corpus)
        regular = [os.path.join(d, f) for d, _, fs in os.walk(path) for f in fs
                   if not os.path.islink(os.path.join(d, f))]
        print(f"{corpus:10} {len(regular):7} {sum(map(os.path.getsize, regular)) / 1e6:8.1f}")
    sys.stdout.flush()
    beaten = []
    for c in CORPORA:
        beaten.append(bench_corpus(c))
        sys.stdout.flush()
    print("\nvantor points beaten on both axes:", "some (see above)" if any(beaten) else "none")
    shutil.rmtree(BENCH, ignore_errors=True)


if __name__ == "__main__":
    main()
