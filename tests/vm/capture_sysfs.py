#!/usr/bin/env python3
"""Run in the rig's guest (scripts/vm ... -- tests/vm/capture_sysfs.py OUT):
copies the USB and block parts of the real /sys into OUT, a sysfs root for the
unit tests of the Linux discovery.

Kept: the whole device tree below every USB host controller (devices,
interfaces, ports with their peer links, SCSI hosts, targets, disks,
partitions, sg nodes), the attribute files of the PCI devices above them, and
the links of /sys/bus/usb/devices, /sys/block, /sys/class/block and
/sys/class/scsi_generic that lead into it. Attribute files are copied as text;
binary ones (descriptors), write-only, unreadable and large ones are left out.
Links stay the kernel's relative links, so the tree resolves inside OUT.
"""
import os
import shutil
import sys

MAX_BYTES = 16384


# CAPTURE_TRACE=FILE names each attribute in FILE before it is read.
TRACE = open(os.environ["CAPTURE_TRACE"], "a") if os.environ.get("CAPTURE_TRACE") else None


def copy_file(src, dest):
    if TRACE:
        print(src, file=TRACE, flush=True)
    try:
        with open(src, "rb") as f:
            data = f.read(MAX_BYTES + 1)
    except OSError:
        return
    if len(data) > MAX_BYTES or b"\0" in data:
        return
    try:
        data.decode("ascii")
    except UnicodeDecodeError:
        return
    os.makedirs(os.path.dirname(dest), exist_ok=True)
    with open(dest, "wb") as f:
        f.write(data)


def copy_entry(sysfs, out, path):
    dest = os.path.join(out, os.path.relpath(path, sysfs))
    if os.path.islink(path):
        os.makedirs(os.path.dirname(dest), exist_ok=True)
        if os.path.lexists(dest):
            os.remove(dest)
        os.symlink(os.readlink(path), dest)
    elif os.path.isdir(path):
        os.makedirs(dest, exist_ok=True)
    elif os.path.isfile(path):
        copy_file(path, dest)


def copy_dir_files(sysfs, out, d):
    os.makedirs(os.path.join(out, os.path.relpath(d, sysfs)), exist_ok=True)
    for name in sorted(os.listdir(d)):
        p = os.path.join(d, name)
        if os.path.islink(p) or os.path.isfile(p):
            copy_entry(sysfs, out, p)


def capture(sysfs, out):
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    usb = os.path.join(sysfs, "bus/usb/devices")
    controllers = sorted({os.path.dirname(os.path.realpath(os.path.join(usb, n)))
                          for n in os.listdir(usb) if n.startswith("usb")})
    devices = os.path.join(sysfs, "devices")
    for c in controllers:
        d = os.path.dirname(c)
        while len(d) > len(devices):
            copy_dir_files(sysfs, out, d)
            d = os.path.dirname(d)
        copy_dir_files(sysfs, out, c)
        for name in sorted(os.listdir(c)):
            if not name.startswith("usb"):
                continue
            for root, dirs, files in os.walk(os.path.join(c, name), followlinks=False):
                copy_entry(sysfs, out, root)
                for n in dirs + files:
                    p = os.path.join(root, n)
                    if os.path.islink(p) or not os.path.isdir(p):
                        copy_entry(sysfs, out, p)
    for cls in ("bus/usb/devices", "block", "class/block", "class/scsi_generic"):
        folder = os.path.join(sysfs, cls)
        if not os.path.isdir(folder):
            continue
        for n in sorted(os.listdir(folder)):
            p = os.path.join(folder, n)
            target = os.path.relpath(os.path.realpath(p), sysfs)
            if os.path.islink(p) and os.path.exists(os.path.join(out, target)):
                copy_entry(sysfs, out, p)
    files = links = 0
    for root, dirs, names in os.walk(out):
        for n in dirs + names:
            if os.path.islink(os.path.join(root, n)):
                links += 1
            elif n in names:
                files += 1
    print("capture_sysfs: %d files, %d links in %s" % (files, links, out))


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: capture_sysfs.py OUT")
    capture(os.environ.get("SYSFS_ROOT", "/sys"), os.path.abspath(sys.argv[1]))
