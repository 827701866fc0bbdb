#pragma once

#include "restorepointstep.h"
#include "session.h"
#include "valuerule.h"

#include <QObject>
#include <QScopeGuard>

#include <functional>

class QGroupBox;
class QPushButton;

namespace oe {

struct WindowContext;

// The map frame: saving the parameters the controller holds, and loading a file into the controller
// after the whole file was checked and the user saw what it changes.
class MapPanel : public QObject
{
    Q_OBJECT
public:
    MapPanel(WindowContext &context, QGroupBox *frame);

    void resetView();
    void applyCaptions();

    // The ordinary load for a file chosen elsewhere (a restore point): the file is read and checked,
    // then loaded as by Load Map.
    void loadFile(const QString &path);
    // The ordinary load of values: the controller's values are saved as a restore point (unknown ones
    // read first), the question shows the changes and the restore point, then the writes, the
    // read-back and the notice, which offers to undo the load. notes go before the changes.
    // check: what the value rule found in a file's values (rounded, beyond a slider), said per line.
    // origin: where the map says it came from, shown in the question; a map from another firmware
    // than the controller's says so there and makes Cancel the default.
    void loadValues(const ParameterSet &values, const QStringList &notes = {}, const MapCheck &check = {},
                    const MapOrigin &origin = {});
    // Loads a restore point as soon as no sequence runs (an Undo asked for while one does).
    void restoreWhenReady(const QString &path);

    QPushButton *cmdLoadMap = nullptr, *cmdSaveMap = nullptr;

signals:
    // The map dialogs keep the poll quiet while they are open, and let it go when they close.
    void pollHeld(bool held);
    // A line for over the logo (where a saved map went).
    void note(const QString &text);

private:
    // Holds the poll until the guard goes; nested holds let it go with the outermost.
    QScopeGuard<std::function<void()>> holdPoll();
    void onSessionState(Session::State state);
    void onLoadMapClicked();
    void onSaveMapClicked();
    void onVerifiedForSave(const VerifiedValues &values);
    void onMapLoaded(const MapLoadResult &result);
    void askAndLoad(const ParameterSet &values, const QStringList &notes, const MapCheck &check,
                    const MapOrigin &origin, const RestorePointOutcome &point);
    // The map buttons take input while connected, no sequence running and nothing being prepared.
    void updateButtons();
    QString mapsFolder();

    WindowContext &m_context;
    Session &m_session;
    QGroupBox *m_frame;
    bool m_mapsProblemShown = false;
    bool m_saveWaiting = false; // Save waits for the values being verified
    // A load is taking its restore point: no second one starts meanwhile.
    bool m_preparing = false;
    RestorePointOutcome m_loadPoint; // of the load on the wire
    QString m_pendingRestore;
    int m_pollHolds = 0;
};

} // namespace oe
