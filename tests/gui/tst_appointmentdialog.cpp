#include "base/languagetexts.h"
#include "base/textids.h"
#include "gui/appointmentdialog.h"
#include "mailbox/foldermailbox.h"
#include "tests/support/fixtures.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

class TestAppointmentDialog : public QObject {
    Q_OBJECT

private slots:
    // The dialog opens at 14:38 on 14:35 for both ends; the lists and a typed time change only the side being
    // edited, and Enter writes what is shown. A refusal says why, writes nothing and keeps the times, even
    // once the dialog is active again after the message.
    void createsWhatIsShown_data()
    {
        // A side chosen for 9 or 16 and 30 in the lists, or the end typed; the message; what is written.
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QStringList>("written");
        QTest::newRow("end from the lists") << "endSelector" << QString() << QStringList{"143500", "163000"};
        QTest::newRow("end typed") << "17:20" << QString() << QStringList{"143500", "172000"};
        QTest::newRow("time not valid")
            << "25:99" << m_texts.message(Message::AppointmentTimeInvalid) + "25:99" << QStringList();
        QTest::newRow("end before start")
            << "09:00" << m_texts.message(Message::AppointmentEndBeforeStart) << QStringList();
    }
    void createsWhatIsShown()
    {
        QFETCH(QString, action);
        QFETCH(QString, message);
        QFETCH(QStringList, written);
        QTemporaryDir dir;
        copyTree(ROTAVINE_TEST_DATA "/appointment", dir.path());
        FolderMailbox::Options options;
        options.root = dir.path();
        FolderMailbox mailbox(options);
        AppointmentDialog dialog(m_texts, mailbox);
        dialog.setClock([] { return QDateTime(QDate(2026, 11, 20), QTime(14, 38)); });
        QStringList messages;
        QWidget other;
        dialog.setMessageHandler([&](MessageIcon, const QString& text) {
            messages << text;
            other.show();
            QVERIFY(QTest::qWaitForWindowActive(&other));
            dialog.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&dialog));
        });
        dialog.setAppointmentFor("Chiara Rossi <chiara@example.org>", {}, QDate(2026, 12, 3));
        dialog.open();
        QCOMPARE(dialog.windowTitle(), "Chiara Rossi");
        auto* endEdit = dialog.findChild<QLineEdit*>("endTimeEdit");
        QCOMPARE(dialog.findChild<QLineEdit*>("startTimeEdit")->text() + endEdit->text(), "14:3514:35");
        if (action.endsWith("Selector")) {
            QTest::mouseClick(dialog.findChild<QPushButton*>(action), Qt::LeftButton);
            for (const auto& [name, row] :
                 {std::pair("hourList", action == "endSelector" ? 16 : 9), {"minuteList", 6}}) {
                auto* list = dialog.findChild<QListWidget*>(name);
                QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                                  list->visualItemRect(list->item(row)).center());
            }
        }
        else {
            endEdit->clear();
            QTest::keyClicks(endEdit, action);
        }
        QTest::keyClick(dialog.findChild<QLineEdit*>("subjectEdit"), Qt::Key_Return);
        QCOMPARE(dialog.result(), int(written.isEmpty() ? QDialog::Rejected : QDialog::Accepted));
        QCOMPARE(messages, message.isEmpty() ? QStringList() : QStringList{message});
        // A refused appointment leaves the dialog open, with the times as they were.
        QCOMPARE(dialog.isVisible() && endEdit->text() == action, !message.isEmpty());
        const auto files = QDir(dir.path() + "/calendars/chiara@example.org").entryInfoList({"*.ics"});
        QCOMPARE(files.size(), written.isEmpty() ? 0 : 1);
        QFile file(files.value(0).filePath());
        const QByteArray item = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        const QByteArray times = "T" + written.join("\r\nDTEND;TZID=Europe/Paris:20261203T").toLatin1();
        QVERIFY2(written.isEmpty() || item.contains("DTSTART;TZID=Europe/Paris:20261203" + times), item);
    }

private:
    const LanguageTexts m_texts = LanguageTexts::load(ROTAVINE_SOURCE_DATA "/Language", "English");
};

QTEST_MAIN(TestAppointmentDialog)
#include "tst_appointmentdialog.moc"
