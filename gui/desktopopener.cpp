#include "gui/desktopopener.h"

#include "mailbox/mailbox.h"
#include "mailbox/mailboxerror.h"

#include <QDesktopServices>
#include <QProcess>
#include <QStandardPaths>

void DesktopOpener::open(const DisplayRequest& request)
{
    const QString target = request.url.isLocalFile() ? request.url.toLocalFile() : request.url.toString();
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
    // xdg-open says by its exit status whether it found a handler, and on its error output why not.
    auto* process = new QProcess(this);
    process->setProgram(program);
    process->setArguments({request.url.toString(QUrl::FullyEncoded)});
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setProcessChannelMode(QProcess::SeparateChannels);
    const QString what = QStringLiteral("%1 (%2)").arg(target, program);
    connect(process, &QProcess::errorOccurred, this, [this, process, what](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        emit failed(what + QStringLiteral(": ") + process->errorString());
        process->deleteLater();
    });
    connect(process, &QProcess::finished, this, [this, process, what](int code, QProcess::ExitStatus status) {
        if (status != QProcess::NormalExit || code != 0) {
            const QString said =
                QString::fromLocal8Bit(process->readAllStandardError()).trimmed().section(u'\n', -1);
            emit failed(said.isEmpty() ? what : what + QStringLiteral(": ") + said);
        }
        process->deleteLater();
    });
    process->start();
}
