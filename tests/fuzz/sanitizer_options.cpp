// AddressSanitizer settings of every fuzz target, built into it so that a
// run straight from the command line behaves like one from scripts/fuzz.
//
// The fuzz runs cap the process at 256 MB resident. AddressSanitizer keeps
// freed memory in quarantine to catch use after free, 256 MB of it by
// default, which alone would reach the cap after a few hundred thousand
// inputs; 32 MB still holds everything the last few inputs freed.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=32"; }
