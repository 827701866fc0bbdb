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
        const auto index = ParameterIndex(i);
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
        connect(m_fields[size_t(i)], &QLineEdit::editingFinished, this, [this, index] { takeField(index); });
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
    connect(m_note, &QLineEdit::textEdited, this, [this] { setModified(true); });
    auto *noteRow = new QHBoxLayout;
    noteRow->addWidget(m_noteName);
    noteRow->addWidget(m_note, 1);
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
    connect(m_compare, &QPushButton::clicked, this, [this] { emit compareRequested(m_values, name(), origin()); });
    connect(m_load, &QPushButton::clicked, this, [this] { emit loadRequested(m_values, name(), origin()); });
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
    layout->addStretch(1);
    layout->addLayout(buttons);
    setConnected(false);
    applyCaptions();
}

MapEditor::~MapEditor()
{
    // Closing the editor while a field has the focus ends the field's editing from QWidget's
    // destructor, when this is no longer a MapEditor: nothing may reach takeField then.
    for (QLineEdit *field : m_fields)
        field->disconnect(this);
}

void MapEditor::startFrom(const ParameterSet &values, const MapOrigin &origin)
{
    m_values = values;
    m_origin = origin;
    m_note->setText(origin.note);
    showOrigin();
    m_path.clear();
    for (int i = 0; i < kParameterCount; ++i) {
        m_notes[size_t(i)]->clear();
        showValue(ParameterIndex(i));
    }
    setModified(false);
}

bool MapEditor::openFile(const QString &path)
{
    const std::optional<CheckedMap> map = readCheckedMap(path, m_texts.table(), m_texts.caption(Caption::MapInvalid),
                                                         [this](const QString &text) { tell(text); });
    if (!map)
        return false;
    startFrom(map->values, map->origin);
    m_path = path;
    // A value the file holds beyond a slider stays as it is, said beside it.
    for (int i = 0; i < kParameterCount; ++i)
        m_notes[size_t(i)]->setText(valueVerdictText(map->check.values[size_t(i)], m_texts.table(),
                                                     {m_texts.parameterName, displayText}));
    setModified(false);
    return true;
}

bool MapEditor::saveTo(const QString &path)
{
    // The values keep the firmware they were made for; the time is this save's.
    const MapOrigin saved = mapOrigin(m_origin.firmware, QDateTime::currentDateTime(), m_note->text());
    FileProblem problem;
    if (!writeMapFile(path, toMapValues(m_values), nullptr, &problem, saved)) {
        tell(m_texts.caption(Caption::MapNotSaved) + QLatin1Char('\n') + QDir::toNativeSeparators(path) + QLatin1Char('\n')
             + fileProblemText(problem, m_texts.table()));
        return false;
    }
    m_path = path;
    m_origin = saved;
    showOrigin();
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
    return !path.isEmpty() && saveTo(path);
}

void MapEditor::setConnected(bool connected)
{
    m_compare->setEnabled(connected);
    m_load->setEnabled(connected);
}

void MapEditor::applyCaptions()
{
    for (int i = 0; i < kParameterCount; ++i) {
        m_names[size_t(i)]->setText(m_texts.parameterName(ParameterIndex(i)));
        showValue(ParameterIndex(i));
    }
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

void MapEditor::takeField(ParameterIndex index)
{
    QLineEdit *field = m_fields[size_t(index)];
    const QString typed = field->text();
    if (typed.trimmed() == plainNumberText(m_values[index]))
        return; // left as it was: the note about it stands
    ValueContext context;
    context.sliderStep = true;
    context.pairCheck = true;
    if (const auto partner = pairPartner(index))
        context.partnerValue = m_values[*partner];
    const ValueVerdict verdict = judgeValue(index, typed, context);
    m_notes[size_t(index)]->setText(
        valueVerdictText(verdict, m_texts.table(), {m_texts.parameterName, displayText}));
    if (verdict.accepted() && verdict.value != m_values[index]) {
        m_values[index] = verdict.value;
        setModified(true);
    }
    showValue(index);
}

void MapEditor::showValue(ParameterIndex index)
{
    m_fields[size_t(index)]->setText(plainNumberText(m_values[index]));
    m_shown[size_t(index)]->setText(unitText(index, m_values[index]));
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
