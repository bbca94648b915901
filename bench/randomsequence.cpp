#include "bench/randomsequence.h"

RandomSequence::RandomSequence(quint64 seed) : m_state(seed) {}

quint64 RandomSequence::derive(quint64 seed, quint64 stream)
{
    RandomSequence mixer(seed ^ (stream * 0xD1B54A32D192ED03ULL));
    return mixer.next();
}

quint64 RandomSequence::next()
{
    m_state += 0x9E3779B97F4A7C15ULL;
    quint64 z = m_state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

int RandomSequence::below(int bound)
{
    Q_ASSERT(bound > 0);
    // Multiply-high instead of a modulo: no division, and no bias worth speaking of for small bounds.
    return int(((next() >> 32) * quint64(bound)) >> 32);
}

int RandomSequence::between(int low, int high)
{
    return low + below(high - low + 1);
}

bool RandomSequence::percent(int chance)
{
    return below(100) < chance;
}
