#include "parameterset.h"

namespace oe {

qint32 &ParameterSet::operator[](ParameterIndex index)
{
    switch (index) {
    case ParameterIndex::MinPumpCycles: return MinPumpCycles;
    case ParameterIndex::MaxPumpCycles: return MaxPumpCycles;
    case ParameterIndex::RpmMin: return RpmMin;
    case ParameterIndex::TinjMin: return TinjMin;
    case ParameterIndex::TinjMax: return TinjMax;
    case ParameterIndex::MinLoadPumpPause: return MinLoadPumpPause;
    case ParameterIndex::MaxLoadPumpPause: return MaxLoadPumpPause;
    case ParameterIndex::RpmMultiplier: return RpmMultiplier;
    }
    Q_UNREACHABLE();
}

qint32 ParameterSet::operator[](ParameterIndex index) const
{
    return const_cast<ParameterSet &>(*this)[index];
}

} // namespace oe
