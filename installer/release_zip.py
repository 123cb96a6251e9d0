"""Zip archives that two builds of one commit write byte for byte alike:
entries in name order, each dated SOURCE_DATE_EPOCH (the commit's date, from
tools/source-date-epoch) instead of its file's time, with fixed permissions."""

import os
import subprocess
import time
import zipfile

ZIP_EARLIEST = 315532800  # 1980-01-01, the first date a zip entry can hold


def release_date():
    epoch = os.environ.get("SOURCE_DATE_EPOCH")
    if not epoch:
        tool = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools", "source-date-epoch")
        epoch = subprocess.run([tool], check=True, capture_output=True, text=True).stdout.strip()
    return time.gmtime(max(int(epoch), ZIP_EARLIEST))[:6]


def write(output, files, texts=()):
    """files: (name in the archive, path on disk); texts: (name, str). Written
    to OUTPUT.partial first, so a failed run leaves no half archive."""
    date = release_date()
    entries = [(name, None, text) for name, text in texts] + [(name, path, None) for name, path in files]
    output = os.path.abspath(output)
    os.makedirs(os.path.dirname(output), exist_ok=True)
    partial = output + ".partial"
    with zipfile.ZipFile(partial, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, path, text in sorted(entries, key=lambda entry: entry[0]):
            info = zipfile.ZipInfo(name, date)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            if path is None:
                data = text.encode("utf-8")
            else:
                with open(path, "rb") as f:
                    data = f.read()
            archive.writestr(info, data)
    os.replace(partial, output)
