#pragma once

#include "mapfile.h"
#include "parameterset.h"

#include <QObject>

#include <array>

class QAction;
class QMenu;

namespace oe {

class MapCompareDialog;
class MapEditor;
class RestoreDialog;
struct WindowContext;

// The Tools menu's map items: the restore points, the map editor (which needs no controller) and the
// compare of a map with the controller. Nothing here writes to the controller: a restore and the
// editor's load are handed on, through the window's wiring, to the map frame's ordinary load.
class MapTools : public QObject
{
    Q_OBJECT
public:
    MapTools(WindowContext &context, QMenu *toolsMenu);

    void applyCaptions();

    MapEditor *editor() const { return m_editor; }
    RestoreDialog *restoreDialog() const { return m_restore; }
    MapCompareDialog *compareDialog() const { return m_compare; }

    // Restore…, Edit map…, Compare with map… ("menuTools_3" to "menuTools_5").
    std::array<QAction *, 3> menuMapTools{};

signals:
    void loadFileRequested(const QString &path);
    void loadValuesRequested(const oe::ParameterSet &values, const QString &name, const oe::MapOrigin &origin);

private:
    void showRestore();
    void showEditor();
    void compareWithFile();
    void showCompare(const ParameterSet &values, const QString &name, const MapOrigin &origin);

    WindowContext &m_context;
    RestoreDialog *m_restore = nullptr;
    MapEditor *m_editor = nullptr;
    MapCompareDialog *m_compare = nullptr;
    bool m_editorOpening = false; // the editor waits for the controller's confirmed values
};

} // namespace oe
