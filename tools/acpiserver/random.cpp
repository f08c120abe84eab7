#include "random.h"

namespace {
UINT64 g_random = 1;
} // namespace

void SeedRandom(UINT32 seed)
{
    // xorshift needs a state other than zero.
    g_random = seed ? seed : 1;
}

UINT32 Random()
{
    // xorshift64*: repeatable from the seed, good enough for replies and messages.
    g_random ^= g_random >> 12;
    g_random ^= g_random << 25;
    g_random ^= g_random >> 27;
    return static_cast<UINT32>((g_random * 2685821657736338717ULL) >> 32);
}

UINT_PTR RandomParam()
{
    return static_cast<UINT_PTR>((static_cast<UINT64>(Random()) << 32) | Random());
}

ServerRecord RandomRecord()
{
    ServerRecord record;
    for (const RecordField& field : kRecordFields) {
        UINT32 kind = Random() % 3;
        SetField(record, field, kind == 0 ? 0 : kind == 1 ? 1 + Random() % 3 : Random());
    }
    return record;
}
