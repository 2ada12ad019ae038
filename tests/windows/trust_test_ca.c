/* Adds one CA certificate (a DER file) to the local machine's Root store of the Wine prefix it
 * runs in, for scripts/interop's TLS rows: WinInet trusts no CA file, only the machine's store.
 * The script runs it in a copy of the prefix made for the run, never in the machine's own.
 * Prints "trusted" and exits 0 on success; a reason and exit 1 otherwise. */
#include <windows.h>
/* after windows.h, whose types it uses */
#include <wincrypt.h>

#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  FILE* in;
  BYTE der[16384];
  size_t size;
  HCERTSTORE store;
  if (argc != 2) {
    fprintf(stderr, "usage: trust_test_ca CA.der\n");
    return 1;
  }
  in = fopen(argv[1], "rb");
  if (in == NULL) {
    fprintf(stderr, "cannot open %s\n", argv[1]);
    return 1;
  }
  size = fread(der, 1, sizeof der, in);
  fclose(in);
  if (size == 0 || size == sizeof der) {
    fprintf(stderr, "%s: empty or larger than %u bytes\n", argv[1], (unsigned)sizeof der);
    return 1;
  }
  store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
  if (store == NULL) {
    fprintf(stderr, "cannot open the Root store: error %lu\n", GetLastError());
    return 1;
  }
  if (!CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der, (DWORD)size,
                                        CERT_STORE_ADD_REPLACE_EXISTING, NULL)) {
    fprintf(stderr, "cannot add the certificate: error %lu\n", GetLastError());
    CertCloseStore(store, 0);
    return 1;
  }
  CertCloseStore(store, 0);
  printf("trusted\n");
  return 0;
}
