#pragma once

#include "dialogs.h"

#include <QStringList>
#include <QUrl>

#include <functional>

// Records every box the window shows and answers from a script, so no test clicks a modal dialog.
class ScriptedDialogs : public oe::Dialogs
{
public:
    struct Shown {
        QString kind; // "message", "action" (a message offering an action) or "question"
        QString text;
        QString title;
        QString details; // a question's text below its main text
        QString action;  // the offered action's button, for "action"
        bool cancelIsDefault = false; // a question whose default button is Cancel
    };
    QList<Shown> shown;
    QList<bool> questionAnswers;   // taken in order; OK when the list runs out
    QList<bool> actionAnswers;     // true takes the offered action; OK when the list runs out
    QList<Shown> confirms;         // the boxes for steps that cannot be undone, kept apart from shown
    QList<bool> confirmAnswers;    // taken in order; OK when the list runs out
    QStringList textLabels;        // the label of each one-line text asked
    QList<std::optional<QString>> textAnswers; // taken in order; OK with the text as offered when the list runs out
    QStringList openAnswers;       // file names for the open dialog; Cancel when the list runs out
    QStringList saveAnswers;
    QStringList openedDocuments;   // local paths
    oe::HelpViewers viewers{false, true}; // a desktop that shows Help.chm
    QStringList fileDialogFolders;
    QStringList saveSuffixes;      // the default suffix each save dialog was given
    std::function<void()> onMessage; // runs inside a message box, as if the user acted meanwhile
    std::function<void()> onQuestion; // likewise inside a question
    std::function<void()> onFileDialog; // likewise inside a file dialog
    std::function<void()> onConfirm;  // and inside a confirmation

    void message(QWidget *, const QString &text, const QString &title) override
    {
        shown.append({QStringLiteral("message"), text, title, QString(), QString()});
        if (onMessage)
            onMessage();
    }
    bool messageWithAction(QWidget *, const QString &text, const QString &title, const QString &details,
                           const QString &action) override
    {
        shown.append({QStringLiteral("action"), text, title, details, action});
        if (onMessage)
            onMessage();
        return !action.isEmpty() && !actionAnswers.isEmpty() && actionAnswers.takeFirst();
    }
    bool question(QWidget *, const QString &text, const QString &title, const QString &details,
                  bool cancelIsDefault) override
    {
        shown.append({QStringLiteral("question"), text, title, details, QString(), cancelIsDefault});
        if (onQuestion)
            onQuestion();
        return questionAnswers.isEmpty() ? true : questionAnswers.takeFirst();
    }
    bool confirm(QWidget *, const QString &text, const QString &title, const QString &details) override
    {
        confirms.append({QStringLiteral("confirm"), text, title, details, QString()});
        if (onConfirm)
            onConfirm();
        return confirmAnswers.isEmpty() ? true : confirmAnswers.takeFirst();
    }
    std::optional<QString> textLine(QWidget *, const QString &label, const QString &, const QString &initial) override
    {
        textLabels.append(label);
        return textAnswers.isEmpty() ? std::optional<QString>(initial) : textAnswers.takeFirst();
    }
    QString openFileName(QWidget *, const QString &folder, const QString &) override
    {
        fileDialogFolders.append(folder);
        if (onFileDialog)
            onFileDialog();
        return openAnswers.isEmpty() ? QString() : openAnswers.takeFirst();
    }
    QString saveFileName(QWidget *, const QString &folder, const QString &, const QString &suffix) override
    {
        fileDialogFolders.append(folder);
        saveSuffixes.append(suffix);
        if (onFileDialog)
            onFileDialog();
        return saveAnswers.isEmpty() ? QString() : saveAnswers.takeFirst();
    }
    oe::HelpViewers helpViewers() override { return viewers; }
    bool openDocument(const QUrl &url) override
    {
        openedDocuments.append(url.toLocalFile());
        return true;
    }

    // The texts up to their first blank line: what a box says before the restore point it names.
    QStringList heads() const
    {
        QStringList out;
        for (const Shown &s : shown)
            out.append(s.text.section(QStringLiteral("\n\n"), 0, 0));
        return out;
    }

    QStringList texts() const
    {
        QStringList out;
        for (const Shown &s : shown)
            out.append(s.text);
        return out;
    }
};
