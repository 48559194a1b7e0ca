#!/usr/bin/env python3
"""The software token through an independent PKCS#11 client, OpenSC's
pkcs11-tool: slots, login, GOST key pairs, signatures (checked by
pkcs11-tool and by OpenSSL's GOST engine), and certificate and data objects.

Usage: pkcs11_tool_test.py <module>"""
import os
import re
import subprocess
import sys
import tempfile

MODULE = os.path.abspath(sys.argv[1])
PIN = "58203716"
failures = []


def check(cond, what):
    print(("ok   " if cond else "FAIL ") + what)
    if not cond:
        failures.append(what)


def tool(*args, pin=True):
    cmd = ["pkcs11-tool", "--module", MODULE]
    if pin:
        cmd += ["--login", "--pin", PIN]
    cmd += list(args)
    p = subprocess.run(cmd, capture_output=True, text=True, env=ENV)
    return p.returncode, p.stdout + p.stderr


def der(tag, content):
    n = len(content)
    if n < 0x80:
        length = bytes([n])
    else:
        b = n.to_bytes((n.bit_length() + 7) // 8, "big")
        length = bytes([0x80 | len(b)]) + b
    return bytes([tag]) + length + content


def oid(dotted):
    arcs = [int(a) for a in dotted.split(".")]
    body = bytes([40 * arcs[0] + arcs[1]])
    for a in arcs[2:]:
        chunk = [a & 0x7F]
        a >>= 7
        while a:
            chunk.insert(0, 0x80 | (a & 0x7F))
            a >>= 7
        body += bytes(chunk)
    return der(0x06, body)


def public_values(listing):
    """label -> (params DER hex, value hex) of the public key objects."""
    keys = {}
    for block in listing.split("Public Key Object")[1:]:
        block = block.split("Object;")[0] if "Object;" in block[1:] else block
        label = re.search(r"label:\s+(\S+)", block)
        params = re.search(r"PARAMS OID:\s+([0-9a-f]+)", block)
        value = re.search(r"VALUE:\s+((?:[0-9a-f]+\s+)+)", block)
        if label and params and value:
            keys[label.group(1)] = (params.group(1), "".join(value.group(1).split()))
    return keys


work = tempfile.mkdtemp(prefix="pellamo-p11tool-")
conf = os.path.join(work, "softtoken.conf")
with open(conf, "w") as f:
    f.write("[slot]\nlabel = Tool Token\npin = %s\n[slot]\ntoken = absent\n" % PIN)
openssl_conf = os.path.join(work, "openssl.cnf")
with open(openssl_conf, "w") as f:
    f.write("openssl_conf = init\n[init]\nengines = engines\n[engines]\ngost = gost\n"
            "[gost]\ndefault_algorithms = ALL\n")
ENV = dict(os.environ, PELLAMO_SOFTTOKEN_DIR=os.path.join(work, "tokens"), PELLAMO_SOFTTOKEN_CONFIG=conf)
# A sanitizer build of the module needs its runtime loaded first into
# pkcs11-tool, which is not built with it; pkcs11-tool's own leaks are not ours.
if os.environ.get("PELLAMO_ASAN_RUNTIME"):
    ENV.update(LD_PRELOAD=os.environ["PELLAMO_ASAN_RUNTIME"], ASAN_OPTIONS="detect_leaks=0")
OSSL_ENV = dict(os.environ, OPENSSL_CONF=openssl_conf)

rc, out = tool("--list-slots", pin=False)
check(rc == 0 and "Tool Token" in out and out.count("Slot ") == 2 and "(empty)" in out,
      "two slots listed, the second without a token")
rc, out = tool("--list-token-slots", pin=False)
check(rc == 0 and out.count("Slot ") == 1, "one slot with a token")
rc, out = tool("--list-mechanisms", pin=False)
check(rc == 0 and "GOSTR3410-KEY-PAIR-GEN" in out and "GOST28147-KEY-WRAP" in out, "GOST mechanisms listed")

rc, out = subprocess.run(["pkcs11-tool", "--module", MODULE, "--login", "--pin", "0000", "--list-objects"],
                         capture_output=True, text=True, env=ENV).returncode, ""
check(rc != 0, "a wrong PIN is refused")

kinds = [
    ("k2001", "GOSTR3410:A", "GOSTR3410-WITH-GOSTR3411", "1.2.643.2.2.19", "1.2.643.2.2.30.1", "-md_gost94"),
    ("k256", "GOSTR3410-2012-256:A", "GOSTR3410-WITH-GOSTR3411-12-256", "1.2.643.7.1.1.1.1",
     "1.2.643.7.1.1.2.2", "-md_gost12_256"),
    ("k512", "GOSTR3410-2012-512:A", "GOSTR3410-WITH-GOSTR3411-12-512", "1.2.643.7.1.1.1.2",
     "1.2.643.7.1.1.2.3", "-md_gost12_512"),
]
for i, (label, keytype, *_rest) in enumerate(kinds):
    rc, out = tool("--keypairgen", "--key-type", keytype, "--label", label, "--id", "%02x" % (i + 1))
    check(rc == 0, "key pair %s generated" % keytype)

rc, listing = tool("--list-objects")
check(listing.count("Private Key Object") == 3 and listing.count("Public Key Object") == 3,
      "three key pairs listed after login")
rc, public_only = tool("--list-objects", pin=False)
check("Private Key Object" not in public_only and public_only.count("Public Key Object") == 3,
      "private keys hidden without login")

message = os.path.join(work, "message")
with open(message, "wb") as f:
    f.write(b"signed on the software token\n" * 40)
keys = public_values(listing)
for i, (label, keytype, mech, alg, hashoid, md) in enumerate(kinds):
    sig = os.path.join(work, label + ".sig")
    rc, out = tool("--sign", "--id", "%02x" % (i + 1), "-m", mech, "-i", message, "-o", sig)
    check(rc == 0 and os.path.getsize(sig) in (64, 128), "%s signature made" % label)
    rc, out = tool("--verify", "--id", "%02x" % (i + 1), "-m", mech, "-i", message, "--signature-file", sig)
    check(rc == 0 and "Signature is valid" in out, "%s signature valid for pkcs11-tool" % label)
    # The same signature through OpenSSL's GOST engine, with a public key
    # built from the token's CKA_VALUE.
    params_hex, value_hex = keys.get(label, ("", ""))
    value = bytes.fromhex(value_hex)
    spki = der(0x30, der(0x30, oid(alg) + der(0x30, bytes.fromhex(params_hex) + oid(hashoid))) +
               der(0x03, b"\x00" + der(0x04, value)))
    pub = os.path.join(work, label + ".pub.der")
    with open(pub, "wb") as f:
        f.write(spki)
    p = subprocess.run(["openssl", "dgst", md, "-verify", pub, "-keyform", "DER", "-signature", sig, message],
                       capture_output=True, text=True, env=OSSL_ENV)
    check(p.returncode == 0 and "Verified OK" in p.stdout, "%s signature valid for the OpenSSL engine" % label)
    with open(message, "rb") as f:
        other = f.read() + b"!"
    other_file = os.path.join(work, "other")
    with open(other_file, "wb") as f:
        f.write(other)
    p = subprocess.run(["openssl", "dgst", md, "-verify", pub, "-keyform", "DER", "-signature", sig, other_file],
                       capture_output=True, text=True, env=OSSL_ENV)
    check(p.returncode != 0, "%s signature refused for other data" % label)

# Raw GOST R 34.10 over a 32-byte digest.
digest = os.path.join(work, "digest")
with open(digest, "wb") as f:
    f.write(bytes(range(32)))
rc, out = tool("--sign", "--id", "01", "-m", "GOSTR3410", "-i", digest, "-o", os.path.join(work, "raw.sig"))
check(rc == 0 and os.path.getsize(os.path.join(work, "raw.sig")) == 64, "raw GOSTR3410 signature of a digest")

# Certificate and data objects.
cert = os.path.join(work, "cert.der")
p = subprocess.run(["openssl", "req", "-x509", "-newkey", "gost2012_256", "-pkeyopt", "paramset:A", "-nodes",
                    "-subj", "/CN=pkcs11-tool test", "-keyout", os.path.join(work, "ca.key"), "-outform", "DER",
                    "-out", cert, "-days", "30"], capture_output=True, text=True, env=OSSL_ENV)
check(p.returncode == 0, "test certificate made")
rc, out = tool("--write-object", cert, "--type", "cert", "--id", "02", "--label", "k256")
check(rc == 0, "certificate written")
back = os.path.join(work, "back.der")
rc, out = tool("--read-object", "--type", "cert", "--id", "02", "-o", back)
check(rc == 0 and open(back, "rb").read() == open(cert, "rb").read(), "certificate read back unchanged")
rc, listing = tool("--list-objects")
check("Certificate Object" in listing and "pkcs11-tool test" in listing, "certificate listed with its subject")

data = os.path.join(work, "data.bin")
with open(data, "wb") as f:
    f.write(os.urandom(300))
rc, out = tool("--write-object", data, "--type", "data", "--label", "blob")
check(rc == 0, "data object written")
rc, out = tool("--read-object", "--type", "data", "--label", "blob", "-o", back)
check(rc == 0 and open(back, "rb").read() == open(data, "rb").read(), "data object read back")
rc, out = tool("--delete-object", "--type", "cert", "--id", "02")
check(rc == 0, "certificate deleted")
rc, listing = tool("--list-objects")
check("Certificate Object" not in listing and "Data object" in listing, "only the data object remains besides keys")

subprocess.run(["rm", "-rf", work])
print("%d failure(s)" % len(failures))
sys.exit(1 if failures else 0)
