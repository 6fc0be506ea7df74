#!/usr/bin/python3
"""Make an ISO 9660 + Joliet + UDF 2.50 bridge image WITH a metadata partition
(metadata file + duplicated mirror file), a layout that no Debian tool writes
(mkudffs(8) LIMITATIONS: it "cannot create UDF 2.50 Metadata partition";
pycdlib's udf='2.60' writes 1.02-style structures).

  /usr/bin/python3 mk_bridge_udf250.py OUT.iso [--inicb] [--folders N]
  (--inicb: directory FIDs embedded in the directory EFEs instead of in their own blocks;
   --folders N: instead of the small test tree, N folders "folder 0000".. at the root, one small
   file each, for benchmarks; a directory then spans as many blocks as its FIDs need)

How: pycdlib builds the ISO 9660 + Joliet trees and reserves the UDF areas
(VRS 19-21, VDS 32-37 / 48-53, LVID 64, AVDP 256, partition from 257); this
script then replaces the UDF side: NSR03, tag version 3, domain revision 2.50,
a type 1 map (partition 0) plus a type 2 "*UDF Metadata Partition" map (ref 1),
FSD/EFEs/FIDs inside the metadata partition, file EFEs pointing with long_ads
(partition ref 0) at the very sectors the ISO 9660 records point at.
Metadata content = M blocks at the end of the image, then its mirror copy
(M blocks), then the metadata file EFE (type 250) and mirror EFE (type 251),
then the closing AVDP.  Bitmap file location = 0xFFFFFFFF (read-only volume).
A test fixture only: it is checked with 7z, udfinfo and udfwalk.py, nothing more.
"""
import io, struct, sys, time
import os; sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pycdlib
from udfwalk import Img, Udf, crc_itu_t, retag, tag_checksum

BS = 2048
out = sys.argv[1] if len(sys.argv) > 1 and not sys.argv[1].startswith('--') else 'bridge-udf250-meta.iso'

# ---- 1. base image: same tree as mk_pycdlib_udf260.py --------------------------------
FOLDERS = int(sys.argv[sys.argv.index('--folders') + 1]) if '--folders' in sys.argv else 0
iso = pycdlib.PyCdlib()
iso.new(interchange_level=1, joliet=3, udf='2.60', vol_ident='TESTVOL')
for i in range(FOLDERS):
    iso.add_directory(f'/F{i:04d}', joliet_path=f'/folder {i:04d}', udf_path=f'/folder {i:04d}')
    data = f'{i}\n'.encode()
    iso.add_fp(io.BytesIO(data), len(data), f'/F{i:04d}/A.TXT;1', joliet_path=f'/folder {i:04d}/a.txt',
               udf_path=f'/folder {i:04d}/a.txt')
for a, b in () if FOLDERS else (('/ALPHA', '/Alpha'), ('/BETA', '/Beta'), ('/BETA/SUB', '/Beta/Sub'), ('/UNICODE', '/Ünïcode Folder')):
    iso.add_directory(a, joliet_path=b, udf_path=b)
for a, b, data in () if FOLDERS else (('/ALPHA/A.TXT;1', '/Alpha/a.txt', b'alpha\n'), ('/BETA/B1.TXT;1', '/Beta/b1.txt', b'b1\n'),
                   ('/BETA/B2.BIN;1', '/Beta/b2.bin', bytes(range(256)) * 20),
                   ('/BETA/SUB/C.TXT;1', '/Beta/Sub/c.txt', b'c\n'),
                   ('/UNICODE/U.TXT;1', '/Ünïcode Folder/ü.txt', b'u\n'), ('/README.TXT;1', '/readme.txt', b'root\n')):
    iso.add_fp(io.BytesIO(data), len(data), a, joliet_path=b, udf_path=b)
iso.write(out)
iso.close()

img = Img(out, write=True)
u = Udf(img, log=lambda *a: None)
P = u.pds[0][0]
N0 = img.size // BS
entries = list(u.walk())                       # fid dicts with 'path', 'fe', 'char', 'name'
old_blocks = {P, P + 1, N0 - 1}                # old FSD, its terminator, old closing AVDP
for e in entries + [{'fe': u.read_icb(u.root)}]:
    old_blocks.add(e['fe']['abs'] // BS)
    if e['fe']['ftype'] == 4:
        old_blocks.update(u.abs_block(lbn, pr) for ln, lbn, pr, et in e['fe']['ads'])

# ---- 2. helpers ----------------------------------------------------------------------
now = time.gmtime()
TS = struct.pack('<HHBBBBBBB', 0x1000, now.tm_year, now.tm_mon, now.tm_mday, now.tm_hour, now.tm_min,
                 now.tm_sec, 0, 0) + b'\0'
assert len(TS) == 12


def regid(ident, suffix=b'', flags=0):
    return struct.pack('<B23s8s', flags, ident, suffix)


UDFREV = 0x0250
DOMAIN = regid(b'*OSTA UDF Compliant', struct.pack('<HB', UDFREV, 0))
IMPL = regid(b'*umbradisc test', b'\x04\x00')       # OS class 4 (UNIX), OS id 0
UDFSUF = struct.pack('<HBB', UDFREV, 4, 0)                # UDF Identifier Suffix


def tag(ident, loc, body_len_total, buf):
    """Write a v3 tag for the descriptor in buf (len = descriptor size), CRC over the rest."""
    struct.pack_into('<HHBBHHHI', buf, 0, ident, 3, 0, 0, 1, 0, body_len_total - 16, loc)
    retag(buf)
    return buf


def dchars(name):
    try:
        return b'\x08' + name.encode('latin-1')
    except UnicodeEncodeError:
        return b'\x10' + name.encode('utf-16-be')


def long_ad(length, lbn, pref, uid=0):
    return struct.pack('<IIHHI', length, lbn, pref, 0, uid & 0xFFFFFFFF)


def efe(loc, ftype, adtype, ads, info_len, blocks, uid, perms, links):
    b = bytearray(216 + len(ads))
    struct.pack_into('<IHHHBB6sH', b, 16, 0, 4, 0, 1, 0, ftype, b'\0' * 6, adtype)
    struct.pack_into('<IIIHBBIQQQ', b, 36, 0xFFFFFFFF, 0xFFFFFFFF, perms, links, 0, 0, 0, info_len, info_len, blocks)
    b[80:92] = b[92:104] = b[104:116] = b[116:128] = TS
    struct.pack_into('<I', b, 128, 1)                          # checkpoint
    b[168:200] = IMPL
    struct.pack_into('<QII', b, 200, uid, 0, len(ads))
    b[216:] = ads
    return tag(266, loc, len(b), b)


def fid(loc, char, name, icb_lbn, uid):
    fi = dchars(name) if name is not None else b''
    n = 38 + len(fi)
    b = bytearray((n + 3) & ~3)
    struct.pack_into('<HBB', b, 16, 1, char, len(fi))
    b[20:36] = long_ad(BS, icb_lbn, 1, uid)
    struct.pack_into('<H', b, 36, 0)
    b[38:38 + len(fi)] = fi
    return tag(257, loc, len(b), b)


# ---- 3. metadata partition content ----------------------------------------------------
# metadata lbn 0 = FSD, 1 = terminating descriptor, then per directory: EFE + its data blocks,
# per file: EFE.  Unique IDs: root 0, others from 16 (UDF 3.2.1.1).
dirs = {'': {'children': []}}
for e in entries:
    parent = e['path'].rsplit('/', 1)[0]
    dirs[parent]['children'].append(e)
    if e['fe']['ftype'] == 4:
        dirs[e['path']] = {'children': []}
def fid_size(name):
    return (38 + (len(dchars(name)) if name is not None else 0) + 3) & ~3


nxt, uid = 2, 16
for p in sorted(dirs, key=lambda s: (s.count('/'), s)):
    size = fid_size(None) + sum(fid_size(k['name']) for k in dirs[p]['children'])
    dirs[p]['efe'] = nxt; dirs[p]['data'] = nxt + 1; dirs[p]['blocks'] = (size + BS - 1) // BS
    nxt += 1 + dirs[p]['blocks']
    dirs[p]['uid'] = 0 if p == '' else uid; uid += p != ''
files = {}
for e in entries:
    if e['fe']['ftype'] == 5:
        files[e['path']] = {'efe': nxt, 'uid': uid, 'e': e}; nxt += 1; uid += 1
AU = 32
M = ((nxt + AU - 1) // AU) * AU
meta = bytearray(M * BS)

fsd_old = bytearray(img.read(P * BS, 512))
fsd = bytearray(512); fsd[:] = fsd_old
fsd[16:28] = TS
fsd[400:416] = long_ad(BS, dirs['']['efe'], 1, 0)
fsd[416:448] = DOMAIN
meta[0:512] = tag(256, 0, 512, fsd)
meta[BS:BS + 512] = tag(8, 1, 512, bytearray(512))

INICB = '--inicb' in sys.argv      # FIDs embedded in the directory EFE (ICB flags AD type 3)
for p, d in dirs.items():
    kids = d['children']
    parent = p.rsplit('/', 1)[0] if p else ''
    # A FID's tag names the block that holds its first byte.
    where = (lambda at: d['efe']) if INICB else (lambda at: d['data'] + at // BS)
    blob = fid(where(0), 0x0A, None, dirs[parent]['efe'], dirs[parent]['uid'])
    for k in sorted(kids, key=lambda k: k['name']):
        isdir = k['fe']['ftype'] == 4
        t = dirs[k['path']] if isdir else files[k['path']]
        blob += fid(where(len(blob)), 0x02 if isdir else 0x00, k['name'], t['efe'], t['uid'])
    assert not INICB or len(blob) <= BS - 216, "--inicb takes only directories that fit in their entry"
    nsub = sum(1 for k in kids if k['fe']['ftype'] == 4)
    if INICB:
        e = efe(d['efe'], 4, 3, blob, len(blob), 0, d['uid'], 0x14A5, 1 + nsub)
    else:
        meta[d['data'] * BS:d['data'] * BS + len(blob)] = blob
        ads = struct.pack('<II', len(blob), d['data'])        # short_ad, metadata partition
        e = efe(d['efe'], 4, 0, ads, len(blob), d['blocks'], d['uid'], 0x14A5, 1 + nsub)
    meta[d['efe'] * BS:d['efe'] * BS + len(e)] = e
for p, f in files.items():
    fe = f['e']['fe']
    ads = b''.join(long_ad(ln | (et << 30), lbn, 0) for ln, lbn, pr, et in fe['ads'])   # partition ref 0
    meta[f['efe'] * BS:f['efe'] * BS + 216 + len(ads)] = efe(f['efe'], 5, 1, ads, fe['size'],
                                                              (fe['size'] + BS - 1) // BS, f['uid'], 0x1084, 1)

# ---- 4. physical placement ----------------------------------------------------------
# order: mirror content, metadata file EFE, mirror file EFE, main content, closing AVDP
# (7-Zip reads only the main metadata file and wants nothing unread but zeros before the
# closing anchor, UdfIn.cpp 1293-1330, so the main content goes last)
mirror_lbn = ((N0 - P + AU - 1) // AU) * AU        # partition-relative
mfe_lbn, mmfe_lbn = mirror_lbn + M, mirror_lbn + M + 1
meta_lbn = ((mmfe_lbn + 1 + AU - 1) // AU) * AU
plen = meta_lbn + M
last = P + plen                                    # closing AVDP sector
img.f.truncate((last + 1) * BS)
for s in old_blocks:
    img.write(s * BS, bytes(BS))
img.write((P + meta_lbn) * BS, bytes(meta))
img.write((P + mirror_lbn) * BS, bytes(meta))
for ftype, loc, start in ((250, mfe_lbn, meta_lbn), (251, mmfe_lbn, mirror_lbn)):
    b = efe(loc, ftype, 0, struct.pack('<II', M * BS, start), M * BS, M, 0, 0, 1)
    img.write((P + loc) * BS, bytes(b) + bytes(BS - len(b)))

# ---- 5. volume structures -------------------------------------------------------------
img.write(20 * BS, b'\x00NSR03\x01')
for s in (16, 17):                                  # ISO 9660 / Joliet volume space size
    img.write(s * BS + 80, struct.pack('<I', last + 1) + struct.pack('>I', last + 1))


def vds_desc(kind, old):
    b = bytearray(BS)
    if kind == 'PD':
        b[:512] = old[:512]
        b[25:31] = b'+NSR03'
        struct.pack_into('<III', b, 184, 1, P, plen)
        b[196:228] = IMPL
        return b, 512
    if kind == 'LVD':
        b[:440] = old[:440]
        b[216:248] = DOMAIN
        b[248:264] = long_ad(BS, 0, 1)               # FSD: metadata partition, lbn 0
        maps = struct.pack('<BBHH', 1, 6, 1, 0)
        maps += struct.pack('<BBH32sHHIIIIHB5s', 2, 64, 0, regid(b'*UDF Metadata Partition', UDFSUF), 1, 0,
                            mfe_lbn, mmfe_lbn, 0xFFFFFFFF, AU, 1, 1, b'')
        struct.pack_into('<II', b, 264, len(maps), 2)
        b[272:304] = IMPL
        b[440:440 + len(maps)] = maps
        return b, 440 + len(maps)
    if kind == 'IUVD':
        b[:512] = old[:512]
        b[48:50] = struct.pack('<H', UDFREV)          # "*UDF LV Info" suffix revision
        return b, 512
    b[:512] = old[:512]
    return b, 512


kinds = {1: 'PVD', 4: 'IUVD', 5: 'PD', 6: 'LVD', 7: 'USD', 8: 'TD'}
for base in (32, 48):
    for i in range(6):
        old = img.read((base + i) * BS, BS)
        ident = struct.unpack_from('<H', old, 0)[0]
        b, size = vds_desc(kinds[ident], old)
        struct.pack_into('<HHBBHHHI', b, 0, ident, 3, 0, 0, 1, 0, size - 16, base + i)
        retag(b)
        img.write((base + i) * BS, bytes(b))

lvid = bytearray(BS)
nfiles, ndirs = len(files), len(dirs)
body = struct.pack('<12sI8sQ24sII', TS, 1, b'', uid, b'', 2, 46)
body += struct.pack('<IIII', 0, 0, plen, M)                   # free space table, size table
body += IMPL + struct.pack('<IIHHH', nfiles, ndirs, UDFREV, UDFREV, UDFREV)
lvid[16:16 + len(body)] = body
img.write(64 * BS, bytes(tag(9, 64, 16 + len(body), lvid)))
td = bytearray(BS)
img.write(65 * BS, bytes(tag(8, 65, 512, td)))

for s in (256, last):
    a = bytearray(BS)
    struct.pack_into('<IIII', a, 16, 16 * BS, 32, 16 * BS, 48)
    img.write(s * BS, bytes(tag(2, s, 512, a)))
img.f.close()
print('wrote %s: partition %d+%d, metadata file EFE lbn %d (content lbn %d..%d), mirror EFE lbn %d '
      '(content %d..%d), AVDP 256 and %d' % (out, P, plen, mfe_lbn, meta_lbn, meta_lbn + M - 1, mmfe_lbn,
                                             mirror_lbn, mirror_lbn + M - 1, last))
