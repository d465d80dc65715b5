#!/usr/bin/env python3
"""Checks a code-signing certificate and its key, and signs the launcher with
them (Authenticode, SHA-256) through osslsigncode.

  sign_launcher.py check OPTIONS
  sign_launcher.py sign OPTIONS EXE

Options:
  --certificate FILE   a PEM certificate, or a PKCS#12 file holding the
                       certificate and its key
  --key FILE           the PEM private key; omitted with a PKCS#12 file, or
                       when the PEM certificate file holds the key too
  --timestamp-url URL  an RFC 3161 timestamp server; none by default
  --openssl PATH, --osslsigncode PATH   the tools (default: from PATH)

The password of an encrypted key or PKCS#12 file is read from the
environment variable BRACKENHUE_SIGNING_PASSWORD; it never appears on a
command line. When SOURCE_DATE_EPOCH is set, it is the signing time written
into the signature.

"check" makes sure that the files exist and can be read, that the key
belongs to the certificate, and that the certificate is meant for code
signing. "sign" checks the same, then signs EXE in place: the signed file
replaces it only when whole, and on any failure EXE is removed, so an
unsigned launcher never stands where the signed one is expected.

Errors name the CMake setting and the file: one "error: " line on stderr,
exit 1.
"""

import argparse
import os
import shutil
import subprocess
import sys

PASSWORD_VARIABLE = "BRACKENHUE_SIGNING_PASSWORD"
CERTIFICATE_SETTING = "BRACKENHUE_SIGNING_CERTIFICATE"
KEY_SETTING = "BRACKENHUE_SIGNING_KEY"


class SigningError(Exception):
    pass


def is_pem(path):
    with open(path, "rb") as f:
        return b"-----BEGIN " in f.read(1 << 20)


def pem_holds_key(path):
    with open(path, "rb") as f:
        return b"PRIVATE KEY-----" in f.read()


def password_argument():
    """openssl's -passin: the password from the environment, never on a
    command line; an empty one when the variable is not set."""
    return "env:" + PASSWORD_VARIABLE if PASSWORD_VARIABLE in os.environ else "pass:"


class Material:
    """The certificate and key named by the settings, as the tools need them."""

    def __init__(self, certificate, key, openssl):
        self.certificate = os.path.abspath(certificate)
        self.key = os.path.abspath(key) if key else None
        self.openssl = openssl
        for setting, path in ((CERTIFICATE_SETTING, self.certificate), (KEY_SETTING, self.key)):
            if path is not None and not os.path.isfile(path):
                raise SigningError("%s: no such file: %s" % (setting, path))
        self.pkcs12 = not is_pem(self.certificate)
        if self.pkcs12 and self.key:
            raise SigningError("%s: %s is a PKCS#12 file, which holds its own key: leave %s empty"
                               % (KEY_SETTING, self.key, KEY_SETTING))
        if not self.pkcs12 and not self.key:
            if not pem_holds_key(self.certificate):
                raise SigningError("%s: not set, and the PEM certificate %s (%s) holds no private key"
                                   % (KEY_SETTING, self.certificate, CERTIFICATE_SETTING))
            self.key = self.certificate

    def _openssl(self, args, setting, path, what, stdin=None):
        run = subprocess.run([self.openssl] + args, input=stdin, capture_output=True)
        if run.returncode != 0:
            detail = run.stderr.decode(errors="replace").strip().splitlines()
            raise SigningError("%s: %s: %s%s" % (setting, path, what, (" (" + detail[0] + ")") if detail else ""))
        return run.stdout

    def _pkcs12(self, args):
        """One part of the PKCS#12 file as PEM. Files exported by older tools
        use ciphers that OpenSSL 3 keeps in its legacy provider, which
        osslsigncode loads too: those are read again with it."""
        args = ["pkcs12", "-in", self.certificate, "-passin", password_argument()] + args
        what = "cannot read the PKCS#12 file (wrong password in %s?)" % PASSWORD_VARIABLE
        try:
            return self._openssl(args, CERTIFICATE_SETTING, self.certificate, what)
        except SigningError as first:
            try:
                return self._openssl(args + ["-legacy"], CERTIFICATE_SETTING, self.certificate, what)
            except SigningError:
                raise first

    def certificate_pem(self):
        if not self.pkcs12:
            return self._openssl(["x509", "-in", self.certificate], CERTIFICATE_SETTING, self.certificate,
                                 "cannot read a PEM certificate")
        return self._pkcs12(["-nokeys", "-clcerts"])

    def key_public_pem(self):
        if self.pkcs12:
            key = self._pkcs12(["-nocerts", "-nodes"])
            return self._openssl(["pkey", "-pubout"], CERTIFICATE_SETTING, self.certificate,
                                 "cannot read the key in the PKCS#12 file", stdin=key)
        setting = CERTIFICATE_SETTING if self.key == self.certificate else KEY_SETTING
        return self._openssl(["pkey", "-in", self.key, "-pubout", "-passin", password_argument()], setting,
                             self.key, "cannot read a PEM private key (wrong password in %s?)" % PASSWORD_VARIABLE)

    def check(self):
        certificate = self.certificate_pem()
        public = self._openssl(["x509", "-noout", "-pubkey"], CERTIFICATE_SETTING, self.certificate,
                               "cannot read the certificate's public key", stdin=certificate)
        if public.strip() != self.key_public_pem().strip():
            if self.pkcs12:
                raise SigningError("%s: %s: the key in the file does not belong to its certificate"
                                   % (CERTIFICATE_SETTING, self.certificate))
            raise SigningError("%s: %s: the key does not belong to the certificate %s (%s)"
                               % (KEY_SETTING, self.key, self.certificate, CERTIFICATE_SETTING))
        usage = self._openssl(["x509", "-noout", "-ext", "extendedKeyUsage"], CERTIFICATE_SETTING,
                              self.certificate, "cannot read the certificate's extended key usage",
                              stdin=certificate).decode(errors="replace")
        if "Code Signing" not in usage:
            raise SigningError("%s: %s: the certificate is not for code signing (its extended key usage "
                               "does not include Code Signing)" % (CERTIFICATE_SETTING, self.certificate))


def sign(material, exe, osslsigncode, timestamp_url):
    signed = exe + ".signing"
    args = [osslsigncode, "sign", "-h", "sha256"]
    if material.pkcs12:
        args += ["-pkcs12", material.certificate]
    else:
        args += ["-certs", material.certificate, "-key", material.key]
    if timestamp_url:
        args += ["-ts", timestamp_url]
    if "SOURCE_DATE_EPOCH" in os.environ:
        args += ["-time", os.environ["SOURCE_DATE_EPOCH"]]
    pass_fds = ()
    read_end = None
    if PASSWORD_VARIABLE in os.environ:
        # Through a pipe, not on the command line where anyone could read it.
        read_end, write_end = os.pipe()
        os.write(write_end, os.environ[PASSWORD_VARIABLE].encode())
        os.close(write_end)
        args += ["-readpass", "/dev/fd/%d" % read_end]
        pass_fds = (read_end,)
    args += ["-in", exe, "-out", signed]
    try:
        run = subprocess.run(args, capture_output=True, pass_fds=pass_fds)
    finally:
        if read_end is not None:
            os.close(read_end)
    if run.returncode != 0 or not os.path.isfile(signed):
        if os.path.exists(signed):
            os.remove(signed)
        detail = (run.stderr or run.stdout).decode(errors="replace").strip().splitlines()
        raise SigningError("%s: %s: osslsigncode could not sign %s%s" % (
            CERTIFICATE_SETTING, material.certificate, exe, (": " + detail[-1]) if detail else ""))
    shutil.copymode(exe, signed)
    os.replace(signed, exe)


def main(argv):
    parser = argparse.ArgumentParser(description="Checks signing input and signs the launcher.")
    parser.add_argument("action", choices=("check", "sign"))
    parser.add_argument("exe", nargs="?")
    parser.add_argument("--certificate", required=True)
    parser.add_argument("--key", default="")
    parser.add_argument("--timestamp-url", default="")
    parser.add_argument("--openssl", default=shutil.which("openssl") or "openssl")
    parser.add_argument("--osslsigncode", default=shutil.which("osslsigncode") or "osslsigncode")
    options = parser.parse_intermixed_args(argv)
    if (options.action == "sign") != (options.exe is not None):
        parser.error("sign takes the executable, check does not")
    try:
        material = Material(options.certificate, options.key, options.openssl)
        material.check()
        if options.action == "sign":
            sign(material, options.exe, options.osslsigncode, options.timestamp_url)
    except (SigningError, OSError) as error:
        if options.action == "sign" and options.exe and os.path.exists(options.exe):
            os.remove(options.exe)
        print("error: %s" % error, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
