#include "ui/gui/StatusBar.h"

StatusBar::StatusBar(QObject* parent) : QObject(parent) {}

bool StatusBar::isAvailable() const
{
    return false;
}

QColor StatusBar::color() const
{
    return m_color;
}

void StatusBar::setColor(const QColor& color)
{
    if (color == m_color)
        return;
    m_color = color;
    emit colorChanged();
}

StatusBar::Theme StatusBar::theme() const
{
    return m_theme;
}

void StatusBar::setTheme(Theme theme)
{
    if (theme == m_theme)
        return;
    m_theme = theme;
    emit themeChanged();
}
