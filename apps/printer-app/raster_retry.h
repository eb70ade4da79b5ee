// sendUntilDone() of raster.h.
#pragma once

#include "device.h"
#include "status.h"

namespace vrenapp {

template <typename Send>
bool sendUntilDone(pappl_job_t *job, pappl_device_t *device, Send send) {
    Connection &connection = connectionOf(device);
    for (;;) {
        // A closed connection (a new job, or one that failed) is opened again
        // only once the printer answers and reports no error.
        if (!connection.isOpen() && !waitUntilReady(job, connection))
            return false;
        if (send())
            return true;
        papplLogJob(job, PAPPL_LOGLEVEL_WARN, "The printer did not take the whole label; sending it again.");
        connection.close();
        if (!pauseForJob(job, 1))
            return false;
    }
}

}  // namespace vrenapp
