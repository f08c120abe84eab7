#!/usr/bin/env python3
"""Reads ZelPC.msi's tables with msiinfo and fails on what Windows Installer refuses or does wrong
although Wine's msiexec accepts it: an action outside its place in the installation script (wixl can
put an action with only Before at sequence 1, and puts MajorUpgrade's RemoveExistingProducts after
InstallFiles), a custom action run in the wrong context, a condition with padding or without the
component state it was written with. With --source, also the WiX source's rule that keeps wixl's
placement the same from build to build: every scheduled action has both After and Before, and
nothing else lies between the two in the package.
    check_sequence.py [--source zelpc.wxs] PACKAGE.msi...
"""
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

# Each action of the package, the standard actions it must come after and before, and for custom
# actions the kind: immediate, deferred as the user (impersonated), or deferred as SYSTEM.
EXPECTED = {
    # Inside the script, so that a failed upgrade rolls the old version's removal back.
    "RemoveExistingProducts": ("InstallInitialize", "ProcessComponents", None),
    "SetInstallLocation": ("CostFinalize", "InstallValidate", "immediate"),
    "CloseVornTray": ("InstallValidate", "RemoveExistingProducts", "immediate"),
    "PurgeSavedMode": ("RemoveFiles", "InstallFiles", "system"),
    "SetProtectFolder": ("InstallInitialize", "ProtectFolder", "immediate"),
    "ProtectFolder": ("RemoveRegistryValues", "RemoveFiles", "system"),
    "SetRunInstallZel": ("InstallInitialize", "RunInstallZel", "immediate"),
    "RunInstallZel": ("PublishProduct", "InstallFinalize", "user"),
}
# Conditions whose text is the point: the folder is prepared and the Apps entry keeps it whenever the
# programs' component is installed or repaired, which wixl turns into a property named "Programs"
# unless "$" is doubled.
CONDITIONS = {
    "SetInstallLocation": "$Programs=3",
    "SetProtectFolder": "$Programs=3",
    "ProtectFolder": "$Programs=3",
}
DEFERRED, NO_IMPERSONATE = 0x400, 0x800


def table(package, name):
    text = subprocess.run(["msiinfo", "export", package, name], check=True, capture_output=True, text=True).stdout
    # Three header lines (column names, types, table name and keys), then a row a line; a line break
    # inside a value, such as a condition over several lines, continues the row on the next line.
    lines = text.split("\n")
    columns = len(lines[0].split("\t"))
    rows, pending = [], None
    for line in lines[3:]:
        pending = line if pending is None else pending + "\n" + line
        fields = pending.split("\t")
        if len(fields) >= columns:
            rows.append(fields)
            pending = None
    return rows


def scheduled_in(source):
    """The source's scheduled actions: name, After, Before."""
    namespace = "{http://schemas.microsoft.com/wix/2006/wi}"
    for sequence in ElementTree.parse(source).iter(namespace + "InstallExecuteSequence"):
        for element in sequence:
            if element.tag is ElementTree.Comment:
                continue
            name = element.get("Action") or element.tag.replace(namespace, "")
            yield name, element.get("After"), element.get("Before")


def conditions_in(source):
    """The source's conditioned actions: name, condition text as written."""
    namespace = "{http://schemas.microsoft.com/wix/2006/wi}"
    for sequence in ElementTree.parse(source).iter(namespace + "InstallExecuteSequence"):
        for element in sequence:
            if element.tag is not ElementTree.Comment and element.text:
                yield element.get("Action") or element.tag.replace(namespace, ""), element.text


def check(package, source):
    faults = []
    sequence = {row[0]: (row[1], int(row[2])) for row in table(package, "InstallExecuteSequence")}
    actions = {row[0]: int(row[1]) for row in table(package, "CustomAction")}
    at = lambda action: sequence.get(action, ("", -1))[1]

    for action, (after, before, kind) in EXPECTED.items():
        if action not in sequence:
            faults.append(f"{action} is not in InstallExecuteSequence")
        elif not at(after) < at(action) < at(before):
            faults.append(f"{action} at {at(action)}, not between {after} ({at(after)}) and {before} ({at(before)})")
        if kind is None:
            continue
        if action not in actions:
            faults.append(f"{action} is not in the CustomAction table")
            continue
        flags = actions[action]
        found = ("immediate" if not flags & DEFERRED else "system" if flags & NO_IMPERSONATE else "user")
        if found != kind:
            faults.append(f"{action} runs {found} (type {flags}), not {kind}")
        if kind == "immediate" and flags & NO_IMPERSONATE:
            faults.append(f"immediate {action} carries the no-impersonate flag (type {flags}), valid only in the script")
    for action in actions:
        if action not in EXPECTED:
            faults.append(f"{action} is a custom action this check does not know: add its place to EXPECTED")
    # Every deferred action must be in the script, which InstallInitialize opens and InstallFinalize runs.
    for action, flags in actions.items():
        if flags & DEFERRED and not at("InstallInitialize") < at(action) < at("InstallFinalize"):
            faults.append(f"deferred {action} at {at(action)} lies outside InstallInitialize..InstallFinalize")
    for action, wanted in CONDITIONS.items():
        if action in sequence and sequence[action][0] != wanted:
            faults.append(f"{action}'s condition is {sequence[action][0]!r}, not {wanted!r}")
    for action, (condition, _) in sequence.items():
        if condition != condition.strip() or "\n" in condition or "\r" in condition:
            faults.append(f"{action}'s condition is padded or spans lines: {condition!r}")
    if source:
        scheduled = [action for action, _, _ in scheduled_in(source)]
        if "RemoveExistingProducts" not in scheduled:
            # wixl 0.101 puts it after InstallFiles; a later wixl that places it right hides that.
            faults.append(f"RemoveExistingProducts is not pinned in {source}")
        namespace = "{http://schemas.microsoft.com/wix/2006/wi}"
        for action in ElementTree.parse(source).iter(namespace + "CustomAction"):
            # wixl 0.101 sets no-impersonate where the attribute is absent; a later wixl follows
            # WiX's default, which would hide an action that leaves it to wixl.
            if action.get("Impersonate") is None:
                faults.append(f"{action.get('Id')} leaves Impersonate to wixl in {source}")
        for action, condition in conditions_in(source):
            # wixl 0.101 keeps the padding, and Windows refuses a padded condition; a later wixl
            # trims it, which would hide a condition written over several lines.
            if condition != condition.strip() or "\n" in condition:
                faults.append(f"{action}'s condition is padded or spans lines in {source}: {condition!r}")
        for action, after, before in scheduled_in(source):
            if not after or not before:
                faults.append(f"{action} has not both After and Before in {source}")
                continue
            between = [other for other, (_, number) in sequence.items()
                       if at(after) < number < at(before) and other != action]
            if between:
                faults.append(f"{action}: {', '.join(between)} also between {after} and {before}, so wixl's choice varies")
    for row in table(package, "LaunchCondition"):
        if row[0] != row[0].strip() or "\n" in row[0]:
            faults.append(f"launch condition padded or spanning lines: {row[0]!r}")
    return faults


arguments = sys.argv[1:]
source = None
if arguments[:1] == ["--source"]:
    source, arguments = arguments[1], arguments[2:]
status = 0
for package in arguments:
    faults = check(package, source)
    for fault in faults:
        print(f"FAULT {package}: {fault}")
    if not faults:
        print(f"in order: {package}")
    status |= bool(faults)
sys.exit(status)
