#pragma once

#include "fakeserialport.h"
#include "linkhost.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

namespace oe::test {

// Records everything the link shows through the window.
class RecordingHost : public LinkHost
{
public:
    struct Status {
        qint32 rpm, tinj, pump, pause;
        bool operator==(const Status &) const = default;
    };

    QString caption(int entry) const override { return QStringLiteral("caption %1").arg(entry); }
    void showMessage(const QString &text, const QString &title) override
    {
        messages.append({text, title});
        if (onMessage)
            onMessage();
    }
    void statusDecoded(qint32 rpm, qint32 tinj, qint32 pump, qint32 pause) override
    {
        statuses.append({rpm, tinj, pump, pause});
    }
    void versionDecoded(const QString &text) override { versions.append(text); }
    void applyParameter(ParameterIndex index, qint32 value) override
    {
        applied.append({int(index), value});
    }

    QList<QPair<QString, QString>> messages;
    QList<Status> statuses;
    QStringList versions;
    QList<QPair<int, qint32>> applied;
    std::function<void()> onMessage;
};

inline QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// A prompt controller: answers every request as the protocol says.
inline QByteArray promptReply(const QByteArray &request)
{
    if (request.size() < 3)
        return {};
    switch (quint8(request[2])) {
    case 1: // value = 100 + index
        return hex("435501") + request.mid(3, 1) + QByteArray(1, '\0') + QByteArray(1, char(100 + request[3]));
    case 2:
        return hex("435502") + request.mid(3, 3);
    case 3:
        return hex("43550305dc006400190050");
    case 4:
        return hex("435504010203");
    case 10:
        return hex("43550a00");
    default:
        return {};
    }
}

inline int frameCode(const QByteArray &frame)
{
    return frame.size() > 2 ? quint8(frame[2]) : -1;
}

} // namespace oe::test
