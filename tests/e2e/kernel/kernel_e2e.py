#!/usr/bin/env python3
"""The Linux kernel as a reader of hidden folders and files.

Makes images with genisoimage (-J -R, -J, -J -R -udf) and with our cdimage, hides two folders and
two files in a copy of each with umbradisc-cli and shows a third folder again, then boots Debian's own kernel under QEMU
with a busybox initramfs (tests/e2e/kernel/init). The guest mounts each image as made and its hidden
copy the same way, in every mount mode below, and prints what find lists and what a look-up of every
path of the image as made finds in the hidden copy. This side then checks:
  - the image as made shows every file of the source tree with its content (real names in the
    Rock Ridge, Joliet and UDF trees), so a check against it means something;
  - mounts that honour the hidden bits (iso9660 without showassoc, udf without unhide) list the
    hidden copy exactly as the image as made, less the hidden files, the hidden folders and
    everything in them, and
    look-ups of those paths fail, while every other path, the shown-again folder included, is found
    with the same type and content;
  - with showassoc (iso9660) or unhide (udf) the hidden copy lists and finds exactly what the image
    as made does: the hidden folders as folders, every file with its content.
Exit status 0 when every check passes, 1 when one fails, 77 (skipped) when this machine cannot run
the guest: QEMU or busybox-static missing, no kernel to be had, or a guest that never starts.

    kernel_e2e.py UMBRADISC_CLI CDIMAGE FETCH_KERNEL_SCRIPT
"""
import fcntl
import hashlib
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

SKIP = 77
HERE = os.path.dirname(os.path.abspath(__file__))

# The source tree: path -> content (None for a folder).
SOURCE = {
    "readme.txt": b"readme at the root\n",
    "Photos 2021": None,
    "Photos 2021/a.txt": b"a.txt in Photos 2021\n",
    "Photos 2021/Trip": None,
    "Photos 2021/Trip/b.bin": bytes((i * 7 + i // 251) & 0xFF for i in range(10000)),
    "Docs": None,
    "Docs/report.txt": b"report in Docs\n",
    "Docs/Old Notes": None,
    "Docs/Old Notes/n.txt": b"n.txt in Old Notes\n",
    "Shown": None,
    "Shown/c.txt": b"c.txt in a folder hidden and shown again\n",
}
HIDDEN = ["Photos 2021", "Docs/Old Notes"]
SHOWN_AGAIN = ["Shown"]
# Files hidden on their own: a reader that honours the bits neither lists them nor finds them by path.
HIDDEN_FILES = ["Docs/report.txt", "readme.txt"]
# A file directly inside each hidden folder: its content finds the folder's name in any tree.
MARKER = {"Photos 2021": "Photos 2021/a.txt", "Docs/Old Notes": "Docs/Old Notes/n.txt"}

ISO_MODES = ["ro", "ro,norock", "ro,nojoliet", "ro,norock,nojoliet",
             "ro,showassoc", "ro,showassoc,norock", "ro,showassoc,norock,nojoliet"]
UDF_MODES = ["ro", "ro,unhide"]
# Modules the guest needs, with their dependencies loaded first (read from each module's .modinfo).
MODULES = ["virtio_pci", "virtio_blk", "isofs", "udf"]


def skip(why):
    print(f"SKIPPED: {why}")
    sys.exit(SKIP)


def md5(data):
    return hashlib.md5(data).hexdigest()


def run(*args):
    result = subprocess.run(args, capture_output=True, text=True)
    if result.returncode != 0:
        print(f"FAIL: {' '.join(args)} exited with {result.returncode}: {result.stderr.strip()}")
        sys.exit(1)
    return result.stdout


def is_static_elf(path):
    """True when the ELF file at path has no program interpreter (a static program)."""
    with open(path, "rb") as f:
        data = f.read(1 << 16)
    if data[:5] != b"\x7fELF\x02":
        return False
    phoff, = struct.unpack_from("<Q", data, 0x20)
    phentsize, phnum = struct.unpack_from("<HH", data, 0x36)
    for i in range(phnum):
        ptype, = struct.unpack_from("<I", data, phoff + i * phentsize)
        if ptype == 3:  # PT_INTERP
            return False
    return True


def module_order(moddir):
    """The modules' files under moddir, each after the ones it depends on."""
    files = {}
    for root, _, names in os.walk(moddir):
        for name in names:
            if name.endswith(".ko"):
                files[name[:-3].replace("-", "_")] = os.path.join(root, name)
    order = []

    def add(name):
        key = name.replace("-", "_")
        if any(k == key for k, _ in order):
            return
        if key not in files:
            print(f"note: no module {name} in the kernel package: taken as built in")
            return
        with open(files[key], "rb") as f:
            info = f.read()
        for field in info.split(b"\0"):
            if field.startswith(b"depends="):
                for dep in filter(None, field[8:].decode().split(",")):
                    add(dep)
        order.append((key, files[key]))

    for name in MODULES:
        add(name)
    return order


def cpio_newc(entries):
    """A newc cpio archive of entries (path, mode, data), data None for a folder."""
    out = bytearray()
    for ino, (path, mode, data) in enumerate(entries + [("TRAILER!!!", 0, b"")], 1):
        data = data or b""
        name = path.encode() + b"\0"
        fields = [ino, mode, 0, 0, 1, 0, len(data), 0, 0, 0, 0, len(name), 0]
        out += b"070701" + b"".join(b"%08X" % v for v in fields) + name
        out += b"\0" * (-len(out) % 4) + data
        out += b"\0" * (-len(out) % 4)
    return bytes(out)


def make_images(work, cli, cdimage):
    """Makes each kind of image and its hidden copy; returns a list of (name, made, hidden, udf)."""
    src = os.path.join(work, "src")
    for path, content in SOURCE.items():
        full = os.path.join(src, path)
        if content is None:
            os.makedirs(full, exist_ok=True)
        else:
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "wb") as f:
                f.write(content)
    genisoimage = os.environ.get("UMBRA_GENISOIMAGE", "genisoimage")
    kinds = [("genisoimage-J-R", [genisoimage, "-quiet", "-J", "-R"], False),
             ("genisoimage-J", [genisoimage, "-quiet", "-J"], False),
             ("genisoimage-J-R-udf", [genisoimage, "-quiet", "-J", "-R", "-udf"], True),
             ("cdimage", None, False)]
    images = []
    for name, maker, udf in kinds:
        made = os.path.join(work, name + ".iso")
        hidden = os.path.join(work, name + ".hidden.iso")
        if maker:
            run(*maker, "-o", made, src)
        else:
            run(cdimage, src, made)
        shutil.copyfile(made, hidden)
        run(cli, "hide", hidden, *("/" + p for p in HIDDEN + SHOWN_AGAIN + HIDDEN_FILES))
        run(cli, "show", hidden, *("/" + p for p in SHOWN_AGAIN))
        images.append((name, made, hidden, udf))
    return images


def kvm_works():
    """True when /dev/kvm opens and answers the API version request (KVM_GET_API_VERSION)."""
    try:
        fd = os.open("/dev/kvm", os.O_RDWR | os.O_CLOEXEC)
    except OSError:
        return False
    try:
        return fcntl.ioctl(fd, 0xAE00) == 12
    except OSError:
        return False
    finally:
        os.close(fd)


def boot(qemu, kernel, initrd, disks, timeout):
    """Boots the guest; returns (console text, seconds, accelerator)."""
    accel, name = (["-accel", "kvm"], "KVM") if kvm_works() else (["-accel", "tcg"], "TCG, no KVM")
    args = [qemu, *accel, "-m", "256", "-smp", "1", "-nodefaults", "-display", "none", "-no-reboot",
            "-serial", "stdio", "-kernel", kernel, "-initrd", initrd,
            "-append", "console=ttyS0 quiet loglevel=1 panic=-1"]
    for disk in disks:
        args += ["-drive", f"file={disk},format=raw,if=virtio,readonly=on"]
    start = time.monotonic()
    try:
        result = subprocess.run(args, stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)
        out = result.stdout.decode(errors="replace") + result.stderr.decode(errors="replace")
    except subprocess.TimeoutExpired as e:
        out = (e.stdout or b"").decode(errors="replace") + f"\n(QEMU stopped after {timeout} s)\n"
    return out, time.monotonic() - start, name


def tree_of(fstype, options, rock, joliet):
    """The tree the kernel reads: udf, rock, joliet or iso9660 (plain ISO 9660 names)."""
    opts = options.split(",")
    if fstype == "udf":
        return "udf"
    if rock and "norock" not in opts:
        return "rock"
    if joliet and "nojoliet" not in opts:
        return "joliet"
    return "iso9660"


class Checks:
    def __init__(self):
        self.passed = 0
        self.failed = 0

    def expect(self, ok, where, path, expected, got):
        if ok:
            self.passed += 1
        else:
            self.failed += 1
            print(f"FAIL {where}: {path!r}: expected {expected}, got {got}")


def show(entry):
    if entry is None:
        return "not listed"
    kind, digest = entry
    return {"d": "a folder", "f": f"a file (md5 {digest})", "missing": f"no entry ({digest})"}.get(
        kind, f"{kind} ({digest})")


def check_mount(checks, where, tree, made, hidden, looks, reveals):
    """made, hidden: path -> (type, md5) as listed; looks: path -> (type, md5) of each made path
    looked up in the hidden copy."""
    expected_source = {p: ("d", "-") if c is None else ("f", md5(c)) for p, c in SOURCE.items()}
    # The image as made shows the whole source: by name where the tree keeps names, by content else.
    if tree == "iso9660":
        files = sorted(v for v in made.values() if v[0] == "f")
        checks.expect(files == sorted(v for v in expected_source.values() if v[0] == "f")
                      and len(made) == len(SOURCE), where + " as made", "/",
                      f"{len(SOURCE)} entries with the source's files", f"{len(made)}: {sorted(made)}")
    else:
        checks.expect(made == expected_source, where + " as made", "/", sorted(expected_source.items()),
                      sorted(made.items()))
    # Each hidden folder's path in this tree: the folder holding its marker file's content.
    by_content = {v[1]: p for p, v in made.items() if v[0] == "f"}
    hidden_paths = []
    for folder in HIDDEN:
        marker = by_content.get(md5(SOURCE[MARKER[folder]]))
        if marker is None:
            checks.expect(False, where + " as made", folder, "its files listed", "not listed")
            continue
        hidden_paths.append(os.path.dirname(marker))
    for file in HIDDEN_FILES:
        path = by_content.get(md5(SOURCE[file]))
        if path is None:
            checks.expect(False, where + " as made", file, "listed", "not listed")
            continue
        hidden_paths.append(path)

    def under_hidden(path):
        return any(path == h or path.startswith(h + "/") for h in hidden_paths)

    for path in sorted(made):
        concealed = not reveals and under_hidden(path)
        want = None if concealed else made[path]
        checks.expect(hidden.get(path) == want, where + " listing", path, show(want), show(hidden.get(path)))
        got = looks.get(path)
        if concealed:
            checks.expect(got is not None and got[0] == "missing", where + " look-up", path,
                          "no entry", show(got))
        else:
            checks.expect(got == made[path], where + " look-up", path, show(made[path]), show(got))
    for path in sorted(set(hidden) - set(made)):
        checks.expect(False, where + " listing", path, "not listed", show(hidden[path]))


def main():
    if len(sys.argv) != 4:
        print(__doc__)
        return 2
    cli, cdimage, fetch = sys.argv[1:]
    qemu = shutil.which("qemu-system-x86_64")
    if not qemu:
        skip("qemu-system-x86_64 is not installed (scripts/install-deps.sh installs qemu-system-x86)")
    busybox = "/bin/busybox"
    if not os.path.exists(busybox) or not is_static_elf(busybox):
        skip("no static /bin/busybox (scripts/install-deps.sh installs busybox-static)")
    fetched = subprocess.run(["bash", fetch], capture_output=True, text=True)
    if fetched.returncode != 0:
        skip("no kernel: " + (fetched.stderr.strip() or f"{fetch} exited with {fetched.returncode}"))
    kdir = fetched.stdout.strip().splitlines()[-1]
    release = os.path.basename(kdir)[len("kernel-"):]
    kernel = os.path.join(kdir, "boot", "vmlinuz-" + release)
    modules = module_order(os.path.join(kdir, "lib", "modules", release))

    with tempfile.TemporaryDirectory() as work:
        images = make_images(work, cli, cdimage)
        disks, plan, trees = [], [], {}
        for name, made, hidden, udf in images:
            info = run("isoinfo", "-d", "-i", made)
            rock = "Rock Ridge signatures" in info
            joliet = "Joliet with UCS level" in info
            devs = [f"vd{chr(ord('a') + len(disks))}", f"vd{chr(ord('a') + len(disks) + 1)}"]
            disks += [made, hidden]
            for fstype, modes in [("iso9660", ISO_MODES)] + ([("udf", UDF_MODES)] if udf else []):
                for options in modes:
                    plan.append(f"{name} {fstype} {options} {devs[0]} {devs[1]}")
                    trees[(name, fstype, options)] = tree_of(fstype, options, rock, joliet)
        with open(os.path.join(HERE, "init"), "rb") as f:
            init = f.read()
        with open(busybox, "rb") as f:
            busybox_data = f.read()
        entries = [("bin", 0o40755, None), ("dev", 0o40755, None), ("proc", 0o40755, None),
                   ("sys", 0o40755, None), ("lib", 0o40755, None), ("lib/modules", 0o40755, None),
                   ("init", 0o100755, init), ("bin/busybox", 0o100755, busybox_data),
                   ("modules", 0o100644, "".join(k + "\n" for k, _ in modules).encode()),
                   ("plan", 0o100644, "".join(line + "\n" for line in plan).encode())]
        for key, path in modules:
            with open(path, "rb") as f:
                entries.append((f"lib/modules/{key}.ko", 0o100644, f.read()))
        initrd = os.path.join(work, "initrd.cpio")
        with open(initrd, "wb") as f:
            f.write(cpio_newc(entries))

        console, seconds, accel = boot(qemu, kernel, initrd, disks, timeout=400)

    lines = [line.rstrip("\r")[3:] for line in console.splitlines() if line.startswith("@@ ")]
    if "BOOT" not in lines:
        last = (console.strip().splitlines() or ["no output"])[-1].strip()
        skip(f"the guest did not start under QEMU ({accel}, {seconds:.0f} s): {last}")
    print(f"kernel {release} under QEMU ({accel}): {len(disks)} images, {len(plan)} mounts, "
          f"boot to power-off {seconds:.1f} s")

    checks = Checks()
    for line in lines:
        if line.startswith("ERROR|"):
            checks.expect(False, "guest", line[6:], "no error", "an error")
    checks.expect("END" in lines, "guest", "end", "the plan run to its end",
                  "no end mark; console tail:\n" + "\n".join(console.strip().splitlines()[-10:]))
    mounts, listed, looks = {}, {}, {}
    for line in lines:
        kind, _, rest = line.partition("|")
        if kind == "MOUNT":
            name, fstype, options, side, status = rest.split("|", 4)
            mounts[(name, fstype, options, side)] = status
        elif kind == "LIST":
            name, fstype, options, side, typ, digest, path = rest.split("|", 6)
            listed.setdefault((name, fstype, options, side), {})[path] = (typ, digest)
        elif kind == "LOOK":
            name, fstype, options, typ, digest, path = rest.split("|", 5)
            looks.setdefault((name, fstype, options), {})[path] = (typ, digest)
    for (name, fstype, options), tree in trees.items():
        where = f"{name} {fstype} -o {options} ({tree} tree)"
        status = [mounts.get((name, fstype, options, side), "not run") for side in "ch"]
        checks.expect(status == ["ok", "ok"], where, "mount", "both mounted", status)
        if status != ["ok", "ok"]:
            continue
        reveals = "showassoc" in options.split(",") or "unhide" in options.split(",")
        check_mount(checks, where, tree, listed.get((name, fstype, options, "c"), {}),
                    listed.get((name, fstype, options, "h"), {}), looks.get((name, fstype, options), {}),
                    reveals)
    print(f"{checks.passed} checks passed, {checks.failed} failed")
    return 1 if checks.failed else 0


if __name__ == "__main__":
    sys.exit(main())
