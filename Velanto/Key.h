// The protected key store: the service's two server private keys live in the program only
// masked, and are unmasked into heap memory for as long as the TLS daemons need them.
#pragma once

// The PEM private key of the elliptic-curve (false) or RSA (true) server certificate, in a
// new heap block; null while a debugger is attached. Marks the process not dumpable.
char* obtainServerKey(bool rsa);
// Wipes and frees the key and sets the pointer to null.
void releaseServerKey(char** key);
// The PEM server certificates and the authority's roots.
const char* serverCertificate(bool rsa);
const char* rootCertificate(bool rsa);
