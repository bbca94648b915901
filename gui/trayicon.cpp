#include "gui/trayicon.h"

#include "base/languagetexts.h"
#include "base/textids.h"

#include <QMenu>
#include <QSystemTrayIcon>

namespace {

std::function<bool()>& desktopCheck()
{
    static std::function<bool()> check = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    return check;
}

} // namespace

TrayIcon::TrayIcon(const LanguageTexts& texts, const QIcon& icon, const QString& toolTip, QObject* parent)
    : QObject(parent), m_icon(new QSystemTrayIcon(icon, this)), m_menu(new QMenu)
{
    m_menu->setObjectName(QStringLiteral("trayMenu"));
    struct Entry {
        int message;
        const char* key;
    };
    static constexpr Entry kEntries[] = {{Message::TrayShow, "show"},  {Message::TrayRefresh, "refresh"},
                                         {Message::TraySeparator, ""}, {Message::TrayWeb, "web"},
                                         {Message::TraySeparator, ""}, {Message::TrayClose, "close"}};
    for (const Entry& entry : kEntries) {
        const QString key = QLatin1StringView(entry.key);
        if (key.isEmpty()) {
            m_menu->addSeparator();
            continue;
        }
        QAction* action = m_menu->addAction(texts.message(entry.message));
        action->setData(key);
        connect(action, &QAction::triggered, this, [this, key] { emit chosen(key); });
        // The entry a double click stands for is shown as the default.
        if (key == QLatin1StringView("show")) {
            QFont font = action->font();
            font.setBold(true);
            action->setFont(font);
        }
    }
    m_icon->setContextMenu(m_menu);
    // Some notification areas have a tip of 63 characters at most.
    m_icon->setToolTip(toolTip.left(kToolTipLength));
    connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        // A single click is how most Linux notification areas open a program; a double click elsewhere.
        if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger)
            emit chosen(QStringLiteral("show"));
    });
}

TrayIcon::~TrayIcon()
{
    hide();
    delete m_menu;
}

void TrayIcon::setDesktopCheck(std::function<bool()> check)
{
    desktopCheck() = std::move(check);
}

bool TrayIcon::show()
{
    m_shown = desktopCheck()();
    if (m_shown)
        m_icon->show();
    return m_shown;
}

void TrayIcon::hide()
{
    m_icon->hide();
    m_shown = false;
}

QString TrayIcon::toolTip() const
{
    return m_icon->toolTip();
}
