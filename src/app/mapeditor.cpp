#include "mapeditor.h"

#include "boxqueue.h"
#include "captiontable.h"
#include "dialogs.h"
#include "mapfile.h"
#include "mapfiledialogs.h"
#include "maptexts.h"
#include "numbertexts.h"
#include "restorepointstep.h"
#include "valuerule.h"
#include "valuetexts.h"

#include <QDateTime>
#include <QDir>
#include <algorithm>
#include <QCloseEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace oe {

namespace {

// What a raw value amounts to where the controller counts in steps of time.
QString unitText(ParameterIndex index, qint32 value)
{
    switch (index) {
    case ParameterIndex::MinPumpCycles:
    case ParameterIndex::MaxPumpCycles:
        return QStringLiteral("× 20 ms = %1").arg(displayText(index, value));
    case ParameterIndex::MinLoadPumpPause:
    case ParameterIndex::MaxLoadPumpPause:
        return QStringLiteral("× 25 ms = %1").arg(displayText(index, value));
    case ParameterIndex::RpmMin: return QStringLiteral("rpm");
    case ParameterIndex::RpmMultiplier: return QStringLiteral("%");
    default: return QString();
    }
}

} // namespace

MapEditor::MapEditor(QString mapsFolder, AppTexts texts, BoxQueue *boxes, QWidget *parent)
    : QWidget(parent, Qt::Window), m_mapsFolder(std::move(mapsFolder)), m_texts(std::move(texts)), m_boxes(boxes)
{
    setObjectName(QStringLiteral("MapEditor"));
    auto *grid = new QGridLayout;
    for (int i = 0; i < kParameterCount; ++i) {
        m_names[size_t(i)] = new QLabel(this);
        m_fields[size_t(i)] = new QLineEdit(this);
        m_fields[size_t(i)]->setObjectName(QStringLiteral("MapValue_%1").arg(i));
        m_fields[size_t(i)]->setMaxLength(12);
        m_fields[size_t(i)]->setAlignment(Qt::AlignRight);
        // Wide enough for any value whatever the notes beside need: a squeezed field showed 1500 as
        // "500".
        m_fields[size_t(i)]->setMinimumWidth(m_fields[size_t(i)]->fontMetrics().horizontalAdvance(QStringLiteral("0000000"))
                                             + 2 * m_fields[size_t(i)]->fontMetrics().averageCharWidth() + 8);
        m_names[size_t(i)]->setBuddy(m_fields[size_t(i)]);
        m_shown[size_t(i)] = new QLabel(this);
        m_notes[size_t(i)] = new QLabel(this);
        m_notes[size_t(i)]->setObjectName(QStringLiteral("MapNote_%1").arg(i));
        m_notes[size_t(i)]->setStyleSheet(QStringLiteral("color: #a04000"));
        grid->addWidget(m_names[size_t(i)], i, 0);
        grid->addWidget(m_fields[size_t(i)], i, 1);
        grid->addWidget(m_shown[size_t(i)], i, 2);
        grid->addWidget(m_notes[size_t(i)], i, 3);
        connect(m_fields[size_t(i)], &QLineEdit::textChanged, this, [this] {
            if (m_settingTexts)
                return;
            judgeFields();
            updateModified();
        });
    }
    grid->setColumnStretch(3, 1);
    m_originLabel = new QLabel(this);
    m_originLabel->setObjectName(QStringLiteral("MapEditorOrigin"));
    m_originLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_noteName = new QLabel(this);
    m_note = new QLineEdit(this);
    m_note->setObjectName(QStringLiteral("MapEditorNote"));
    m_note->setMaxLength(kMapNoteMaxLength);
    m_noteName->setBuddy(m_note);
    connect(m_note, &QLineEdit::textEdited, this, &MapEditor::updateModified);
    auto *noteRow = new QHBoxLayout;
    noteRow->addWidget(m_noteName);
    noteRow->addWidget(m_note, 1);
    m_status = new QLabel(this);
    m_status->setObjectName(QStringLiteral("MapEditorStatus"));
    m_status->setWordWrap(true);
    m_open = new QPushButton(this);
    m_save = new QPushButton(this);
    m_saveAs = new QPushButton(this);
    m_compare = new QPushButton(this);
    m_load = new QPushButton(this);
    m_open->setObjectName(QStringLiteral("MapEditorOpen"));
    m_save->setObjectName(QStringLiteral("MapEditorSave"));
    m_saveAs->setObjectName(QStringLiteral("MapEditorSaveAs"));
    m_compare->setObjectName(QStringLiteral("MapEditorCompare"));
    m_load->setObjectName(QStringLiteral("MapEditorLoad"));
    connect(m_open, &QPushButton::clicked, this, [this] {
        if (!askOnUnsaved())
            return;
        const QString path = askMapToOpen(*m_boxes, this, m_mapsFolder);
        if (!path.isEmpty())
            openFile(path);
    });
    connect(m_save, &QPushButton::clicked, this, &MapEditor::save);
    connect(m_saveAs, &QPushButton::clicked, this, &MapEditor::saveAs);
    connect(m_compare, &QPushButton::clicked, this, [this] {
        if (m_ready)
            emit compareRequested(values(), name(), origin());
    });
    connect(m_load, &QPushButton::clicked, this, [this] {
        if (m_ready)
            emit loadRequested(values(), name(), origin());
    });
    auto *buttons = new QHBoxLayout;
    for (QPushButton *button : {m_open, m_save, m_saveAs})
        buttons->addWidget(button);
    buttons->addStretch(1);
    buttons->addWidget(m_compare);
    buttons->addWidget(m_load);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addWidget(m_originLabel);
    layout->addLayout(noteRow);
    layout->addWidget(m_status);
    layout->addStretch(1);
    layout->addLayout(buttons);
    setConnected(false);
    startEmpty();
    applyCaptions();
}

MapEditor::~MapEditor()
{
    // Closing the editor while a field has the focus ends the field's editing from QWidget's
    // destructor, when this is no longer a MapEditor: nothing may reach judgeFields then.
    for (QLineEdit *field : m_fields)
        field->disconnect(this);
}

void MapEditor::startFrom(const ParameterSet &values, const MapOrigin &origin)
{
    m_origin = origin;
    std::array<QString, kParameterCount> texts;
    for (int i = 0; i < kParameterCount; ++i)
        texts[size_t(i)] = plainNumberText(values[ParameterIndex(i)]);
    m_path.clear();
    setTexts(texts);
}

void MapEditor::startEmpty()
{
    m_origin = {};
    m_path.clear();
    setTexts({});
}

void MapEditor::updateModified()
{
    bool changed = m_note->text() != m_savedNote;
    for (int j = 0; j < kParameterCount; ++j)
        changed = changed || m_fields[size_t(j)]->text().trimmed() != m_savedTexts[size_t(j)];
    setModified(changed);
}

void MapEditor::setTexts(const std::array<QString, kParameterCount> &texts)
{
    m_note->setText(m_origin.note);
    m_savedNote = m_origin.note;
    showOrigin();
    m_savedTexts = texts;
    m_givenTexts = texts;
    m_settingTexts = true;
    for (int i = 0; i < kParameterCount; ++i)
        m_fields[size_t(i)]->setText(texts[size_t(i)]);
    m_settingTexts = false;
    judgeFields();
    setModified(false);
}

ParameterSet MapEditor::values() const
{
    ParameterSet set;
    for (int i = 0; i < kParameterCount; ++i)
        set[ParameterIndex(i)] = m_values[size_t(i)].value_or(0);
    return set;
}

bool MapEditor::openFile(const QString &path)
{
    const std::optional<CheckedMap> map = readCheckedMap(path, m_texts.table(), m_texts.caption(Caption::MapInvalid),
                                                         [this](const QString &text) { tell(text); });
    if (!map)
        return false;
    // A value the file holds beyond a slider stays as it is, said beside it.
    startFrom(map->values, map->origin);
    m_path = path;
    setModified(false);
    return true;
}

bool MapEditor::saveTo(const QString &path)
{
    if (!m_ready)
        return false; // a field empty or refused, or a pair crossed: no map to write
    // The values keep the firmware they were made for; the time is this save's.
    const MapOrigin saved = mapOrigin(m_origin.firmware, QDateTime::currentDateTime(), m_note->text());
    FileProblem problem;
    if (!writeMapFile(path, toMapValues(values()), nullptr, &problem, saved)) {
        tell(m_texts.caption(Caption::MapNotSaved) + QLatin1Char('\n') + QDir::toNativeSeparators(path) + QLatin1Char('\n')
             + fileProblemText(problem, m_texts.table()));
        return false;
    }
    m_path = path;
    m_origin = saved;
    m_savedNote = m_note->text();
    showOrigin();
    for (int i = 0; i < kParameterCount; ++i)
        m_savedTexts[size_t(i)] = m_fields[size_t(i)]->text().trimmed();
    setModified(false);
    return true;
}

MapOrigin MapEditor::origin() const
{
    MapOrigin origin = m_origin;
    origin.note = mapNoteText(m_note->text());
    return origin;
}

void MapEditor::showOrigin()
{
    MapOrigin shown = m_origin;
    shown.note.clear(); // the field below shows it
    m_originLabel->setText(mapOriginText(shown, m_texts.table()));
}

bool MapEditor::save()
{
    return m_path.isEmpty() ? saveAs() : saveTo(m_path);
}

bool MapEditor::saveAs()
{
    const QString path = askMapToSave(*m_boxes, this, m_mapsFolder, m_texts.caption(Caption::MapReplace),
                                      m_texts.caption(Caption::MessageTitle));
    return m_ready && !path.isEmpty() && saveTo(path);
}

void MapEditor::setConnected(bool connected)
{
    m_connected = connected;
    updateButtons();
}

void MapEditor::updateButtons()
{
    m_save->setEnabled(m_ready);
    m_saveAs->setEnabled(m_ready);
    m_compare->setEnabled(m_ready && m_connected);
    m_load->setEnabled(m_ready && m_connected);
}

void MapEditor::applyCaptions()
{
    for (int i = 0; i < kParameterCount; ++i)
        m_names[size_t(i)]->setText(m_texts.parameterName(ParameterIndex(i)));
    judgeFields();
    m_open->setText(m_texts.caption(Caption::EditorOpen));
    m_save->setText(m_texts.caption(Caption::EditorSave));
    m_saveAs->setText(m_texts.caption(Caption::EditorSaveAs));
    m_compare->setText(m_texts.caption(Caption::EditorCompare));
    m_load->setText(m_texts.caption(Caption::EditorLoad));
    m_noteName->setText(m_texts.caption(Caption::EditorNote));
    showOrigin();
    setModified(m_modified);
}

void MapEditor::closeEvent(QCloseEvent *event)
{
    if (askOnUnsaved())
        event->accept();
    else
        event->ignore();
}

void MapEditor::judgeFields()
{
    const ValueWords words{m_texts.parameterName, displayText};
    std::array<QStringList, kParameterCount> notes;
    std::array<bool, kParameterCount> refused{};
    QStringList empty;
    for (int i = 0; i < kParameterCount; ++i) {
        const auto index = ParameterIndex(i);
        const QString text = m_fields[size_t(i)]->text().trimmed();
        m_values[size_t(i)].reset();
        if (text.isEmpty()) {
            empty << m_texts.parameterName(index);
            continue;
        }
        // Alone, as a slider would take it; a value a file or the controller gave may lie beyond
        // the slider while it stands as given.
        ValueContext context;
        context.sliderStep = true;
        context.allowBeyondSlider = text == m_givenTexts[size_t(i)];
        const ValueVerdict verdict = judgeValue(index, text, context);
        const QString why = valueVerdictText(verdict, m_texts.table(), words);
        if (!why.isEmpty())
            notes[size_t(i)] << why;
        // A value the step or rounding would change is not changed here: the technician types it.
        refused[size_t(i)] = !verdict.accepted() || verdict.changed();
        if (!refused[size_t(i)])
            m_values[size_t(i)] = verdict.value;
    }
    // The pairs between the fields as they stand: a crossed pair marks both, whichever came last.
    bool crossed = false;
    for (int i = 0; i < kParameterCount; ++i) {
        const auto index = ParameterIndex(i);
        const std::optional<ParameterIndex> partner = pairPartner(index);
        if (!partner || int(*partner) < i || !m_values[size_t(i)] || !m_values[size_t(*partner)])
            continue;
        if (pairHolds(index, *m_values[size_t(i)], *m_values[size_t(*partner)]))
            continue;
        crossed = true;
        // The rule in the value rule's own words, without a value: nothing was moved.
        const bool lower = pairHolds(index, 0, 1);
        const ParameterIndex bound = lower ? index : *partner, other = lower ? *partner : index;
        QString rule = m_texts.caption(Caption::ValueHeld);
        if (rule.isEmpty())
            rule = builtInValueCaption(Caption::ValueHeld);
        rule = fillPlaceholders(rule, {QString(), m_texts.parameterName(bound), m_texts.parameterName(other)})
                   .section(QStringLiteral(": "), 1);
        const QString text = fillPlaceholders(m_texts.caption(Caption::EditorPairCrossed),
                                              {m_texts.parameterName(index), m_texts.parameterName(*partner), rule});
        for (const ParameterIndex each : {index, *partner}) {
            notes[size_t(each)] << text;
            refused[size_t(each)] = true;
        }
    }
    for (int i = 0; i < kParameterCount; ++i) {
        const auto index = ParameterIndex(i);
        const QString note = notes[size_t(i)].join(QStringLiteral("; "));
        m_notes[size_t(i)]->setText(note);
        // Refused or crossed in red; what only informs (a value beyond its slider) in orange.
        m_notes[size_t(i)]->setStyleSheet(refused[size_t(i)] ? QStringLiteral("color: #c00000")
                                                             : QStringLiteral("color: #a04000"));
        m_fields[size_t(i)]->setStyleSheet(refused[size_t(i)] ? QStringLiteral("QLineEdit { background: #ffe0e0; }")
                                                              : QString());
        m_fields[size_t(i)]->setAccessibleDescription(note);
        m_shown[size_t(i)]->setText(m_values[size_t(i)] ? unitText(index, *m_values[size_t(i)]) : QString());
    }
    m_ready = empty.isEmpty() && !crossed
              && std::none_of(refused.begin(), refused.end(), [](bool r) { return r; });
    m_status->setText(empty.isEmpty() ? QString()
                                      : fillPlaceholders(m_texts.caption(Caption::EditorEmpty),
                                                         {empty.join(QStringLiteral(", "))}));
    updateButtons();
}

void MapEditor::setModified(bool modified)
{
    m_modified = modified;
    setWindowTitle(QStringLiteral("%1 – %2[*]").arg(m_texts.caption(Caption::EditorTitle), name()));
    setWindowModified(modified);
}

QString MapEditor::name() const
{
    return m_path.isEmpty() ? QStringLiteral("*.map") : QFileInfo(m_path).fileName();
}

bool MapEditor::askOnUnsaved()
{
    if (!m_modified)
        return true;
    BoxQueue::Scope scope(*m_boxes);
    return m_boxes->dialogs().confirm(this, m_texts.caption(Caption::EditorUnsaved),
                                      m_texts.caption(Caption::MessageTitle));
}

void MapEditor::tell(const QString &text)
{
    BoxQueue::Scope scope(*m_boxes);
    m_boxes->dialogs().message(this, text, m_texts.caption(Caption::MessageTitle));
}

} // namespace oe
