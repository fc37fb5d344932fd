// Font libraries keep one-time caches (fontconfig's configuration, Pango's font maps) for the
// life of the process and never free them; the leak checker is told not to report allocations
// made inside those libraries. (Measuring one text or twenty leaves the same bytes behind.)
// An object library: a test program links it so that the sanitizer runtime finds the function.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n"
           "leak:libpango-1.0.so\n"
           "leak:libpangoft2-1.0.so\n"
           "leak:libpangocairo-1.0.so\n";
}
