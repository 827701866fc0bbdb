#pragma once

#include <QByteArray>

#include <optional>

namespace oe {

// Command codes of the request frames; no other code is ever sent.
enum class CommandCode : quint8 {
    ReadParameter = 1,
    WriteParameter = 2,
    Status = 3,
    Version = 4,
    Reset = 10,
};

inline constexpr int kRequestFrameSize = 7;
inline constexpr int kWriteFrameSize = 9;

// A fresh zero-filled 7-byte frame: "P", "C", code, index (read requests only), then zeros.
QByteArray RequestFrame(CommandCode code, quint8 index = 0);

// The 9-byte write frame. It keeps one buffer for its whole life: every build rewrites bytes 0 to 5
// and never touches bytes 6 to 8, which therefore always go out as zeros.
class WriteFrame
{
public:
    // "P", "C", 2, index, value high byte, value low byte. Empty for a value that does not fit in
    // 16 bits unsigned; the buffer is then left as it was and nothing must be sent.
    std::optional<QByteArray> build(quint8 index, qint32 value);
    const QByteArray &bytes() const { return m_bytes; }

private:
    QByteArray m_bytes = QByteArray(kWriteFrameSize, '\0');
};

} // namespace oe
