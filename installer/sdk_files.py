"""What a C++ client builds from, and the documentation, as every package
ships it: {folder below SDK/: [files]}.  The installers and the portable
package take their SDK from here only."""

import filecmp
import os


def sdk_files(builds, source_root):
    """builds: {"x86": folder, "x64": folder}; either may be missing when the
    package carries one architecture, but the header and GUIDs come from x64 when present."""
    generated = {arch: os.path.join(build, "src", "generated") for arch, build in builds.items()}
    header_source = generated.get("x64") or generated["x86"]
    if len(generated) == 2:
        for name in ("TarnDriver.h", "TarnDriver_i.c"):
            if not filecmp.cmp(os.path.join(generated["x86"], name), os.path.join(generated["x64"], name),
                               shallow=False):
                raise SystemExit(f"the x86 and x64 {name} differ; the SDK carries one")
    files = {"include": [os.path.join(header_source, "TarnDriver.h"), os.path.join(header_source, "TarnDriver_i.c")],
             "idl": [os.path.join(source_root, "src", "module", "TarnDriver.idl")]}
    for arch, platform in (("x86", "win32"), ("x64", "win64")):
        if arch in generated:
            files[f"typelib/{platform}"] = [os.path.join(generated[arch], "TarnDriver.tlb")]
    # Samples and documentation, as they are in the tree.
    for tree in ("examples", "docs"):
        top = os.path.join(source_root, tree)
        for folder, subfolders, names in os.walk(top):
            subfolders.sort()
            relative = os.path.relpath(folder, source_root).replace(os.sep, "/")
            files.setdefault(relative, []).extend(os.path.join(folder, n) for n in sorted(names))
    return {relative: paths for relative, paths in sorted(files.items()) if paths}
