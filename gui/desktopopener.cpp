#include "gui/desktopopener.h"

#include "mailbox/mailbox.h"
#include "mailbox/mailboxerror.h"

#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>

void DesktopOpener::open(const DisplayRequest& request)
{
    // A mail's text is not part of what the user is told could not be opened.
    const QString target =
        request.url.isLocalFile() ? request.url.toLocalFile() : request.url.toString(QUrl::RemoveQuery);
    if (!request.program.isEmpty()) {
        // The user's own program lives on after this one ends.
        QStringList arguments = QProcess::splitCommand(request.program);
        const QString program = arguments.isEmpty() ? QString() : arguments.takeFirst();
        if (program.isEmpty() || !QProcess::startDetached(program, arguments << target))
            throw MailboxError(
                MailboxError::NotFound,
                QStringLiteral("The program \"%1\" could not be started").arg(request.program));
        return;
    }
    const QString program = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (program.isEmpty()) {
        if (!QDesktopServices::openUrl(request.url))
            throw MailboxError(MailboxError::NotFound,
                               QStringLiteral("No program could open %1").arg(target));
        return;
    }
    // xdg-open says by its exit status whether it found a handler.
    auto* process = new QProcess(this);
    process->setProgram(program);
    process->setArguments({request.url.toString(QUrl::FullyEncoded)});
    // Its complaints would only repeat the address; the user is told what could not be opened.
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    connect(process, &QProcess::errorOccurred, this, [this, process, target](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        emit failed(target + QStringLiteral(" (") + process->errorString() + u')');
        process->deleteLater();
    });
    connect(process, &QProcess::finished, this,
            [this, process, target](int code, QProcess::ExitStatus status) {
                if (status != QProcess::NormalExit || code != 0)
                    emit failed(target);
                process->deleteLater();
            });
    process->start();
}
