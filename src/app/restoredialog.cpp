#include "restoredialog.h"

#include "captiontable.h"
#include "mapfile.h"
#include "maptexts.h"
#include "numbertexts.h"
#include "restorepoints.h"
#include "session.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLocale>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace oe {

namespace {
constexpr int kPathRole = Qt::UserRole;
constexpr int kValidRole = Qt::UserRole + 1;
enum Column { TimeColumn, CauseColumn, PortColumn, FirmwareColumn, NoteColumn, ChangesColumn, kColumnCount };
} // namespace

RestoreDialog::RestoreDialog(Session *session, QString mapsFolder, AppTexts texts, QWidget *parent)
    : QDialog(parent), m_session(session), m_mapsFolder(std::move(mapsFolder)), m_texts(std::move(texts))
{
    setObjectName(QStringLiteral("RestoreDialog"));
    m_list = new QTreeWidget(this);
    m_list->setObjectName(QStringLiteral("RestoreList"));
    m_list->setColumnCount(kColumnCount);
    m_list->setRootIsDecorated(false);
    m_list->setWordWrap(true);
    m_list->header()->setStretchLastSection(true);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    m_restore = buttons->addButton(QString(), QDialogButtonBox::AcceptRole);
    m_restore->setObjectName(QStringLiteral("RestoreButton"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_restore, &QPushButton::clicked, this, [this] {
        const QTreeWidgetItem *item = m_list->currentItem();
        if (!item || !m_restore->isEnabled())
            return;
        const QString path = item->data(0, kPathRole).toString();
        accept();
        emit restoreRequested(path);
    });
    connect(m_list, &QTreeWidget::currentItemChanged, this, &RestoreDialog::updateButton);
    connect(m_list, &QTreeWidget::itemDoubleClicked, m_restore, &QPushButton::click);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_list);
    layout->addWidget(buttons);
    resize(720, 360);
    connect(session, &Session::stateChanged, this, [this](Session::State state) {
        if (state == Session::State::Idle)
            m_settling = false; // the request ended with the session, unanswered
        refresh();
    });
    connect(session, &Session::parameterConfirmedChanged, this, &RestoreDialog::refresh);
    connect(session, &Session::parameterRead, this, &RestoreDialog::refresh);
    applyCaptions();
}

void RestoreDialog::applyCaptions()
{
    setWindowTitle(m_texts.caption(Caption::RestoreTitle));
    m_list->setHeaderLabels({m_texts.caption(Caption::ColumnTime), m_texts.caption(Caption::ColumnCause),
                             m_texts.caption(Caption::ColumnPort), m_texts.caption(Caption::ColumnFirmware),
                             m_texts.caption(Caption::ColumnNote), m_texts.caption(Caption::ColumnChanges)});
    m_restore->setText(m_texts.caption(Caption::RestoreButton));
    refresh();
}

void RestoreDialog::refresh()
{
    // Each file is read again: a hidden list need not be.
    if (!isVisible())
        return;
    const QString current = m_list->currentItem() ? m_list->currentItem()->data(0, kPathRole).toString() : QString();
    m_list->clear();
    const bool connected = m_session && m_session->state() == Session::State::Connected;
    const QList<RestorePointInfo> points = listRestorePoints(m_mapsFolder);
    for (const RestorePointInfo &point : points) {
        auto *item = new QTreeWidgetItem(m_list);
        item->setData(0, kPathRole, point.path);
        if (point.path == current)
            m_list->setCurrentItem(item);
        item->setText(0, QLocale().toString(point.when, QLocale::ShortFormat));
        item->setToolTip(0, point.path);
        item->setText(CauseColumn, m_texts.caption(!point.cause                             ? Caption::CauseBackup
                                                   : *point.cause == RestoreCause::Reset   ? Caption::CauseReset
                                                   : *point.cause == RestoreCause::Program ? Caption::CauseProgram
                                                                                           : Caption::CauseLoad));
        item->setText(PortColumn, point.origin.port);
        item->setText(FirmwareColumn, point.origin.firmware);
        const MapReadResult map = readMapFile(point.path);
        item->setData(0, kValidRole, map.ok);
        if (!map.ok) {
            item->setText(ChangesColumn, mapErrorText(map.error, m_texts.table()));
            continue;
        }
        // The file's own origin lines: its firmware where the name does not say, and the note.
        if (point.origin.firmware.isEmpty())
            item->setText(FirmwareColumn, map.origin.firmware);
        item->setText(NoteColumn, map.origin.note);
        if (!connected) {
            item->setText(ChangesColumn, QStringLiteral("---"));
            continue;
        }
        // Values of another controller are compared all the same, but the row says whose they are.
        const RestorePointOrigin &here = m_controller ? m_controller() : RestorePointOrigin{};
        const bool otherController = !point.origin.port.isEmpty() && !here.port.isEmpty()
                                     && (point.origin.port != here.port || point.origin.firmware != here.firmware);
        QStringList changes;
        for (int i = 0; i < kParameterCount; ++i) {
            const auto index = ParameterIndex(i);
            const qint32 saved = map.values[size_t(i)];
            // Only a confirmed value is set against the file (a first answer may be a flipped one).
            if (!m_session->parameterConfirmed(index))
                changes << QStringLiteral("%1: --- → %2").arg(m_texts.parameterName(index), displayText(index, saved));
            else if (const qint32 now = m_session->controllerValue(index).value_or(0); now != saved)
                changes << QStringLiteral("%1: %2 → %3")
                               .arg(m_texts.parameterName(index), displayText(index, now), displayText(index, saved));
        }
        QString text = changes.isEmpty() ? m_texts.caption(Caption::SameAsController) : changes.join(QLatin1Char('\n'));
        if (otherController) {
            text = m_texts.caption(Caption::OtherController) + QLatin1Char('\n') + text;
            QFont font = item->font(ChangesColumn);
            font.setItalic(true);
            for (int column = 0; column < kColumnCount; ++column)
                item->setFont(column, font);
        }
        item->setText(ChangesColumn, text);
    }
    if (points.isEmpty()) {
        auto *item = new QTreeWidgetItem(m_list);
        item->setText(0, m_texts.caption(Caption::NoRestorePoints));
        item->setFirstColumnSpanned(true);
        item->setFlags(Qt::NoItemFlags);
    }
    for (int column = TimeColumn; column < ChangesColumn; ++column)
        m_list->resizeColumnToContents(column);
    updateButton();
}

void RestoreDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // The differences count only confirmed values: have the session confirm them now rather than in
    // the poll's gaps (one request at a time); the list follows as they come.
    if (!m_settling && m_session && m_session->state() == Session::State::Connected)
        m_settling = m_session->verifiedValues([this](const VerifiedValues &) { m_settling = false; });
    refresh();
}

void RestoreDialog::updateButton()
{
    const QTreeWidgetItem *item = m_list->currentItem();
    m_restore->setEnabled(item && item->data(0, kValidRole).toBool() && m_session
                          && m_session->state() == Session::State::Connected);
}

} // namespace oe
