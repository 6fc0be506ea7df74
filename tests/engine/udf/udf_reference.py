#!/usr/bin/python3
"""Reference listing for the UDF tests, read by udfwalk.py and not by the engine:
  dir <offsets of every copy of the folder's FID, comma-separated> <characteristics> <path>
  jfile <Joliet folder path> <extent> <size>      (every file of the Joliet tree)
Fields are separated by tabs. Exits non-zero when a tag or CRC does not verify."""
import os, struct, sys
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from udfwalk import BS, Img, Udf

img = Img(sys.argv[1])
u = Udf(img, log=lambda *a: None)
for fid in u.walk():
    if fid['fe']['ftype'] == 4:
        print('dir\t%s\t%d\t%s' % (','.join(str(o) for o in fid['where'][0]), fid['char'], fid['path']))

joliet = None
for s in range(16, 64):
    d = img.read(s * BS, BS)
    if d[1:6] != b'CD001' or d[0] == 255:
        break
    if d[0] == 2 and d[88:90] == b'%/' and d[90:91] in b'@CE':
        joliet = d


def walk(lba, size, path, depth=0):
    data = img.read(lba * BS, size)
    p = 0
    while p < len(data):
        ln = data[p]
        if ln == 0:
            p = (p // BS + 1) * BS
            continue
        ext, sz = struct.unpack_from('<I', data, p + 2)[0], struct.unpack_from('<I', data, p + 10)[0]
        fl, lfi = data[p + 25], data[p + 32]
        ident = data[p + 33:p + 33 + lfi]
        if ident not in (b'\0', b'\1'):
            name = ident.decode('utf-16-be', 'replace')
            if fl & 2:
                walk(ext, sz, path + '/' + name, depth + 1)
            else:
                print('jfile\t%s\t%d\t%d' % (path or '/', ext, sz))
        p += ln


if joliet:
    walk(struct.unpack_from('<I', joliet, 158)[0], struct.unpack_from('<I', joliet, 166)[0], '')
