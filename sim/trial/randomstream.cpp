#include "randomstream.h"

namespace oe {

namespace {

quint64 splitmix(quint64 &state)
{
    quint64 z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

quint64 rotl(quint64 x, int k)
{
    return (x << k) | (x >> (64 - k));
}

} // namespace

SeededSource::SeededSource(quint64 seed, quint64 stream)
{
    quint64 state = seed ^ (stream * 0xd1b54a32d192ed03ULL);
    for (quint64 &word : m_s)
        word = splitmix(state);
}

quint64 SeededSource::next()
{
    const quint64 result = rotl(m_s[1] * 5, 7) * 9;
    const quint64 t = m_s[1] << 17;
    m_s[2] ^= m_s[0];
    m_s[3] ^= m_s[1];
    m_s[1] ^= m_s[2];
    m_s[0] ^= m_s[3];
    m_s[2] ^= t;
    m_s[3] = rotl(m_s[3], 45);
    return result;
}

} // namespace oe
