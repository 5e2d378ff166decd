#include "cznvorinqtgate.h"

CZnVORINQTGate* GetZnVORINQTGate()
{
    static CZnVORINQTGate gate;
    return &gate;
}
