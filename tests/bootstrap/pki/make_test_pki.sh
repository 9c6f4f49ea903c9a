#!/bin/sh
# Makes the throwaway test PKI of the download tests in folder $1: a root with
# the maker's names, an intermediate, signers (good and faulty), CRLs served by
# the tests' HTTP fixture, and detached signatures over a sample installer.
# Everything, private keys included, stays in the build folder.
set -eu
out=$1
rm -rf "$out.tmp"
mkdir -p "$out.tmp"
cd "$out.tmp"
mkdir newcerts
: > index.txt
echo 1000 > serial
echo 1000 > crlnumber

cat > ca.cnf <<'CNF'
[ ca ]
default_ca = CA_default
[ CA_default ]
dir = .
database = ./index.txt
new_certs_dir = ./newcerts
serial = ./serial
crlnumber = ./crlnumber
default_md = sha256
default_crl_days = 3650
policy = policy_any
unique_subject = no
email_in_dn = no
copy_extensions = none
[ policy_any ]
countryName = optional
organizationName = optional
organizationalUnitName = optional
commonName = supplied
[ req ]
distinguished_name = req_dn
prompt = no
[ req_dn ]
CN = unused
[ v3_root ]
basicConstraints = critical,CA:true
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[ v3_inter ]
basicConstraints = critical,CA:true
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
crlDistributionPoints = URI:http://127.0.0.1/crl/root.crl
[ v3_cycle ]
basicConstraints = critical,CA:true
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[ v3_signer ]
basicConstraints = CA:false
keyUsage = critical,digitalSignature
extendedKeyUsage = 1.2.840.201946.1.1.12,codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
crlDistributionPoints = URI:http://127.0.0.1/crl/inter.crl
[ v3_signer_noeku ]
basicConstraints = CA:false
keyUsage = critical,digitalSignature
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
crlDistributionPoints = URI:http://127.0.0.1/crl/inter.crl
[ v3_signer_otheku ]
basicConstraints = CA:false
keyUsage = critical,digitalSignature
extendedKeyUsage = codeSigning,1.2.840.201946.1.1.1
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[ v3_signer_oneext ]
extendedKeyUsage = 1.2.840.201946.1.1.12
subjectKeyIdentifier = none
authorityKeyIdentifier = none
[ v3_signer_nocdp ]
basicConstraints = CA:false
keyUsage = critical,digitalSignature
extendedKeyUsage = 1.2.840.201946.1.1.12
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[ v3_signer_deadcdp ]
basicConstraints = CA:false
keyUsage = critical,digitalSignature
extendedKeyUsage = 1.2.840.201946.1.1.12
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
crlDistributionPoints = URI:http://127.0.0.1/crl/missing.crl,URI:http://127.0.0.1:9/crl/dead.crl
[ v3_pathlen0 ]
basicConstraints = critical,CA:true,pathlen:0
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[ v3_server ]
basicConstraints = critical,CA:false
keyUsage = critical,digitalSignature,keyEncipherment
extendedKeyUsage = serverAuth
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[ v3_nobc ]
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[ v3_nocertsign ]
basicConstraints = critical,CA:true
keyUsage = critical,digitalSignature,cRLSign
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[ v3_signer_manycdp ]
basicConstraints = CA:false
keyUsage = critical,digitalSignature
extendedKeyUsage = 1.2.840.201946.1.1.12
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
crlDistributionPoints = URI:http://127.0.0.1/crl/m1.crl,URI:http://127.0.0.1/crl/m2.crl,URI:http://127.0.0.1/crl/m3.crl,URI:http://127.0.0.1/crl/m4.crl,URI:http://127.0.0.1/crl/m5.crl,URI:http://127.0.0.1/crl/m6.crl,URI:http://127.0.0.1/crl/m7.crl,URI:http://127.0.0.1/crl/m8.crl,URI:http://127.0.0.1/crl/m9.crl,URI:http://127.0.0.1/crl/m10.crl
CNF

now=$(date -u -d '-1 day' +%Y%m%d%H%M%SZ)
later=$(date -u -d '+20 years' +%Y%m%d%H%M%SZ)
past_start=20200101000000Z
past_end=20210101000000Z

key() { openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out "$1.key" 2>/dev/null; }
csr() { openssl req -new -config ca.cnf -key "$1.key" -subj "$2" -out "$1.csr"; }
# issue NAME ISSUER EXTENSIONS START END: NAME.csr signed by ISSUER (or "self").
issue() {
  if [ "$2" = self ]; then
    openssl ca -batch -config ca.cnf -preserveDN -notext -selfsign -keyfile "$1.key" -in "$1.csr" \
      -extensions "$3" -startdate "$4" -enddate "$5" -out "$1.pem" 2>/dev/null
  else
    openssl ca -batch -config ca.cnf -preserveDN -notext -cert "$2.pem" -keyfile "$2.key" -in "$1.csr" \
      -extensions "$3" -startdate "$4" -enddate "$5" -out "$1.pem" 2>/dev/null
  fi
}
names='/C=US/CN=Tessaro Vantel/O=Tessaro Systems Incorporated/OU=Tessaro Trust Services'
root_dn='/C=US/O=Tessaro Systems Incorporated/OU=Tessaro Trust Services/CN=Tessaro Root CA'

key root; csr root "$root_dn"; issue root self v3_root "$now" "$later"
# The same root, same key, with a validity period that has ended.
cp root.key root-expired.key; cp root.csr root-expired.csr
issue root-expired self v3_root "$past_start" "$past_end"
key inter; csr inter '/C=US/O=Tessaro Systems Incorporated/CN=Tessaro Intermediate CA'
issue inter root v3_inter "$now" "$later"
cp inter.key inter-expired.key; cp inter.csr inter-expired.csr
issue inter-expired root v3_inter "$past_start" "$past_end"

key signer; csr signer "$names"; issue signer inter v3_signer "$now" "$later"
key noeku; csr noeku "$names"; issue noeku inter v3_signer_noeku "$now" "$later"
key otheku; csr otheku "$names"; issue otheku inter v3_signer_otheku "$now" "$later"
key wrongou; csr wrongou '/C=US/CN=Tessaro Vantel/O=Tessaro Systems Incorporated/OU=Tessaro Build Services'
issue wrongou inter v3_signer "$now" "$later"
key wrongcn; csr wrongcn '/C=US/CN=tessaro vantel/O=Tessaro Systems Incorporated/OU=Tessaro Trust Services'
issue wrongcn inter v3_signer "$now" "$later"
key oneext; csr oneext "$names"; issue oneext inter v3_signer_oneext "$now" "$later"
key nocdp; csr nocdp "$names"; issue nocdp inter v3_signer_nocdp "$now" "$later"
key deadcdp; csr deadcdp "$names"; issue deadcdp inter v3_signer_deadcdp "$now" "$later"

# Another root with the maker's root names but its own key.
key otherroot; csr otherroot "$root_dn"; issue otherroot self v3_root "$now" "$later"
key othersigner; csr othersigner "$names"; issue othersigner otherroot v3_signer_nocdp "$now" "$later"

# The same with distribution points: a chain that is not anchored must not
# make anything be fetched.
key othercdp; csr othercdp "$names"; issue othercdp otherroot v3_signer "$now" "$later"

# Issuers under the root that are no CA: a server certificate, one without
# basic constraints, a CA whose key usage lacks certificate signing.
key server; csr server '/C=US/O=Tessaro Systems Incorporated/CN=update.tessaro.example'
issue server inter v3_server "$now" "$later"
key viaserver; csr viaserver "$names"; issue viaserver server v3_signer "$now" "$later"
key nobc; csr nobc '/C=US/O=Tessaro Systems Incorporated/CN=Tessaro Unconstrained'
issue nobc inter v3_nobc "$now" "$later"
key vianobc; csr vianobc "$names"; issue vianobc nobc v3_signer "$now" "$later"
key nocertsign; csr nocertsign '/C=US/O=Tessaro Systems Incorporated/CN=Tessaro No Cert Sign CA'
issue nocertsign inter v3_nocertsign "$now" "$later"
key vianocertsign; csr vianocertsign "$names"; issue vianocertsign nocertsign v3_signer "$now" "$later"
# A CA limited to no CA below it: a signer right below passes, one below a
# further CA does not.
key pathlen0; csr pathlen0 '/C=US/O=Tessaro Systems Incorporated/CN=Tessaro Leaf-only CA'
issue pathlen0 root v3_pathlen0 "$now" "$later"
key pathlensub; csr pathlensub '/C=US/O=Tessaro Systems Incorporated/CN=Tessaro Sub CA'
issue pathlensub pathlen0 v3_cycle "$now" "$later"
key pathlenok; csr pathlenok "$names"; issue pathlenok pathlen0 v3_signer_nocdp "$now" "$later"
key pathlenbad; csr pathlenbad "$names"; issue pathlenbad pathlensub v3_signer_nocdp "$now" "$later"
# More distribution points than one run fetches.
key manycdp; csr manycdp "$names"; issue manycdp inter v3_signer_manycdp "$now" "$later"

# Two certificates that issue each other, and a signer below them.
key cyca; key cycb
cp cycb.key cycb-seed.key
csr cycb-seed '/CN=Tessaro Cycle B'; issue cycb-seed self v3_cycle "$now" "$later"
csr cyca '/CN=Tessaro Cycle A'; issue cyca cycb-seed v3_cycle "$now" "$later"
csr cycb '/CN=Tessaro Cycle B'; issue cycb cyca v3_cycle "$now" "$later"
key cyclesigner; csr cyclesigner "$names"; issue cyclesigner cyca v3_signer_nocdp "$now" "$later"

# Long chains below the root: 8 links up to the root (the most the walk
# follows) and 9 links.
prev=root
for i in 1 2 3 4 5 6 7 8; do
  key "level$i"; csr "level$i" "/CN=Tessaro Level $i CA"; issue "level$i" "$prev" v3_cycle "$now" "$later"
  prev="level$i"
done
key deep8; csr deep8 "$names"; issue deep8 level7 v3_signer_nocdp "$now" "$later"
key deep9; csr deep9 "$names"; issue deep9 level8 v3_signer_nocdp "$now" "$later"

# CRLs: the intermediate's before and after revoking the good signer, and the root's.
openssl ca -batch -config ca.cnf -gencrl -cert inter.pem -keyfile inter.key -out inter.crl.pem 2>/dev/null
openssl ca -batch -config ca.cnf -gencrl -cert root.pem -keyfile root.key -out root.crl.pem 2>/dev/null
openssl ca -batch -config ca.cnf -revoke signer.pem -cert inter.pem -keyfile inter.key 2>/dev/null
openssl ca -batch -config ca.cnf -gencrl -cert inter.pem -keyfile inter.key -out inter-revoked.crl.pem 2>/dev/null
# CRLs that revoke the good signer but are not the intermediate's: its name
# with another key, and its key with another name.
key interimp; csr interimp '/C=US/O=Tessaro Systems Incorporated/CN=Tessaro Intermediate CA'
issue interimp self v3_root "$now" "$later"
openssl ca -batch -config ca.cnf -gencrl -cert interimp.pem -keyfile interimp.key -out inter-wrongkey.crl.pem 2>/dev/null
cp inter.key intername.key
csr intername '/C=US/O=Tessaro Systems Incorporated/CN=Tessaro Other CA'
issue intername self v3_root "$now" "$later"
openssl ca -batch -config ca.cnf -gencrl -cert intername.pem -keyfile inter.key -out inter-wrongname.crl.pem 2>/dev/null
for c in inter root inter-revoked inter-wrongkey inter-wrongname; do openssl crl -in "$c.crl.pem" -outform DER -out "$c.crl"; done

openssl x509 -in root.pem -outform DER -out root.der
openssl x509 -in otherroot.pem -outform DER -out otherroot.der

# A sample installer and its signatures: NAME SIGNER CERTS...
head -c 100000 /dev/urandom > installer.bin
# SIGN_OPTIONS: e.g. -noattr for signatures without signed attributes.
sign() {
  n=$1; s=$2; shift 2
  cat "$@" > "$n.chain.pem"
  openssl smime -sign -binary ${SIGN_OPTIONS:-} -in installer.bin -signer "$s.pem" -inkey "$s.key" \
    -certfile "$n.chain.pem" -outform DER -out "$n.p7"
}
sign good signer inter.pem
sign withroot signer inter.pem root.pem
sign expiredroot signer inter.pem root-expired.pem
sign noeku noeku inter.pem
sign otheku otheku inter.pem
sign wrongou wrongou inter.pem
sign wrongcn wrongcn inter.pem
sign oneext oneext inter.pem
sign nocdp nocdp inter.pem
sign deadcdp deadcdp inter.pem
sign otherroot othersigner otherroot.pem
sign expiredinter signer inter-expired.pem
sign otherroot-cdp othercdp otherroot.pem
sign nonca viaserver server.pem inter.pem
sign nobc vianobc nobc.pem inter.pem
sign nocertsign vianocertsign nocertsign.pem inter.pem
sign pathlen-ok pathlenok pathlen0.pem
sign pathlen-exceeded pathlenbad pathlensub.pem pathlen0.pem
sign manycdp manycdp inter.pem
sign cycle cyclesigner cyca.pem cycb.pem
sign links8 deep8 level1.pem level2.pem level3.pem level4.pem level5.pem level6.pem level7.pem root.pem
sign links9 deep9 level1.pem level2.pem level3.pem level4.pem level5.pem level6.pem level7.pem level8.pem root.pem
SIGN_OPTIONS=-noattr sign good-noattr signer inter.pem
# A 32 MiB installer for the memory bound of a whole download.
head -c 33554432 /dev/urandom > big-installer.bin
openssl smime -sign -binary -in big-installer.bin -signer signer.pem -inkey signer.key -certfile inter.pem \
  -outform DER -out big.p7

rm -rf "$out"
cd ..
mv "$out.tmp" "$out"
