#pragma once

#include "apptexts.h"
#include "mapfile.h"
#include "parameterset.h"

#include <QWidget>

#include <array>

class QLabel;
class QLineEdit;
class QPushButton;

namespace oe {

class BoxQueue;

// A map at the desk: the eight values in the controller's units (as a map file holds them), each
// judged by the value rule as the sliders are (their step, their range, the pairs against the other
// values of this map), opened from and saved to *.map files, with unsaved changes marked. It needs
// no controller; while one is connected it can compare with it and load into it, both handed to the
// main window's ordinary paths.
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
    // Reads a map file; a refused file is told and changes nothing. False then.
    bool openFile(const QString &path);
    // Writes the values to path; a failure is told. False then.
    bool saveTo(const QString &path);
    // Save, or Save as… while the map has no file.
    bool save();
    bool saveAs();

    ParameterSet values() const { return m_values; }
    // Where the map came from, with the note as typed in the editor.
    MapOrigin origin() const;
    QString filePath() const { return m_path; }
    bool modified() const { return m_modified; }
    // Compare and Load are offered while a controller is connected.
    void setConnected(bool connected);
    void applyCaptions();

    QLineEdit *field(ParameterIndex index) const { return m_fields[size_t(index)]; }
    QLabel *note(ParameterIndex index) const { return m_notes[size_t(index)]; }
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
    // The typed text of a row, judged; the row then shows what the map holds and why.
    void takeField(ParameterIndex index);
    void showValue(ParameterIndex index);
    void showOrigin();
    void setModified(bool modified);
    QString name() const;
    bool askOnUnsaved();
    void tell(const QString &text);

    const QString m_mapsFolder;
    AppTexts m_texts;
    BoxQueue *m_boxes;
    ParameterSet m_values;
    QString m_path;
    MapOrigin m_origin; // as opened or started; the note field holds the note
    bool m_modified = false;
    std::array<QLabel *, kParameterCount> m_names{};
    std::array<QLineEdit *, kParameterCount> m_fields{};
    std::array<QLabel *, kParameterCount> m_shown{};
    std::array<QLabel *, kParameterCount> m_notes{};
    QLabel *m_originLabel = nullptr, *m_noteName = nullptr;
    QLineEdit *m_note = nullptr;
    QPushButton *m_open = nullptr, *m_save = nullptr, *m_saveAs = nullptr, *m_compare = nullptr,
                *m_load = nullptr;
};

} // namespace oe
