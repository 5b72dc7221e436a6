#!/usr/bin/env python3
"""Reads the sample layout (vellpack sample OUT) as docs/formats.md describes it, and checks
every file of every project release and both solution manifests against what vellpack sample
was asked to write. Written from the document alone: usage check_formats.py OUT/VELL"""
import hashlib, lzma, os, struct, sys, zlib

root = sys.argv[1]
failures = []
def check(ok, what):
    if not ok: failures.append(what)

def u32(b, o): return struct.unpack_from("<I", b, o)[0]
def version_text(v): return ".".join(str(v >> s & 0xFF) for s in (24, 16, 8, 0))
def fold_bytes(b): return bytes(c + 32 if 65 <= c <= 90 else c for c in b)

# ---- what vellpack sample is asked to write (writer/Sample.cpp) -------------------------------
WORDS = [b"archive", b"release", b"manifest", b"vell", b"content", b"hero", b"forest", b"cave", b"sound",
         b"stream", b"block", b"patch", b"client", b"level", b"texture", b"game"]
M64 = (1 << 64) - 1
def sample_content(project, version, path, size):
    label = f"{project} {version_text(version)} {path}".encode()
    state = 0x9E3779B97F4A7C15
    for c in label: state = ((state ^ c) * 0x100000001B3) & M64
    state = state or 1
    def next_():
        nonlocal state
        state ^= state >> 12; state ^= (state << 25) & M64; state ^= state >> 27
        return (state * 0x2545F4914F6CDD1D) & M64
    out = bytearray()
    if fold_bytes(path.encode()).endswith((b".txt", b".ini", b".cfg")):
        line = 1
        while len(out) < size:
            out += label + b" line " + str(line).encode() + b":"
            for _ in range(4 + next_() % 8): out += b" " + WORDS[next_() % 16]
            out += b"\n"; line += 1
    else:
        while len(out) < size:
            pick = next_()
            if len(out) > 64 and pick & 1:
                length = 4 + (pick >> 8) % 32
                start = (pick >> 16) % (len(out) - length)
                for i in range(length): out.append(out[start + i])
            else:
                out += pick.to_bytes(8, "little")
    return bytes(out[:size])

A, Z, L = (0x02, "stored"), (0x16, "zlib"), (0x32, "lzma")
M, N = (0x01, "managed"), (0x00, "naked")
CLIENT_V1 = [("DATA/Characters/Villain/villain.dds", Z, 1, 12000), ("DATA/Levels/Forest/Deep/Cave/map.bin", L, 1, 9000),
             ("DATA/legacy/old.txt", A, 1, 700), ("Config/defaults.ini", M, 1, 250)]
# (project, release, format version, files: path, flags, file version, size; content label version)
RELEASES = [
    ("client", 1, 0x00010001, [("DATA/readme.txt", Z, 1, 1000), ("launcher.cfg", N, 1, 100)] + CLIENT_V1),
    ("client", 2, 0x00010002, [("DATA/readme.txt", Z, 2, 2000), ("DATA/shared.txt", Z, 2, 1500),
                               ("DATA/Characters/Hero/hero.dds", L, 2, 20000), ("DATA/Characters/Hero/hero.skn", A, 2, 5000),
                               ("DATA/Sounds/music.ogg", L, 2, 400000), ("DATA/Sounds/ambient.wav", Z, 2, 300000),
                               ("DATA/Sounds/exact.bin", L, 2, 262144), ("Config/settings.ini", M, 2, 300),
                               ("launcher.cfg", N, 2, 120), ("Tools/notes.txt", N, 2, 400)] + CLIENT_V1),
    ("patch", 1, 0x00010002, [("DATA/readme.txt", Z, 1, 1800), ("DATA/Characters/Hero/hero.dds", L, 1, 15000),
                              ("DATA/patch_notes.txt", A, 1, 600)]),
]

# ---- release manifest ---------------------------------------------------------------------------
def read_manifest(path):
    b = open(path, "rb").read()
    check(u32(b, 0) == 0x4D534C52, f"{path}: magic")
    fmt = u32(b, 4); E = {0x00010001: 44, 0x00010002: 36}[fmt]
    D = u32(b, 16); F = u32(b, 20 + 20 * D); at = 24 + 20 * D + E * F
    B = u32(b, at + 4); strings = b[at + 8:at + 8 + B].split(b"\0")[:-1]
    check(at + 8 + B == len(b), f"{path}: string data ends the file")
    check(u32(b, at) == len(strings), f"{path}: string count")
    dirs = [struct.unpack_from("<5I", b, 20 + 20 * i) for i in range(D)]
    files = [struct.unpack_from("<2I16s2I", b, 24 + 20 * D + E * i) for i in range(F)]
    paths = {}
    def walk(d, prefix):
        name, fs, sc, ff, fc = dirs[d]
        for k in range(fc):
            n, version, checksum, flags, size = files[ff + k]
            paths[prefix + strings[n].decode()] = (flags, version, size, checksum)
        for k in range(sc): walk(fs + k, prefix + strings[dirs[fs + k][0]].decode() + "/")
    walk(0, "")
    return fmt, strings[u32(b, 8)].decode(), u32(b, 12), paths

# ---- archives -----------------------------------------------------------------------------------
def archive_hash(path):
    h = 0
    for c in path:
        c = c - 256 if c >= 128 else c
        c = c + 32 if 65 <= c <= 90 else c
        h = ((h << 4) + c) & 0xFFFFFFFF
        g = h & 0xF0000000
        if g: h ^= g >> 24; h ^= g
    return h

def read_index(path):
    b = open(path, "rb").read()
    check(u32(b, 0) == 0x18BE0EF0 and u32(b, 4) == 1, f"{path}: header")
    fl, pl = u32(b, 12), u32(b, 16)
    records = [struct.unpack_from("<2I", b, pl + 8 + 8 * i) for i in range(u32(b, pl + 4))]
    names = [b[pl + off:b.index(b"\0", pl + off)] for off, _ in records]
    entries = [struct.unpack_from("<4I", b, fl + 4 + 16 * i) for i in range(u32(b, fl))]
    keys = [(h, fold_bytes(names[p])) for h, _, _, p in entries]
    check(keys == sorted(keys), f"{path}: entry order")
    for h, _, _, p in entries: check(h == archive_hash(names[p]), f"{path}: hash of {names[p]}")
    return {fold_bytes(names[p]): (off, size, path + ".dat") for h, off, size, p in entries}

def lzma_record(record, size):
    p = record[0]
    dictionary = 0xFFFFFFFF if p == 40 else (2 | (p & 1)) << (p // 2 + 11)
    return lzma.decompress(record[9:], format=lzma.FORMAT_RAW, filters=[{"id": lzma.FILTER_LZMA2, "dict_size": dictionary}])

def content(project, release, path, flags, version):
    base = os.path.join(root, "projects", project)
    if flags & 0x02:
        folder = os.path.join(base, "filearchives", version_text(version))
        for name in sorted(os.listdir(folder)):
            if not name.endswith(".olm"): continue
            found = read_index(os.path.join(folder, name)).get(fold_bytes(path.encode()))
            if found:
                off, size, data = found
                stored = open(data, "rb").read()[off:off + size]
                if not flags & 0x10: return stored
                return zlib.decompress(stored) if flags & 0x04 else lzma_record(stored, size) if flags & 0x20 else stored
        return None
    where = ("managedfiles", version_text(version)) if flags & 0x01 else ("releases", version_text(release), "deploy")
    return open(os.path.join(base, *where, path), "rb").read()

checked = 0
for project, release, fmt, expected in RELEASES:
    manifest = os.path.join(root, "projects", project, "releases", version_text(release), "releasemanifest")
    got_fmt, name, got_release, files = read_manifest(manifest)
    check((got_fmt, name, got_release) == (fmt, project, release), f"{manifest}: header")
    check(sorted(files) == sorted(p for p, *_ in expected), f"{manifest}: paths {sorted(files)}")
    for path, (flags, _), version, size in expected:
        check(files.get(path, ())[:3] == (flags, version, size), f"{project} {version_text(release)} {path}: record {files.get(path)}")
        data = content(project, release, path, flags, version)
        check(data == sample_content(project, version, path, size), f"{project} {version_text(release)} {path}: content")
        check(files.get(path, (0, 0, 0, b""))[3] == hashlib.md5(data).digest(), f"{project} {version_text(release)} {path}: checksum")
        checked += 1

# ---- text manifests -------------------------------------------------------------------------
solution = os.path.join(root, "solutions", "game", "releases", "1.0.0.0")
lines = open(os.path.join(solution, "solutionmanifest"), "rb").read().decode().splitlines()
check(lines[0].lower() == "vell solution manifest" and lines[1:5] == ["1.0.0.0", "game", "1.0.0.0", "2"], "solution header")
projects = [lines[5 + 4 * i:9 + 4 * i] for i in range(int(lines[4]))]
check(projects == [["client", "0.0.0.2", "10", "0"], ["patch", "0.0.0.1", "20", "0"]], f"solution projects {projects}")
check(lines[13:] == ["1", "default", "0", "2", "client", "patch"], "solution configurations")
lines = open(os.path.join(solution, "configurationmanifest"), "rb").read().decode().splitlines()
check(lines[0].lower() == "vell configuration manifest" and lines[1:] == ["1.0.0.0", "default", "2", "client", "patch"],
      "configuration manifest")

for failure in failures: print("FAILED:", failure)
print(f"{checked} files read as documented; {len(failures)} failed")
sys.exit(1 if failures else 0)
