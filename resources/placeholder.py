"""Writes minimal stand-in resource data so that the executable builds."""
import os
import sys
import zipfile

out = sys.argv[1]
os.makedirs(out, exist_ok=True)
with zipfile.ZipFile(os.path.join(out, "skin.zip"), "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("skin.xml", '<?xml version="1.0" encoding="utf-8"?>\n<Window size="650,360"/>\n')
with zipfile.ZipFile(os.path.join(out, "settings.zip"), "w", zipfile.ZIP_DEFLATED) as z:
    z.writestr("language.ini", "[language]\n")
with open(os.path.join(out, "domain.txt"), "wb") as f:
    f.write(b"zelvane")
with open(os.path.join(out, "url.ini"), "wb") as f:
    f.write("\ufeff[url]\r\n".encode("utf-16-le"))
