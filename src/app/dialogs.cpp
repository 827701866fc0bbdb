#include "dialogs.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QGuiApplication>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QUrl>

namespace oe {

namespace {
QString titleOrProgramName(const QString &title)
{
    return title.isEmpty() ? QGuiApplication::applicationDisplayName() : title;
}
} // namespace

void QtDialogs::message(QWidget *parent, const QString &text, const QString &title)
{
    QMessageBox box(QMessageBox::NoIcon, titleOrProgramName(title), text, QMessageBox::Ok, parent);
    box.exec();
}

bool QtDialogs::messageWithAction(QWidget *parent, const QString &text, const QString &title,
                                  const QString &details, const QString &action)
{
    QMessageBox box(QMessageBox::NoIcon, titleOrProgramName(title), text, QMessageBox::Ok, parent);
    box.setInformativeText(details);
    QPushButton *actionButton = action.isEmpty() ? nullptr : box.addButton(action, QMessageBox::ActionRole);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
    return actionButton && box.clickedButton() == actionButton;
}

std::unique_ptr<QMessageBox> makeQuestionBox(QWidget *parent, const QString &text, const QString &title,
                                             const QString &details, bool cancelIsDefault)
{
    auto box = std::make_unique<QMessageBox>(QMessageBox::NoIcon, titleOrProgramName(title), text,
                                             QMessageBox::Ok | QMessageBox::Cancel, parent);
    box->setInformativeText(details);
    box->setDefaultButton(cancelIsDefault ? QMessageBox::Cancel : QMessageBox::Ok);
    return box;
}

bool QtDialogs::question(QWidget *parent, const QString &text, const QString &title, const QString &details,
                         bool cancelIsDefault)
{
    return makeQuestionBox(parent, text, title, details, cancelIsDefault)->exec() == QMessageBox::Ok;
}

bool QtDialogs::confirm(QWidget *parent, const QString &text, const QString &title, const QString &details)
{
    return makeQuestionBox(parent, text, title, details, true)->exec() == QMessageBox::Ok;
}

std::optional<QString> QtDialogs::textLine(QWidget *parent, const QString &label, const QString &title,
                                           const QString &initial)
{
    bool ok = false;
    const QString text = QInputDialog::getText(parent, title, label, QLineEdit::Normal, initial, &ok);
    return ok ? std::optional<QString>(text) : std::nullopt;
}

QString QtDialogs::openFileName(QWidget *parent, const QString &folder, const QString &filter)
{
    return QFileDialog::getOpenFileName(parent, QString(), folder, filter);
}

QString QtDialogs::saveFileName(QWidget *parent, const QString &folder, const QString &filter,
                                const QString &defaultSuffix)
{
    // The static helper has no default suffix: it would ask about "a" and then we would write "a.map".
    QFileDialog dialog(parent, QString(), folder, filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(defaultSuffix);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return dialog.selectedFiles().value(0);
}

HelpViewers QtDialogs::helpViewers()
{
    return desktopHelpViewers();
}

bool QtDialogs::openDocument(const QUrl &url)
{
#ifdef Q_OS_WIN
    // A page inside a compiled help file: the shell opens only the file, at its first page; the
    // Windows help viewer takes "file::/page".
    if (url.isLocalFile() && url.hasFragment())
        return QProcess::startDetached(QStringLiteral("hh.exe"),
                                       {QDir::toNativeSeparators(url.toLocalFile()) + QStringLiteral("::/")
                                        + url.fragment()});
#endif
    return QDesktopServices::openUrl(url);
}

} // namespace oe
