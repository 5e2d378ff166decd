#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QUrlQuery>

// A queued hit taken apart again, so tests compare item by item rather than whole strings.
using HitItems = QList<QPair<QString, QString>>;

inline HitItems decodeHit(const QString& body)
{
    return QUrlQuery(body).queryItems(QUrl::FullyDecoded);
}

inline QString hitValue(const HitItems& items, const QString& key)
{
    for (const auto& item : items)
    {
        if (item.first == key)
            return item.second;
    }
    return QString();
}
