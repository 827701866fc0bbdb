// A whole session in virtual time, its every draw (the controller's answers and faults, the line's
// noise, the technician's clicks) taken from libFuzzer's bytes, so coverage steers the adversary. Any
// broken invariant of the simulation is a finding.

#include "fuzzcheck.h"
#include "trial.h"

#include <QCoreApplication>

#include <cstdio>

using namespace oe;

namespace {

// Two bytes a draw; once they run out, zeros, which the models read as "nothing special".
class BytesSource : public RandomSource
{
public:
    BytesSource(const uint8_t *data, size_t size) : m_data(data), m_size(size) {}
    quint64 next() override
    {
        quint64 value = 0;
        for (int i = 0; i < 2 && m_at < m_size; ++i)
            value = (value << 8) | m_data[m_at++];
        return value;
    }

private:
    const uint8_t *m_data;
    size_t m_size;
    size_t m_at = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static int argc = 1;
    static char name[] = "fuzz_scenario";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    TrialOptions options;
    options.virtualMs = 20000;
    options.source = std::make_shared<BytesSource>(data, size);
    const TrialOutcome outcome = runTrial(options);
    if (!outcome.ok) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(outcome.invariant), qPrintable(outcome.detail));
        for (const QString &line : outcome.lastEvents)
            std::fprintf(stderr, "  %s\n", qPrintable(line));
    }
    FUZZ_CHECK(outcome.ok);
    return 0;
}
