#pragma once

#include "intervaltimer.h"
#include "linkhost.h"
#include "replydecoder.h"
#include "requestframes.h"
#include "serialport.h"

#include <QDeadlineTimer>
#include <QObject>

#include <chrono>
#include <vector>

namespace oe {

// The request/reply handshake with the controller over a SerialPort. Every operation sends its
// frame, waits for the reply while the event loop keeps running (so window events, timers and other
// operations can run inside the wait) and tries up to three times.
//
// An attempt succeeds only on the reply that answers its own request; any other accepted reply is
// still decoded (ReplyIndex/ReplyValue, live readings, version) but fails the attempt. Waits nest: a
// reply is judged by the innermost pending wait, and an outer wait judges by its own reply, not by
// what an inner exchange left behind. endSession() ends every wait; nothing is sent afterwards.
class DeviceLink : public QObject
{
    Q_OBJECT
public:
    enum class WriteResult { Confirmed, NotConfirmed, OutOfRange, SessionEnded };

    static constexpr int kTries = 3;
    static constexpr std::chrono::milliseconds kReadTimeout{300};
    static constexpr std::chrono::milliseconds kWriteTimeout{300};
    static constexpr std::chrono::milliseconds kVersionTimeout{300};
    static constexpr std::chrono::milliseconds kStatusTimeout{500};
    static constexpr std::chrono::milliseconds kResetTimeout{1000};
    static constexpr std::chrono::milliseconds kStatusPollInterval{500};
    // Lets the rest of a frame arrive after the first two bytes raised the receive event.
    static constexpr std::chrono::milliseconds kReplySettle{50};
    static constexpr std::chrono::milliseconds kWriteSettle{10};
    static constexpr int kReceiveThreshold = 2;

    // Caption entries of the failure messages.
    static constexpr int kMessageTitleEntry = 27;
    static constexpr int kResetNotConfirmedEntry = 28;
    static constexpr int kWriteNotConfirmedEntry = 29;

    // port and host must outlive the link.
    DeviceLink(SerialPort *port, LinkHost *host, QObject *parent = nullptr);
    ~DeviceLink() override;

    // Session state, read and written on the UI thread only. ReplyOk tells whether the last ended
    // attempt got its own reply; ReplyDone whether the innermost wait is over.
    bool Connected = false;
    bool ReplyOk = false;
    bool ReplyDone = false;
    qint32 ReplyIndex = 0;
    qint32 ReplyValue = 0;

    IntervalTimer *replyTimer() const { return m_replyTimer; }   // "MSComm1_Timer"
    IntervalTimer *statusTimer() const { return m_statusTimer; } // "Timer_StatusRequest"

    // Starts a session on COM<comPort>.
    bool openPort(int comPort, QString *error);
    // Closes the port if open and ends every pending wait.
    void closePort();
    bool portOpen() const;
    // closePort(), then stops both timers and clears Connected. Operations in progress return
    // without sending anything more and without restarting the status poll.
    void endSession();

    // True when the controller answered and the value went to the host.
    bool ReadParameter(quint8 index);
    WriteResult WriteParameter(quint8 index, qint32 value);
    void RequestStatus();
    void RequestVersion();
    // True when the controller acknowledged the reset.
    bool SendReset();

    // Decodes what the port received; called by the receive dispatch.
    void HandleInput();

    // Number of replies being waited for (nested operations each add one).
    int pendingWaits() const { return int(m_waits.size()); }

signals:
    // The port went away; the session is already ended. Raised once per loss.
    void portLost();

private:
    struct Wait {
        explicit Wait(ReplyKind kind, qint32 forIndex = 0, qint32 forValue = 0)
            : expected(kind), index(forIndex), value(forValue)
        {
        }
        ReplyKind expected;
        qint32 index = 0;
        qint32 value = 0;
        bool done = false;
        bool ok = false;
        qint32 receivedValue = 0;
        QDeadlineTimer deadline;
    };

    bool sessionAlive(quint64 session) const;
    bool awaitReply(Wait &wait, std::chrono::milliseconds timeout);
    void armReplyTimer(std::chrono::milliseconds timeout);
    void finishWait(Wait &wait, bool ok);
    Wait *currentWait() const;
    static bool answers(const Wait &wait, const DecodedReply &reply);
    void endAllWaits();
    void onReceiveEvent();
    void onReplyTimeout();
    void onPortLost();

    SerialPort *m_port;
    LinkHost *m_host;
    IntervalTimer *m_replyTimer;
    IntervalTimer *m_statusTimer;
    WriteFrame m_writeFrame;
    std::vector<Wait *> m_waits;
    quint64 m_session = 0;
    bool m_lossReported = false;
};

} // namespace oe
