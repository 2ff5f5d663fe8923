// Arbitrary bytes as qqwry.dat, through the real load (LoadLocationDb via
// PrepareLocationDb) and a handful of lookups: fixed addresses, the start and
// end addresses that the file's own index holds (so ranges are found, not
// only missed), and the input's first bytes as an address text. Every text a
// lookup returns must end inside the image block, or be the literal
// "Unknown" for the area.
//
// Run: fuzz_locdb -max_total_time=60 /absolute/path/to/corpus
// (the target works in a temporary directory of its own, so a corpus path
// must be absolute). A small sound qqwry.dat built with QqwryBuilder makes a
// good seed.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "locdb/location_db.h"

namespace {

const size_t kMinImage = 10485760;

void Check(bool ok, const char *what, const std::string &address) {
    if (!ok) {
        fprintf(stderr, "fuzz_locdb: %s (address \"%s\")\n", what, address.c_str());
        abort();
    }
}

uint32_t Le(const uint8_t *data, size_t size, uint64_t at, unsigned width) {
    uint32_t v = 0;
    for (unsigned i = 0; i < width; ++i)
        if (at + i < size) v |= static_cast<uint32_t>(data[at + i]) << (8 * i);
    return v;
}

std::string Dotted(uint32_t a) {
    char s[16];
    snprintf(s, sizeof s, "%u.%u.%u.%u", a >> 24, (a >> 16) & 255, (a >> 8) & 255, a & 255);
    return s;
}

bool EndsInBlock(const char *p, size_t block) {
    const char *begin = reinterpret_cast<const char *>(LocationDbImage);
    const char *end = begin + block;
    return p >= begin && p < end && memchr(p, 0, static_cast<size_t>(end - p)) != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    static char dir[] = "/tmp/qv-fuzz-locdb-XXXXXX";
    if (mkdtemp(dir) == nullptr || chdir(dir) != 0) {
        perror("fuzz_locdb: temporary directory");
        abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FILE *f = fopen("qqwry.dat", "wb");
    Check(f != nullptr, "cannot create qqwry.dat", "");
    Check(size == 0 || fwrite(data, size, 1, f) == 1, "cannot write qqwry.dat", "");
    Check(fclose(f) == 0, "cannot write qqwry.dat", "");

    ReleaseLocationDb();
    PrepareLocationDb();
    Check(LocationDbLoaded(), "the file did not load", "");
    const size_t block = size + 1 > kMinImage ? size + 1 : kMinImage;

    std::vector<std::string> addresses = {"0.0.0.0", "255.255.255.255", "", "1.2.3.4"};
    // Addresses from the index as the header places it.
    uint32_t first = Le(data, size, 0, 4), last = Le(data, size, 4, 4);
    uint32_t last_index = (last - first) / 7;
    for (uint64_t k : {uint64_t(0), uint64_t(1), uint64_t(last_index / 2), uint64_t(last_index)}) {
        uint64_t at = first + 7 * k;
        uint32_t start = Le(data, size, at, 4);
        uint32_t end = Le(data, size, Le(data, size, at + 4, 3), 4);
        for (uint32_t a : {start, start - 1, end, end + 1}) addresses.push_back(Dotted(a));
    }
    // The input's first bytes as an address text, for inet_addr's forms.
    addresses.emplace_back(reinterpret_cast<const char *>(data), size < 20 ? size : 20);
    addresses.back().resize(strlen(addresses.back().c_str()));

    for (const std::string &address : addresses) {
        LocationResult r;
        memset(&r, 0, sizeof r);
        PrepareLocationDb();
        LookupLocation(address.c_str(), &r);
        Check(r.country != nullptr && r.area != nullptr, "a text was not set", address);
        Check(EndsInBlock(r.country, block), "the country does not end inside the image", address);
        Check(EndsInBlock(r.area, block) || strcmp(r.area, "Unknown") == 0,
              "the area is neither inside the image nor \"Unknown\"", address);
    }
    return 0;
}
