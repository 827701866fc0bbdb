#pragma once

#include "captiontable.h"
#include "configfile.h"
#include "parameterset.h"
#include "restorepoints.h"

#include <QString>

#include <functional>

class QWidget;

namespace oe {

class BoxQueue;
class FocusGuard;
class Recorder;
class Session;

// What every part of the window shares and none of them owns: the program folder and config.ini,
// the captions in use, the session, the recorder and the one-box-at-a-time queue. The window fills
// it; the parts read it, and only the language menu changes the captions.
struct WindowContext {
    QString programFolder;
    // Where config.ini, Maps/ and Recordings/ live: the program folder, or on Windows the user's own
    // folder when the program folder cannot be written.
    QString dataFolder;
    QWidget *window = nullptr; // the parent of every box
    Session *session = nullptr;
    BoxQueue *boxes = nullptr;
    Recorder *recorder = nullptr;
    FocusGuard *focus = nullptr;
    ConfigLineArray configLines;
    CaptionTable captions;
    QString builtInCode; // the language of the built-in texts that fill entries the file lacks
    // The decimal separator of the interface's language (not the desktop's): what the value editor
    // takes as one.
    QChar decimalSeparator = u'.';
    // The controller of this session as it identified itself: its port and firmware name the restore
    // points taken of it, and the Restore… list marks those of another.
    RestorePointOrigin controller;
    // The name a technician knows a parameter by, as the sliders' frames show it.
    std::function<QString(ParameterIndex)> parameterName;

    // <dataFolder>/Maps: where the map dialogs open and the restore points go (oe-cli's too).
    QString mapsFolder() const;
    // The text of a caption-table entry; the messages have a built-in text for when no language file
    // could fill them, so no box is ever shown blank.
    QString caption(int entry) const;
    // A menu's or menu item's text with its access key, else its plain caption (an older language
    // file without the keyed entries).
    QString menuText(int keyed, int plain) const;
    // A message box with the usual title, through the queue.
    void tell(const QString &text) const;
    // "Tinj Max: 9000 → 14": one parameter going from one shown value to another.
    QString changeLine(ParameterIndex index, const QString &from, const QString &to) const;

    // config.ini in the data folder. readConfig fills configLines with defaults where the file is
    // missing, unreadable or short; writeConfig replaces the file atomically.
    void readConfig();
    bool writeConfig(QString *error = nullptr) const;
    // writeConfig, and when it fails a box that says so, where and why.
    bool saveConfig() const;
};

} // namespace oe
