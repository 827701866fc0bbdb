#pragma once

// The benchmark's figures: one row per figure, printed as a table and written as CSV at the end.

#include <QList>
#include <QString>
#include <QTextStream>

#include <cmath>
#include <deque>

namespace bench {

QTextStream &out();

// A number for the table, "-" when there is none.
QString num(double v, int decimals = 1);

struct Row {
    QString figure;
    QString unit;
    qsizetype samples = 0;
    double median = std::nan("");
    double p95 = std::nan("");
    double floor = std::nan("");
    QString goal;
    int pass = -1; // -1 no goal, 0 fail, 1 pass
    QString note;

    void setGoal(const QString &text, bool met)
    {
        goal = text;
        pass = met ? 1 : 0;
    }
};

class RowTable
{
public:
    // Adds a row from its samples and prints its median and 95th percentile at once. The reference
    // stays valid while rows are added after it.
    Row &add(const QString &figure, const QString &unit, const QList<double> &samples, double floor = std::nan(""));
    void print() const;
    bool writeCsv(const QString &path) const;
    bool allPass() const;

private:
    std::deque<Row> m_rows;
};

} // namespace bench
