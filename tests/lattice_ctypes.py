#!/usr/bin/env python3
"""The lattice export as a foreign caller meets it: libksplugs.so loaded
through ctypes, started, asked for the lattice of a date at 32 pixels
without any device, and stopped again.

Usage: lattice_ctypes.py path/to/libksplugs.so
"""
import base64
import ctypes
import os
import shutil
import sys
import tempfile


class OsdBlock(ctypes.Structure):
    _fields_ = [
        ("count", ctypes.c_uint32),
        ("datetimeFormat", ctypes.c_int32),
        ("datetimeX", ctypes.c_int32),
        ("datetimeY", ctypes.c_int32),  # the font cell height of a lattice
        ("text", ctypes.POINTER(ctypes.c_char_p)),
        ("textX", ctypes.POINTER(ctypes.c_int32)),
        ("textY", ctypes.POINTER(ctypes.c_int32)),
        ("underline", ctypes.c_uint8),
        ("italic", ctypes.c_uint8),
        ("strikeOut", ctypes.c_uint8),
        ("bold", ctypes.c_uint8),
        ("fontName", ctypes.c_char * 64),
    ]


class OsdResult(ctypes.Structure):
    _fields_ = [
        ("outCount", ctypes.c_uint32),
        ("outDatetimeX", ctypes.c_int32),
        ("outDatetimeY", ctypes.c_int32),
        ("outBase64", ctypes.c_void_p),
        ("outTextPos", ctypes.c_void_p),
        ("outWidth", ctypes.c_int32),
        ("outHeight", ctypes.c_int32),
        ("outLength", ctypes.c_uint32),
    ]


# The OSD members are the largest of the record's two unions, so the record
# has the C layout with only them declared.
class DeviceSettingsParam(ctypes.Structure):
    _fields_ = [
        ("type", ctypes.c_int32),
        ("uniqueId", ctypes.c_uint32),
        ("operate", ctypes.c_int32),
        ("blockId", ctypes.c_int32),
        ("subType", ctypes.c_int32),
        ("osd", OsdBlock),
        ("result", OsdResult),
    ]


def lattice_request(font_height, lines):
    param = DeviceSettingsParam()
    param.type = 1
    param.uniqueId = 77  # no such device: a lattice needs none
    param.operate = 1
    param.subType = 11
    param.osd.count = 1
    param.osd.text = lines
    param.osd.datetimeY = font_height
    return param


def main(library_path):
    failures = []

    def check(condition, what):
        if not condition:
            failures.append(what)

    # Start-up wipes the library's work folders below the temporary folder.
    work = tempfile.mkdtemp(prefix="lattice-ctypes-")
    os.environ["TMPDIR"] = work
    os.environ["KESTROVA_UI"] = "headless"
    try:
        lib = ctypes.CDLL(library_path)
        libc = ctypes.CDLL(None)
        libc.free.argtypes = [ctypes.c_void_p]
        lib.KsComDeviceSettings.argtypes = [ctypes.POINTER(DeviceSettingsParam), ctypes.c_int]

        lines = (ctypes.c_char_p * 1)(b"2024-05-06 07:08:09")
        param = lattice_request(32, lines)
        check(lib.KsComDeviceSettings(ctypes.byref(param), 0) == 1009, "not initialised answers 1009")

        check(lib.KsComGlobalInit() == 0, "KsComGlobalInit")
        result = lib.KsComDeviceSettings(ctypes.byref(param), 0)
        check(result == 0, "lattice result %d" % result)
        out = param.result
        if result == 0 and out.outBase64:
            text = ctypes.string_at(out.outBase64)
            decoded = base64.b64decode(text, validate=True)
            check(out.outHeight == 32, "height %d" % out.outHeight)
            check(160 <= out.outWidth <= 480, "width %d" % out.outWidth)
            check(out.outLength == (out.outWidth + 7) // 8 * out.outHeight, "length %d" % out.outLength)
            check(len(decoded) == out.outLength, "decoded %d bytes" % len(decoded))
            check(any(decoded), "no ink")
            print("lattice %dx%d, %d bytes, %d base64 characters" % (out.outWidth, out.outHeight, out.outLength, len(text)))
            libc.free(out.outBase64)

        # Another block type with the same sub-type goes to its device.
        other = lattice_request(32, lines)
        other.type = 3
        check(lib.KsComDeviceSettings(ctypes.byref(other), 0) == 1016, "privacy block with sub-type 11 looks for its device")
        check(lib.KsComGlobalUninit() == 0, "KsComGlobalUninit")
    finally:
        shutil.rmtree(work, ignore_errors=True)

    for failure in failures:
        print("FAILED:", failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) != 2:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    sys.exit(main(sys.argv[1]))
