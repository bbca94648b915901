#pragma once

#include <QtGlobal>

// splitmix64: small, fast and defined bit for bit, so that one seed gives the same numbers on every platform
// and standard library (the distributions of <random> are not specified that tightly).
class RandomSequence {
public:
    explicit RandomSequence(quint64 seed);

    // A seed for an independent sequence, derived from a seed and a stream number (one stream per person,
    // say), so that drawing more numbers in one part of the output does not shift another part.
    static quint64 derive(quint64 seed, quint64 stream);

    quint64 next();
    // Uniform in [0, bound); bound > 0.
    int below(int bound);
    // Uniform in [low, high].
    int between(int low, int high);
    // True in `chance` cases out of a hundred.
    bool percent(int chance);

private:
    quint64 m_state;
};
