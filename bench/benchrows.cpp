#include "benchrows.h"

#include "benchsupport.h"

#include <QSaveFile>

#include <algorithm>

namespace bench {

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QString num(double v, int decimals)
{
    return std::isnan(v) ? QStringLiteral("-") : QString::number(v, 'f', decimals);
}

namespace {

QString ratio(const Row &r, int decimals)
{
    return std::isnan(r.floor) ? QStringLiteral("-") : num(r.median / r.floor, decimals);
}

} // namespace

Row &RowTable::add(const QString &figure, const QString &unit, const QList<double> &samples, double floor)
{
    Row &row = m_rows.emplace_back();
    row.figure = figure;
    row.unit = unit;
    row.samples = samples.size();
    row.median = median(samples);
    row.p95 = percentile(samples, 95);
    row.floor = floor;
    out() << "  " << figure << ": median " << num(row.median, 2) << ' ' << unit << ", p95 " << num(row.p95, 2) << " ("
          << samples.size() << " samples)" << Qt::endl;
    return row;
}

void RowTable::print() const
{
    const QStringList head{"figure", "unit", "n", "median", "p95", "floor", "median/floor", "goal", "result"};
    QList<QStringList> cells;
    for (const Row &r : m_rows)
        cells.append({r.figure, r.unit, QString::number(r.samples), num(r.median, 2), num(r.p95, 2), num(r.floor, 1),
                      ratio(r, 3), r.goal,
                      r.pass < 0 ? QStringLiteral("-") : r.pass ? QStringLiteral("pass") : QStringLiteral("FAIL")});
    QList<qsizetype> width;
    for (const QString &h : head)
        width.append(h.size());
    for (const QStringList &c : cells)
        for (int i = 0; i < c.size(); ++i)
            width[i] = std::max(width[i], c[i].size());
    const auto line = [&](const QStringList &c) {
        QString text = QStringLiteral("|");
        for (int i = 0; i < c.size(); ++i)
            text += QLatin1Char(' ') + (i == 0 || i == 7 ? c[i].leftJustified(width[i]) : c[i].rightJustified(width[i]))
                    + QStringLiteral(" |");
        out() << text << Qt::endl;
    };
    out() << Qt::endl;
    line(head);
    QStringList rule;
    for (qsizetype w : width)
        rule.append(QString(w, QLatin1Char('-')));
    out() << "|-" << rule.join(QStringLiteral("-|-")) << "-|" << Qt::endl;
    for (const QStringList &c : cells)
        line(c);
    for (const Row &r : m_rows) {
        if (!r.note.isEmpty())
            out() << "  " << r.figure << ": " << r.note << Qt::endl;
    }
}

bool RowTable::writeCsv(const QString &path) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QTextStream csv(&file);
    csv << "figure,unit,samples,median,p95,floor,ratio,goal,result\n";
    const auto quoted = [](QString s) { return QLatin1Char('"') + s.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"'); };
    for (const Row &r : m_rows)
        csv << quoted(r.figure) << ',' << r.unit << ',' << r.samples << ',' << num(r.median, 3) << ','
            << num(r.p95, 3) << ',' << num(r.floor, 3) << ',' << ratio(r, 4) << ',' << quoted(r.goal) << ','
            << (r.pass < 0 ? "-" : r.pass ? "pass" : "fail") << '\n';
    csv.flush();
    return file.commit();
}

bool RowTable::allPass() const
{
    return std::none_of(m_rows.cbegin(), m_rows.cend(), [](const Row &r) { return r.pass == 0; });
}

} // namespace bench
