#include "czncipservice_ga.h"

CZnCIPService_GA::CZnCIPService_GA() = default;
CZnCIPService_GA::~CZnCIPService_GA() = default;

void CZnCIPService_GA::SetEvent(const CZnString& category, const CZnString& action, const CZnString& label,
                                int value)
{
    m_record.kind = CZnCIPServiceRecord::RecordEvent;
    m_record.category = category;
    m_record.action = action;
    m_record.label = label;
    m_record.value = value;
}

void CZnCIPService_GA::SetScreenValue(const CZnString& screen, const CZnString&, int index, const CZnString& value)
{
    m_record.kind = CZnCIPServiceRecord::RecordScreenView;
    m_record.category = screen;
    m_record.values.insert(index, value.toQString());
}

void CZnCIPService_GA::SetScreenValue(const CZnString& screen, const CZnString&, int index, int value)
{
    m_record.kind = CZnCIPServiceRecord::RecordScreenView;
    m_record.category = screen;
    m_record.values.insert(index, value);
}

void CZnCIPService_GA::SetScreenValue(const CZnString& screen, const CZnString&, int index, double value)
{
    m_record.kind = CZnCIPServiceRecord::RecordScreenView;
    m_record.category = screen;
    m_record.values.insert(index, value);
}

void CZnCIPService_GA::Send()
{
    Filter(m_record);
    m_record.Reset();
}

void CZnCIPService_GA::StartSession() {}
void CZnCIPService_GA::EndSession() {}

CZnString CZnCIPService_GA::GetClientId()
{
    return CZnString();
}
