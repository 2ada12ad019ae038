#!/usr/bin/env python3
"""A host in Python with ctypes: log in (FunctionID 0), fetch the user information (8), then one
business call (11, personal information), keeping to the buffer rule of qx_interface.h.

usage: host.py LIBRARY   (libqx_interface.so, or QX_Interface_center.dll on 32-bit Windows)

Run it in the folder that holds qx_interface.ini: the library reads it from the current
directory at the moment it is loaded. Every text crossing the interface is GBK bytes.
"""
import ctypes
import sys
import xml.etree.ElementTree as ET

GBK = "gbk"


def load(path):
    # 32-bit Windows exports the functions with __stdcall: WinDLL. Elsewhere the C convention.
    loader = ctypes.WinDLL if sys.platform == "win32" else ctypes.CDLL
    lib = loader(path)
    lib.init_handle.argtypes = [ctypes.c_char_p]
    lib.init_handle.restype = ctypes.c_int
    lib.config_handle.argtypes = [ctypes.c_char_p] * 4
    lib.config_handle.restype = ctypes.c_int
    lib.business_handle.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
    lib.business_handle.restype = ctypes.c_int
    lib.result_handle.argtypes = [ctypes.c_char_p]
    lib.result_handle.restype = ctypes.c_int
    return lib


def spaces(capacity):
    """A writable buffer of `capacity` spaces and a terminating zero."""
    return ctypes.create_string_buffer(b" " * capacity, capacity + 1)


def call(lib, request, capacity):
    """One business call. Returns (status, reply text, fetched through result_handle)."""
    buffer = spaces(capacity)
    status = lib.business_handle(request.encode(GBK), buffer)
    if buffer.value == b" " * capacity:
        # Untouched: the reply is longer than the buffer. Its length first, then the text.
        length = lib.result_handle(None)
        buffer = ctypes.create_string_buffer(length + 1)
        lib.result_handle(buffer)
        return status, buffer.value.decode(GBK), True
    return status, buffer.value.decode(GBK), False


def item(reply, path):
    return ET.fromstring(reply).findtext(path)


def main():
    if len(sys.argv) != 2:
        print("usage: host.py LIBRARY", file=sys.stderr)
        return 2
    lib = load(sys.argv[1])
    failures = []

    message = spaces(255)
    rc = lib.init_handle(message)
    print(f"init_handle -> {rc}")
    if rc != 1:
        print("python host: init_handle failed: " + message.value.decode(GBK, "replace"),
              file=sys.stderr)
        return 1

    status, reply, _ = call(
        lib, "<Program><FunctionID>0</FunctionID><parameters><user>admin</user>"
        "<password>123456</password></parameters></Program>", 4096)
    error_no = item(reply, "ErrorNo")
    print(f"login -> {status}, ErrorNo {error_no}")
    if status < 0 or error_no != "1":
        failures.append("login failed: " + reply)

    status, reply, _ = call(lib, "<Program><FunctionID>8</FunctionID></Program>", 4096)
    staff_name = item(reply, "user_info/row1/staff_name")
    print(f"user information -> {status}, staff_name {staff_name}")
    if status < 0 or staff_name != "王秀兰":
        failures.append("user information: " + reply)

    # 128 bytes on purpose: this reply is longer, so it comes through result_handle.
    status, reply, fetched = call(lib, "<Program><FunctionID>11</FunctionID></Program>", 128)
    name = item(reply, "personinfo/row1/name")
    how = " (fetched with result_handle)" if fetched else ""
    print(f"personal information -> {status}, {len(reply.encode(GBK))} bytes{how}, name {name}")
    if status < 0 or name != "张伟":
        failures.append("personal information: " + reply)
    if not fetched:
        failures.append("a reply longer than 128 bytes should have needed result_handle")

    for failure in failures:
        print("python host: " + failure, file=sys.stderr)
    print("FAILED" if failures else "ok")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
