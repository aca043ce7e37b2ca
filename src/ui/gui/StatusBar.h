#pragma once

#include <QColor>
#include <QObject>

// The status bar colour and theme that the page stack asks for. A desktop window has no
// system status bar, so the values are only kept for the pages that read them back.
//
// Main thread only, like every QML object.
class StatusBar : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool available READ isAvailable CONSTANT)
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY colorChanged)
    Q_PROPERTY(Theme theme READ theme WRITE setTheme NOTIFY themeChanged)

public:
    enum Theme {
        Light = 0,
        Dark = 1,
    };
    Q_ENUM(Theme)

    explicit StatusBar(QObject* parent = nullptr);

    bool isAvailable() const;
    QColor color() const;
    void setColor(const QColor& color);
    Theme theme() const;
    void setTheme(Theme theme);

signals:
    void colorChanged();
    void themeChanged();

private:
    QColor m_color;
    Theme m_theme = Light;
};
