#include "czncipservice_revulytics.h"

void CZnCIPService_Revulytics::SetEvent(const CZnString&, const CZnString&, const CZnString&, int) {}
void CZnCIPService_Revulytics::SetScreenValue(const CZnString&, const CZnString&, int, const CZnString&) {}
void CZnCIPService_Revulytics::SetScreenValue(const CZnString&, const CZnString&, int, int) {}
void CZnCIPService_Revulytics::SetScreenValue(const CZnString&, const CZnString&, int, double) {}
void CZnCIPService_Revulytics::Send() {}
void CZnCIPService_Revulytics::StartSession() {}
void CZnCIPService_Revulytics::EndSession() {}

CZnString CZnCIPService_Revulytics::GetClientId()
{
    return m_clientId;
}
