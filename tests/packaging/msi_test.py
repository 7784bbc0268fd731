#!/usr/bin/env python3
"""The installer package under Wine's 64-bit msiexec, in a prefix of its own:
the registry after installing, key for key against a regsvr32 run of the
same files in the same folder; the Programs entry; the same version twice;
an upgrade from an older package; removal leaving other filters' keys;
files held by a running graph during an upgrade and a removal (deleted at
restart, the package asking for one).

Wine's own clients (RenderFile, MCI, amstream: clients_tests.exe) play
through the installed filter, found by its registration alone.

  msi_test.py --source DIR --bin DIR --msi FILE --prefix DIR --movie FILE --clients EXE
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"
CLASSES = r"HKEY_LOCAL_MACHINE\Software\Classes"
UNINSTALL = r"HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Uninstall"
SESSION = r"HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Session Manager"
INSTALL_DIR = r"C:\Program Files\Kestrel"
KESTREL = "{E6E6E32E-BB36-4AAA-BBC3-D716E77557CC}"
CLASS_SUBTREES = ("CLSID", "Media Type", "TypeLib", "Interface", "Filter")
OTHER = "{0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0}"
OTHER_SUBTYPE = "{F00DFACE-0000-4000-8000-000000000001}"
# ERROR_SUCCESS_REBOOT_REQUIRED as msiexec's exit status: a Unix process
# status under Wine keeps the code's low byte.
RESTART_NEEDED = 3010 & 0xFF

failures = []
passes = 0


def check(condition, what, detail=""):
    global passes
    if condition:
        passes += 1
        print(f"  ok: {what}")
    else:
        failures.append(what)
        print(f"  FAILED: {what}" + (f"\n{detail}" if detail else ""))


class Prefix:
    def __init__(self, path, source):
        self.path = os.path.abspath(path)
        self.source = source
        self.env = dict(os.environ, WINEPREFIX=self.path, WINEDEBUG="-all")
        self.work = tempfile.mkdtemp(prefix="kestrel-msi-")

    def up(self):
        subprocess.run([os.path.join(self.source, "scripts/wine-prefix.sh"), "up", self.path], check=True)

    def down(self):
        subprocess.run([os.path.join(self.source, "scripts/wine-prefix.sh"), "down", self.path], check=False)

    def run(self, *args, timeout=600):
        # Output through files: services the command starts inherit its
        # handles and would hold pipes open past its end.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            result = subprocess.run([WINE, *args], env=self.env, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                    timeout=timeout)
            out.seek(0)
            err.seek(0)
            result.stdout, result.stderr = out.read(), err.read()
        return result

    def unix(self, windows_path):
        assert windows_path[:3].upper() == "C:\\"
        return os.path.join(self.path, "drive_c", *windows_path[3:].split("\\"))

    @staticmethod
    def windows(unix_path):
        return "Z:" + os.path.abspath(unix_path).replace("/", "\\")

    def msiexec(self, *args):
        started = time.monotonic()
        code = self.run("msiexec", *args).returncode
        print(f"  msiexec {' '.join(args)} -> {code} ({time.monotonic() - started:.1f} s)")
        return code

    def export(self, key):
        """Keys and values under key: {key path: {value name: exported text}}.
        The classes are read subtree by subtree (what a filter registers
        lives there) plus the names of the keys at their top: a single
        export of the whole classes key did not end within ten minutes."""
        if key != CLASSES:
            return self.export_tree(key)
        tree = {}
        for sub in CLASS_SUBTREES:
            tree.update(self.export_tree(CLASSES + "\\" + sub))
        listing = self.run("reg", "query", CLASSES).stdout.decode("utf-8", "replace")
        for line in listing.splitlines():
            line = line.strip()
            if line.upper().startswith(CLASSES.upper() + "\\") and line[len(CLASSES) + 1:] not in CLASS_SUBTREES:
                tree[line] = {}
        return tree

    def export_tree(self, key):
        out = os.path.join(self.work, "export.reg")
        if os.path.exists(out):
            os.remove(out)
        result = self.run("reg", "export", key, self.windows(out), "/y")
        if result.returncode != 0:
            return {}
        return parse_reg(open(out, "rb").read().decode("utf-16"))

    def reg(self, *args):
        return self.run("reg", *args).returncode


def parse_reg(text):
    tree, current, pending = {}, None, ""
    for raw in text.splitlines():
        line = pending + (raw.lstrip() if pending else raw)
        pending = ""
        if current is not None and line.endswith("\\") and not line.startswith("["):
            pending = line[:-1]
            continue
        if line.startswith("[") and line.endswith("]"):
            current = line[1:-1]
            tree[current] = {}
        elif current is not None and line.startswith("@="):
            tree[current]["@"] = line[2:]
        elif current is not None and line.startswith('"'):
            i, name = 1, ""
            while i < len(line) and line[i] != '"':
                if line[i] == "\\" and i + 1 < len(line):
                    i += 1
                name += line[i]
                i += 1
            tree[current][name] = line[i + 2:]
    return tree


def difference(before, after, skip=()):
    """What after adds or changes against before, and the keys it lost."""
    changed = {}
    for key, values in after.items():
        if any(key.lower().startswith(s.lower()) for s in skip):
            continue
        old = before.get(key)
        if old is None:
            changed[key] = values
        else:
            delta = {n: v for n, v in values.items() if old.get(n) != v}
            delta.update({n: "<removed>" for n in old if n not in values})
            if delta:
                changed[key] = delta
    lost = sorted(k for k in before if k not in after and not any(k.lower().startswith(s.lower()) for s in skip))
    return changed, lost


def describe(changed):
    lines = []
    for key in sorted(changed):
        lines.append(f"    [{key}]")
        lines.extend(f"      {n} = {v[:120]}" for n, v in sorted(changed[key].items()))
    return "\n".join(lines)


def product_entries(prefix):
    return {k: v for k, v in prefix.export(UNINSTALL).items() if v.get("DisplayName") == '"Kestrel"'}


def installed_files(prefix):
    folder = prefix.unix(INSTALL_DIR)
    if not os.path.isdir(folder):
        return None
    return {name: open(os.path.join(folder, name), "rb").read() for name in sorted(os.listdir(folder))}


def pending_renames(prefix):
    return prefix.export(SESSION).get(SESSION, {}).get("PendingFileRenameOperations")


def scheduled_deletions(pending):
    """The paths PendingFileRenameOperations deletes (a source followed by an
    empty destination), lower-cased, without the "\\??\\" prefix."""
    if not pending or not pending.startswith("hex(7):"):
        return []
    text = pending[len("hex(7):"):].replace("\\", "").replace(" ", "")
    data = bytes(int(b, 16) for b in text.split(",") if b)
    names = data.decode("utf-16-le").split("\0")
    return [source.removeprefix("\\??\\").lower()
            for source, destination in zip(names[0::2], names[1::2]) if source and not destination]


def restart(prefix):
    """Ends every process of the prefix and starts it again, as Windows
    restarts: the renames scheduled for then are carried out."""
    subprocess.run([WINESERVER, "-k"], env=prefix.env, check=False)
    subprocess.run([WINESERVER, "-w"], env=prefix.env, check=False)
    prefix.run("wineboot", "-r")
    subprocess.run([WINESERVER, "-p"], env=prefix.env, check=False)


class Holder:
    """A running graph of the registered filter (kestrel-hold-filter.exe)."""

    def __init__(self, prefix, bin_dir, movie):
        self.process = subprocess.Popen(
            [WINE, os.path.join(bin_dir, "kestrel-hold-filter.exe"), prefix.windows(movie)], env=prefix.env,
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.line = self.process.stdout.readline().strip()

    def release(self):
        try:
            self.process.communicate("\n", timeout=60)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.communicate()
        return self.process.returncode


def main():
    parser = argparse.ArgumentParser()
    for name in ("--source", "--bin", "--msi", "--prefix", "--movie", "--clients"):
        parser.add_argument(name, required=True)
    args = parser.parse_args()

    prefix = Prefix(args.prefix, args.source)
    subprocess.run([WINESERVER, "-k"], env=prefix.env, check=False)
    shutil.rmtree(prefix.path, ignore_errors=True)
    prefix.up()
    msi = prefix.windows(args.msi)
    try:
        run(prefix, args, msi)
    finally:
        prefix.down()
        shutil.rmtree(prefix.work, ignore_errors=True)
    print(f"{passes} passed, {len(failures)} failed")
    for what in failures:
        print(f"  failed: {what}")
    return 1 if failures else 0


def run(prefix, args, msi):
    folder = prefix.unix(INSTALL_DIR)
    module = INSTALL_DIR + "\\kestrel.ax"
    baseline = prefix.export(CLASSES)
    check(len(baseline) > 1000, "the prefix's classes export")

    print("regsvr32 of the same files in the same folder")
    os.makedirs(folder)
    for name in ("kestrel.ax", "kestrelmedia.dll"):
        shutil.copy(os.path.join(args.bin, name), folder)
    check(prefix.run("regsvr32", "/s", module).returncode == 0, "regsvr32 kestrel.ax")
    reference, lost = difference(baseline, prefix.export(CLASSES))
    check(not lost, "regsvr32 removes nothing", "\n".join(lost))
    print(f"  regsvr32 wrote {len(reference)} keys:\n" + describe(reference))
    check(prefix.run("regsvr32", "/s", "/u", module).returncode == 0, "regsvr32 /u kestrel.ax")
    left, lost = difference(baseline, prefix.export(CLASSES))
    check(not left and not lost, "regsvr32 /u leaves the classes as they were", describe(left) + "\n".join(lost))
    shutil.rmtree(folder)

    print("install")
    check(prefix.msiexec("/i", msi, "/qn") == 0, "msiexec /i /qn succeeds")
    files = installed_files(prefix)
    check(files is not None and sorted(files) == ["kestrel.ax", "kestrelmedia.dll"],
          "kestrel.ax and kestrelmedia.dll under Program Files\\Kestrel", str(files and sorted(files)))
    check(files and files["kestrel.ax"] == open(os.path.join(args.bin, "kestrel.ax"), "rb").read(),
          "the installed kestrel.ax is the built one")
    installed, lost = difference(baseline, prefix.export(CLASSES), skip=(CLASSES + "\\Installer",))
    check(installed == reference and not lost, "the registry holds exactly what regsvr32 writes",
          "msiexec:\n" + describe(installed) + "\nregsvr32:\n" + describe(reference))
    entries = product_entries(prefix)
    check(len(entries) == 1, "one Programs entry", str(list(entries)))
    version = os.path.basename(args.msi).split("-")[1]
    for entry in entries.values():
        print("  Programs entry: " + ", ".join(f"{n}={entry.get(n)}" for n in (
            "DisplayName", "DisplayVersion", "Publisher", "InstallLocation", "EstimatedSize")))
        check(entry.get("DisplayVersion") == f'"{version}"', "DisplayVersion is the package's version")
        check(entry.get("Publisher") == '"Corvane"', "Publisher Corvane")
        check(entry.get("InstallLocation", "").strip('"').rstrip("\\\\") == INSTALL_DIR.replace("\\", "\\\\"),
              "InstallLocation is the folder", entry.get("InstallLocation", ""))
        size = entry.get("EstimatedSize", "")
        expected = (sum(os.path.getsize(os.path.join(args.bin, n)) for n in ("kestrel.ax", "kestrelmedia.dll"))
                    + 1023) // 1024
        check(size.startswith("dword:") and int(size[6:], 16) == expected, f"EstimatedSize {expected} KB", size)

    print("Wine's clients with the installed filter")
    prefix.down()
    env = dict(prefix.env, KESTREL_INSTALLED=module, KESTREL_FIXTURES=os.path.dirname(os.path.abspath(args.movie)))
    started = time.monotonic()
    clients = subprocess.run([os.path.join(args.source, "scripts/wine-gui.sh"), prefix.path, args.clients], env=env,
                             stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=600)
    shown = [line for line in clients.stdout.splitlines() if not line.startswith("[")]
    print("\n".join("    " + line for line in shown) + f"\n  ({time.monotonic() - started:.1f} s)")
    check(clients.returncode == 0, "RenderFile, MCI and amstream play through the installed Kestrel",
          clients.stdout[-4000:] + clients.stderr[-2000:])
    prefix.up()

    print("the same version again")
    classes = prefix.export(CLASSES)
    code = prefix.msiexec("/i", msi, "/qn")
    check(code == 0, "a second install of the same version succeeds")
    check(prefix.export(CLASSES) == classes, "and changes no key")
    check(installed_files(prefix) == files, "nor a file")
    check(len(product_entries(prefix)) == 1, "nor the Programs entry")

    print("another filter takes .aac; another subtype signature")
    prefix.reg("add", r"HKCR\Media Type\Extensions\.aac", "/v", "Source Filter", "/d", OTHER, "/f")
    other_signature = rf"HKCR\Media Type\{{E436EB83-524F-11CE-9F53-0020AF0BA770}}\{OTHER_SUBTYPE}"
    prefix.reg("add", other_signature, "/v", "0", "/d", "0,4,,4f746872", "/f")
    prefix.reg("add", other_signature, "/v", "Source Filter", "/d", OTHER, "/f")
    before_removal = prefix.export(CLASSES)
    theirs = {k: v for k, v in before_removal.items() if k.endswith(r"\.aac") or k.endswith(OTHER_SUBTYPE)}

    print("uninstall")
    check(prefix.msiexec("/x", msi, "/qn") == 0, "msiexec /x /qn succeeds")
    check(not os.path.exists(folder), "Program Files\\Kestrel is gone",
          str(os.listdir(folder)) if os.path.isdir(folder) else "")
    left, lost = difference(baseline, prefix.export(CLASSES), skip=(CLASSES + "\\Installer",))
    check(left == theirs and not lost, "only the other filters' keys are left, as they were",
          "left:\n" + describe(left) + "\nexpected:\n" + describe(theirs) + "\nlost: " + ", ".join(lost))
    check(not product_entries(prefix), "no Programs entry")
    prefix.reg("delete", r"HKCR\Media Type\Extensions\.aac", "/f")
    prefix.reg("delete", other_signature, "/f")

    print("upgrade from an older package")
    older_dir = os.path.join(prefix.work, "older")
    older = subprocess.run([os.path.join(args.source, "packaging/make-msi.sh"), "--version", "0.9.0", args.bin,
                            older_dir], capture_output=True, text=True, check=True).stdout.strip()
    check(prefix.msiexec("/i", prefix.windows(older), "/qn") == 0, "the older package installs")
    check([e.get("DisplayVersion") for e in product_entries(prefix).values()] == ['"0.9.0"'], "as 0.9.0")
    check(prefix.msiexec("/i", msi, "/qn") == 0, "the current package installs over it")
    versions = [e.get("DisplayVersion") for e in product_entries(prefix).values()]
    check(versions == [f'"{version}"'], "one Programs entry, the new version", str(versions))
    upgraded, lost = difference(baseline, prefix.export(CLASSES), skip=(CLASSES + "\\Installer",))
    check(upgraded == reference and not lost, "the registry holds what regsvr32 writes", describe(upgraded))
    check(installed_files(prefix) == files, "the files are the current ones")
    check(prefix.msiexec("/i", prefix.windows(older), "/qn") != 0, "the older package refuses to downgrade")
    check(prefix.msiexec("/x", msi, "/qn") == 0, "and it uninstalls")
    check(not os.path.exists(folder), "leaving no folder")

    print("files in use during an upgrade")
    check(prefix.msiexec("/i", prefix.windows(older), "/qn") == 0, "the older package installs")
    holder = Holder(prefix, args.bin, args.movie)
    check(holder.line.startswith("ready ") and holder.line[6:].lower() == module.lower(),
          "a running graph holds the installed kestrel.ax", holder.line)
    code = prefix.msiexec("/i", msi, "/qn")
    check(code in (0, RESTART_NEEDED), "the upgrade succeeds (3010: restart needed)", str(code))
    pending = pending_renames(prefix)
    print(f"  PendingFileRenameOperations: {pending}")
    # The older version's removal schedules the files it could not delete;
    # the new installation takes back what would delete its own.
    check(not scheduled_deletions(pending), "no deletion of the installed files is left scheduled", str(pending))
    entries = product_entries(prefix)
    check([e.get("DisplayVersion") for e in entries.values()] == [f'"{version}"'], "the new version is installed")
    check(holder.release() == 0, "the graph played on and ended")
    restart(prefix)
    check(pending_renames(prefix) is None, "the restart carried out the renames")
    check(installed_files(prefix) == files, "the installed files are whole and current")
    upgraded, lost = difference(baseline, prefix.export(CLASSES), skip=(CLASSES + "\\Installer",))
    check(upgraded == reference and not lost, "the registry holds what regsvr32 writes", describe(upgraded))
    holder = Holder(prefix, args.bin, args.movie)
    check(holder.line.startswith("ready "), "the installed filter plays", holder.line)
    holder.release()

    print("files in use during removal")
    holder = Holder(prefix, args.bin, args.movie)
    check(holder.line.startswith("ready "), "a running graph holds the installed kestrel.ax", holder.line)
    code = prefix.msiexec("/x", msi, "/qn")
    left = sorted(os.listdir(folder)) if os.path.isdir(folder) else []
    pending = pending_renames(prefix)
    print(f"  PendingFileRenameOperations: {pending}; left: {left}")
    if left:
        # The package schedules what is left, then the folder, for deletion
        # at restart and asks for one.
        check(code == RESTART_NEEDED, "the removal succeeds and asks for a restart (3010)", str(code))
        scheduled = [INSTALL_DIR + "\\" + name for name in left] + [INSTALL_DIR]
        check(scheduled_deletions(pending) == [path.lower() for path in scheduled],
              "what is left, then the folder, is deleted at restart", str(pending))
    else:
        check(code == 0, "the removal succeeds", str(code))
    left_keys, lost = difference(baseline, prefix.export(CLASSES), skip=(CLASSES + "\\Installer",))
    check(not left_keys and not lost, "no key of ours is left", describe(left_keys))
    check(holder.release() == 0, "the graph played on and ended")
    restart(prefix)
    check(pending_renames(prefix) is None, "the restart carried out the deletions")
    check(not os.path.exists(folder), "after the restart no file or folder is left",
          str(sorted(os.listdir(folder)) if os.path.isdir(folder) else ""))
    check(not product_entries(prefix), "no Programs entry")


if __name__ == "__main__":
    sys.exit(main())
