// Writes a synthetic load dump, the same bytes for the same profile and seed:
//   gendump PROFILE OUTPUT [SEED]
// typical  ~100,000 lines, 50 segments, 5,000 paths
// large    ~10 million lines (~600 MB), 2,000 segments, 300,000 paths
// wide     300,000 distinct files in one segment
// shared   50,000 segments whose files are each opened by about 20 of them
// half     like large, ~33 million lines (~1.65 GB): doubled, a dump past 3 GiB
// crafted  120,000 names in one segment made of bytes a loose case fold merges
// plain    the same count of names, of the same lengths, made of plain letters
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

struct Random {
    uint64_t m_State;
    uint64_t Next() {
        m_State ^= m_State << 13;
        m_State ^= m_State >> 7;
        m_State ^= m_State << 17;
        return m_State;
    }
    uint32_t Below(uint32_t n) { return static_cast<uint32_t>(Next() % n); }
};

const char* const kKinds[] = {"textures", "models", "audio", "levels", "ui", "scripts"};
const char* const kExtensions[] = {".tex", ".mdl", ".wav", ".bin", ".fnt", ".lua"};

std::string PathName(uint32_t path) {
    char name[96];
    snprintf(name, sizeof name, "data\\%s\\dir%03u\\file%06u%s", kKinds[path % 6], path / 97 % 1000,
             path, kExtensions[path % 6]);
    return name;
}

// Some opens come as the archive layer writes them, some in another case.
void Open(FILE* out, Random& random, uint32_t path) {
    std::string name = PathName(path);
    if (random.Below(20) == 0)
        for (char& c : name) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    if (random.Below(2))
        fprintf(out, "::OPEN::($\\%s)    // %ums\n", name.c_str(), random.Below(40));
    else
        fprintf(out, "::OPEN::(%s)\n", name.c_str());
}

void Segment(FILE* out, uint32_t segment) { fprintf(out, "::LOADSEG::(segment_%05u)\n", segment); }

// Visits segments again and again; each draws from a pool of paths of its own
// that overlaps its neighbours', so files repeat within and across segments.
void Visits(FILE* out, Random& random, uint32_t lines, uint32_t segments, uint32_t paths,
            uint32_t pool, uint32_t perVisit) {
    for (uint32_t written = 0; written < lines;) {
        uint32_t segment = random.Below(segments);
        Segment(out, segment);
        uint32_t base = segment * (paths / segments);
        for (uint32_t i = 0; i < perVisit; ++i) Open(out, random, (base + random.Below(pool)) % paths);
        if (random.Below(50) == 0) fprintf(out, "Streaming %u bytes\n", random.Below(1 << 20));
        written += perVisit + 1;
    }
}

void Wide(FILE* out, Random& random) {
    Segment(out, 0);
    for (uint32_t path = 0; path < 300000; ++path) Open(out, random, path);
    for (uint32_t i = 0; i < 50000; ++i) Open(out, random, random.Below(300000));
}

// Segment s opens files s/20 .. s/20 + 5, wrapping: each file lands in about
// 20 consecutive segments.
void Shared(FILE* out, Random& random) {
    for (uint32_t segment = 0; segment < 50000; ++segment) {
        Segment(out, segment);
        for (uint32_t k = 0; k < 6; ++k) Open(out, random, (segment / 20 * 6 + k * 7) % 15000);
    }
}

// Distinct 17-byte names, byte i of name n taken from pair i % 5 by bit i of
// n. With crafted pairs ('[' and '{', ...) a hash that merged more than the
// letters' cases would give every name the same value.
const char kCraftedPairs[5][2] = {
    {'[', '{'}, {'\\', '|'}, {'@', '`'}, {'\xC9', '\xE9'}, {']', '}'}};
const char kPlainPairs[5][2] = {{'a', 'b'}, {'c', 'd'}, {'e', 'f'}, {'g', 'h'}, {'i', 'j'}};

void Pairs(FILE* out, const char (*pairs)[2]) {
    Segment(out, 0);
    for (uint32_t n = 0; n < 120000; ++n) {
        char name[18] = {};
        for (int i = 0; i < 17; ++i) name[i] = pairs[i % 5][n >> i & 1];
        fprintf(out, "::OPEN::(data\\%s)\n", name);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: gendump typical|large|wide|shared|crafted|plain OUTPUT [SEED]\n");
        return 2;
    }
    FILE* out = fopen(argv[2], "wb");
    if (!out) {
        fprintf(stderr, "gendump: cannot create %s\n", argv[2]);
        return 1;
    }
    Random random{argc > 3 ? strtoull(argv[3], nullptr, 10) | 1 : 0x2545F4914F6CDD1Dull};
    std::string profile = argv[1];
    if (profile == "typical") Visits(out, random, 100000, 50, 5000, 400, 200);
    else if (profile == "large") Visits(out, random, 10000000, 2000, 300000, 300, 500);
    else if (profile == "half") Visits(out, random, 33000000, 2000, 300000, 300, 500);
    else if (profile == "wide") Wide(out, random);
    else if (profile == "shared") Shared(out, random);
    else if (profile == "crafted") Pairs(out, kCraftedPairs);
    else if (profile == "plain") Pairs(out, kPlainPairs);
    else fprintf(stderr, "gendump: unknown profile %s\n", argv[1]);
    return fclose(out) == 0 ? 0 : 1;
}
