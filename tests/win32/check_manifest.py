#!/usr/bin/env python3
"""Reads the application manifest out of a built program's resources and
checks what it asks of Windows: no execution level (so that Windows
virtualises its files as it does MMTTY's), Windows 7 to 11 known, DPI aware,
and the system's own code page (no UTF-8 active code page).
"""
import sys
import xml.etree.ElementTree as ET

from check_version_resource import Pe, report

RT_MANIFEST = 24
CREATEPROCESS_MANIFEST_RESOURCE_ID = 1
SUPPORTED_OS = {
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  # 7
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  # 8
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  # 8.1
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  # 10 and 11
}


def check(path):
    with open(path, "rb") as f:
        manifests = Pe(f.read()).resources(RT_MANIFEST)
    if [name for name, _, _ in manifests] != [CREATEPROCESS_MANIFEST_RESOURCE_ID]:
        return ["manifests: %s, wanted one of id 1" % [name for name, _, _ in manifests]]
    root = ET.fromstring(manifests[0][2])
    # Namespaces vary between the manifest's parts; the local names are what counts.
    elements = {}
    for element in root.iter():
        elements.setdefault(element.tag.split("}")[-1], []).append(element)

    def texts(name):
        return [(e.text or "").strip() for e in elements.get(name, [])]

    failures = []
    levels = [e.get("level") for e in elements.get("requestedExecutionLevel", [])]
    if levels:
        failures.append("execution level %s: it would turn off the file virtualisation "
                        "that MMTTY, and so the plug-in, run under" % levels)
    ids = {e.get("Id") for e in elements.get("supportedOS", [])}
    if ids != SUPPORTED_OS:
        failures.append("supportedOS %s" % sorted(ids))
    if texts("dpiAware") != ["true"] or not texts("dpiAwareness"):
        failures.append("DPI awareness %s %s" % (texts("dpiAware"), texts("dpiAwareness")))
    if "activeCodePage" in elements:
        failures.append("active code page %s: the program must see the system's" %
                        texts("activeCodePage"))
    return failures


def main():
    return report(check(sys.argv[1]),
                  "manifest: virtualised as MMTTY is, Windows 7 to 11, DPI aware, the system's "
                  "code page")


if __name__ == "__main__":
    sys.exit(main())
