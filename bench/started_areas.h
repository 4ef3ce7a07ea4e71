// Started data areas of every controller the host shows, as the benchmarks that time library work on
// a whole host set them up outside the timed part. Root only (the host is simulated).
#ifndef BENCH_STARTED_AREAS_H
#define BENCH_STARTED_AREAS_H

#include <vector>

#include "ppavl_discovery.h"
#include "ppavl_platform.h"
#include "ptelm.h"

namespace bench_sim {

struct StartedAreas {
    DeviceDescriptorList list = nullptr;
    std::vector<PCDA> areas;
    StartedAreas() {
        InitializeTelmar("0x6D2A");
        InitializePavlin("0x6D2A");
        list = PN_CreateControllerDescriptorList();
        DeviceDescriptorListIterator it = PN_CreateDeviceListIterator(list);
        for (; !PN_IsDeviceListIteratorEnd(it); PN_MoveDeviceListIteratorNext(it)) {
            PCDA area = VK_malloc(VK_GetCDASize());
            if (VK_InitializeCDA(area, PN_GetDeviceListItemAt(it)) != kInitializeSucceeded) {
                VK_free(area);
                break;
            }
            areas.push_back(area);
        }
        PN_DestroyDeviceListIterator(it);
    }
    ~StartedAreas() {
        for (PCDA area : areas) {
            VK_UnInitializeCDA(area);
            VK_free(area);
        }
        PN_DestroyDeviceDescriptorList(list);
    }
    StartedAreas(const StartedAreas&) = delete;
    StartedAreas& operator=(const StartedAreas&) = delete;
    // Drops everything cached, so the next timed run reads the controllers afresh.
    void Restart() {
        for (PCDA area : areas) {
            VK_ReInitializeCDA(area);
        }
    }
};

} // namespace bench_sim

#endif
