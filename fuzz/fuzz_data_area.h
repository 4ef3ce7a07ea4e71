// The data area a getter fuzz target fills from its input: one zeroed area for the process, with no
// lock and no controller behind it.
#ifndef FUZZ_DATA_AREA_H
#define FUZZ_DATA_AREA_H

#include <cstdlib>

#include "ptelm.h"
#include "telm_private.h"

inline _CDA* DataArea() {
    static _CDA* area = static_cast<_CDA*>(std::calloc(1, VK_GetCDASize()));
    return area;
}

#endif
