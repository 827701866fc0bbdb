#include "mapcomparedialog.h"

#include "captiontable.h"
#include "maptexts.h"
#include "restorepointstep.h"
#include "numbertexts.h"
#include "session.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QVBoxLayout>

namespace oe {

MapCompareDialog::MapCompareDialog(Session *session, AppTexts texts, QWidget *parent)
    : QDialog(parent), m_session(session), m_texts(std::move(texts))
{
    setObjectName(QStringLiteral("MapCompare"));
    m_table = new QTableWidget(kParameterCount, 4, this);
    m_table->setObjectName(QStringLiteral("CompareTable"));
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_originLabel = new QLabel(this);
    m_originLabel->setObjectName(QStringLiteral("CompareOrigin"));
    m_originLabel->setWordWrap(true);
    m_originLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_table);
    layout->addWidget(m_originLabel);
    layout->addWidget(buttons);
    resize(560, 330);
    connect(session, &Session::parameterConfirmedChanged, this, &MapCompareDialog::refresh);
    connect(session, &Session::parameterRead, this, &MapCompareDialog::refresh);
    connect(session, &Session::stateChanged, this, [this](Session::State state) {
        if (state == Session::State::Idle)
            m_settling = false; // the request ended with the session, unanswered
        refresh();
    });
    applyCaptions();
}

void MapCompareDialog::setValues(const ParameterSet &values, const QString &name, const MapOrigin &origin)
{
    m_values = values;
    m_name = name;
    m_origin = origin;
    applyCaptions();
}

bool MapCompareDialog::settle()
{
    if (!m_session || m_session->state() != Session::State::Connected)
        return false;
    if (m_settling)
        return true;
    m_settling = m_session->verifiedValues([this](const VerifiedValues &) {
        m_settling = false;
        refresh();
    });
    return m_settling;
}

void MapCompareDialog::applyCaptions()
{
    setWindowTitle(m_texts.caption(Caption::CompareTitle).replace(QStringLiteral("%1"), m_name));
    m_table->setHorizontalHeaderLabels({m_texts.caption(Caption::ColumnParameter), m_texts.caption(Caption::ColumnFile),
                                        m_texts.caption(Caption::ColumnController),
                                        m_texts.caption(Caption::ColumnDiffers)});
    refresh();
}

void MapCompareDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    refresh();
}

void MapCompareDialog::refresh()
{
    if (!isVisible())
        return;
    const auto set = [this](int row, int column, const QString &text) {
        QTableWidgetItem *item = m_table->item(row, column);
        if (!item) {
            item = new QTableWidgetItem;
            m_table->setItem(row, column, item);
        }
        item->setText(text);
    };
    for (int i = 0; i < kParameterCount; ++i) {
        const auto index = ParameterIndex(i);
        const qint32 file = m_values[index];
        // Only a value the controller confirmed counts; a first answer may be a flipped one.
        const bool known = m_session && m_session->state() != Session::State::Idle && m_session->parameterConfirmed(index);
        const qint32 now = known ? m_session->controllerValue(index).value_or(0) : 0;
        set(i, 0, m_texts.parameterName(index));
        set(i, 1, displayText(index, file));
        set(i, 2, known ? displayText(index, now) : QStringLiteral("---"));
        set(i, 3, known && now != file ? m_texts.caption(Caption::DiffersMark) : QString());
    }
    QString origin = mapOriginText(m_origin, m_texts.table());
    if (m_session) {
        if (const QString other = otherFirmwareText(m_origin, controllerFirmwareText(*m_session), m_texts.table());
            !other.isEmpty())
            origin += QLatin1Char('\n') + other;
    }
    m_originLabel->setText(origin);
}

} // namespace oe
