#pragma once

#include <QtGlobal>

#include <cmath>
#include <cstdint>

namespace chenglan::sample {

// A small generator whose output is the same on every platform and standard
// library (std::*_distribution is not), so one seed gives one world anywhere.
class Random {
public:
    explicit Random(quint64 seed) : m_state(seed) {}

    // Streams for independent parts of the world: the same (seed, key...) gives
    // the same stream whatever else was generated before.
    template <typename... Keys>
    static Random stream(quint64 seed, Keys... keys) {
        quint64 s = mix(seed ^ 0x5a17e5a17e5a17e5ULL);
        ((s = mix(s ^ (quint64(keys) + 0x9e3779b97f4a7c15ULL))), ...);
        return Random(s);
    }

    quint64 next() { return mix(m_state += 0x9e3779b97f4a7c15ULL); }

    // Uniform in [0, 1).
    double uniform() { return double(next() >> 11) * (1.0 / 9007199254740992.0); }

    // Uniform integer in [low, high].
    int between(int low, int high) { return low + int(next() % quint64(high - low + 1)); }

    bool chance(double p) { return uniform() < p; }

    double normal(double mean = 0.0, double sd = 1.0) {
        const double u1 = 1.0 - uniform();
        const double u2 = uniform();
        return mean + sd * std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
    }

    // Knuth's method; fine for the small means of football goals.
    int poisson(double mean) {
        const double limit = std::exp(-mean);
        int k = 0;
        double p = uniform();
        while (p > limit) {
            ++k;
            p *= uniform();
        }
        return k;
    }

    static quint64 mix(quint64 z) {
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }

private:
    quint64 m_state;
};

} // namespace chenglan::sample
