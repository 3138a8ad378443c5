#include "app/dictation/Clipboard.hpp"

#include <QClipboard>
#include <QGuiApplication>

namespace parlino {

void SystemClipboard::clearContents()
{
    QGuiApplication::clipboard()->clear();
}

void SystemClipboard::setText(const QString& text)
{
    QGuiApplication::clipboard()->setText(text);
}

QString SystemClipboard::text() const
{
    return QGuiApplication::clipboard()->text();
}

} // namespace parlino
