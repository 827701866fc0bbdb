// The recording reader on a day's ride: two readings a second for a day is about 170 000 lines.

#include "benchsections.h"

#include "chartwindow.h"
#include "recorder.h"
#include "recordingfile.h"
#include "recordingwindow.h"

#include <QComboBox>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

namespace bench {

void recordingSection(BenchContext &ctx)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("day.csv"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly)) {
            out() << "  no recording written: " << file.errorString() << Qt::endl;
            return;
        }
        QByteArray data = oe::Recorder::separatorLine() + oe::Recorder::header();
        const QDateTime start(QDate(2026, 6, 1), QTime(6, 0));
        constexpr int kLines = 172800; // 24 h at two a second
        for (int i = 0; i < kLines; ++i) {
            const QDateTime when = start.addMSecs(qint64(i) * 500);
            data += oe::Recorder::readingLine(when, 1000 + i % 5000, 2000 + i % 700, 5 + i % 40, 80 + i % 2000);
            if (i % 3600 == 0)
                data += oe::Recorder::changeLine(when, oe::ParameterIndex::TinjMax, 9000, 9000 + i % 500,
                                                 oe::Recorder::Cause::Slider, true);
            if (data.size() > (1 << 22)) {
                file.write(data);
                data.clear();
            }
        }
        data += oe::Recorder::endLine(start.addSecs(86400), oe::Recorder::End::Stopped);
        file.write(data);
    }
    // Read, then shown in the chart's window and drawn: at the first span, and zoomed out to the whole day
    // (every reading drawn), as a technician opening it and looking at the whole ride would.
    QList<double> readMs, openMs, wholeDayMs;
    const int runs = ctx.quick ? 2 : 5;
    std::size_t readings = 0;
    oe::RecordingWindow window;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer timer;
        timer.start();
        const auto read = oe::readRecordingFile(path, nullptr);
        readMs << double(timer.nsecsElapsed()) / 1e6;
        if (!read)
            break;
        readings = read->readings.size();
        window.showRecording(*read, QStringLiteral("day.csv"));
        window.view()->grab();
        openMs << double(timer.nsecsElapsed()) / 1e6;
        QElapsedTimer zoom;
        zoom.start();
        window.spanBox()->setCurrentIndex(window.spanBox()->count() - 1);
        window.view()->grab();
        wholeDayMs << double(zoom.nsecsElapsed()) / 1e6;
        window.spanBox()->setCurrentIndex(2);
    }
    window.close();
    ctx.rows.add(QStringLiteral("recording of a day (%1 readings): read").arg(readings), QStringLiteral("ms"), readMs);
    Row &open = ctx.rows.add(QStringLiteral("recording of a day: read, shown and drawn"), QStringLiteral("ms"), openMs);
    open.setGoal(QStringLiteral("< 2000 ms"), !openMs.isEmpty() && open.median < 2000);
    ctx.rows.add(QStringLiteral("recording of a day: zoomed out to 24 h, drawn"), QStringLiteral("ms"), wholeDayMs);
}

} // namespace bench
