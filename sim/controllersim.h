#pragma once

#include "enginemodel.h"
#include "simfaults.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <array>
#include <functional>
#include <optional>
#include <random>

namespace oe {

// One request frame as the controller received it, at the time of the feed that completed it.
struct SimRequest {
    qint64 atMs = 0;
    QByteArray frame;
};

// What the line should carry in answer to one request. Empty bytes with hangUp set: just hang up.
struct SimOutput {
    QByteArray bytes;
    int delayMs = 0;     // wait before the first write
    int splitAt = 0;     // > 0: write bytes.left(splitAt) first and the rest splitGapMs later
    int splitGapMs = 0;
    int byteGapMs = 0;   // > 0: the bytes go out one at a time, this far apart (instead of a split)
    bool hangUp = false; // close the line once this has been written

    bool operator==(const SimOutput &) const = default;
};

// The controller's side of the protocol, without any I/O: bytes in, replies out. Time comes in with
// each feed (milliseconds on any steady clock), so tests can drive the engine and the frame timing.
class ControllerSim
{
public:
    using Version = std::array<quint8, 3>;
    static constexpr Version kDefaultVersion = {1, 3, 7};
    // A partial frame that gets no further byte for this long is dropped: whatever comes next starts
    // afresh instead of being glued onto a request that was cut off.
    static constexpr qint64 kStalePartialMs = 200;
    static constexpr qsizetype kMaxLoggedRequests = 100000;

    static constexpr char kRequestHeader[] = "PC";
    static constexpr quint8 kReplyC = 0x43;
    static constexpr quint8 kReplyU = 0x55;
    static constexpr quint8 kWrongU = 0x56;
    static constexpr quint8 kUnknownCode = 0x07;

    ControllerSim();

    // Takes bytes from the line and answers every complete request found in them.
    QList<SimOutput> feed(QByteArrayView bytes, qint64 nowMs);

    // The fault-free reply to one complete request frame, with its effect (a write stores, a reset
    // restores the defaults). Empty for an unknown command code.
    QByteArray answer(QByteArrayView frame, qint64 nowMs);

    QByteArray statusReply(qint64 nowMs) const;

    // How long the request at the start of bytes (which begin with "P" "C") is: 0 when more bytes
    // are needed to tell, -1 when these bytes cannot be a request (unknown code, or a byte that is
    // always 0 is not).
    static qsizetype requestLength(QByteArrayView bytes);
    EngineReading engineAt(qint64 nowMs) const;

    const SimParameters &parameters() const { return m_params; }
    quint16 parameter(int index) const;
    void setParameter(int index, quint16 value);
    void setParameters(const SimParameters &params) { m_params = params; }
    void restoreDefaults() { m_params = defaultSimParameters(); }

    Version version() const { return m_version; }
    void setVersion(Version version) { m_version = version; }

    bool engineRunning() const { return m_engineRunning; }
    void setEngineRunning(bool running) { m_engineRunning = running; }
    // Holds the measured speed and injection time still instead of running the drive cycle.
    void setEngineOverride(std::optional<EngineReading> reading) { m_engineOverride = reading; }

    // Unplugged, the controller hears nothing and answers nothing; the line itself stays (the
    // adapter is still in the PC). plugIn() brings a controller back, possibly another one.
    bool present() const { return m_present; }
    void unplug() { m_present = false; }
    void plugIn(const SimParameters &params, Version version);

    const SimFaults &faults() const { return m_faults; }
    // Also restarts the counts of the counted faults (drop, hang-up).
    void setFaults(const SimFaults &faults);
    // Called after every setFaults, so the line can start or stop its noise.
    void setFaultsListener(std::function<void()> listener) { m_faultsListener = std::move(listener); }

    // Line noise due by nowMs since the last call, in bursts at random times; empty without the
    // noise fault. The first call after the fault was set only starts the clock.
    QByteArray noise(qint64 nowMs);
    // The random faults (noise, flip) draw from this; the same seed gives the same line.
    void setSeed(quint32 seed) { m_random.seed(seed); }
    // A new line (after a hang-up): counted faults count again and no partial frame carries over.
    void restartLine();

    const QList<SimRequest> &requests() const { return m_requests; }
    void clearRequests() { m_requests.clear(); }
    // Request frames received in all, also those trimmed from the log.
    qint64 requestCount() const { return m_requestCount; }
    // Bytes that were skipped because they were not part of any request frame.
    qint64 discardedBytes() const { return m_discarded; }

private:
    std::optional<SimOutput> handle(QByteArrayView frame, qint64 nowMs);
    QByteArray shaped(QByteArray reply);

    SimParameters m_params;
    Version m_version = kDefaultVersion;
    bool m_engineRunning = true;
    bool m_present = true;
    std::optional<EngineReading> m_engineOverride;
    SimFaults m_faults;
    qint64 m_framesCounted = 0;
    bool m_hungUp = false;
    std::function<void()> m_faultsListener;
    std::mt19937 m_random{20261207};
    qint64 m_nextNoiseMs = -1;

    QByteArray m_buffer;
    qint64 m_lastFeedMs = 0;
    qint64 m_discarded = 0;
    qint64 m_requestCount = 0;
    QList<SimRequest> m_requests;
};

// "50 43 04 00 00 00 00": upper-case hex pairs, for logs and test messages.
QString hexBytes(QByteArrayView bytes);

} // namespace oe
