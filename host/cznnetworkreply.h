#pragma once

#include <QtGlobal>

class QNetworkReply;

// What the host's network facility calls back when a request it was handed finishes. A receiver that
// goes away while a request of its is still in flight is forgotten, so a late completion never
// reaches it.
class CZnNetworkReply
{
public:
    virtual ~CZnNetworkReply();
    // The reply has finished, successfully or not; its HTTP status code attribute tells which. The
    // facility still uses the reply after this call: release it with deleteLater, never delete.
    virtual void ReplyFinished(QNetworkReply* reply) = 0;
    // Upload progress of the request body.
    virtual void ReplyUploadProgress(qint64 sent, qint64 total) = 0;
};
