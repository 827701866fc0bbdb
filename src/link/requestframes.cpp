#include "requestframes.h"

namespace oe {

QByteArray RequestFrame(CommandCode code, quint8 index)
{
    QByteArray frame(kRequestFrameSize, '\0');
    frame[0] = 'P';
    frame[1] = 'C';
    frame[2] = char(code);
    if (code == CommandCode::ReadParameter)
        frame[3] = char(index);
    return frame;
}

std::optional<QByteArray> WriteFrame::build(quint8 index, qint32 value)
{
    if (value < 0 || value > 0xFFFF)
        return std::nullopt;
    m_bytes[0] = 'P';
    m_bytes[1] = 'C';
    m_bytes[2] = char(CommandCode::WriteParameter);
    m_bytes[3] = char(index);
    m_bytes[4] = char(value / 256);
    m_bytes[5] = char(value % 256);
    return m_bytes;
}

} // namespace oe
