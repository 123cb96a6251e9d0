"""What a C++ client builds from, and the documentation, as every package
ships it: {folder below SDK/: [files]}.  The installers and the portable
package take their SDK from here only: the x64 build's sdk/ folder as the
build assembled it (header, GUIDs, IDL, both type libraries), then the samples
and documentation as they are in the tree."""

import os

import type_library


def sdk_folder(x86_build):
    """The SDK the x64 build assembles; both builds live side by side in one build root."""
    return os.path.join(os.path.dirname(os.path.abspath(x86_build)), "x64", "sdk")


def sdk_files(x86_build, source_root):
    sdk = sdk_folder(x86_build)
    win32 = os.path.join(sdk, "typelib", "win32", "TarnDriver.tlb")
    if not os.path.isfile(os.path.join(sdk, "include", "TarnDriver.h")) or not os.path.isfile(win32):
        raise SystemExit(f"no SDK in {sdk}: build the x64 target sdk first")
    # The SDK compiles its 32-bit type library from its own IDL: it must describe
    # what the x86 module carries.
    shipped = type_library.read(os.path.join(x86_build, "src", "generated", "TarnDriver.tlb"))
    if type_library.read(win32) != shipped:
        raise SystemExit(f"{win32} does not describe the type library the x86 module carries")
    files = {}
    for top, base in ((sdk, sdk), (os.path.join(source_root, "examples"), source_root),
                      (os.path.join(source_root, "docs"), source_root)):
        for folder, subfolders, names in os.walk(top):
            subfolders.sort()
            relative = os.path.relpath(folder, base).replace(os.sep, "/")
            files.setdefault("" if relative == "." else relative, []).extend(
                os.path.join(folder, n) for n in sorted(names))
    return {relative: paths for relative, paths in sorted(files.items()) if paths}
