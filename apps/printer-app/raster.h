// Raster output: PAPPL hands the driver a page as dithered 1-bit lines; the
// page is kept whole and sent through the library when it ends: the job's
// settings (once per connection), the page as bitmap bands, then the print
// command. A page that does not reach the printer whole is sent again, whole,
// once the printer answers again; a job is never reported printed before
// every label went out.
#pragma once

#include <pappl/pappl.h>

namespace vrenapp {

// The printer-specific document format: the printer's own command language,
// passed through unchanged.
constexpr const char *kRawFormat = "application/vnd.vren-commands";

bool startJob(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device);
bool startPage(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device, unsigned page);
bool writeLine(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device, unsigned y,
               const unsigned char *line);
bool endPage(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device, unsigned page);
bool endJob(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device);

// Raw jobs in kRawFormat.
bool printRawFile(pappl_job_t *job, pappl_pr_options_t *options, pappl_device_t *device);

// Sends what `send` writes until the printer confirmed it: waits for a ready
// printer, runs `send`, asks for the status, and when a write failed or no
// status came back closes the connection and tries again. False when the job
// was canceled or the system shuts down first.
template <typename Send>
bool sendUntilDone(pappl_job_t *job, pappl_device_t *device, Send send);

// Gives the library back to other printers after a job (the status after its
// last label was asked for and shown by sendUntilDone()).
void finishJob(pappl_job_t *job, pappl_device_t *device);

}  // namespace vrenapp

#include "raster_retry.h"
