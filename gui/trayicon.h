#pragma once

#include <QObject>
#include <QString>

#include <functional>

class LanguageTexts;
class QIcon;
class QMenu;
class QSystemTrayIcon;

// The program's icon in the desktop's notification area, with its menu: show the window, refresh the view,
// the program's help page, close. The menu's entries carry keys ("show", "refresh", "web", "close"; "" for a
// separator); choosing one, or double-clicking the icon ("show"), is told through `chosen`.
class TrayIcon : public QObject {
    Q_OBJECT

public:
    static constexpr int kToolTipLength = 63;

    TrayIcon(const LanguageTexts& texts, const QIcon& icon, const QString& toolTip, QObject* parent);
    ~TrayIcon() override;

    // Whether the desktop has a notification area to show icons in; tests put their own answer in its
    // place.
    static void setDesktopCheck(std::function<bool()> check);

    // Puts the icon in the notification area when the desktop has one; false when it has none.
    bool show();
    void hide();
    // The icon is in the notification area: the window may hide when minimised, the icon brings it back.
    bool isShown() const { return m_shown; }

    QString toolTip() const;
    QMenu* menu() const { return m_menu; }
    QSystemTrayIcon* systemIcon() const { return m_icon; }

signals:
    void chosen(const QString& key);

private:
    QSystemTrayIcon* m_icon;
    QMenu* m_menu;
    bool m_shown = false;
};
