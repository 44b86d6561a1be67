"""Loop devices, device-mapper targets and ext4 for the power-loss runs, inside
the alsa-vm guest only. Every program runs under a time limit; everything made
here is undone by close(), in reverse order."""

import ctypes
import fcntl
import os
import struct
import subprocess

SKIP = 77  # CTest's "skipped"
DEVICE_MIB = 32  # each image; the guest keeps them in its memory

_DM_NAME_LENGTH = 128
_DM_IOCTL = struct.Struct("=3IIIIiIIIQ128s129s7s")  # struct dm_ioctl, 312 bytes
_DM_TABLE_TARGET = struct.Struct("=QQiI16s")  # one target of a table as the kernel reads it


def _dm_request(number):
    return (3 << 30) | (_DM_IOCTL.size << 16) | (0xFD << 8) | number


_DM_DEV_CREATE = _dm_request(3)
_DM_DEV_REMOVE = _dm_request(4)
_DM_DEV_SUSPEND = _dm_request(6)
_DM_TABLE_LOAD = _dm_request(9)
_DM_TARGET_MSG = _dm_request(14)


_libc = ctypes.CDLL(None, use_errno=True)
_LOOP_SET_FD = 0x4C00
_LOOP_CLR_FD = 0x4C01
_LOOP_CTL_GET_FREE = 0x4C82


class StepFailed(Exception):
    """A step of the set-up or of a check that did not work."""


def run(command, timeout=60, check=True):
    """Runs a program under a time limit (subprocess kills it by its pid when it hangs)."""
    try:
        result = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True,
                                timeout=timeout, text=True)
    except subprocess.TimeoutExpired as error:
        raise StepFailed(f"{' '.join(command)}: no end within {timeout} s") from error
    if check and result.returncode != 0:
        raise StepFailed(f"{' '.join(command)}: status {result.returncode}: "
                         f"{result.stderr.strip()}")
    return result


def why_unavailable():
    """Why this machine cannot run the block-device checks, or None when it can."""
    if os.environ.get("ALSA_VM") != "1":
        return "not inside alsa-vm: the block-device checks run only in its guest (--block)"
    if os.geteuid() != 0:
        return "needs root in the guest for loop and device-mapper devices"
    if not os.path.exists("/dev/mapper/control"):
        return "no device-mapper in the guest (alsa-vm --block)"
    try:
        targets = run(["dmsetup", "targets"], timeout=30).stdout
    except (StepFailed, FileNotFoundError) as error:
        return f"dmsetup does not work: {error}"
    missing = [t for t in ("log-writes", "flakey", "delay") if t not in targets]
    if missing:
        return f"device-mapper targets missing: {', '.join(missing)}"
    return None


class Machine:
    """The devices and mounts of one run, all in the guest."""

    def __init__(self, work):
        if os.environ.get("ALSA_VM") != "1":
            raise StepFailed("refusing to touch block devices outside the alsa-vm guest")
        os.environ["DM_DISABLE_UDEV"] = "1"
        self.work = work
        self._undo = []

    def image(self, name, mib):
        path = os.path.join(self.work, name)
        with open(path, "wb") as file:
            file.truncate(mib << 20)
        return path

    def loop(self, image):
        device = run(["losetup", "-f", "--show", image]).stdout.strip()
        self._undo.append(["losetup", "-d", device])
        return device

    def attach(self, image):
        """A loop device on the image, by ioctl as losetup does, without a program:
        the checks attach one for every crash point."""
        control = os.open("/dev/loop-control", os.O_RDWR)
        try:
            device = f"/dev/loop{fcntl.ioctl(control, _LOOP_CTL_GET_FREE)}"
        finally:
            os.close(control)
        backing = os.open(image, os.O_RDWR)
        try:
            loop = os.open(device, os.O_RDWR)
            try:
                fcntl.ioctl(loop, _LOOP_SET_FD, backing)
            finally:
                os.close(loop)
        finally:
            os.close(backing)
        self._undo.append(["losetup", "-d", device])
        return device

    def detach(self, device):
        loop = os.open(device, os.O_RDWR)
        try:
            fcntl.ioctl(loop, _LOOP_CLR_FD, 0)
        finally:
            os.close(loop)
        self._undo.remove(["losetup", "-d", device])

    def create(self, name, table):
        run(["dmsetup", "create", name, "--noudevsync", "--table", table])
        self._undo.append(["dmsetup", "remove", "--noudevsync", name])
        return "/dev/mapper/" + name

    def remove(self, name):
        """Removes a target now (the log-writes target closes its log then)."""
        command = ["dmsetup", "remove", "--noudevsync", name]
        run(command, timeout=120)
        self._undo.remove(command)

    def reload(self, name, table):
        """Swaps the table of a live target, without freezing the file system on it."""
        run(["dmsetup", "load", name, "--table", table])
        run(["dmsetup", "suspend", "--nolockfs", "--noudevsync", name])
        run(["dmsetup", "resume", "--noudevsync", name])

    def mount(self, device, folder):
        """ext4 with the desktop's options (data=ordered), by the system call: the
        checks mount once per crash point, and a program costs much more in the VM."""
        os.makedirs(folder, exist_ok=True)
        if _libc.mount(device.encode(), folder.encode(), b"ext4", 0, b"data=ordered") != 0:
            error = ctypes.get_errno()
            raise StepFailed(f"mount {device} on {folder}: {os.strerror(error)}")
        self._undo.append(["umount", folder])

    def unmount(self, folder):
        if _libc.umount(folder.encode()) != 0:
            error = ctypes.get_errno()
            raise StepFailed(f"umount {folder}: {os.strerror(error)}")
        self._undo.remove(["umount", folder])

    def close(self):
        while self._undo:
            run(self._undo.pop(), timeout=120, check=False)


def sectors(device):
    return int(run(["blockdev", "--getsz", device]).stdout)


def make_ext4(device):
    # The desktop's ext4 (4 KiB blocks, journal, data=ordered at mount), no discard
    # at creation so that the log holds only what the file system writes.
    run(["mkfs.ext4", "-q", "-F", "-T", "default", "-E", "nodiscard", device], timeout=120)


def fsck(device):
    """fsck.ext4 -p as a boot runs it (the journal replay); True when the file
    system is usable afterwards (status 0, 1 or 2)."""
    result = run(["fsck.ext4", "-p", device], timeout=120, check=False)
    return result.returncode in (0, 1, 2), result.returncode, result.stdout + result.stderr


def _dm(request, name, payload=b"", target_count=0):
    """One device-mapper ioctl on the control device, as dmsetup makes it; the
    answering struct dm_ioctl's fields."""
    header = _DM_IOCTL.pack(4, 0, 0, _DM_IOCTL.size + len(payload), _DM_IOCTL.size,
                            target_count, 0, 0, 0, 0, 0, name.encode()[:_DM_NAME_LENGTH - 1],
                            b"", b"")
    buffer = bytearray(header + payload)
    descriptor = os.open("/dev/mapper/control", os.O_RDWR)
    try:
        fcntl.ioctl(descriptor, request, buffer, True)
    except OSError as error:
        raise StepFailed(f"device-mapper request {request & 0xFF} for {name}: {error}") from error
    finally:
        os.close(descriptor)
    return _DM_IOCTL.unpack_from(buffer)


def create_quickly(name, table):
    """`dmsetup create NAME --table TABLE` for one target, by ioctl: the checks make a
    device for every crash point, and a program costs much more in the VM. The
    device is the kernel's own node, /dev/dm-N."""
    start, length, target, parameters = table.split(" ", 3)
    parameters = parameters.encode() + b"\0"
    parameters += bytes(-(_DM_TABLE_TARGET.size + len(parameters)) % 8)
    described = _DM_TABLE_TARGET.pack(int(start), int(length), 0,
                                      _DM_TABLE_TARGET.size + len(parameters), target.encode())
    device = _dm(_DM_DEV_CREATE, name)[10]
    try:
        _dm(_DM_TABLE_LOAD, name, described + parameters, target_count=1)
        _dm(_DM_DEV_SUSPEND, name)  # without the suspend flag: resume, the loaded table live
    except StepFailed:
        _dm(_DM_DEV_REMOVE, name)
        raise
    return f"/dev/dm-{os.minor(device)}"


def remove_quickly(name):
    _dm(_DM_DEV_REMOVE, name)


def mark(name, text):
    """Puts a mark into a log-writes target's log, as `dmsetup message NAME 0 mark
    TEXT` does, through the device-mapper control device without a process."""
    _dm(_DM_TARGET_MSG, name, struct.pack("=Q", 0) + b"mark " + text.encode() + b"\0")
