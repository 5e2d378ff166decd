#include "czncipservice.h"

CZnCIPService::~CZnCIPService() = default;

void CZnCIPService::StopSession(int, const char*) {}
