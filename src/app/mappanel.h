#pragma once

#include "session.h"

#include <QObject>

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

    QPushButton *cmdLoadMap = nullptr, *cmdSaveMap = nullptr;

private:
    void onSessionState(Session::State state);
    void onLoadMapClicked();
    void onSaveMapClicked();
    void onVerifiedForSave(const VerifiedValues &values);
    void onMapLoaded(const MapLoadResult &result);
    QString mapsFolder();

    WindowContext &m_context;
    Session &m_session;
    QGroupBox *m_frame;
    bool m_mapsProblemShown = false;
    bool m_saveWaiting = false; // Save waits for the values being verified
};

} // namespace oe
