#!/usr/bin/python3
"""Make an ISO 9660 + Joliet + UDF 2.60 image with pycdlib where some folder is missing from a tree.
Usage: /usr/bin/python3 mk_partial_trees.py KIND OUT.iso
Every image holds /SHARED (Joliet and UDF: /Shared) with one file. KIND adds:
  joliet-only  /JolietOnly in the Joliet tree only
  udf-only     /UdfOnly in the UDF tree only
  same-name    an empty /alpha in the Joliet tree and another in the UDF tree, none in ISO 9660
  unprovable   an empty /ISOONLY in the ISO 9660 tree and an empty /JolietOnly in the Joliet tree"""
import io, sys, pycdlib

kind, out = sys.argv[1], sys.argv[2]
iso = pycdlib.PyCdlib()
iso.new(interchange_level=1, joliet=3, udf='2.60', vol_ident='TESTVOL')
iso.add_directory('/SHARED', joliet_path='/Shared', udf_path='/Shared')
data = b'shared\n'
iso.add_fp(io.BytesIO(data), len(data), '/SHARED/S.TXT;1', joliet_path='/Shared/s.txt', udf_path='/Shared/s.txt')
if kind == 'joliet-only':
    iso.add_directory(joliet_path='/JolietOnly')
elif kind == 'udf-only':
    iso.add_directory(udf_path='/UdfOnly')
elif kind == 'same-name':
    iso.add_directory(joliet_path='/alpha')
    iso.add_directory(udf_path='/alpha')
elif kind == 'unprovable':
    iso.add_directory('/ISOONLY')
    iso.add_directory(joliet_path='/JolietOnly')
else:
    sys.exit('unknown kind ' + kind)
iso.write(out)
iso.close()
