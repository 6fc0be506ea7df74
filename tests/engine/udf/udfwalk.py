#!/usr/bin/python3
"""udfwalk.py - read-only dump of the UDF side of a bridge image, and a FID
File-Characteristics patcher used to produce test images.

  udfwalk.py IMG                      dump VRS, AVDP, VDS, partitions, FSD, tree
  udfwalk.py IMG --pair               also pair UDF folders with ISO 9660/Joliet folders
  udfwalk.py IMG --set  /Beta 0x01    OR these bits into the FID of /Beta (all copies)
  udfwalk.py IMG --clear /Beta 0x01   clear these bits
  udfwalk.py --selftest               CRC test vectors

Patching rewrites, for each copy of the FID (main metadata + mirror when a
metadata partition exists): byte 18 (File Characteristics), then the tag's
Descriptor CRC (bytes 8-9) over bytes 16..16+CRCLength, then the tag checksum
(byte 4).  If the FID is embedded in its directory's (E)FE, the (E)FE's own
tag CRC and checksum are recomputed too.  Nothing else is touched.
The tests' independent reference; Python 3 standard library only.
"""
import struct, sys

BS = 2048  # sector size; logical block size is read from the LVD


def crc_itu_t(data, crc=0):
    """CRC-16/XMODEM: poly 0x1021, init 0, no reflection, no final xor (ECMA-167 1/7.2.6)."""
    for b in data:
        crc ^= b << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021) & 0xFFFF if crc & 0x8000 else (crc << 1) & 0xFFFF
    return crc


def tag_checksum(t):
    return (sum(t[0:4]) + sum(t[5:16])) & 0xFF


def tag_ok(buf):
    """Return (ident, crclen, location) if the 16-byte tag + CRC verify, else None."""
    if len(buf) < 16 or tag_checksum(buf) != buf[4]:
        return None
    ident, ver, _ck, _res, _ser, crc, crclen, loc = struct.unpack_from('<HHBBHHHI', buf, 0)
    if ver not in (2, 3) or 16 + crclen > len(buf) or crc_itu_t(buf[16:16 + crclen]) != crc:
        return None
    return ident, crclen, loc


def retag(buf):
    """Recompute Descriptor CRC (over the tag's own CRCLength) then the checksum, in place."""
    crclen = struct.unpack_from('<H', buf, 10)[0]
    struct.pack_into('<H', buf, 8, crc_itu_t(bytes(buf[16:16 + crclen])))
    buf[4] = tag_checksum(buf)


def dstring(b):
    """OSTA CS0 d-characters: first byte = compression id."""
    if not b:
        return ''
    cid, body = b[0], b[1:]
    if cid in (8, 254):
        return body.decode('latin-1')
    if cid in (16, 255):
        return body[: len(body) & ~1].decode('utf-16-be', 'replace')
    return '<cid %d %s>' % (cid, body.hex())


def dstring_field(b):
    """Fixed-size dstring: last byte = used length (including the compression id)."""
    n = b[-1]
    return dstring(b[:n]) if n else ''


class Img:
    def __init__(self, path, write=False):
        self.f = open(path, 'r+b' if write else 'rb')
        self.f.seek(0, 2)
        self.size = self.f.tell()

    def read(self, off, n):
        self.f.seek(off)
        return self.f.read(n)

    def write(self, off, data):
        self.f.seek(off)
        self.f.write(data)


class Udf:
    def __init__(self, img, log=print):
        self.img, self.log = img, log
        self.vrs()
        self.anchor()
        self.vds()
        self.maps()
        self.fileset()

    # ---------- volume recognition ----------
    def vrs(self):
        ids, s = [], 16
        while True:
            d = self.img.read(s * BS, 7)
            if len(d) < 7 or d[1:6] not in (b'CD001', b'BEA01', b'NSR02', b'NSR03', b'TEA01',
                                             b'BOOT2', b'CDW02'):
                break
            ids.append((s, d[0], d[1:6].decode()))
            s += 1
        self.log('VRS:', ' '.join('%d:%s(type %d)' % (s, i, t) for s, t, i in ids))
        if not any(i in ('NSR02', 'NSR03') for _, _, i in ids):
            raise SystemExit('no NSR02/NSR03: not a UDF volume')

    # ---------- anchor ----------
    def anchor(self):
        n = self.img.size // BS
        found = []
        for s in (256, n - 256, n - 1):
            if s <= 0:
                continue
            b = self.img.read(s * BS, BS)
            t = tag_ok(b)
            if t and t[0] == 2:
                mlen, mloc, rlen, rloc = struct.unpack_from('<IIII', b, 16)
                found.append((s, mloc, mlen, rloc, rlen, t[2]))
        for f in found:
            self.log('AVDP at sector %d (tag loc %d): main VDS %d+%d bytes, reserve VDS %d+%d bytes'
                     % (f[0], f[5], f[1], f[2], f[3], f[4]))
        if not found:
            raise SystemExit('no AVDP at 256, N-256, N-1')
        self.mvds = (found[0][1], found[0][2])
        self.rvds = (found[0][3], found[0][4])

    # ---------- volume descriptor sequence ----------
    def vds(self):
        loc, ln = self.mvds
        self.pds, self.lvd = {}, None
        names = {1: 'PVD', 2: 'AVDP', 3: 'VDP', 4: 'IUVD', 5: 'PD', 6: 'LVD', 7: 'USD', 8: 'TD'}
        s = 0
        while s < ln // BS:
            b = self.img.read((loc + s) * BS, BS)
            t = tag_ok(b)
            if not t:
                self.log('  VDS sector %d: bad or blank tag, stop' % (loc + s)); break
            self.log('  VDS sector %d: %s (tag %d, VDSN %d)' % (loc + s, names.get(t[0], '?'), t[0],
                                                              struct.unpack_from('<I', b, 16)[0]))
            if t[0] == 8:
                break
            if t[0] == 3:  # Volume Descriptor Pointer: continue elsewhere
                ln2, loc2 = struct.unpack_from('<II', b, 20)
                loc, ln, s = loc2, ln2, 0
                continue
            if t[0] == 5:
                num = struct.unpack_from('<H', b, 22)[0]
                contents = b[25:48].rstrip(b'\0').decode('latin-1')
                access, start, plen = struct.unpack_from('<III', b, 184)
                self.pds[num] = (start, plen)
                self.log('    partition %d: contents %s, access type %d, start %d, length %d'
                         % (num, contents, access, start, plen))
            if t[0] == 6:
                self.lvd = bytes(b)
            s += 1
        b = self.lvd
        self.lbs = struct.unpack_from('<I', b, 212)[0]
        dom = b[217:240].rstrip(b'\0').decode('latin-1')
        rev = struct.unpack_from('<H', b, 240)[0]
        self.udfrev = rev
        self.fsd_lad = struct.unpack_from('<IIH', b, 248)
        mtl, npm = struct.unpack_from('<II', b, 264)
        ilen, iloc = struct.unpack_from('<II', b, 432)
        self.log('LVD: id "%s", block size %d, domain "%s" rev %04x, FSD at lbn %d part %d, '
                 '%d partition map(s), LVID extent %d+%d'
                 % (dstring_field(b[84:212]), self.lbs, dom, rev, self.fsd_lad[1], self.fsd_lad[2],
                    npm, iloc, ilen))
        self.pmaps, p = [], 440
        for i in range(npm):
            typ, plen = b[p], b[p + 1]
            if typ == 1:
                vsn, num = struct.unpack_from('<HH', b, p + 2)
                self.pmaps.append({'type': 1, 'num': num})
                self.log('  map %d: type 1, partition %d' % (i, num))
            else:
                ident = b[p + 5:p + 28].rstrip(b'\0').decode('latin-1')
                vsn, num = struct.unpack_from('<HH', b, p + 36)
                m = {'type': 2, 'ident': ident, 'num': num}
                if ident == '*UDF Metadata Partition':
                    m['meta'], m['mirror'], m['bitmap'], m['au'] = struct.unpack_from('<IIII', b, p + 40)
                    m['align'], m['flags'] = struct.unpack_from('<HB', b, p + 56)
                self.pmaps.append(m)
                self.log('  map %d: type 2 "%s", partition %d %s' % (
                    i, ident, num, {k: v for k, v in m.items() if k in ('meta', 'mirror', 'bitmap', 'flags')}))
            p += plen
        if ilen:
            lb = self.img.read(iloc * BS, BS)
            t = tag_ok(lb)
            if t and t[0] == 9:
                itype = struct.unpack_from('<I', lb, 28)[0]
                npart, liu = struct.unpack_from('<II', lb, 72)
                iu = 80 + 8 * npart
                nf, nd = struct.unpack_from('<II', lb, iu + 32)
                self.log('LVID: integrity type %d (%s), files %d, dirs %d'
                         % (itype, {0: 'open', 1: 'close'}.get(itype, '?'), nf, nd))

    # ---------- address translation ----------
    def maps(self):
        for i, m in enumerate(self.pmaps):
            if m.get('ident') == '*UDF Metadata Partition':
                phys = next(j for j, n in enumerate(self.pmaps) if n['type'] == 1 and n['num'] == m['num'])
                m['phys'] = phys
                for key in ('meta', 'mirror'):
                    fe = self.read_icb((m[key], phys))
                    segs = []
                    pos = 0
                    for (ln, lbn, pref, etype) in fe['ads']:
                        segs.append((pos, self.abs_block(lbn, phys) * self.lbs, ln))
                        pos += ln
                    m[key + '_segs'] = segs
                    self.log('  metadata %s file (type %d) at lbn %d: extents %s' % (
                        key, fe['ftype'], m[key], [(s[1] // self.lbs, s[2]) for s in segs]))

    def abs_block(self, lbn, pref):
        m = self.pmaps[pref]
        if m['type'] == 1 or m.get('ident') == '*UDF Sparable Partition':
            return self.pds[m['num']][0] + lbn  # sparable: ignores sparing-table remaps
        if m.get('ident') == '*UDF Metadata Partition':
            return self.meta_offsets(pref, lbn * self.lbs, 1)[0][0] // self.lbs
        raise SystemExit('unsupported partition map %r' % m)

    def meta_offsets(self, pref, off, n):
        """Absolute byte offset(s) of metadata-partition byte offset `off`: main then mirror copy."""
        m, out = self.pmaps[pref], []
        for key in ('meta_segs', 'mirror_segs'):
            for pos, absoff, ln in m[key]:
                if pos <= off < pos + ln:
                    a = absoff + off - pos
                    if (a, n) not in out:
                        out.append((a, n))
        return out

    def copies(self, lbn, pref, within=0):
        """All absolute byte offsets holding byte `within` of logical block (lbn, pref)."""
        m = self.pmaps[pref]
        if m.get('ident') == '*UDF Metadata Partition':
            return [a for a, _ in self.meta_offsets(pref, lbn * self.lbs + within, 1)]
        return [self.abs_block(lbn, pref) * self.lbs + within]

    # ---------- ICB ----------
    def read_icb(self, loc):
        lbn, pref = loc
        absoff = self.abs_block(lbn, pref) * self.lbs
        b = self.img.read(absoff, self.lbs)
        t = tag_ok(b)
        if not t or t[0] not in (261, 266):
            raise SystemExit('no FE/EFE at lbn %d part %d (abs %d)' % (lbn, pref, absoff))
        efe = t[0] == 266
        ftype = b[27]
        flags = struct.unpack_from('<H', b, 34)[0]
        size = struct.unpack_from('<Q', b, 56)[0]
        lea, lad = struct.unpack_from('<II', b, 208 if efe else 168)
        adoff = (216 if efe else 176) + lea
        adtype = flags & 7
        ads, p = [], adoff
        while adtype in (0, 1, 2) and p < adoff + lad:
            if adtype == 0:
                ln, pos = struct.unpack_from('<II', b, p); pr = pref; p += 8
            elif adtype == 1:
                ln, pos, pr = struct.unpack_from('<IIH', b, p); p += 16
            else:
                ln, _rl, _il, pos, pr = struct.unpack_from('<IIIIH', b, p); p += 20
            etype, ln = ln >> 30, ln & 0x3FFFFFFF
            if ln == 0:
                break
            if etype == 3:
                raise SystemExit('allocation extent descriptor chains not handled in this script')
            ads.append((ln, pos, pr, etype))
        return {'abs': absoff, 'buf': b, 'efe': efe, 'ftype': ftype, 'adtype': adtype, 'size': size,
                'adoff': adoff, 'lad': lad, 'ads': ads, 'loc': loc, 'crclen': t[1]}

    def fileset(self):
        ln, lbn, pref = self.fsd_lad
        b = self.img.read(self.abs_block(lbn, pref) * self.lbs, self.lbs)
        t = tag_ok(b)
        assert t and t[0] == 256, 'no FSD'
        rl, rlbn, rpref = struct.unpack_from('<IIH', b, 400)
        self.root = (rlbn, rpref)
        self.log('FSD at lbn %d part %d: file set "%s", root ICB lbn %d part %d, domain rev %04x'
                 % (lbn, pref, dstring_field(b[304:336]), rlbn, rpref, struct.unpack_from('<H', b, 440)[0]))

    # ---------- directories ----------
    def dir_stream(self, fe):
        """Directory data plus a map data offset -> list of absolute offsets (all copies)."""
        if fe['adtype'] == 3:
            start = fe['adoff']
            data = fe['buf'][start:start + fe['lad']]
            lbn, pref = fe['loc']
            return data, (lambda o: self.copies(lbn, pref, start + o)), True
        data, segs, pos = b'', [], 0
        for ln, lbn, pr, et in fe['ads']:
            segs.append((pos, lbn, pr, ln))
            for k in range(0, ln, self.lbs):        # block by block: metadata space may be fragmented
                data += self.img.read(self.copies(lbn + k // self.lbs, pr)[0], min(self.lbs, ln - k))
            pos += ln
        data = data[:fe['size']]

        def where(o):
            for p0, lbn, pr, ln in segs:
                if p0 <= o < p0 + ln:
                    rel = o - p0
                    return self.copies(lbn + rel // self.lbs, pr, rel % self.lbs)
            raise ValueError(o)
        return data, where, False

    def fids(self, fe):
        data, where, embedded = self.dir_stream(fe)
        p, out = 0, []
        while p + 38 <= len(data):
            t = tag_ok(data[p:])
            if not t or t[0] != 257:
                raise SystemExit('bad FID at dir offset %d' % p)
            ch, lfi = data[p + 18], data[p + 19]
            ln, lbn, pref = struct.unpack_from('<IIH', data, p + 20)
            liu = struct.unpack_from('<H', data, p + 36)[0]
            total = (38 + liu + lfi + 3) & ~3
            name = dstring(data[p + 38 + liu:p + 38 + liu + lfi])
            out.append({'off': p, 'len': total, 'crclen': t[1], 'tagloc': t[2], 'char': ch,
                        'name': name, 'icb': (lbn, pref), 'where': [where(p + i) for i in range(total)],
                        'embedded': embedded, 'parent_fe': fe})
            p += total
        return out

    def walk(self, loc=None, path=''):
        fe = self.read_icb(loc or self.root)
        for fid in self.fids(fe):
            if fid['char'] & 8:
                continue
            child = self.read_icb(fid['icb'])
            fid['path'] = path + '/' + fid['name']
            fid['fe'] = child
            yield fid
            if child['ftype'] == 4:
                yield from self.walk(fid['icb'], fid['path'])


def patch_fid(u, fid, setbits, clearbits):
    """Rewrite one FID (every copy): characteristics, then CRC + checksum; fix an embedding FE."""
    ncopies = len(fid['where'][0])
    for c in range(ncopies):
        offs = [w[c] for w in fid['where']]
        buf = bytearray(u.img.read(o, 1)[0] for o in offs) if offs != list(range(offs[0], offs[0] + len(offs))) \
            else bytearray(u.img.read(offs[0], len(offs)))
        buf[18] = (buf[18] | setbits) & ~clearbits & 0xFF
        retag(buf)
        assert tag_ok(bytes(buf))
        for i, o in enumerate(offs):
            u.img.write(o, bytes(buf[i:i + 1]))
    if fid['embedded']:
        fe = fid['parent_fe']
        b = bytearray(u.img.read(fe['abs'], u.lbs))
        retag(b)
        for a in u.copies(fe['loc'][0], fe['loc'][1], 0):
            u.img.write(a, bytes(b))


# ---------- ISO 9660 / Joliet side, for pairing ----------
def iso_tree(img):
    res = {}
    for s in range(16, 64):
        d = img.read(s * BS, BS)
        if d[1:6] != b'CD001' or d[0] == 255:
            break
        if d[0] == 1:
            res['iso'] = d
        if d[0] == 2 and d[88:90] == b'%/' and d[90:91] in b'@CE':
            res['joliet'] = d
    trees = {}
    for key, vd in res.items():
        enc = 'utf-16-be' if key == 'joliet' else 'latin-1'
        files, dirs = {}, {}

        def walk(lba, size, path):
            data = img.read(lba * BS, size)
            p = 0
            while p < len(data):
                ln = data[p]
                if ln == 0:
                    p = (p // BS + 1) * BS; continue
                ext, sz = struct.unpack_from('<I', data, p + 2)[0], struct.unpack_from('<I', data, p + 10)[0]
                fl, lfi = data[p + 25], data[p + 32]
                ident = data[p + 33:p + 33 + lfi]
                if ident not in (b'\0', b'\1'):
                    name = ident.decode(enc, 'replace')
                    full = path + '/' + name
                    if fl & 2:
                        dirs[ext] = (full, lba * BS + p)
                        walk(ext, sz, full)
                    else:
                        files[ext] = (full, lba * BS + p, fl)
                p += ln
        rl = struct.unpack_from('<I', vd, 156 + 2)[0]
        rs = struct.unpack_from('<I', vd, 156 + 10)[0]
        walk(rl, rs, '')
        trees[key] = (files, dirs)
    return trees


def main(argv):
    if argv[1:2] == ['--selftest']:
        assert crc_itu_t(b'123456789') == 0x31C3
        assert crc_itu_t(b'\x70\x6A\x77') == 0x3299  # ECMA-167 1/7.2.6 example
        print('crc_itu_t("123456789") = 0x%04X; crc_itu_t(70 6A 77) = 0x%04X' %
              (crc_itu_t(b'123456789'), crc_itu_t(b'\x70\x6A\x77')))
        return
    path = argv[1]
    write = '--set' in argv or '--clear' in argv
    u = Udf(Img(path, write))
    if write:
        i = argv.index('--set') if '--set' in argv else argv.index('--clear')
        target, bits = argv[i + 1], int(argv[i + 2], 0)
        for fid in u.walk():
            if fid['path'] == target:
                patch_fid(u, fid, bits if argv[i] == '--set' else 0, bits if argv[i] == '--clear' else 0)
                print('patched %s at %s (copies: %d)' % (target, [hex(c) for c in fid['where'][0]],
                                                         len(fid['where'][0])))
                return
        raise SystemExit('not found: ' + target)
    print('%-44s %-4s %-5s %-22s %-7s %s' % ('path', 'char', 'type', 'FID abs offset(s)', 'crclen', 'data extents (abs sector,len)'))
    ext2udf = {}
    for fid in u.walk():
        fe = fid['fe']
        exts = [(u.abs_block(lbn, pr), ln) for ln, lbn, pr, et in fe['ads']] if fe['adtype'] != 3 else 'in-ICB'
        if fe['ftype'] == 5 and exts != 'in-ICB':
            for e in exts:
                ext2udf[e[0]] = fid['path']
        print('%-44s 0x%02x %-5s %-22s %-7d %s%s' % (
            fid['path'][:44], fid['char'], {4: 'dir', 5: 'file'}.get(fe['ftype'], fe['ftype']),
            ','.join(hex(a) for a in fid['where'][0]), fid['crclen'], exts,
            ' (FID embedded in parent FE)' if fid['embedded'] else ''))
    if '--pair' in argv:
        trees = iso_tree(u.img)
        for key, (files, dirs) in trees.items():
            shared = sum(1 for e in files if e in ext2udf)
            print('%s tree: %d files, %d share their data extent with a UDF file' % (key, len(files), shared))
            for e, (p, off, fl) in sorted(files.items()):
                print('   %-40s ext %-6d -> UDF %s' % (p, e, ext2udf.get(e, '-')))


if __name__ == '__main__':
    main(sys.argv)
