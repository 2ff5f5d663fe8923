#!/usr/bin/env python3
"""Drives quorvane.exe under Wine through the Win32 automation driver and
saves PNG pictures of the main window and of the results window with its
lines. Run by scripts/screenshots.sh, which sets up Xvfb and Wine.

usage: screenshots.py BUILD_DIR OUT_DIR SERVICE_ADDRESS
"""
import os
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import zlib

TIMEOUT_S = 60


def windows_path(path):
    return 'Z:' + os.path.abspath(path).replace('/', '\\')


def wire(data):
    out = ''
    for b in data:
        if b == 0x5C:
            out += '\\\\'
        elif 0x21 <= b <= 0x7E:
            out += chr(b)
        else:
            out += '\\x%02X' % b
    return out


def unwire(text):
    out, i = bytearray(), 0
    while i < len(text):
        if text[i] == '\\' and text[i + 1] == '\\':
            out.append(0x5C)
            i += 2
        elif text[i] == '\\':
            out.append(int(text[i + 2:i + 4], 16))
            i += 4
        else:
            out.append(ord(text[i]))
            i += 1
    return bytes(out)


def write_database(path):
    """A small location database: each range's record holds its end address,
    the country and the area text in place."""
    ranges = [((1, 2, 3, 0), (1, 2, 3, 255), '中国', '北京'),
              ((10, 0, 0, 0), (10, 0, 255, 255), '局域网', '对方和您在同一内部网'),
              ((192, 0, 2, 0), (192, 0, 2, 255), '美国', '加州')]
    ip = lambda p: (p[0] << 24) | (p[1] << 16) | (p[2] << 8) | p[3]
    records, offsets = bytearray(), []
    for start, end, country, area in ranges:
        offsets.append(8 + len(records))
        records += struct.pack('<I', ip(end)) + country.encode('gbk') + b'\0' + area.encode('gbk') + b'\0'
    first = 8 + len(records)
    index = bytearray()
    for (start, _, _, _), offset in zip(ranges, offsets):
        index += struct.pack('<I', ip(start)) + struct.pack('<I', offset)[:3]
    last = first + 7 * (len(ranges) - 1)
    with open(path, 'wb') as f:
        f.write(struct.pack('<II', first, last) + records + index)


class FakeService(threading.Thread):
    """Answers every request on a free loopback port: addresses ending in an
    odd number are on the blacklist."""

    def __init__(self):
        super().__init__(daemon=True)
        self.listener = socket.socket()
        self.listener.bind(('127.0.0.1', 0))
        self.listener.listen(16)
        self.port = self.listener.getsockname()[1]

    def run(self):
        while True:
            conn, _ = self.listener.accept()
            with conn:
                request = b''
                while len(request) < 1024:
                    piece = conn.recv(1024 - len(request))
                    if not piece:
                        break
                    request += piece
                address = request.split(b'/api?ip=')[-1].split(b'\n')[0]
                listed = address[-1:] in b'13579'
                conn.sendall(b'<response success="true">\n\t<type>ip</type>\n\t<appears>'
                             + (b'yes' if listed else b'no') + b'</appears>\n</response>\n')


class Driver:
    def __init__(self, build, workdir):
        driver = os.path.join(build, 'tests/win32_driver/qv_win32_driver.exe')
        self.proc = subprocess.Popen(
            ['wine', driver, windows_path(os.path.join(build, 'src/ui/quorvane.exe')),
             windows_path(os.path.join(build, 'tests/win32_driver/qv_win32_hook.dll'))],
            cwd=workdir, stdin=subprocess.PIPE, stdout=subprocess.PIPE)

    def request(self, line):
        self.proc.stdin.write((line + '\n').encode())
        self.proc.stdin.flush()
        first = self.proc.stdout.readline().decode().rstrip('\n')
        if not first:
            sys.exit('the driver ended at: ' + line)
        fields = first.split(' ')
        records = []
        if fields[0] == 'ok' and line.split(' ')[0] in ('windows', 'children', 'list'):
            for _ in range(int(fields[1])):
                records.append(self.proc.stdout.readline().decode().rstrip('\n').split(' '))
        return fields, records

    def ok(self, line):
        fields, _ = self.request(line)
        if fields[0] != 'ok':
            sys.exit('%s: %s' % (line, ' '.join(fields)))
        return fields

    def wait_until(self, condition):
        seen = self.ok('wait 0 0')[1]
        deadline = time.monotonic() + TIMEOUT_S
        while True:
            found = condition()
            if found:
                return found
            left = int((deadline - time.monotonic()) * 1000)
            if left <= 0:
                sys.exit('timed out')
            seen = self.ok('wait %s %d' % (seen, left))[1]

    def window(self, title):
        def find():
            for w in self.request('windows')[1]:
                if w[1] == '#32770' and unwire(w[6]) == title.encode('gbk') and w[5] == '1':
                    return w[0]
            return None
        return self.wait_until(find)

    def child(self, parent, control_id):
        for c in self.request('children ' + parent)[1]:
            if int(c[1]) == control_id:
                return c[0]
        sys.exit('no control %d' % control_id)


def bmp_to_png(bmp_path, png_path):
    with open(bmp_path, 'rb') as f:
        data = f.read()
    offset, = struct.unpack_from('<I', data, 10)
    width, height = struct.unpack_from('<ii', data, 18)
    row = (width * 3 + 3) & ~3
    raw = bytearray()
    for y in range(height - 1, -1, -1):  # BMP rows run bottom up
        line = data[offset + y * row: offset + y * row + width * 3]
        raw.append(0)
        for x in range(0, width * 3, 3):
            raw += bytes((line[x + 2], line[x + 1], line[x]))
    chunk = lambda kind, body: (struct.pack('>I', len(body)) + kind + body
                                + struct.pack('>I', zlib.crc32(kind + body) & 0xFFFFFFFF))
    with open(png_path, 'wb') as f:
        f.write(b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', width, height, 8, 2, 0, 0, 0))
                + chunk(b'IDAT', zlib.compress(bytes(raw), 9)) + chunk(b'IEND', b''))


def shoot(driver, hwnd, out_dir, name):
    bmp = os.path.join(out_dir, name + '.bmp')
    driver.ok('idle %s 10000' % hwnd)
    driver.ok('shot %s %s' % (hwnd, wire(windows_path(bmp).encode())))
    bmp_to_png(bmp, os.path.join(out_dir, name + '.png'))
    os.remove(bmp)
    print('wrote', os.path.join(out_dir, name + '.png'))


def main():
    build, out_dir, service_address = sys.argv[1:4]
    build, out_dir = os.path.abspath(build), os.path.abspath(out_dir)
    os.makedirs(out_dir, exist_ok=True)
    workdir = tempfile.mkdtemp(prefix='qv-shots-')
    write_database(os.path.join(workdir, 'qqwry.dat'))
    service = FakeService()
    service.start()
    driver = Driver(build, workdir)
    driver.ok('hello')
    driver.ok('route %s 80 127.0.0.1 %d' % (service_address, service.port))
    main_window = driver.window('Quorvane')
    driver.ok('settext %s %s' % (driver.child(main_window, 1002),
                                 wire(b'1.2.3.4\r\n1.2.3.7\r\n10.0.0.1\r\n192.0.2.*')))
    shoot(driver, main_window, out_dir, 'main_window')
    driver.ok('click ' + driver.child(main_window, 1001))
    results = driver.window('检查结果')
    result_list = driver.child(results, 1003)
    driver.wait_until(lambda: len(driver.request('list ' + result_list)[1]) >= 259)
    driver.ok('select %s 2 1' % result_list)
    shoot(driver, results, out_dir, 'results_window')
    driver.ok('click ' + driver.child(results, 2))
    driver.wait_until(lambda: [w for w in driver.request('windows')[1] if w[0] == main_window and w[4] == '1'])
    driver.ok('key %s ESCAPE' % main_window)
    code = driver.proc.wait(timeout=TIMEOUT_S)
    if code != 1:
        sys.exit('the program ended with %d' % code)


if __name__ == '__main__':
    main()
