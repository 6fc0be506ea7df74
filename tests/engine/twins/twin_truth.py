#!/usr/bin/python3
"""Pairing against the makers' own truth.

For each seed, a random tree with colliding names (shared 8-letter prefixes, numbered folders, case
twins, non-ASCII and long names, empty folders, folders holding only folders, deep chains) is made
into images by genisoimage (-J, -J -R, -J -udf, -J -R -udf), xorriso (-J --norock, -J -R) and
pycdlib (random, different names in every tree). Which record of each tree belongs to which source
folder is known without asking Umbradisc: from the source tree and the image's Rock Ridge names (for
an image without them, from the same tree made by the same maker with them), and for pycdlib from
the construction itself. Then, for every folder row `umbradisc-cli ls -R --json` prints:
  - its records all belong to one source folder, and every folder record of every tree is in
    exactly one row;
  - `hide` of its path either hides exactly that folder's records in every tree that holds it
    (read back with isoinfo, pycdlib and the UDF reference walker) or refuses with status 5 and
    leaves every byte as it was;
and every folder that the evidence in the image proves (computed here from the source tree: names
kept whole, files, folders whose subfolders are proven by their files, the last one of a level) is
hidden, not refused.

  twin_truth.py --cli PATH [--seeds 1-20] [--makers a,b] [--keep DIR]

Prints a line per failure with the command that remakes it, and exits 1 if any.
Needs Debian's python3-pycdlib, genisoimage, xorriso and isoinfo.
"""
import argparse, io, json, os, random, re, shutil, subprocess, sys, tempfile

import pycdlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'udf'))
import udfwalk  # noqa: E402  (the UDF reference walker of the tests)

MAKERS = {
    'genisoimage-J': (['genisoimage', '-quiet', '-input-charset', 'utf-8', '-J'], False, False),
    'genisoimage-J-R': (['genisoimage', '-quiet', '-input-charset', 'utf-8', '-J', '-R'], True, False),
    'genisoimage-J-udf': (['genisoimage', '-quiet', '-input-charset', 'utf-8', '-J', '-udf'], False, True),
    'genisoimage-J-R-udf': (['genisoimage', '-quiet', '-input-charset', 'utf-8', '-J', '-R', '-udf'], True, True),
    'xorriso-J-norock': (['xorriso', '-as', 'mkisofs', '-quiet', '--norock', '-J'], False, False),
    'xorriso-J-R': (['xorriso', '-as', 'mkisofs', '-quiet', '-J', '-R'], True, False),
    'pycdlib': (None, False, True),
}
JOLIET_UNITS = 64
GENISOIMAGE_DEPTH = 6  # genisoimage leaves deeper folders out of an image without Rock Ridge


# ---------------------------------------------------------------- the source tree

def folder_names(rng, count):
    """Names for `count` sibling folders, drawn from classes that make ISO 9660 names collide."""
    families = ['binutils', 'libreadline', 'documents', 'photographs', 'programme']
    words = ['alpha', 'Beta', 'gamma.dir', 'a b', 'dash-name', 'Zeta', 'notes', 'raw', 'inner', 'x.y.z']
    unicode = ['café', 'Ünïcode', '日本語', 'Ελληνικά', 'naïve résumé']
    names = []
    family = rng.choice(families)  # siblings often share a family, so that their 8-letter names clash
    while len(names) < count:
        kind = rng.randrange(7)
        if kind in (0, 5) and rng.random() < 0.7:
            name = family + rng.choice(['', '-common', '-mingw-w64-i686', '8', ' 20', ' 27', '-doc', '_extra'])
        elif kind == 0:
            base = rng.choice(families)
            name = base + rng.choice(['', '-common', '-mingw-w64-i686', '8', ' 20', ' 27', '-doc', '_extra'])
        elif kind == 1:
            name = rng.choice(['Folder %d', 'dir %05d', 'Album %d', 'sub%d']) % rng.randrange(1, 2000)
        elif kind == 2:
            base = rng.choice(['Docs', 'README', 'Music'])
            name = rng.choice([base, base.lower(), base.upper()])
        elif kind == 3:
            name = rng.choice(unicode) + rng.choice(['', ' 2', '-x'])
        elif kind == 4:
            # Longer than a Joliet name: cut at 64, told apart before the cut.
            name = 'long folder name %04d ' % rng.randrange(10000) + 'x' * rng.randrange(50, 70)
        else:
            name = rng.choice(words) + rng.choice(['', '', '1', '2'])
        if name not in names and name.lower() not in ('rr_moved', '.rr_moved'):
            names.append(name)
    return names


def make_tree(rng, root, max_depth, most=70):
    """Writes the tree; returns {relative folder path: {'files': [(name, bytes)], 'folders': [...]}}."""
    folders = {}
    budget = [most]

    def fill(rel, depth):
        entry = folders[rel] = {'files': [], 'folders': []}
        here = os.path.join(root, rel)
        os.makedirs(here, exist_ok=True)
        shape = rng.randrange(5)
        if shape in (0, 1):  # files of their own
            for k in range(rng.randrange(1, 4)):
                entry['files'].append(('file %d.dat' % k, bytes(rng.randrange(256) for _ in range(rng.randrange(1, 3000)))))
        if shape == 2 and rng.random() < 0.5:  # empty files only
            entry['files'].append(('empty.txt', b''))
        if rng.random() < 0.15:  # a file whose ISO 9660 name starts like a folder's
            entry['files'].append(('libreadline', b'y\n'))
        subfolders = 0
        if depth < max_depth:
            subfolders = rng.choice([0, 0, 0, 1, 1, 2, 3]) if depth > 0 else rng.randrange(5, 9)
        subfolders = min(subfolders, budget[0])
        budget[0] -= subfolders
        for name in folder_names(rng, subfolders):
            if any(name == f for f, _ in entry['files']):
                continue
            entry['folders'].append(name)
            fill(os.path.join(rel, name) if rel else name, depth + 1)
        for name, data in entry['files']:
            with open(os.path.join(here, name), 'wb') as f:
                f.write(data)

    fill('', 0)
    # One chain as deep as allowed, so that makers with Rock Ridge relocate its end.
    chain = ''
    for level in range(max_depth):
        chain = os.path.join(chain, 'level %d' % level) if chain else 'deep chain'
        parent = os.path.dirname(chain)
        if chain not in folders:
            folders[chain] = {'files': [], 'folders': []}
            folders[parent]['folders'].append(os.path.basename(chain))
            os.makedirs(os.path.join(root, chain), exist_ok=True)
    leaf = os.path.join(root, chain, 'leaf.txt')
    with open(leaf, 'wb') as f:
        f.write(b'leaf\n')
    folders[chain]['files'].append(('leaf.txt', b'leaf\n'))
    return folders


def joliet_form(name):
    out, units = '', 0
    for ch in name:
        width = 2 if ord(ch) > 0xFFFF else 1
        if units + width > JOLIET_UNITS:
            break
        units += width
        out += '_' if ch in '*/:;?\\' or ord(ch) < 0x20 else ch
    return out


# ---------------------------------------------------------------- images and their truth

def run(cmd, **kw):
    return subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kw)


def pycdlib_image(rng, folders, out):
    """Random, different names in every tree; the truth is the construction."""
    iso = pycdlib.PyCdlib()
    iso.new(interchange_level=3, joliet=3, udf='2.60')
    truth = {'': {'iso': ['/'], 'joliet': '/', 'udf': '/', 'files': {'joliet': True, 'udf': True},
                  'files_any': {'joliet': True, 'udf': True}}}
    alphabet = 'ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_'
    for rel in sorted(folders, key=lambda p: p.count(os.sep) if p else -1):
        if not rel:
            continue
        parent = truth[os.path.dirname(rel)]
        used = {t: set() for t in ('iso', 'joliet', 'udf')}
        for sibling in folders[os.path.dirname(rel)]['folders']:
            path = os.path.join(os.path.dirname(rel), sibling)
            if path in truth:
                for t in used:
                    used[t].add((truth[path]['iso'][0] if t == 'iso' else truth[path][t]).rsplit('/', 1)[-1])
        def fresh(tree, make):
            while True:
                n = make()
                if n not in used[tree]:
                    return n
        iso_name = fresh('iso', lambda: ''.join(rng.choice(alphabet) for _ in range(rng.randrange(3, 9))))
        joliet_name = fresh('joliet', lambda: rng.choice(['Map', 'folder', 'Stack', 'zeta']) + ' %d' % rng.randrange(1000))
        udf_name = fresh('udf', lambda: rng.choice(['Udf', 'shelf', 'Box']) + '-%d' % rng.randrange(1000))
        join = lambda p, n: (p.rstrip('/') + '/' + n)
        t = {'iso': [join(parent['iso'][0], iso_name)], 'joliet': join(parent['joliet'], joliet_name),
             'udf': join(parent['udf'], udf_name), 'files': {'joliet': True, 'udf': True},
             'files_any': {'joliet': True, 'udf': True}}
        iso.add_directory(t['iso'][0], joliet_path=t['joliet'], udf_path=t['udf'])
        truth[rel] = t
    for rel, entry in folders.items():
        for k, (name, data) in enumerate(entry['files']):
            t = truth[rel]
            join = lambda p, n: (p.rstrip('/') + '/' + n)
            iso.add_fp(io.BytesIO(data), len(data), join(t['iso'][0], 'F%d.DAT;1' % k),
                       joliet_path=join(t['joliet'], 'f%d.dat' % k), udf_path=join(t['udf'], 'u%d.dat' % k))
    iso.write(out)
    iso.close()
    return truth


def iso_physical(image):
    """isoinfo's listing of the ISO 9660 tree: {physical path: (flags, extent, is dir)}."""
    out = run(['isoinfo', '-l', '-i', image]).stdout.decode('latin-1')
    entries, where = {}, None
    for line in out.splitlines():
        if line.startswith('Directory listing of '):
            where = line[len('Directory listing of '):].rstrip('/')
            continue
        if '[' not in line or where is None:
            continue
        head, _, name = line.partition(']')
        name = name.strip()
        if name in ('.', '..'):
            continue
        extent, flags = head.rsplit('[', 1)[1].split()
        entries[where + '/' + name] = (int(flags, 16), int(extent), line.startswith('d'))
    return entries


def child_links(image):
    """{placeholder's physical path: the extent its Rock Ridge CL entry names}, read from the
    records themselves (pycdlib links placeholders to moved folders by name, and two moved folders
    of one name get mixed up there)."""
    physical = iso_physical(image)
    links = {}
    with open(image, 'rb') as f:
        def read(sector, offset, length):
            f.seek(sector * 2048 + offset)
            return f.read(length)

        def entries(area):
            pos = 0
            while pos + 4 <= len(area):
                sig, length = area[pos:pos + 2], area[pos + 2]
                if length < 4:
                    return
                yield sig, area[pos:pos + length]
                if sig == b'CE':
                    block, offset, size = (int.from_bytes(area[pos + k:pos + k + 4], 'little') for k in (4, 12, 20))
                    yield from entries(read(block, offset, size))
                pos += length

        for path, (flags, extent, is_dir) in physical.items():
            if is_dir:
                continue
            parent = os.path.dirname(path) or '/'
            parent_extent = 0
            if parent == '/':
                pvd = read(16, 0, 2048)
                parent_extent = int.from_bytes(pvd[156 + 2:156 + 6], 'little')
            else:
                parent_extent = physical[parent][1]
            size = 2048 * 64
            data = read(parent_extent, 0, size)
            pos, name = 0, os.path.basename(path).encode('latin-1')
            while pos < len(data):
                length = data[pos]
                if length == 0:
                    pos = (pos // 2048 + 1) * 2048
                    if pos >= len(data):
                        break
                    continue
                record = data[pos:pos + length]
                ident = record[33:33 + record[32]]
                if ident == name and int.from_bytes(record[2:6], 'little') == extent:
                    use = record[33 + record[32] + (1 - record[32] % 2):]
                    for sig, entry in entries(use):
                        if sig == b'CL':
                            links[path] = int.from_bytes(entry[4:8], 'little')
                    break
                pos += length
    return links


def rock_ridge_names(image):
    """{physical path: Rock Ridge name} of every record: isoinfo lists the same records in the same
    order with -l (identifiers) and with -R -l (Rock Ridge names)."""
    plain = run(['isoinfo', '-l', '-i', image]).stdout.decode('latin-1').splitlines()
    named = run(['isoinfo', '-R', '-l', '-i', image]).stdout.decode('utf-8', 'replace').splitlines()
    names, where = {}, None
    for a, b in zip(plain, named):
        if a.startswith('Directory listing of '):
            where = a[len('Directory listing of '):].rstrip('/')
            continue
        if '[' not in a or where is None:
            continue
        ident = a.partition(']')[2].strip()
        if ident not in ('.', '..'):
            names[where + '/' + ident] = b.partition(']')[2].strip()
    return names


def truth_from_rock_ridge(rr_image, rock_ridge_here, folders):
    """ISO 9660 paths of each source folder, from an image of the same tree with Rock Ridge names.
    With rock_ridge_here the image is the one judged: a relocated folder has its moved record and
    its placeholder; otherwise the identifiers of the Rock Ridge twin name the records."""
    physical = iso_physical(rr_image)
    dir_at = {e: p for p, (fl, e, d) in physical.items() if d}
    links = child_links(rr_image)
    rr_name = rock_ridge_names(rr_image)
    children = {}
    for path in physical:
        children.setdefault(os.path.dirname(path) or '/', []).append(path)
    paths = {'': ['/']}
    ident_path = {'': ''}
    physical_dir = {'': '/'}  # where each folder's own records stand
    for rel in sorted(folders, key=lambda p: p.count(os.sep) if p else -1):
        if not rel:
            continue
        parent = os.path.dirname(rel)
        name = os.path.basename(rel)
        here = [p for p in children.get(physical_dir[parent], []) if rr_name.get(p) == name]
        if len(here) != 1:
            raise RuntimeError('no one Rock Ridge record for %r: %s' % (rel, here))
        here = here[0]
        ident_path[rel] = ident_path[parent] + '/' + os.path.basename(here)
        # A placeholder stands where the folder belongs; its CL entry names the moved folder.
        moved = dir_at.get(links[here]) if here in links else None
        if not rock_ridge_here:
            paths[rel] = [ident_path[rel]]
        elif moved:
            paths[rel] = [moved, here]  # the moved record, the placeholder
        else:
            paths[rel] = [here]
        physical_dir[rel] = moved or here
    return paths


def maker_image(maker, src, out, folders, work):
    cmd, rock_ridge, udf = MAKERS[maker]
    r = run(cmd + ['-o', out, src])
    if r.returncode != 0:
        raise RuntimeError(maker + ' failed: ' + r.stderr.decode(errors='replace')[-300:])
    if rock_ridge:
        iso_paths = truth_from_rock_ridge(out, True, folders)
    else:
        twin = os.path.join(work, 'rr-twin.iso')
        r = run(cmd + ['-R', '-o', twin, src])
        if r.returncode != 0:
            raise RuntimeError(maker + ' -R failed')
        iso_paths = truth_from_rock_ridge(twin, False, folders)
    # Makers leave a folder out of the Joliet tree when its path there would grow too long: the
    # truth holds the records the trees do hold.
    iso = pycdlib.PyCdlib()
    iso.open(out)
    joliet_folders, joliet_files = {'/'}, set()
    for path, dirs, files in iso.walk(joliet_path='/'):
        joliet_folders.update(path.rstrip('/') + '/' + d for d in dirs)
        joliet_files.update(path.rstrip('/') + '/' + f for f in files)
    iso.close()
    udf_folders, udf_files = set(), set()
    if udf:
        u = udfwalk.Udf(udfwalk.Img(out), log=lambda *a: None)
        for fid in walk_udf_all(u):
            (udf_folders if u.read_icb(fid['icb'])['ftype'] == 4 else udf_files).add(fid['path'])
        udf_folders.add('/')
    truth = {}
    for rel in folders:
        parts = rel.split(os.sep) if rel else []
        joliet = '/' + '/'.join(joliet_form(p) for p in parts)
        # genisoimage cuts UDF names as it cuts Joliet names.
        udf_path = '/' + '/'.join(p if maker.startswith('xorriso') else joliet_form(p) for p in parts)
        # Whether the tree holds every file of one byte or more of the folder, as the ISO 9660 tree does.
        kept = lambda base, form, files, each=all: each(base.rstrip('/') + '/' + form(f) in files
                                                        for f, data in folders[rel]['files'] if data)
        udf_form = (lambda n: n) if maker.startswith('xorriso') else joliet_form
        truth[rel] = {'iso': iso_paths[rel], 'joliet': joliet if joliet in joliet_folders else None,
                      'udf': udf_path if udf_path in udf_folders else None,
                      'files': {'joliet': kept(joliet, joliet_form, joliet_files),
                                'udf': udf and kept(udf_path, udf_form, udf_files)},
                      'files_any': {'joliet': kept(joliet, joliet_form, joliet_files, any),
                                    'udf': udf and kept(udf_path, udf_form, udf_files, any)}}
    return truth


# ---------------------------------------------------------------- reading what is hidden

def hidden_records(image, has_udf):
    """Every record some tree marks hidden: ('iso', path), ('joliet', path), ('udf', path)."""
    hidden = set()
    for path, (flags, _, _) in iso_physical(image).items():
        if flags & 1:
            hidden.add(('iso', path))
    iso = pycdlib.PyCdlib()
    iso.open(image)
    if iso.has_joliet():
        for path, _, files in iso.walk(joliet_path='/'):
            for rec in iso.list_children(joliet_path=path):
                if rec.is_dot() or rec.is_dotdot():
                    continue
                if rec.file_flags & 1:
                    name = rec.file_identifier().decode('utf-16-be')
                    hidden.add(('joliet', path.rstrip('/') + '/' + name))
    iso.close()
    if has_udf:
        u = udfwalk.Udf(udfwalk.Img(image), log=lambda *a: None)
        for fid in walk_udf_all(u):
            if fid['char'] & 1:
                hidden.add(('udf', fid['path']))
    return hidden


def walk_udf_all(u, loc=None, path=''):
    """The reference walker's tree, hidden identifiers included (its own walk skips deleted ones only)."""
    fe = u.read_icb(loc or u.root)
    for fid in u.fids(fe):
        if fid['char'] & 8:
            continue
        child = u.read_icb(fid['icb'])
        fid['path'] = path + '/' + fid['name']
        yield fid
        if child['ftype'] == 4:
            yield from walk_udf_all(u, fid['icb'], fid['path'])


# ---------------------------------------------------------------- what the image proves

def provable(folders, truth, rock_ridge, has_udf, maker):
    """The folders the evidence in the image proves, from the source tree alone: in every other
    tree, a name kept whole, files of its own, subfolders each proven by files, or being the last
    one of its level; where a tree left it out, every folder that tree holds there being proven."""
    proven = {''}
    trees = ['joliet'] + (['udf'] if has_udf else [])

    def name_kept(rel, siblings):
        name = os.path.basename(rel)
        forms = [joliet_form(x) for x in siblings]
        return joliet_form(name) == name and forms.count(name) == 1

    def by_files(rel, tree):
        return any(data for _, data in folders[rel]['files']) and truth[rel]['files'][tree]

    def conflict(rel, tree):  # files of its own, none of which the tree holds
        return any(data for _, data in folders[rel]['files']) and not truth[rel]['files_any'][tree]

    def by_subfolders(rel, tree):
        subs = [os.path.join(rel, x) for x in folders[rel]['folders']]
        return (bool(subs) and not conflict(rel, tree) and
                all(truth[x][tree] and (by_files(x, tree) or by_subfolders(x, tree)) for x in subs))

    pending = ['']
    while pending:
        parent = pending.pop()
        siblings = folders[parent]['folders']
        children = [os.path.join(parent, x) if parent else x for x in siblings]
        ok = {c: True for c in children}
        for tree in trees:
            here = {c: truth[c][tree] is not None for c in children}
            good = {}
            for c in children:
                if not here[c]:
                    continue
                if maker == 'pycdlib':
                    good[c] = by_files(c, tree) or by_subfolders(c, tree)
                elif tree == 'joliet':
                    good[c] = (rock_ridge and name_kept(c, siblings)) or by_files(c, tree) or by_subfolders(c, tree)
                else:
                    good[c] = (rock_ridge or (truth[c]['joliet'] is not None and name_kept(c, siblings)) or
                               by_files(c, tree) or by_subfolders(c, tree))
            left = [c for c in good if not good[c]]
            if maker != 'pycdlib' and len(left) == 1 and all(here.values()) and not conflict(left[0], tree):
                good[left[0]] = True
            for c in children:
                ok[c] = ok[c] and (good[c] if here[c] else all(good.values()))
        for c in children:
            if ok[c]:
                proven.add(c)
                pending.append(c)
    return proven


# ---------------------------------------------------------------- one image, judged

def judge(cli, image, truth, folders, has_udf, rock_ridge, maker, recipe, failures):
    def fail(text):
        text = re.sub('x{12,}', 'x…', text)  # the long names' tails
        failures.append('%s: %s\n    remake: %s' % (maker, text, recipe))

    r = run([cli, 'ls', '-R', '--json', image])
    if r.returncode != 0:
        fail('ls -R failed: ' + r.stderr.decode(errors='replace'))
        return None
    rows = [row for row in json.loads(r.stdout) if row['folder']]
    # Which source folder each record of each tree belongs to.
    owner = {}
    for rel, t in truth.items():
        if not rel:
            continue
        for p in t['iso']:
            owner[('iso', p)] = rel
        for tree in ('joliet', 'udf'):
            if t[tree]:
                owner[(tree, t[tree])] = rel
    # Per-tree paths of each row's records, built from its parent's row. A moved folder has two
    # ISO 9660 records: its placeholder, where it belongs, then its record in RR_MOVED, which holds
    # its own folders.
    inside = {'/': {'iso9660': '', 'joliet': '', 'udf': ''}}
    seen_records = {}
    row_owner = {}
    for row in sorted(rows, key=lambda x: x['path'].count('/')):
        parent = row['path'].rsplit('/', 1)[0] or '/'
        base = inside.get(parent, {})
        mine, owners = {}, set()
        per_tree = {}
        for rec in row['records']:
            per_tree.setdefault(rec['tree'], []).append(rec['name'])
        for tree, names in per_tree.items():
            if tree not in base:
                continue
            paths = [base[tree] + '/' + names[0]]
            if tree == 'iso9660' and len(names) == 2:
                paths.append('/RR_MOVED/' + names[1])
            mine[tree] = paths[-1]
            for p in paths:
                key = ({'iso9660': 'iso'}.get(tree, tree), p)
                seen_records[key] = seen_records.get(key, 0) + 1
                if key in owner:
                    owners.add(owner[key])
        inside[row['path']] = mine
        if len(owners) > 1:
            fail('one row holds records of different folders: %s -> %s' % (row['path'], sorted(owners)))
        row_owner[row['path']] = owners.pop() if len(owners) == 1 else None
    # Every folder record in exactly one row (a moved folder's record in RR_MOVED is shown where
    # its placeholder stands, so its logical path is what the rows give).
    for rel, t in truth.items():
        if not rel:
            continue
        keys = [('iso', p) for p in t['iso']] + [(tree, t[tree]) for tree in ('joliet', 'udf') if t[tree]]
        for key in keys:
            if seen_records.get(key, 0) != 1:
                fail('the record %s of %r is in %d rows' % (key, rel, seen_records.get(key, 0)))
    proven = provable(folders, truth, rock_ridge, has_udf, maker)
    counts = {'rows': len(rows), 'hidden': 0, 'refused': 0, 'proven': len(proven) - 1}
    original = open(image, 'rb').read()
    copy = image + '.work'
    for row in rows:
        rel = row_owner.get(row['path'])
        if rel is None and row['name'].upper() == 'RR_MOVED':
            continue  # where Rock Ridge moved deep folders: no folder of the source
        shutil.copyfile(image, copy)
        r = run([cli, 'hide', copy, row['path']])
        if r.returncode == 5:
            counts['refused'] += 1
            if open(copy, 'rb').read() != original:
                fail('hide %s refused but changed the image' % row['path'])
            if rel is not None and rel in proven:
                fail('hide %s refused although the image proves %r: %s' % (row['path'], rel, r.stderr.decode(errors='replace').strip()))
            continue
        if r.returncode != 0:
            fail('hide %s exited %d: %s' % (row['path'], r.returncode, r.stderr.decode(errors='replace').strip()))
            continue
        if rel is None:
            fail('hide %s hid a row that is no source folder' % row['path'])
            continue
        t = truth[rel]
        expected = {('iso', p) for p in t['iso']} | {(tree, t[tree]) for tree in ('joliet', 'udf') if t[tree]}
        counts['hidden'] += 1
        got = hidden_records(copy, has_udf)
        if got != expected:
            fail('hide %s (%r) hid %s, expected %s' % (row['path'], rel, sorted(got - expected) or '-', sorted(expected - got) or '-'))
    os.remove(copy)
    return counts


def run_seed(cli, seed, makers, keep, verbose):
    failures = []
    rng = random.Random(seed)
    work = tempfile.mkdtemp(prefix='umbradisc-twins-')
    try:
        for maker in makers:
            depth = GENISOIMAGE_DEPTH if maker in ('genisoimage-J', 'genisoimage-J-udf') else (6 if maker == 'pycdlib' else 10)
            src = os.path.join(work, maker, 'src')
            tree_rng = random.Random('%d-%d' % (seed, depth))
            folders = make_tree(tree_rng, src, depth)
            image = os.path.join(work, maker, 'image.iso')
            recipe = '%s --cli %s --seeds %d --makers %s --keep DIR' % (sys.argv[0], cli, seed, maker)
            try:
                if maker == 'pycdlib':
                    truth = pycdlib_image(random.Random(seed), folders, image)
                else:
                    truth = maker_image(maker, src, image, folders, os.path.join(work, maker))
            except RuntimeError as e:
                failures.append('%s: cannot make the image: %s\n    remake: %s' % (maker, e, recipe))
                continue
            _, rock_ridge, udf = MAKERS[maker]
            counts = judge(cli, image, truth, folders, udf, rock_ridge, maker, recipe, failures)
            if counts and verbose:
                print('  %-20s %3d folders: %3d hidden, %3d refused (the evidence proves %d)' %
                      (maker, len(folders) - 1, counts['hidden'], counts['refused'], counts['proven']), flush=True)
        if keep:
            shutil.copytree(work, os.path.join(keep, 'seed-%d' % seed), dirs_exist_ok=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return failures


def seeds_of(text):
    out = []
    for part in text.split(','):
        a, _, b = part.partition('-')
        out.extend(range(int(a), int(b or a) + 1))
    return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--cli', required=True)
    ap.add_argument('--seeds', default='1-3')
    ap.add_argument('--makers', default=','.join(MAKERS))
    ap.add_argument('--keep')
    ap.add_argument('--verbose', action='store_true', help='how many folders each image proves and hides')
    args = ap.parse_args()
    makers = args.makers.split(',')
    total = []
    for seed in seeds_of(args.seeds):
        failures = run_seed(args.cli, seed, makers, args.keep, args.verbose)
        print('seed %d: %s' % (seed, 'ok' if not failures else '%d failures' % len(failures)), flush=True)
        for f in failures:
            print('  ' + f, flush=True)
        total.extend(failures)
    print('%d failures' % len(total))
    sys.exit(1 if total else 0)


if __name__ == '__main__':
    main()
