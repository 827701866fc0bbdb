#pragma once

#include "randomstream.h"
#include "simulatedport.h"
#include "trialfigures.h"

#include <array>
#include <functional>
#include <optional>
#include <set>

namespace oe {

// The controller at the other end of the simulated line: it parses the program's frames, holds eight
// values (anything from 0 to 65535), and answers the way a real one on a bad line does: late, in
// pieces, twice, with a bit flipped, not at all for a while, refusing or clamping a write, hanging
// up. What it draws comes from its own stream, so the technician's choices do not change its luck.
class ControllerModel
{
public:
    using Values = std::array<quint16, 8>;
    // Told of every write frame it takes, before it stores anything.
    using WriteObserver = std::function<void(int index, quint16 value)>;
    // Told after a write was stored, with the values before it.
    using StoredObserver = std::function<void(int index, const std::array<quint16, 8> &before)>;
    using Log = std::function<void(const char *what, qint64 a, qint64 b)>;

    ControllerModel(SimulatedPort *port, VirtualClock *clock, RandomStream random, TrialFigures *figures,
                    Log log);

    const Values &values() const { return m_values; }
    void setWriteObserver(WriteObserver observer) { m_onWrite = std::move(observer); }
    void setStoredObserver(StoredObserver observer) { m_onStored = std::move(observer); }
    // The cable goes to another program's port (oe-cli's after the window's).
    void setPort(SimulatedPort *port) { m_port = port; }
    // Now and then the cable goes to another unit during a silent spell: other values, other firmware.
    // Drawn from a stream of their own, so that a run is the same as without them up to the first.
    void allowSwaps(RandomStream random, std::function<void()> swapped)
    {
        m_swaps.emplace(std::move(random));
        m_onSwap = std::move(swapped);
    }
    // The end of the last silent spell (in the past once it answers again).
    qint64 silentUntil() const { return m_silentUntil; }
    // The last reply frame it put on the line cleanly (one piece, nothing flipped), for the try that
    // frame number `frame` opened, and when its first byte arrives.
    struct CleanReply {
        qint64 frame = -1;
        qint64 firstByteAt = 0;
    };
    const CleanReply &cleanReply() const { return m_clean; }
    // Whether a read reply or a write's echo it sent had a bit flipped into this value for this
    // parameter.
    bool sentFlipped(int index, qint32 value) const { return m_flipped.count({index, value}) > 0; }
    // The frame (numbered as in onFrame) a reply answered, by the reply's number (see
    // SimulatedPort::deliver).
    qint64 frameOfReply(qint64 reply) const { return reply > 0 && reply <= m_replyFrames.size() ? m_replyFrames[reply - 1] : -1; }
    // Whether the value it would store for a write is the one sent (false: refused or clamped).
    bool lastWriteStoredAsSent() const { return m_storedAsSent; }

    // A frame the program wrote (frame numbers count from 1 per opening).
    void onFrame(const QByteArray &frame, qint64 frameNumber);

private:
    QByteArray answer(const QByteArray &frame);
    void send(const QByteArray &reply, qint64 frameNumber, std::chrono::milliseconds timeout);

    SimulatedPort *m_port;
    VirtualClock *m_clock;
    RandomStream m_random;
    TrialFigures *m_figures;
    Log m_log;
    WriteObserver m_onWrite;
    StoredObserver m_onStored;
    std::optional<RandomStream> m_swaps;
    std::function<void()> m_onSwap;
    Values m_values{};
    // Above its own limit a parameter's write is refused or clamped, the same way every time (as a
    // firmware does it): a retry must meet what the first try met.
    Values m_limits{};
    std::array<bool, 8> m_clamps{};
    std::array<quint8, 3> m_version{1, 3, 7};
    qint64 m_silentUntil = -1;
    CleanReply m_clean;
    std::set<std::pair<int, qint32>> m_flipped;
    bool m_storedAsSent = true;
    // Replies put on the line so far (a duplicate counts as one of its own).
    qint64 m_replies = 0;
    QList<qint64> m_replyFrames;
};

} // namespace oe
