#pragma once

#include <QtGlobal>

#include <memory>

namespace oe {

// Where a stream's numbers come from: a seeded generator, or the fuzzer's bytes.
class RandomSource
{
public:
    virtual ~RandomSource() = default;
    virtual quint64 next() = 0;
};

// xoshiro256** seeded through splitmix64: one seed and a stream number give one sequence, on every
// platform and standard library.
class SeededSource : public RandomSource
{
public:
    SeededSource(quint64 seed, quint64 stream);
    quint64 next() override;

private:
    quint64 m_s[4];
};

// One model's draws. 0 from the source always means the plain case (no fault, the first choice), so
// a fuzzer's exhausted input runs on quietly.
class RandomStream
{
public:
    explicit RandomStream(std::shared_ptr<RandomSource> source) : m_source(std::move(source)) {}

    quint64 next() { return m_source->next(); }
    // 0 .. n-1
    qint64 below(qint64 n) { return n <= 1 ? 0 : qint64(next() % quint64(n)); }
    // lo .. hi, both included
    qint64 between(qint64 lo, qint64 hi) { return lo + below(hi - lo + 1); }
    // True perMille times in a thousand.
    bool chance(int perMille) { return perMille > 0 && below(1000) >= 1000 - perMille; }

private:
    std::shared_ptr<RandomSource> m_source;
};

} // namespace oe
