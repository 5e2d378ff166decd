#include "cznnetworkreply.h"

#include "cznsystemservices.h"

CZnNetworkReply::~CZnNetworkReply()
{
    GetZnSystemServices()->GetNetworkManager()->Detach(this);
}
