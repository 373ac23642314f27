#!/usr/bin/env python3
"""A build made without asking for the installation talks to 127.0.0.1.

Configures the project plainly (no options, no preset) in a scratch folder
and reads the board address from its cache and from the compile flags it
gives the program; checks that of the presets only "installation" names
another address, and that it is the address scripts/package.sh ships. Each
check is also run once on a planted fault, which it must find.
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile

SOURCE = os.environ.get("KVX_SOURCE_DIR") or os.path.dirname(
    os.path.dirname(os.path.abspath(__file__)))
LOOPBACK = {"127.0.0.1", "::1", "localhost"}


def cache_faults(cache):
    """What is wrong with a CMakeCache.txt of a plain configure."""
    m = re.search(r"^KORVALINEX_BOARD_ADDRESS:STRING=(.*)$", cache, re.M)
    if not m:
        return ["the cache has no KORVALINEX_BOARD_ADDRESS"]
    if m.group(1) != "127.0.0.1":
        return [f"a plain configure gets the board address {m.group(1)}"]
    return []


def flags_faults(flags):
    """What is wrong with the program's compile flags of a plain configure."""
    m = re.search(r'-DKORVALINEX_BOARD_ADDRESS=\\?"([^"\\]*)\\?"', flags)
    if not m:
        return ["the program's flags carry no board address"]
    if m.group(1) != "127.0.0.1":
        return [f"the program is compiled with the board at {m.group(1)}"]
    return []


def installation_of_package(script):
    """The address and port scripts/package.sh ships by default."""
    found = {}
    for name in ("address", "port"):
        m = re.search(rf"^installation_{name}=(\S+)$", script, re.M)
        use = re.search(
            rf"^{name}=\$\{{KORVALINEX_BOARD_{name.upper()}:-\$installation_{name}\}}$",
            script, re.M)
        found[name] = m.group(1) if m and use else None
    return found


def preset_faults(presets, package):
    """What is wrong with CMakePresets.json, given package.sh's defaults."""
    faults = []
    configure = {p["name"]: p for p in presets.get("configurePresets", [])}
    default = configure.get("default")
    if not default:
        return ["no configure preset named default"]
    dvars = default.get("cacheVariables", {})
    if dvars.get("CMAKE_TOOLCHAIN_FILE") or default.get("toolchainFile"):
        faults.append("the default preset is not a native build")
    if dvars.get("CMAKE_BUILD_TYPE") != "Debug":
        faults.append("the default preset is not a Debug build")
    if default.get("generator") != "Ninja":
        faults.append("the default preset does not use Ninja")
    for name, preset in configure.items():
        address = preset.get("cacheVariables", {}).get(
            "KORVALINEX_BOARD_ADDRESS")
        if name == "installation":
            if address != package["address"]:
                faults.append(f"the installation preset's board {address} is "
                              f"not package.sh's {package['address']}")
            port = preset.get("cacheVariables", {}).get("KORVALINEX_BOARD_PORT")
            if port != package["port"]:
                faults.append(f"the installation preset's port {port} is not "
                              f"package.sh's {package['port']}")
        elif address not in LOOPBACK:
            faults.append(f"preset {name} builds for the board at {address}")
    for kind in ("buildPresets", "testPresets"):
        for p in presets.get(kind, []):
            if p["name"] == "default" and p.get("configurePreset") != "default":
                faults.append(f"the default of {kind} builds another preset")
    return faults


def plain_configure():
    """Cache and program flags of `cmake -S SOURCE -B scratch`."""
    scratch = tempfile.mkdtemp(prefix="kvx-plain-configure-")
    try:
        env = {k: v for k, v in os.environ.items()
               if not k.startswith("CMAKE_")}
        run = subprocess.run(["cmake", "-S", SOURCE, "-B", scratch],
                             env=env, capture_output=True, text=True,
                             timeout=300)
        if run.returncode != 0:
            sys.exit("plain configure failed:\n" + run.stdout + run.stderr)
        with open(os.path.join(scratch, "CMakeCache.txt")) as f:
            cache = f.read()
        flags = ""
        for top, _, names in os.walk(os.path.join(scratch, "CMakeFiles")):
            for n in names:
                if n in ("flags.make", "build.ninja"):
                    with open(os.path.join(top, n)) as f:
                        flags += f.read()
        ninja = os.path.join(scratch, "build.ninja")
        if os.path.exists(ninja):
            with open(ninja) as f:
                flags += f.read()
        return cache, flags
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


def main():
    faults = []
    with open(os.path.join(SOURCE, "scripts", "package.sh")) as f:
        package = installation_of_package(f.read())
    if None in package.values():
        faults.append("package.sh does not ship the installation's address "
                      "and port by default: " + repr(package))
    with open(os.path.join(SOURCE, "CMakePresets.json")) as f:
        presets = json.load(f)
    faults += preset_faults(presets, package)
    cache, flags = plain_configure()
    faults += cache_faults(cache) + flags_faults(flags)

    # Planted faults: each check must find its own.
    planted = json.loads(json.dumps(presets))
    for p in planted["configurePresets"]:
        if p["name"] == "default":
            p["cacheVariables"]["KORVALINEX_BOARD_ADDRESS"] = "192.168.1.50"
    missed = []
    if not preset_faults(planted, package):
        missed.append("a default preset at 192.168.1.50")
    if not preset_faults(presets, {"address": "192.168.1.51",
                                   "port": package["port"]}):
        missed.append("package.sh shipping another address than the preset")
    if not cache_faults(cache.replace(
            "KORVALINEX_BOARD_ADDRESS:STRING=127.0.0.1",
            "KORVALINEX_BOARD_ADDRESS:STRING=192.168.1.50")):
        missed.append("a cache with 192.168.1.50")
    if not flags_faults('-DKORVALINEX_BOARD_ADDRESS=\\"192.168.1.50\\"'):
        missed.append("flags with 192.168.1.50")
    bare = "address=${KORVALINEX_BOARD_ADDRESS:-192.168.1.50}\n"
    if installation_of_package(bare)["address"] is not None:
        missed.append("package.sh without its installation address")
    faults += ["the check missed a planted fault: " + m for m in missed]

    for fault in faults:
        print("FAULT:", fault)
    if faults:
        return 1
    print("a plain configure builds for 127.0.0.1; only the installation "
          f"preset and package.sh name {package['address']}:{package['port']}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
