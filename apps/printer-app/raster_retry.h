// sendUntilDone() of raster.h.
#pragma once

#include "VrenLabelAPI.h"
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
        // Written is not printed: a printer that closed the connection may
        // have left the bytes in the socket's buffer unread. Only a status
        // answer after the print command confirms the label.
        const int status = send() ? CheckPrinterStatus() : VREN_E_WRITE;
        if (status >= 0) {
            showStatus(papplJobGetPrinter(job), status);
            // An error after the label (paper ran out): the next one waits.
            if (status > 0)
                connection.close();
            return true;
        }
        papplLogJob(job, PAPPL_LOGLEVEL_WARN, "The printer did not confirm the label; sending it again.");
        connection.close();
        if (!pauseForJob(job, 1))
            return false;
    }
}

}  // namespace vrenapp
