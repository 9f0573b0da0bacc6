#!/usr/bin/env bash
# Signing of update manifests, for maintainers (OpenSSL's Ed25519).
#
#   scripts/sign-update.sh keygen KEY.pem PUBLIC
#       A new key pair: the private key in KEY.pem (mode 0600, keep it off
#       the build machines), its public half as 64 hex digits in PUBLIC.
#       Put PUBLIC at packaging/update-signing.pub and rebuild: quarno-server
#       then accepts only manifests signed with KEY.pem.
#
#   scripts/sign-update.sh manifest KEY.pem FILE VERSION [options] > MANIFEST
#       The signed manifest of FILE as version VERSION. Publish it beside the
#       version file: /online_upgrade/quarno_pcserver_setup.manifest for the
#       program, /online_upgrade/<model>.manifest for router firmware.
#       --firmware MODEL      firmware for the router model MODEL
#       --min-version V       oldest installed version it updates (default 0)
#       --expires YYYY-MM-DDTHH:MM:SSZ   end of validity (default: in 30 days)
#       --name NAME           file name in the manifest (default: FILE's own)
set -euo pipefail

die() { echo "sign-update.sh: $*" >&2; exit 2; }

case "${1:-}" in
  keygen)
    [ $# -eq 3 ] || die "usage: keygen KEY.pem PUBLIC"
    [ -e "$2" ] && die "$2 exists; not overwritten"
    (umask 077 && openssl genpkey -algorithm ed25519 -out "$2")
    { echo "# Ed25519 public key for update manifests (scripts/sign-update.sh)"
      openssl pkey -in "$2" -pubout -outform DER | tail -c 32 | od -An -v -tx1 | tr -d ' \n'
      echo; } > "$3"
    ;;
  manifest)
    [ $# -ge 4 ] || die "usage: manifest KEY.pem FILE VERSION [options]"
    key=$2 file=$3 version=$4
    shift 4
    product=quarno model="" min=0 name=$(basename "$file")
    expires=$(date -u -d '+30 days' +%Y-%m-%dT%H:%M:%SZ)
    while [ $# -gt 0 ]; do
      case "$1" in
        --firmware) product=firmware model=$2; shift 2 ;;
        --min-version) min=$2; shift 2 ;;
        --expires) expires=$2; shift 2 ;;
        --name) name=$2; shift 2 ;;
        *) die "unknown option $1" ;;
      esac
    done
    [ -f "$file" ] || die "no file $file"
    body=$(mktemp)
    trap 'rm -f "$body"' EXIT
    {
      echo "quarno-update-manifest 1"
      echo "product: $product"
      [ -n "$model" ] && echo "model: $model"
      echo "version: $version"
      echo "file: $name"
      echo "size: $(stat -c %s "$file")"
      echo "sha256: $(sha256sum "$file" | cut -d' ' -f1)"
      echo "min-version: $min"
      echo "expires: $expires"
    } > "$body"
    cat "$body"
    printf 'signature: %s\n' \
      "$(openssl pkeyutl -sign -inkey "$key" -rawin -in "$body" | od -An -v -tx1 | tr -d ' \n')"
    ;;
  *)
    die "usage: keygen KEY.pem PUBLIC | manifest KEY.pem FILE VERSION [options]" ;;
esac
