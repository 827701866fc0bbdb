#include "simfaults.h"

#include <functional>
#include <optional>

namespace oe {

namespace {

struct FaultKind {
    const char *name;
    const char *help;
    enum Shape { Flag, Number } shape;
    int defaultValue;  // for a Number given without "=N"; 0 means a value is required
    int maxValue;
    std::function<int &(SimFaults &)> intField;
    std::function<bool &(SimFaults &)> flagField;
};

const std::vector<FaultKind> &kinds()
{
    static const std::vector<FaultKind> list = {
        {"silent", "answer nothing", FaultKind::Flag, 0, 1, nullptr,
         [](SimFaults &f) -> bool & { return f.silent; }},
        {"delay", "delay=MS: every reply waits MS milliseconds", FaultKind::Number, 0, 600000,
         [](SimFaults &f) -> int & { return f.replyDelayMs; }, nullptr},
        {"drop", "drop=N: leave the first N requests unanswered", FaultKind::Number, 0, 1000000,
         [](SimFaults &f) -> int & { return f.dropFirst; }, nullptr},
        {"wrong-header", "replies start with 43 56 (\"C\" \"V\") instead of 43 55", FaultKind::Flag, 0, 1,
         nullptr, [](SimFaults &f) -> bool & { return f.wrongHeader; }},
        {"short", "short[=N]: every reply loses its last N bytes (default 1)", FaultKind::Number,
         SimFaults::kDefaultShortBy, 64, [](SimFaults &f) -> int & { return f.shortBy; }, nullptr},
        {"unknown-code", "replies carry code 07, which answers no request", FaultKind::Flag, 0, 1, nullptr,
         [](SimFaults &f) -> bool & { return f.unknownCode; }},
        {"garbage-before", "garbage-before[=N]: N junk bytes in front of every reply (default 3)",
         FaultKind::Number, SimFaults::kDefaultGarbageBytes, 256,
         [](SimFaults &f) -> int & { return f.garbageBefore; }, nullptr},
        {"garbage-after", "garbage-after[=N]: N junk bytes after every reply (default 3)", FaultKind::Number,
         SimFaults::kDefaultGarbageBytes, 256, [](SimFaults &f) -> int & { return f.garbageAfter; }, nullptr},
        {"echo-clamp", "a write stores and echoes its value clamped into the slider range", FaultKind::Flag,
         0, 1, nullptr, [](SimFaults &f) -> bool & { return f.echoClamp; }},
        {"refuse-write", "refuse-write[=MASK]: writes to the parameters in MASK (bit N: code N; default 255, "
         "all) are not stored; the echo carries the value held", FaultKind::Number, 255, 255,
         [](SimFaults &f) -> int & { return f.refuseWriteMask; }, nullptr},
        {"split", "split[=MS]: every reply goes out in two writes MS apart (default 100)", FaultKind::Number,
         SimFaults::kDefaultSplitGapMs, 600000, [](SimFaults &f) -> int & { return f.splitGapMs; }, nullptr},
        {"late", "late[=MS]: every reply comes MS late, past the time-out (default 1200)", FaultKind::Number,
         SimFaults::kDefaultLateMs, 600000, [](SimFaults &f) -> int & { return f.lateMs; }, nullptr},
        {"hangup", "hangup=N: close the line after the Nth request frame", FaultKind::Number, 0, 1000000,
         [](SimFaults &f) -> int & { return f.hangUpAfter; }, nullptr},
        {"noise", "noise=BYTES_PER_S: random bytes between replies, some shaped like a reply's start",
         FaultKind::Number, 0, 100000, [](SimFaults &f) -> int & { return f.noisePerSecond; }, nullptr},
        {"flip", "flip=PERCENT: that share of replies gets one bit flipped", FaultKind::Number, 0, 100,
         [](SimFaults &f) -> int & { return f.flipPercent; }, nullptr},
        {"gap", "gap=MS: every reply goes out byte by byte, MS apart", FaultKind::Number, 0, 10000,
         [](SimFaults &f) -> int & { return f.byteGapMs; }, nullptr},
    };
    return list;
}

std::optional<bool> readFlag(const QString &value)
{
    const QString v = value.trimmed().toLower();
    if (v == u"1" || v == u"on" || v == u"yes" || v == u"true")
        return true;
    if (v == u"0" || v == u"off" || v == u"no" || v == u"false")
        return false;
    return std::nullopt;
}

} // namespace

bool SimFaults::apply(const QString &spec, QString *error)
{
    SimFaults result = *this;
    const QStringList items = spec.split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (items.isEmpty()) {
        if (error)
            *error = QStringLiteral("no fault named");
        return false;
    }
    for (const QString &rawItem : items) {
        const QString item = rawItem.trimmed();
        const qsizetype eq = item.indexOf(QLatin1Char('='));
        const QString name = (eq < 0 ? item : item.left(eq)).trimmed().toLower();
        const std::optional<QString> value =
            eq < 0 ? std::nullopt : std::optional<QString>(item.mid(eq + 1).trimmed());
        if (name == u"none" || name == u"clear") {
            result = SimFaults();
            continue;
        }
        const FaultKind *kind = nullptr;
        for (const FaultKind &k : kinds()) {
            if (name == QLatin1String(k.name))
                kind = &k;
        }
        if (!kind) {
            if (error)
                *error = QStringLiteral("unknown fault \"%1\"").arg(name);
            return false;
        }
        if (kind->shape == FaultKind::Flag) {
            const std::optional<bool> on = value ? readFlag(*value) : std::optional<bool>(true);
            if (!on) {
                if (error)
                    *error = QStringLiteral("%1: expected on or off, got \"%2\"").arg(name, *value);
                return false;
            }
            kind->flagField(result) = *on;
            continue;
        }
        int number = kind->defaultValue;
        if (value) {
            bool ok = false;
            number = value->toInt(&ok);
            if (!ok || number < 0 || number > kind->maxValue) {
                if (error)
                    *error = QStringLiteral("%1: expected a number from 0 to %2, got \"%3\"")
                                 .arg(name).arg(kind->maxValue).arg(*value);
                return false;
            }
        } else if (number == 0) {
            if (error)
                *error = QStringLiteral("%1 needs a value: %1=N").arg(name);
            return false;
        }
        kind->intField(result) = number;
    }
    *this = result;
    return true;
}

QString SimFaults::describe() const
{
    QStringList on;
    SimFaults copy = *this;
    for (const FaultKind &k : kinds()) {
        if (k.shape == FaultKind::Flag) {
            if (k.flagField(copy))
                on << QLatin1String(k.name);
        } else if (const int n = k.intField(copy)) {
            on << QStringLiteral("%1=%2").arg(QLatin1String(k.name)).arg(n);
        }
    }
    return on.isEmpty() ? QStringLiteral("none") : on.join(QLatin1Char(','));
}

QStringList SimFaults::helpLines()
{
    QStringList lines;
    for (const FaultKind &k : kinds())
        lines << QStringLiteral("%1  %2").arg(QLatin1String(k.name), -15).arg(QLatin1String(k.help));
    lines << QStringLiteral("%1  %2").arg(QStringLiteral("none"), -15).arg(QStringLiteral("all faults off"));
    return lines;
}

} // namespace oe
