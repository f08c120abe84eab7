#!/usr/bin/env python3
"""Reads ZelPC.msi's tables with msiinfo and fails on what Windows Installer refuses or does wrong
although Wine's msiexec accepts it: an action outside its place in the installation script (wixl puts
an action with only Before or only After at sequence 1, and MajorUpgrade's RemoveExistingProducts
after InstallFiles), a custom action run in the wrong context, a condition with padding.
    check_sequence.py PACKAGE.msi...
"""
import subprocess
import sys

# Each action of the package, the standard actions it must come after and before, and for custom
# actions the kind: immediate, deferred as the user (impersonated), or deferred as SYSTEM.
EXPECTED = {
    "RemoveExistingProducts": ("InstallValidate", "InstallInitialize", None),
    "SetInstallLocation": ("CostFinalize", "InstallValidate", "immediate"),
    "CloseVornTray": ("InstallInitialize", "RemoveFiles", "immediate"),
    "PurgeSavedMode": ("RemoveFiles", "InstallFiles", "system"),
    "SetProtectFolder": ("InstallFiles", "ProtectFolder", "immediate"),
    "ProtectFolder": ("InstallFiles", "WriteRegistryValues", "system"),
    "SetRunInstallZel": ("PublishProduct", "RunInstallZel", "immediate"),
    "RunInstallZel": ("PublishProduct", "InstallFinalize", "user"),
}
DEFERRED, NO_IMPERSONATE = 0x400, 0x800


def table(package, name):
    text = subprocess.run(["msiinfo", "export", package, name], check=True, capture_output=True, text=True).stdout
    # Three header lines: column names, types, table name and keys.
    return [line.split("\t") for line in text.split("\r\n" if "\r\n" in text else "\n")[3:] if line]


def check(package):
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
    for action in actions:
        if action not in EXPECTED:
            faults.append(f"{action} is a custom action this check does not know: add its place to EXPECTED")
    # Every deferred action must be in the script, which InstallInitialize opens and InstallFinalize runs.
    for action, flags in actions.items():
        if flags & DEFERRED and not at("InstallInitialize") < at(action) < at("InstallFinalize"):
            faults.append(f"deferred {action} at {at(action)} lies outside InstallInitialize..InstallFinalize")
    for action, (condition, _) in sequence.items():
        if condition != condition.strip() or "\n" in condition or "\r" in condition:
            faults.append(f"{action}'s condition is padded or spans lines: {condition!r}")
    for row in table(package, "LaunchCondition"):
        if row[0] != row[0].strip() or "\n" in row[0]:
            faults.append(f"launch condition padded or spanning lines: {row[0]!r}")
    return faults


status = 0
for package in sys.argv[1:]:
    faults = check(package)
    for fault in faults:
        print(f"FAULT {package}: {fault}")
    if not faults:
        print(f"in order: {package}")
    status |= bool(faults)
sys.exit(status)
