#pragma once

#include "cznstring.h"

#include <QByteArray>
#include <QList>
#include <QNetworkRequest>
#include <QPair>

class CZnNetworkReply;

// One request for the host's network facility, filled in by the caller and copied by the facility.
struct CZnNetworkRequest
{
    // Told when the reply finishes; may be null when nobody needs to know.
    CZnNetworkReply* receiver = nullptr;
    QNetworkRequest request;
    // Set on the request after its own headers, replacing a header of the same name.
    QList<QPair<CZnString, QByteArray>> rawHeaders;
    // How many redirects the facility follows before it reports the redirect itself; 0 follows none.
    int maxRedirects = 0;
    // True: PostRequest returns only once the reply has finished (a local event loop runs meanwhile).
    bool synchronous = false;
    // True: the facility releases the reply (deleteLater) right after the receiver was told, so a
    // caller that keeps no reply leaks none.
    bool releaseReply = true;
    QByteArray body;
};
