#pragma once

#include "helpdocument.h"

#include <QString>

#include <memory>
#include <optional>

class QMessageBox;
class QUrl;
class QWidget;

namespace oe {

// Every modal box and file dialog the window shows goes through here, so tests can script the answers
// instead of clicking modal dialogs.
class Dialogs
{
public:
    virtual ~Dialogs() = default;

    // A box with one OK button. An empty title shows the program's name.
    virtual void message(QWidget *parent, const QString &text, const QString &title) = 0;
    // A box with OK and, unless action is empty, a button for an action the user may take instead;
    // true when the action was chosen. details, when given, is shown below the text.
    virtual bool messageWithAction(QWidget *parent, const QString &text, const QString &title,
                                   const QString &details, const QString &action) = 0;
    // A box with OK and Cancel; true for OK. details, when given, is shown below the text. With
    // cancelIsDefault a stray Enter answers Cancel (the question is about something unusual).
    virtual bool question(QWidget *parent, const QString &text, const QString &title,
                          const QString &details = {}, bool cancelIsDefault = false) = 0;
    // A box with OK and Cancel for a step that cannot be undone: Cancel is the default button, so a
    // stray Enter keeps things as they are. True for OK. details, when given, is shown below the text.
    virtual bool confirm(QWidget *parent, const QString &text, const QString &title, const QString &details = {}) = 0;
    // One line to type (a map's note), filled with initial; empty for Cancel.
    virtual std::optional<QString> textLine(QWidget *parent, const QString &label, const QString &title,
                                            const QString &initial = {}) = 0;
    // File dialogs; an empty result means Cancel. The save dialog appends defaultSuffix (without the
    // dot) to a name typed without one, before it asks whether to replace an existing file.
    virtual QString openFileName(QWidget *parent, const QString &folder, const QString &filter) = 0;
    virtual QString saveFileName(QWidget *parent, const QString &folder, const QString &filter,
                                 const QString &defaultSuffix = {}) = 0;
    // What the desktop can show the manual in (tests answer for a desktop of their choice).
    virtual HelpViewers helpViewers() = 0;
    // Opens a document in the viewer the desktop associates with it; never waits for the viewer. False
    // when the desktop has nothing to open it with.
    virtual bool openDocument(const QUrl &url) = 0;
};

// The OK/Cancel box that question() and confirm() show, not yet shown.
std::unique_ptr<QMessageBox> makeQuestionBox(QWidget *parent, const QString &text, const QString &title,
                                             const QString &details, bool cancelIsDefault);

// The real dialogs: QMessageBox (text as text(), title as windowTitle()) and QFileDialog.
class QtDialogs : public Dialogs
{
public:
    void message(QWidget *parent, const QString &text, const QString &title) override;
    bool messageWithAction(QWidget *parent, const QString &text, const QString &title,
                           const QString &details, const QString &action) override;
    bool question(QWidget *parent, const QString &text, const QString &title,
                  const QString &details = {}, bool cancelIsDefault = false) override;
    bool confirm(QWidget *parent, const QString &text, const QString &title, const QString &details = {}) override;
    std::optional<QString> textLine(QWidget *parent, const QString &label, const QString &title,
                                    const QString &initial = {}) override;
    QString openFileName(QWidget *parent, const QString &folder, const QString &filter) override;
    QString saveFileName(QWidget *parent, const QString &folder, const QString &filter,
                         const QString &defaultSuffix = {}) override;
    HelpViewers helpViewers() override;
    bool openDocument(const QUrl &url) override;
};

} // namespace oe
