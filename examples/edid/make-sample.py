#!/usr/bin/env python3
"""Builds the sample EDID of an analog 15-inch point-of-sale monitor.

Writes sample-vga.bin (the 128-byte base block) and sample-vga.hex (the same
bytes as a hex dump). With --c-array it prints the base block followed by a
minimal extension block as a C array instead (the driver's EDID self-test
sample).
"""
import os
import sys


def letters(code):
    a, b, c = (ord(ch) - 0x40 for ch in code)
    w = (a << 10) | (b << 5) | c
    return [w >> 8, w & 0xFF]


def text_descriptor(kind, text):
    body = text.encode("ascii")
    assert len(body) <= 13
    if len(body) < 13:
        body += b"\n"
    body = body.ljust(13, b" ")
    return [0, 0, 0, kind, 0] + list(body)


def with_checksum(block):
    assert len(block) == 127
    return block + [(-sum(block)) & 0xFF]


def base_block(extensions):
    b = [0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00]
    b += letters("ZVK")                       # manufacturer
    b += [0x76, 0x46]                         # product code 0x4676
    b += [0x45, 0x23, 0x01, 0x00]             # serial number 0x00012345
    b += [12, 2019 - 1990]                    # week 12 of 2019
    b += [1, 3]                               # EDID 1.3
    b += [0x0E]                               # analog, separate/composite/green sync
    b += [30, 23]                             # 30 x 23 cm
    b += [120]                                # gamma 2.20
    b += [0xEA]                               # standby, suspend, active off, RGB colour, preferred timing
    b += [0xEE, 0x91, 0xA3, 0x54, 0x4C, 0x99, 0x26, 0x0F, 0x50, 0x54]  # chromaticity
    b += [0xAF, 0xCE, 0x00]                   # established timings
    b += [0x61, 0x4F, 0x45, 0x59] + [0x01, 0x01] * 6  # 1024x768@75, 800x600@85
    # Preferred timing: 1024 x 768, 65 MHz, totals 1344 x 806 (60 Hz).
    b += [0x64, 0x19, 0x00, 0x40, 0x41, 0x00, 0x26, 0x30,
          0x18, 0x88, 0x36, 0x00, 0x30, 0xE4, 0x10, 0x00, 0x00, 0x18]
    # Range limits: vertical 50-75 Hz, horizontal 30-61 kHz, 80 MHz.
    b += [0, 0, 0, 0xFD, 0, 50, 75, 30, 61, 8, 0x00, 0x0A] + [0x20] * 6
    b += text_descriptor(0xFC, "ZVK POS15A")
    b += text_descriptor(0xFF, "ZK19A0042")
    b += [extensions]
    return with_checksum(b)


def extension_block():
    # An empty CTA-861 block: revision 3, no data blocks, no timings.
    return with_checksum([0x02, 0x03, 0x04, 0x00] + [0] * 123)


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    if "--c-array" in sys.argv:
        data = base_block(1) + extension_block()
        for i in range(0, len(data), 16):
            print("    " + " ".join("0x%02X," % x for x in data[i:i + 16]))
        return
    data = base_block(0)
    with open(os.path.join(here, "sample-vga.bin"), "wb") as f:
        f.write(bytes(data))
    with open(os.path.join(here, "sample-vga.hex"), "w") as f:
        for i in range(0, len(data), 16):
            f.write(" ".join("%02x" % x for x in data[i:i + 16]) + "\n")


if __name__ == "__main__":
    main()
