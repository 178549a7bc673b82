#!/usr/bin/env python3
"""The verdicts of the end-to-end test under Wine (run.sh drives Wine; this
file reads what it collected and prints one "PASS name" or "FAIL name: why"
line per check; its exit status is the number of failed checks, at most 100).

What it reads:
  - the two stand-in packages (product/*.wxs): product and upgrade codes,
    components and their key files, so that no code is written down twice;
  - "reg export" files (UTF-16LE) of HKLM\\SOFTWARE and of the services key,
    before and after a run;
  - snapshots of the prefix's drive_c (snapshot command, a JSON file);
  - the run log's bytes;
  - Wine's relay trace of the run (stderr with WINEDEBUG=+relay), from which
    the calls the cleaner made to the service controller and to NetUserDel
    are taken;
  - the stand-in services' journals (C:\\stand-in\\NAME.txt).

Commands (see run.sh for the arguments):
  fixture-shell WXS_DIR           shell assignments of the codes run.sh needs
  snapshot DRIVE_C OUT.json       the file tree of a prefix's drive_c
  check-installed DATA            the stand-in is installed as expected
  check-cleaned DATA ...          a run that cleaned up
  check-unchanged DATA ...        a run that changed nothing
"""

import argparse
import json
import os
import re
import stat
import struct
import sys
import xml.etree.ElementTree as ET

WIX = "{http://schemas.microsoft.com/wix/2006/wi}"

HKLM = "HKEY_LOCAL_MACHINE"
INSTALLER = HKLM + r"\SOFTWARE\Microsoft\Windows\CurrentVersion\Installer"
COMPONENTS_PATH = r"SOFTWARE\Microsoft\Windows\CurrentVersion\Installer\UserData\S-1-5-18\Components"
UNINSTALL = HKLM + r"\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall"
VENDOR_KEY = HKLM + r"\SOFTWARE\Morvathen\Components\34"
VENDOR_KEY_28 = HKLM + r"\SOFTWARE\Morvathen\Components\28"
SERVER_SUBKEYS = [".core", "1093", "1102", "1103", "Connectors_", "EventsFilter", "TestProduct"]
ACCOUNT_KEY = VENDOR_KEY + r"\1093\1.0.0.0"
SERVICE_NAMES = ["Ostrivel", "Pennaquist", "Brolmidas"]
SERVER_COMPONENT_CODE = "{5B1E6C3A-27D4-4F80-9A6E-C4D2873B1F05}"
SERVICES_KEY = HKLM + r"\SYSTEM\CurrentControlSet\Services"

# Where the stand-in keeps its settings stores (seed/vendor.reg, run.sh).
STORE_DIR = r"C:\ProgramData\Morvathen\Server\Store"
E2S_DIR = r"C:\ProgramData\Morvathen\Server\E2S"
LIBRARY_FILE = r"C:\ProgramData\Morvathen\Server\nq.dll"
LOG_NAME = "$vornalet.log"

# Windows error codes the checks expect.
ERROR_FILE_NOT_FOUND = 2
ERROR_SERVICE_DOES_NOT_EXIST = 1060
NERR_USER_NOT_FOUND = 2221
ERROR_UNKNOWN_COMPONENT = 1607


# ---------------------------------------------------------------------------
# Reporting


class Report:
    def __init__(self, case):
        self.case = case
        self.failures = 0

    def check(self, name, problems):
        """problems: a list of texts (empty: the check passed), or a bool."""
        if problems is True:
            problems = []
        elif problems is False:
            problems = ["not as expected"]
        if not problems:
            print("PASS [%s] %s" % (self.case, name))
            return True
        self.failures += 1
        print("FAIL [%s] %s: %s" % (self.case, name, problems[0]))
        for problem in problems[1:12]:
            print("       %s" % problem)
        if len(problems) > 12:
            print("       ... and %d more" % (len(problems) - 12))
        return False

    def exit(self):
        sys.exit(min(self.failures, 100))


# ---------------------------------------------------------------------------
# The stand-in packages


def pack_guid(guid):
    """The installer's packed form of a braced GUID, letter case kept."""
    groups = guid[1:9][::-1] + guid[10:14][::-1] + guid[15:19][::-1]
    rest = guid[20:24] + guid[25:37]
    return groups + "".join(rest[i + 1] + rest[i] for i in range(0, len(rest), 2))


assert pack_guid(SERVER_COMPONENT_CODE) == "A3C6E1B54D7208F4A9E64C2D78B3F150"


def read_package(path):
    """Product code, upgrade code and {component code: key file path}."""
    product = ET.parse(path).getroot().find(WIX + "Product")
    components = {}

    def walk(element, directory):
        for child in element:
            if child.tag == WIX + "Directory":
                if child.get("Id") == "TARGETDIR":
                    walk(child, "C:")
                elif child.get("Id") == "ProgramFiles64Folder":
                    walk(child, r"C:\Program Files")
                else:
                    walk(child, directory + "\\" + child.get("Name"))
            elif child.tag == WIX + "Component":
                for file in child.findall(WIX + "File"):
                    if file.get("KeyPath") == "yes":
                        components[child.get("Guid").upper()] = directory + "\\" + file.get("Name")

    walk(product, None)
    return {"code": product.get("Id"), "upgrade": product.get("UpgradeCode"), "components": components}


def read_packages(wxs_dir):
    server = read_package(os.path.join(wxs_dir, "server.wxs"))
    console = read_package(os.path.join(wxs_dir, "console.wxs"))
    return server, console


# ---------------------------------------------------------------------------
# Registry exports


class Registry:
    """A "reg export" file: keys in the order written (the order in which
    the registry enumerates them), each with its values {lower name: (name,
    data text)}. Key and value names compare without regard to case, as the
    registry compares them."""

    def __init__(self, path):
        self.order = []
        self.keys = {}
        text = open(path, "rb").read().decode("utf-16")
        lines = text.splitlines()
        values = None
        index = 0
        while index < len(lines):
            line = lines[index]
            index += 1
            if line.startswith("[") and line.endswith("]"):
                name = line[1:-1]
                values = {}
                self.order.append(name)
                self.keys[name.lower()] = (name, values)
            elif values is not None and (line.startswith('"') or line.startswith("@=")):
                name, data = split_value(line)
                while data.startswith("hex") and data.endswith("\\") and index < len(lines):
                    data = data[:-1] + lines[index].strip()
                    index += 1
                values[name.lower()] = (name, data)

    def has(self, key):
        return key.lower() in self.keys

    def values(self, key):
        return self.keys[key.lower()][1] if self.has(key) else {}

    def value(self, key, name):
        entry = self.values(key).get(name.lower())
        return entry[1] if entry else None

    def subkeys(self, key):
        """Direct subkeys, in enumeration order."""
        prefix = key.lower() + "\\"
        return [name for name in self.order if name.lower().startswith(prefix) and "\\" not in name[len(prefix) :]]

    def subtree(self, key):
        prefix = key.lower() + "\\"
        return [name for name in self.order if name.lower() == key.lower() or name.lower().startswith(prefix)]


def split_value(line):
    if line.startswith("@="):
        return "", line[2:]
    name = []
    position = 1
    while position < len(line) and line[position] != '"':
        if line[position] == "\\" and position + 1 < len(line):
            position += 1
        name.append(line[position])
        position += 1
    return "".join(name), line[position + 2 :]


def string_data(data):
    """The text of a REG_SZ value as exported, or None for other types."""
    if not (data.startswith('"') and data.endswith('"')):
        return None
    return re.sub(r"\\(.)", r"\1", data[1:-1])


def in_subtree(key, roots):
    lowered = key.lower()
    return any(lowered == root.lower() or lowered.startswith(root.lower() + "\\") for root in roots)


def compare_registries(before, after, removed_subtrees, emptied_keys):
    """Problems found: a key of removed_subtrees still there, a key of
    emptied_keys missing or with values left, and any other difference."""
    problems = []
    for key in before.order:
        if in_subtree(key, removed_subtrees):
            if after.has(key):
                problems.append("still there: " + key)
        elif not after.has(key):
            problems.append("deleted, but not the cleaner's: " + key)
        elif any(key.lower() == emptied.lower() for emptied in emptied_keys):
            left = sorted(name or "(default)" for name, _ in after.values(key).values())
            if left:
                problems.append("values left in %s: %s" % (key, ", ".join(left)))
        elif before.values(key) != after.values(key):
            problems.append(
                "values changed in %s: %s -> %s" % (key, describe_values(before.values(key)), describe_values(after.values(key)))
            )
    for key in after.order:
        if not before.has(key):
            problems.append("new key: " + key)
    return problems


def describe_values(values):
    return "{" + ", ".join("%s=%s" % (name or "@", data[:40]) for name, data in sorted(values.values())) + "}"


# ---------------------------------------------------------------------------
# File trees


def snapshot(drive_c):
    """{relative unix path: entry} for everything under drive_c; links are
    recorded, not followed. Directory times are left out: a deletion changes
    them."""
    entries = {}
    for directory, subdirectories, files in os.walk(drive_c):
        for name in subdirectories + files:
            path = os.path.join(directory, name)
            status = os.lstat(path)
            entry = {"readonly": not (status.st_mode & 0o222)}
            if stat.S_ISLNK(status.st_mode):
                entry["kind"] = "link"
                entry["target"] = os.readlink(path)
            elif stat.S_ISDIR(status.st_mode):
                entry["kind"] = "dir"
            else:
                entry["kind"] = "file"
                entry["size"] = status.st_size
                entry["mtime"] = status.st_mtime_ns
            try:
                entry["dos"] = os.getxattr(path, "user.DOSATTRIB", follow_symlinks=False).decode("ascii", "replace")
            except OSError:
                pass
            entries[os.path.relpath(path, drive_c)] = entry
    return entries


def unix_of(windows_path):
    """drive_c-relative unix path of a C:\\ path."""
    assert windows_path[:3].upper() == "C:\\", windows_path
    return windows_path[3:].replace("\\", "/")


def under(relative, root):
    return relative == root or relative.startswith(root + "/")


def compare_trees(before, after, removed, ignored):
    """removed, ignored: drive_c-relative unix paths (whole subtrees)."""
    problems = []
    for path, entry in sorted(before.items()):
        if any(under(path, root) for root in ignored):
            continue
        if any(under(path, root) for root in removed):
            if path in after:
                problems.append("still there: " + path)
        elif path not in after:
            problems.append("deleted, but not the cleaner's: " + path)
        elif after[path] != entry:
            problems.append("changed: %s %s -> %s" % (path, entry, after[path]))
    for path in sorted(set(after) - set(before)):
        if not any(under(path, root) for root in ignored):
            problems.append("new: " + path)
    return problems


def tree_of(files, windows_dir):
    """The directory's contents as nested dicts: {name: subtree or None}."""
    root = unix_of(windows_dir)
    tree = {}
    for path in sorted(files):
        if not path.startswith(root + "/"):
            continue
        node = tree
        parts = path[len(root) + 1 :].split("/")
        for part in parts[:-1]:
            node = node.setdefault(part, {})
        if files[path]["kind"] == "dir":
            node.setdefault(parts[-1], {})
        else:
            node[parts[-1]] = None
    return tree


# ---------------------------------------------------------------------------
# The run log


class LogLines:
    def __init__(self, lines):
        self.lines = lines
        self.position = 0

    def peek(self):
        return self.lines[self.position] if self.position < len(self.lines) else None

    def take(self, expected, problems):
        line = self.peek()
        if line != expected:
            problems.append("line %d: expected %r, found %r" % (self.position + 1, expected, line))
            return False
        self.position += 1
        return True


def read_log(path, report):
    """The log's lines; checks the bytes: ISO 8859-1 text, every line ended
    by CR LF, no other CR or LF."""
    try:
        data = open(path, "rb").read()
    except OSError as error:
        report.check("run log exists", ["cannot read %s: %s" % (path, error)])
        return None
    problems = []
    if not data.endswith(b"\r\n"):
        problems.append("does not end with CR LF: ...%r" % data[-40:])
    body = data[:-2] if data.endswith(b"\r\n") else data
    lines = body.split(b"\r\n")
    for number, line in enumerate(lines, 1):
        if b"\r" in line or b"\n" in line:
            problems.append("line %d holds a lone CR or LF: %r" % (number, line))
    report.check("run log bytes: lines end in CR LF, nothing else breaks them", problems)
    return [line.decode("latin-1") for line in lines]


def expect_walk(log, directory, tree, problems):
    """The lines of the directory walk of one directory: "Removing Dir",
    then each entry in whatever order the file system lists it (files with
    "Deleting file" and "OK", subdirectories with their own walk and the
    "Cannot remove dir" that the second removal of a removed directory
    gives). The entries are compared as a set."""
    if not log.take("Removing Dir " + directory, problems):
        return
    seen = set()
    while True:
        line = log.peek() or ""
        for lead, kind in (("Deleting file ", "file"), ("Removing Dir ", "dir")):
            if line.startswith(lead + directory + "\\") and "\\" not in line[len(lead + directory) + 1 :]:
                break
        else:
            break
        name = line[len(lead + directory) + 1 :]
        if name in seen:
            problems.append("%s listed twice in %s" % (name, directory))
        seen.add(name)
        if name not in tree:
            problems.append("line %d: %s is not in %s" % (log.position + 1, name, directory))
        elif (tree[name] is None) != (kind == "file"):
            problems.append("line %d: %s handled as a %s" % (log.position + 1, name, kind))
        if kind == "file":
            log.position += 1
            log.take("OK", problems)
        else:
            expect_walk(log, directory + "\\" + name, tree.get(name) or {}, problems)
            log.take("Cannot remove dir %d" % ERROR_FILE_NOT_FOUND, problems)
    for name in sorted(set(tree) - seen):
        problems.append("no line for %s\\%s" % (directory, name))


def check_log(report, lines, expect):
    """Walks the log section by section; each section is one check."""
    log = LogLines(lines)

    def section(name, body):
        problems = []
        body(problems)
        report.check("log: " + name, problems)

    def fixed(lines_expected):
        return lambda problems: [log.take(line, problems) for line in lines_expected]

    section("identification lines", fixed(expect["identification"]))

    def services(problems):
        for name, state in expect["services"]:
            if state == "missing":
                log.take("Service was not deleted " + name, problems)
                log.take("Error code is %d" % ERROR_SERVICE_DOES_NOT_EXIST, problems)
            else:
                log.take("Service was successfully deleted " + name, problems)

    section("one line per service, in table order", services)
    # Wine keeps the accounts NetUserAdd creates inside the creating process,
    # so no account can exist for the cleaner to delete: NetUserDel answers
    # 2221 (NERR_UserNotFound), and "OK" cannot be seen here.
    section(
        "service account lines (the account named in the vendor key, then Error %d)" % NERR_USER_NOT_FOUND,
        fixed(["Deleting server service account " + expect["account"], "Error %d" % NERR_USER_NOT_FOUND]),
    )
    section(
        "packed codes",
        fixed(["Packed upgrade code " + expect["packed_upgrade"], "Packed product code " + expect["packed_product"]]),
    )
    components = ["Component %s\\%s" % (COMPONENTS_PATH, name) for name in expect["components"]]
    section(
        "the product's own component keys, highest enumeration index first",
        fixed(["Removing product components..."] + components if components else []),
    )
    section("the twelve installer and uninstall keys, in table order", fixed(["Component " + key for key in expect["installer_keys"]]))

    def stores(problems):
        for directory, tree in expect["store_walks"]:
            expect_walk(log, directory, tree, problems)

    section("the settings-store directory walks (entries compared as sets)", stores)
    section(
        "the seven server settings subkeys, in table order",
        fixed(["Component %s\\%s" % (VENDOR_KEY, name) for name in SERVER_SUBKEYS]),
    )
    if expect["product_walk"] is not None:
        section(
            "the product directory walk, last (entries compared as sets)",
            lambda problems: expect_walk(log, *expect["product_walk"], problems),
        )
    rest = lines[log.position :]
    report.check("log: nothing after the last step", ["line %d: %r" % (log.position + 1 + i, line) for i, line in enumerate(rest)])


# ---------------------------------------------------------------------------
# The relay trace (WINEDEBUG=+pid,+relay): the cleaner's own calls to the
# service controller, Sleep and NetUserDel. Processes the run starts (Wine's
# desktop process, for one) inherit the trace setting and write to the same
# stream: only the first process in the trace, the cleaner, is read, and of
# its calls only those made from the program's own image.

CALL = re.compile(r"^([0-9a-f]+):[0-9a-f]+:Call (\w+)\.(\w+)\((.*)\) ret=([0-9a-f]+)$")
RETURN = re.compile(r"^([0-9a-f]+):[0-9a-f]+:Ret  (\w+)\.(\w+)\(\) retval=([0-9a-f]+) ret=([0-9a-f]+)$")
PROCESS = re.compile(r"^([0-9a-f]+):[0-9a-f]+:")
LEGEND = (
    "M OpenSCManagerW, O OpenServiceW, C ChangeServiceConfig2W, Q QueryServiceStatusEx, S ControlService, Z Sleep,"
    " D DeleteService, X CloseServiceHandle"
)
LETTERS = {
    "OpenSCManagerW": "M",
    "OpenServiceW": "O",
    "ChangeServiceConfig2W": "C",
    "QueryServiceStatusEx": "Q",
    "ControlService": "S",
    "Sleep": "Z",
    "DeleteService": "D",
    "CloseServiceHandle": "X",
    "NetUserDel": "N",
}


def image_range(exe):
    data = open(exe, "rb").read(4096)
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    optional = pe + 24
    assert struct.unpack_from("<H", data, optional)[0] == 0x20B, "not a 64-bit image"
    base = struct.unpack_from("<Q", data, optional + 24)[0]
    size = struct.unpack_from("<I", data, optional + 56)[0]
    return base, base + size


def split_arguments(text):
    arguments, current, quoted = [], "", False
    for character in text:
        if character == '"':
            quoted = not quoted
        if character == "," and not quoted:
            arguments.append(current)
            current = ""
        else:
            current += character
    if text:
        arguments.append(current)
    parsed = []
    for argument in arguments:
        number, _, rest = argument.partition(" ")
        string = re.match(r'L"(.*)"$', rest)
        parsed.append((int(number, 16), string.group(1) if string else None))
    return parsed


def read_trace(path, exe):
    low, high = image_range(exe)
    calls = []
    pending = []
    cleaner = None
    for line in open(path, "r", encoding="latin-1"):
        line = line.rstrip("\n")
        process = PROCESS.match(line)
        if process is None:
            continue
        if cleaner is None:
            cleaner = process.group(1)
        if process.group(1) != cleaner:
            continue
        match = CALL.match(line)
        if match and match.group(3) in LETTERS and low <= int(match.group(5), 16) < high:
            call = {"name": match.group(3), "arguments": split_arguments(match.group(4)), "result": None}
            calls.append(call)
            pending.append(call)
            continue
        match = RETURN.match(line)
        if match and match.group(3) in LETTERS and low <= int(match.group(5), 16) < high:
            for call in reversed(pending):
                if call["name"] == match.group(3):
                    call["result"] = int(match.group(4), 16)
                    pending.remove(call)
                    break
    return calls


def check_service_calls(report, calls, services, account):
    """services: [(name, state, least sleeps)], state running, stopped or
    missing. The calls for one service run from its OpenSCManagerW to the
    next one; their letters must follow the stop-and-delete protocol.
    Wine's ChangeServiceConfig2W succeeds but stores no failure actions
    (reading them back fails with 124), so the call and its arguments are
    what can be checked here; the record it points to cannot be seen."""
    letters = "".join(LETTERS[call["name"]] for call in calls)
    starts = [index for index, letter in enumerate(letters) if letter == "M"]
    account_at = letters.find("N")
    ends = starts[1:] + [account_at if account_at >= 0 else len(letters)]
    if len(starts) != len(services):
        report.check(
            "service controller calls: one manager per service",
            ["%d OpenSCManagerW calls, letters %s" % (len(starts), letters)],
        )
        return
    for (name, state, least_sleeps), start, end in zip(services, starts, ends):
        segment = calls[start:end]
        shape = letters[start:end]
        problems = []
        manager = segment[0]
        if manager["arguments"][:3] != [(0, None), (manager["arguments"][1][0], "ServicesActive"), (0xF003F, None)]:
            problems.append("OpenSCManagerW%s" % manager["arguments"])
        if not manager["result"]:
            problems.append("OpenSCManagerW failed")
        opened = segment[1] if len(segment) > 1 else None
        if (
            opened is None
            or opened["name"] != "OpenServiceW"
            or opened["arguments"][1][1] != name
            or opened["arguments"][2][0] != 0xF003F
        ):
            problems.append("no OpenServiceW of %s with access 0xF003F" % name)
        else:
            service = opened["result"]
            if state == "missing":
                pattern = "MOX"
                if service:
                    problems.append("OpenServiceW of the missing service succeeded")
            elif state == "stopped":
                pattern = "MOCQDXX"
            else:
                pattern = "MOCQS(ZQ){%d,180}DXX" % least_sleeps
            if not re.fullmatch(pattern, shape):
                problems.append("calls %s, expected %s (%s)" % (shape, pattern, LEGEND))
            for call in segment[2:]:
                arguments = call["arguments"]
                wrong_handle = arguments[0][0] != service
                if call["name"] == "ChangeServiceConfig2W" and (wrong_handle or arguments[1][0] != 2 or not call["result"]):
                    problems.append(
                        "ChangeServiceConfig2W%s -> %s: expected SERVICE_CONFIG_FAILURE_ACTIONS (2) on the service, succeeding"
                        % (arguments, call["result"])
                    )
                if call["name"] == "QueryServiceStatusEx" and (wrong_handle or arguments[1][0] != 0 or arguments[3][0] != 36):
                    problems.append("QueryServiceStatusEx%s: expected SC_STATUS_PROCESS_INFO and 36 bytes" % arguments)
                if call["name"] == "ControlService" and (wrong_handle or arguments[1][0] != 1 or not call["result"]):
                    problems.append("ControlService%s -> %s: expected SERVICE_CONTROL_STOP, accepted" % (arguments, call["result"]))
                if call["name"] == "Sleep" and arguments[0][0] != 1000:
                    problems.append("Sleep(%d), expected 1000" % arguments[0][0])
                if call["name"] == "DeleteService" and (wrong_handle or not call["result"]):
                    problems.append("DeleteService%s -> %s" % (arguments, call["result"]))
            closed = [call["arguments"][0][0] for call in segment if call["name"] == "CloseServiceHandle"]
            expected_closed = ([service] if service else []) + [manager["result"]]
            if closed != expected_closed:
                problems.append("CloseServiceHandle of %s, expected %s (service, then manager)" % (closed, expected_closed))
        sleeps = shape.count("Z")
        polls = ", %d one-second polls" % sleeps if state == "running" else ""
        report.check("service controller calls for %s (%s%s)" % (name, state, polls), problems)
    deletions = [call for call in calls if call["name"] == "NetUserDel"]
    problems = []
    if len(deletions) != 1:
        problems.append("%d NetUserDel calls" % len(deletions))
    else:
        arguments = deletions[0]["arguments"]
        if arguments[0][0] != 0 or arguments[1][1] != account:
            problems.append("NetUserDel%s, expected the local machine and %s" % (arguments, account))
        if deletions[0]["result"] != NERR_USER_NOT_FOUND:
            problems.append("NetUserDel gave %s, Wine gives %d" % (deletions[0]["result"], NERR_USER_NOT_FOUND))
        if account_at < (starts[-1] if starts else 0):
            problems.append("NetUserDel before the services were handled")
    report.check("NetUserDel of %s on the local machine, after the services" % account, problems)


# ---------------------------------------------------------------------------
# Commands


def fixture_shell(arguments):
    server, console = read_packages(arguments.wxs_dir)
    for prefix, package in (("server", server), ("console", console)):
        print("%s_code='%s'" % (prefix, package["code"]))
        print("%s_upgrade='%s'" % (prefix, package["upgrade"]))
        print("%s_packed='%s'" % (prefix, pack_guid(package["code"])))
        print("%s_packed_upgrade='%s'" % (prefix, pack_guid(package["upgrade"])))
    print("product_dir='%s'" % server["components"][SERVER_COMPONENT_CODE].rsplit("\\", 1)[0])


def do_snapshot(arguments):
    with open(arguments.out, "w") as out:
        json.dump(snapshot(arguments.drive_c), out, sort_keys=True)


def load(data, name):
    return json.load(open(os.path.join(data, name)))


def installer_keys(product_code, packed_product, packed_upgrade):
    """The twelve keys the cleaner deletes by path, in its order."""
    return [
        r"HKEY_CLASSES_ROOT\Installer\UpgradeCodes" + "\\" + packed_upgrade,
        r"HKEY_CLASSES_ROOT\Installer\Features" + "\\" + packed_product,
        r"HKEY_CLASSES_ROOT\Installer\Products" + "\\" + packed_product,
        HKLM + r"\SOFTWARE\Classes\Installer\UpgradeCodes" + "\\" + packed_upgrade,
        HKLM + r"\SOFTWARE\Classes\Installer\Features" + "\\" + packed_product,
        HKLM + r"\SOFTWARE\Classes\Installer\Products" + "\\" + packed_product,
        INSTALLER + r"\UpgradeCodes" + "\\" + packed_upgrade,
        INSTALLER + r"\UserData\S-1-5-18\Products" + "\\" + packed_product,
        UNINSTALL + "\\" + product_code,
        UNINSTALL + r"\InstallShield_" + product_code,
        UNINSTALL + r"\InstallShield Uninstall Information" + "\\" + product_code,
        VENDOR_KEY_28,
    ]


def registration_keys(product_code, packed_product, packed_upgrade):
    """Where Wine's installer registers a per-machine product (HKCR\\Installer
    is the same key as HKLM\\SOFTWARE\\Classes\\Installer)."""
    return [
        HKLM + r"\SOFTWARE\Classes\Installer\Products" + "\\" + packed_product,
        HKLM + r"\SOFTWARE\Classes\Installer\Features" + "\\" + packed_product,
        HKLM + r"\SOFTWARE\Classes\Installer\UpgradeCodes" + "\\" + packed_upgrade,
        INSTALLER + r"\UpgradeCodes" + "\\" + packed_upgrade,
        INSTALLER + r"\UserData\S-1-5-18\Products" + "\\" + packed_product,
        UNINSTALL + "\\" + product_code,
    ]


def component_key(component_code):
    return HKLM + "\\" + COMPONENTS_PATH + "\\" + pack_guid(component_code)


def check_installed(arguments):
    """The stand-in as the test installed it, before any run: what Wine's
    installer registered, the vendor keys, the services' keys and the files."""
    report = Report(arguments.case)
    server, console = read_packages(arguments.wxs_dir)
    registry = Registry(os.path.join(arguments.data, "software-before.reg"))
    services = Registry(os.path.join(arguments.data, "services-before.reg"))
    files = load(arguments.data, "files-before.json")
    for name, package in (("server", server), ("console", console)):
        packed = pack_guid(package["code"])
        keys = registration_keys(package["code"], packed, pack_guid(package["upgrade"]))
        report.check(
            "installer registration of the %s package (products, features, upgrade codes, user data, uninstall)" % name,
            ["missing: " + key for key in keys if not registry.has(key)],
        )
    problems = []
    server_packed, console_packed = pack_guid(server["code"]), pack_guid(console["code"])
    for code, path in server["components"].items():
        values = registry.values(component_key(code))
        owners = {server_packed: path}
        if code in console["components"]:
            owners[console_packed] = console["components"][code]
        found = {name.upper(): string_data(data) for name, data in values.values()}
        if found != owners:
            problems.append("%s holds %s, expected %s" % (component_key(code), found, owners))
    report.check("component keys: one value per product, naming the key file; the shared one names both", problems)
    key_file = string_data(registry.value(component_key(SERVER_COMPONENT_CODE), server_packed) or "")
    report.check(
        "the server component %s is registered to the server package" % SERVER_COMPONENT_CODE,
        key_file == server["components"][SERVER_COMPONENT_CODE] or ["key path %r" % key_file],
    )
    vendor_keys = [VENDOR_KEY_28, ACCOUNT_KEY] + [VENDOR_KEY + "\\" + name for name in SERVER_SUBKEYS]
    problems = ["missing: " + key for key in vendor_keys if not registry.has(key)]
    for name in ("SS_SETTINGS", "SS_E2S", "AutoCreatedServiceAccount"):
        key = ACCOUNT_KEY if name == "AutoCreatedServiceAccount" else VENDOR_KEY
        if string_data(registry.value(key, name) or "") in (None, ""):
            problems.append("no text value %s in %s" % (name, key))
    report.check("vendor keys seeded (34 with its values and seven subkeys, 1093\\1.0.0.0, 28)", problems)
    problems = []
    for name in SERVICE_NAMES:
        image = string_data(services.value(SERVICES_KEY + "\\" + name, "ImagePath") or "")
        if not image or "stand_in_service.exe" not in image:
            problems.append("%s: ImagePath %r" % (name, image))
    report.check("the three services created by the installer, running the stand-in program", problems)
    problems = []
    for code, path in server["components"].items():
        if files.get(unix_of(path), {}).get("kind") != "file":
            problems.append("missing key file " + path)
    for path in (STORE_DIR, E2S_DIR):
        if files.get(unix_of(path), {}).get("kind") != "dir":
            problems.append("missing directory " + path)
    if files.get(unix_of(LIBRARY_FILE), {}).get("kind") != "file":
        problems.append("missing " + LIBRARY_FILE)
    report.check("files installed and seeded (key files, settings stores, nq.dll)", problems)
    inside = {path: entry for path, entry in files.items() if under(path, unix_of(arguments.product_dir))}
    readonly = [path for path, entry in inside.items() if entry.get("readonly")]
    hidden = [path for path, entry in inside.items() if int(entry.get("dos", "0"), 16) & 0x2]
    report.check(
        "read-only and hidden entries in the product directory (%d read-only, %d hidden)" % (len(readonly), len(hidden)),
        [] if readonly and hidden else ["read-only %s, hidden %s" % (readonly, hidden)],
    )
    report.exit()


def check_cleaned(arguments):
    report = Report(arguments.case)
    server, console = read_packages(arguments.wxs_dir)
    data = arguments.data
    before = Registry(os.path.join(data, "software-before.reg"))
    after = Registry(os.path.join(data, "software-after.reg"))
    product_code, upgrade_code = arguments.product_code, arguments.upgrade_code
    packed_product, packed_upgrade = pack_guid(product_code), pack_guid(upgrade_code)
    account = string_data(before.value(ACCOUNT_KEY, "AutoCreatedServiceAccount") or "")

    report.check("exit code 0", arguments.exit_code == 0 or ["exit code %d" % arguments.exit_code])

    # The registry. Deleted: the product's own component keys (those that
    # hold the product's value and no other), the twelve keys, the values of
    # the vendor key and its seven subkeys. Nothing else may change.
    components_key = HKLM + "\\" + COMPONENTS_PATH
    own = []
    for key in before.subkeys(components_key):
        values = before.values(key)
        entry = values.get(packed_product.lower())
        if entry and len(values) == 1 and string_data(entry[1]) is not None:
            own.append(key)
    expected_own = sorted(component_key(code).lower() for code in server["components"] if code not in console["components"])
    if arguments.components_registered:
        report.check(
            "fixture: the product's own component keys are the server package's unshared components",
            sorted(key.lower() for key in own) == expected_own or ["found %s" % own],
        )
    else:
        own = []
    keys = installer_keys(product_code, packed_product, packed_upgrade)
    # Under HKLM\SOFTWARE, HKCR\Installer is HKLM\SOFTWARE\Classes\Installer.
    removed = own + [key.replace("HKEY_CLASSES_ROOT", HKLM + r"\SOFTWARE\Classes", 1) for key in keys]
    removed += [VENDOR_KEY + "\\" + name for name in SERVER_SUBKEYS]
    # The registration rows are absent before the run where the test
    # removed them; so is the key of the row Wine's installer never writes.
    expected_before = own + [UNINSTALL + r"\InstallShield_" + product_code]
    expected_before += [UNINSTALL + r"\InstallShield Uninstall Information" + "\\" + product_code, VENDOR_KEY_28]
    expected_before += [VENDOR_KEY + "\\" + name for name in SERVER_SUBKEYS]
    if arguments.registration_present:
        expected_before += registration_keys(product_code, packed_product, packed_upgrade)
    report.check(
        "fixture: every key to be removed was there before the run",
        ["absent before: " + key for key in expected_before if not before.has(key)],
    )
    for title, group in (
        ("the product's own component keys", own),
        (
            "installer registration keys (products, features, upgrade codes, user data)",
            [key for key in removed if "Installer" in key and key not in own],
        ),
        ("uninstall entries (installer's and the two InstallShield ones)", [key for key in removed if key.startswith(UNINSTALL)]),
        ("vendor key 28", [VENDOR_KEY_28]),
        ("the seven subkeys of the vendor key 34", [VENDOR_KEY + "\\" + name for name in SERVER_SUBKEYS]),
    ):
        report.check("gone: " + title, ["still there: " + key for key in group if after.has(key)])
    if not after.has(VENDOR_KEY):
        problems = ["missing"]
    elif after.values(VENDOR_KEY):
        problems = ["values left: %s" % describe_values(after.values(VENDOR_KEY))]
    else:
        problems = []
    report.check("the vendor key 34 itself kept, without values", problems)
    survivors = [
        VENDOR_KEY + r"\Licensing",
        VENDOR_KEY + r"\Licensing\Keys",
        VENDOR_KEY + r"\1093-backup",
        HKLM + r"\SOFTWARE\Morvathen\Components\35",
        UNINSTALL + r"\InstallShield_" + console["code"],
        UNINSTALL + r"\InstallShield Uninstall Information" + "\\" + console["code"],
    ]
    report.check(
        "kept: the vendor's other keys and the console's InstallShield entries",
        ["gone: " + key for key in survivors if not after.has(key)],
    )
    console_keys = registration_keys(console["code"], pack_guid(console["code"]), pack_guid(console["upgrade"]))
    console_keys += [component_key(code) for code in console["components"] if code not in server["components"]]
    report.check(
        "kept: the console package's registration and component keys",
        ["gone: " + key for key in console_keys if not after.has(key)],
    )
    shared = [component_key(code) for code in server["components"] if code in console["components"]]
    report.check(
        "kept: the shared component key, with both products' values",
        ["changed or gone: %s" % key for key in shared if not after.has(key) or after.values(key) != before.values(key)],
    )
    emptied = [VENDOR_KEY]
    report.check(
        "nothing else in HKLM\\SOFTWARE changed",
        compare_registries(before, after, removed, emptied),
    )
    services_before = Registry(os.path.join(data, "services-before.reg"))
    services_after = Registry(os.path.join(data, "services-after.reg"))
    report.check(
        "the services' keys gone, no other service touched",
        compare_registries(services_before, services_after, [SERVICES_KEY + "\\" + name for name in SERVICE_NAMES], []),
    )

    # The files.
    files_before = load(data, "files-before.json")
    files_after = load(data, "files-after.json")
    product_dir = arguments.product_dir
    removed_files = [unix_of(STORE_DIR), unix_of(E2S_DIR), unix_of(LIBRARY_FILE)]
    if arguments.product_dir_removed:
        removed_files.append(unix_of(product_dir))
    ignored = [arguments.log_relative, "stand-in"]
    report.check("fixture: the settings stores and nq.dll were there", [path for path in removed_files if path not in files_before])
    for title, path in (("settings store", STORE_DIR), ("settings store", E2S_DIR), ("library beside the first store", LIBRARY_FILE)):
        report.check("gone: %s %s" % (title, path), unix_of(path) not in files_after)
    if arguments.product_dir_removed:
        report.check("gone: the product directory " + product_dir, unix_of(product_dir) not in files_after)
    else:
        inside = unix_of(product_dir)
        problems = compare_trees(
            {path: entry for path, entry in files_before.items() if under(path, inside)},
            {path: entry for path, entry in files_after.items() if under(path, inside)},
            [],
            [],
        )
        report.check("kept: the product directory %s, untouched (no installed path known)" % product_dir, problems)
    report.check("nothing else under drive_c changed", compare_trees(files_before, files_after, removed_files, ignored))

    # The stand-in services' journals: every running one was asked to stop
    # and stopped.
    problems = []
    for name, state, _ in arguments.services:
        path = os.path.join(arguments.drive_c, "stand-in", name + ".txt")
        journal = open(path, "rb").read() if os.path.exists(path) else None
        expected = b"running\r\nstop requested\r\nstopped\r\n" if state == "running" else None
        if journal != expected:
            problems.append("%s: journal %r, expected %r" % (name, journal, expected))
    report.check("the running services received the stop control and stopped", problems)

    # The log.
    lines = read_log(os.path.join(arguments.drive_c, arguments.log_relative), report)
    if lines is not None:
        if arguments.codes_given:
            identification = ["Using command line...", "Set prodCode " + product_code, "Set upgrCode " + upgrade_code]
        else:
            identification = [
                "Getting product code...",
                "Product was found. Prodcode is " + product_code,
                "Product was opened",
                "Upgrade code is " + upgrade_code,
            ]
        identification.append("Product path " + product_dir if arguments.product_dir_removed else "Cannot get product path")
        expect = {
            "identification": identification,
            "services": [(name, state) for name, state, _ in arguments.services],
            "account": account,
            "packed_upgrade": packed_upgrade,
            "packed_product": packed_product,
            "components": [key.rsplit("\\", 1)[1] for key in reversed(own)],
            "installer_keys": keys,
            "store_walks": [(STORE_DIR, tree_of(files_before, STORE_DIR)), (E2S_DIR, tree_of(files_before, E2S_DIR))],
            "product_walk": (product_dir, tree_of(files_before, product_dir)) if arguments.product_dir_removed else None,
        }
        check_log(report, lines, expect)

    # The calls behind the service and account steps.
    calls = read_trace(os.path.join(data, "trace-after.txt"), arguments.exe)
    check_service_calls(report, calls, arguments.services, account)
    report.exit()


def check_unchanged(arguments):
    """A run that must change nothing: its exit code, its log's exact bytes,
    and the registry and files as they were."""
    report = Report(arguments.case)
    data = arguments.data
    report.check(
        "exit code %d" % arguments.expected_exit,
        arguments.exit_code == arguments.expected_exit or ["exit code %d" % arguments.exit_code],
    )
    path = os.path.join(arguments.drive_c, arguments.log_relative)
    log = open(path, "rb").read() if os.path.exists(path) else None
    expected = arguments.log.encode("latin-1").decode("unicode_escape").encode("latin-1")
    report.check("log bytes exactly %r" % expected, log == expected or ["found %r" % log])
    tag = arguments.tag
    for name in ("software", "services"):
        before = Registry(os.path.join(data, "%s-%s.reg" % (name, arguments.before)))
        after = Registry(os.path.join(data, "%s-%s.reg" % (name, tag)))
        where = "HKLM\\SOFTWARE" if name == "software" else "services key"
        report.check("registry unchanged (%s)" % where, compare_registries(before, after, [], []))
    files_before = load(data, "files-%s.json" % arguments.before)
    files_after = load(data, "files-%s.json" % tag)
    report.check(
        "files under drive_c unchanged (the log aside)",
        compare_trees(files_before, files_after, [], [arguments.log_relative]),
    )
    report.exit()


def service_state(text):
    """NAME=running:LEAST_SLEEPS, NAME=stopped or NAME=missing."""
    name, _, state = text.partition("=")
    state, _, least = state.partition(":")
    return name, state, int(least or 0)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    command = commands.add_parser("fixture-shell")
    command.add_argument("wxs_dir")
    command.set_defaults(run=fixture_shell)
    command = commands.add_parser("snapshot")
    command.add_argument("drive_c")
    command.add_argument("out")
    command.set_defaults(run=do_snapshot)
    for name, run in (("check-installed", check_installed), ("check-cleaned", check_cleaned), ("check-unchanged", check_unchanged)):
        command = commands.add_parser(name)
        command.add_argument("data", help="the case's directory of exports, snapshots and traces")
        command.add_argument("--case", required=True)
        command.add_argument("--wxs-dir", required=True)
        command.add_argument("--drive-c", required=True)
        command.add_argument("--log-relative", required=True, help="the run log, relative to drive_c")
        command.add_argument("--product-dir", required=True)
        command.add_argument("--exit-code", type=int)
        command.set_defaults(run=run)
        if name == "check-cleaned":
            command.add_argument("--exe", required=True)
            command.add_argument("--product-code", required=True)
            command.add_argument("--upgrade-code", required=True)
            command.add_argument("--codes-given", action="store_true", help="the codes were on the command line")
            command.add_argument(
                "--registration-present", action="store_true", help="the installer registration was there before the run"
            )
            command.add_argument("--components-registered", action="store_true", help="the product's component keys were there")
            command.add_argument("--product-dir-removed", action="store_true")
            command.add_argument("--service", dest="services", action="append", type=service_state, required=True)
        if name == "check-unchanged":
            command.add_argument("--expected-exit", type=int, required=True)
            command.add_argument("--log", required=True, help="the log's exact text, with \\r\\n escapes")
            command.add_argument("--before", required=True, help="tag of the snapshots before the run")
            command.add_argument("--tag", required=True, help="tag of the snapshots after the run")
    arguments = parser.parse_args()
    arguments.run(arguments)


if __name__ == "__main__":
    main()
