// A library that is no in-process server: it exports no DllGetClassObject.
extern "C" __attribute__((visibility("default"))) int velantoNotAServer() {
    return 0;
}
