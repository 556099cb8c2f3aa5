// The ID3v2 round trip of fuzz_id3v2.cpp with every input taken as a 2.3 tag.
#define CANTORELL_FUZZ_VERSION 3
#include "fuzz_id3v2.cpp"
