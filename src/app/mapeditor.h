#pragma once

#include "apptexts.h"
#include "mapfile.h"
#include "parameterset.h"

#include <QWidget>

#include <array>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace oe {

class BoxQueue;

// A map at the desk: the eight values in the controller's units (as a map file holds them), opened
// from and saved to *.map files, with unsaved changes marked. A field holds what the technician typed:
// the value rule judges it alone as it is typed (a number, the wire, the slider's range and step; a
// value the file opened held beyond a slider stands, said beside it), and each pair is judged between
// the fields as they stand, whatever the order they were typed in. Nothing is moved to another value:
// a refused field or a crossed pair is marked, and Save, Compare and Load wait until every field
// holds a value that stands. It needs no controller; while one is connected it can compare with it
// and load into it, both handed to the main window's ordinary paths.
class MapEditor : public QWidget
{
    Q_OBJECT
public:
    // Its boxes go through the window's queue, parented to the editor.
    MapEditor(QString mapsFolder, AppTexts texts, BoxQueue *boxes, QWidget *parent = nullptr);
    ~MapEditor() override;

    // Starts a map from these values, not yet saved anywhere; origin: where they came from (the
    // controller's firmware), kept when the map is saved.
    void startFrom(const ParameterSet &values, const MapOrigin &origin = {});
    // Starts a map with every field empty, to be filled in.
    void startEmpty();
    // Reads a map file; a refused file is told and changes nothing. False then.
    bool openFile(const QString &path);
    // Writes the values to path; a failure is told. False then.
    bool saveTo(const QString &path);
    // Save, or Save as… while the map has no file.
    bool save();
    bool saveAs();

    // The values the fields hold; meaningful only while ready().
    ParameterSet values() const;
    // Every field holds a value that stands and no pair is crossed: the map may be saved.
    bool ready() const { return m_ready; }
    // Where the map came from, with the note as typed in the editor.
    MapOrigin origin() const;
    QString filePath() const { return m_path; }
    bool modified() const { return m_modified; }
    // Compare and Load are offered while a controller is connected.
    void setConnected(bool connected);
    void applyCaptions();

    QLineEdit *field(ParameterIndex index) const { return m_fields[size_t(index)]; }
    QLabel *note(ParameterIndex index) const { return m_notes[size_t(index)]; }
    QLabel *status() const { return m_status; }
    QPushButton *compareButton() const { return m_compare; }
    QPushButton *loadButton() const { return m_load; }
    QLineEdit *noteField() const { return m_note; }
    QLabel *originLabel() const { return m_originLabel; }

signals:
    void compareRequested(const oe::ParameterSet &values, const QString &name, const oe::MapOrigin &origin);
    void loadRequested(const oe::ParameterSet &values, const QString &name, const oe::MapOrigin &origin);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // Sets every field's text as the map holds it: the texts a file or the controller gave.
    void setTexts(const std::array<QString, kParameterCount> &texts);
    // Judges every field alone, then the pairs between them; marks what does not stand and enables
    // the buttons that need a whole map.
    void judgeFields();
    void updateButtons();
    void showOrigin();
    // Any field or the note differs from what was opened or last saved.
    void updateModified();
    void setModified(bool modified);
    QString name() const;
    bool askOnUnsaved();
    void tell(const QString &text);

    const QString m_mapsFolder;
    AppTexts m_texts;
    BoxQueue *m_boxes;
    // Each field's value while it stands alone.
    std::array<std::optional<qint32>, kParameterCount> m_values{};
    // The texts as opened or last saved (what "modified" is measured against), and as a file or the
    // controller gave them (such a value may lie beyond its slider).
    std::array<QString, kParameterCount> m_savedTexts{};
    std::array<QString, kParameterCount> m_givenTexts{};
    QString m_path;
    MapOrigin m_origin; // as opened or started; the note field holds the note
    QString m_savedNote;
    bool m_modified = false;
    bool m_ready = false;
    bool m_connected = false;
    bool m_settingTexts = false;
    std::array<QLabel *, kParameterCount> m_names{};
    std::array<QLineEdit *, kParameterCount> m_fields{};
    std::array<QLabel *, kParameterCount> m_shown{};
    std::array<QLabel *, kParameterCount> m_notes{};
    QLabel *m_originLabel = nullptr, *m_noteName = nullptr;
    QLineEdit *m_note = nullptr;
    QLabel *m_status = nullptr;
    QPushButton *m_open = nullptr, *m_save = nullptr, *m_saveAs = nullptr, *m_compare = nullptr,
                *m_load = nullptr;
};

} // namespace oe
